#pragma once

// Drives a TIdTCPConnection over a real loopback socket without the client's connect path: the test connects a
// plain socket to a scripted server and hands it to the connection through a small I/O handler that counts
// its calls and can cap the size of each receive.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdStack.h"
#include "net/tcp/IdTCPConnection.h"
#include "platform/Classes.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/Loopback.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/StreamText.h"

namespace connection_test {

using testsupport::ConnectLoopback;
using testsupport::ExpectRaises;
using testsupport::ExpectSocketError;
using testsupport::RaisedText;
using testsupport::StreamText;
using testsupport::TConnectionScript;
using testsupport::TCountingAntiFreeze;
using TScriptedServer = testsupport::TCheckedServer;

// Records the connection's work reports into events as "begin <mode> <max>", "<count>" and "end <mode>".
inline void RecordWork(TIdTCPConnection& c, std::vector<std::string>& events)
{
    c.OnWorkBegin = [&events](TIdComponent*, TWorkMode mode, int64_t max) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    c.OnWork = [&events](TIdComponent*, TWorkMode, int64_t count) { events.push_back(std::to_string(count)); };
    c.OnWorkEnd = [&events](TIdComponent*, TWorkMode mode) { events.push_back("end " + std::to_string(mode)); };
}

// A transport over one connected socket. Errors go through the stack's calls so that the connection finds
// the error code where it looks for it.
class TLoopbackIOHandler : public TIdIOHandler {
public:
    explicit TLoopbackIOHandler(int fd) : fd_(fd) {}
    ~TLoopbackIOHandler() override { TLoopbackIOHandler::CloseTransport(); }

    void CloseTransport() override
    {
        ++closeCalls;
        if (fd_ < 0) return;
        ::shutdown(fd_, SHUT_WR);
        ::close(fd_);
        fd_ = -1;
    }
    bool IsOpen() override { return fd_ >= 0; }
    bool WaitReadable(const TIdDeadline& deadline) override
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, deadline.WaitMs()) == 1;
    }
    int32_t ReceiveSome(void* buffer, int32_t length) override
    {
        ++receiveCalls;
        if (receiveCap > 0 && length > receiveCap) length = receiveCap;
        return GlobalStack->SockRecv(fd_, buffer, length, 0);
    }
    int32_t SendSome(const void* buffer, int32_t length) override
    {
        sendSizes.push_back(length);
        return GlobalStack->SockSend(fd_, buffer, length, 0);
    }
    int Fd() const { return fd_; }

    int receiveCap = 0; // 0: as much as asked for
    int receiveCalls = 0;
    int closeCalls = 0;
    std::vector<int32_t> sendSizes;

private:
    int fd_;
};

// A scripted server with one connection already open to it, through a transport of type Handler (a
// TLoopbackIOHandler or one derived from it).
template <class Handler>
struct TLoopbackConnectionThrough {
    explicit TLoopbackConnectionThrough(std::vector<TConnectionScript> scripts)
        : server(std::move(scripts)), connection(std::make_unique<TIdTCPConnection>())
    {
        handler = new Handler(ConnectLoopback(server.Port()));
        connection->SetIOHandler(handler);
        connection->SetOwnsIOHandler(true);
    }
    explicit TLoopbackConnectionThrough(TConnectionScript script)
        : TLoopbackConnectionThrough(std::vector<TConnectionScript>{std::move(script)})
    {}

    // The connection goes first so that the server sees the client's close before it is stopped.
    ~TLoopbackConnectionThrough() { connection.reset(); }

    TScriptedServer server;
    std::unique_ptr<TIdTCPConnection> connection;
    Handler* handler = nullptr; // owned by the connection
};

using TLoopbackConnection = TLoopbackConnectionThrough<TLoopbackIOHandler>;

} // namespace connection_test
