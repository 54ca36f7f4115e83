#pragma once

// Plain POSIX loopback sockets for the transport tests: they stand in for
// peers and never use the stack under test.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace stacktest {

// A TCP socket bound to 127.0.0.1 (port 0: the system's choice). Listening
// only when asked; a bound socket that does not listen refuses connects.
class TRawSocket {
public:
    explicit TRawSocket(int port = 0)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        socklen_t length = sizeof(address);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~TRawSocket()
    {
        for (int fd : pending_) {
            close(fd);
        }
        if (fd_ != -1) {
            close(fd_);
        }
    }
    TRawSocket(const TRawSocket&) = delete;
    TRawSocket& operator=(const TRawSocket&) = delete;

    bool Bound() const { return bound_; }
    int Port() const { return port_; }
    int Fd() const { return fd_; }
    void Listen(int backlog) { listen(fd_, backlog); }

    // Fills the accept queue of a listening socket that never accepts, so
    // that the next connect to it waits for an answer that does not come.
    // Returns false when the queue did not fill.
    bool FillBacklog()
    {
        Listen(0);
        for (int attempt = 0; attempt < 16; ++attempt) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<uint16_t>(port_));
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
            pending_.push_back(fd);
            pollfd watch{fd, POLLOUT, 0};
            // A connect the full queue leaves unanswered stays pending.
            if (poll(&watch, 1, 200) == 0) {
                return true;
            }
        }
        return false;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    bool bound_ = false;
    std::vector<int> pending_;
};

// A connected pair of loopback TCP sockets: first is accepted, second the
// connecting end.
inline std::pair<int, int> ConnectedPair()
{
    TRawSocket listener;
    listener.Listen(1);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(listener.Port()));
    connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int server = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    return {server, client};
}

// Two neighbouring ports (p, p + 1) that were both free a moment ago, found
// by asking the system for one and checking its neighbour; 0 when none
// turned up.
inline int FreePortPair()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        int candidate;
        {
            TRawSocket probe;
            candidate = probe.Port();
        }
        if (candidate + 1 >= 65536) {
            continue;
        }
        TRawSocket low(candidate);
        TRawSocket high(candidate + 1);
        if (low.Bound() && high.Bound()) {
            return candidate;
        }
    }
    return 0;
}

inline std::string ReadAllFrom(int fd)
{
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace stacktest
