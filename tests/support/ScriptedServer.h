#pragma once

// A loopback server for network tests, written on plain POSIX sockets so that it shares no code with the
// transport under test.
//
// It binds 127.0.0.1 (or ::1 when asked) on a port the system chooses, then serves the scripted connections strictly in
// order on one background thread: accept, run that connection's steps, close, next. Everything a client sends is
// recorded byte for byte (and piece by piece, one piece per receive call), so a test can compare the exact
// request with what it expects. Replies are canned bytes, sent whole or in small pieces with pauses, and a
// script can end with an orderly close, a half-close or a reset.
//
// Every wait inside the server also watches a wake-up pipe, so the destructor can stop a server that is
// blocked in accept or receive (for example when an assertion failed before the client connected) and join
// its thread: a test never leaves a thread behind.
//
// Example:
//   TScriptedServer server({TConnectionScript().ReadUntil("\r\n\r\n").Send(reply, 3, 1)});
//   ... connect to 127.0.0.1:server.Port(), talk ...
//   server.WaitDone();
//   EXPECT_EQ(server.Received(0), "GET / HTTP/1.1\r\n...");

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// The steps of one connection, run in the order they were added. After the last step the server closes the
// socket (unless the script already did).
class TConnectionScript {
public:
    // Reads until the bytes received and not yet consumed by an earlier read step contain marker; consumes
    // through the marker.
    TConnectionScript& ReadUntil(std::string marker);
    // Reads until at least count unconsumed bytes are there; consumes count bytes.
    TConnectionScript& ReadCount(std::size_t count);
    // Reads an HTTP request head (through the empty line) and, when the head carries a Content-Length, that
    // many body bytes.
    TConnectionScript& ReadHttpRequest();
    // Reads until the client closes its side.
    TConnectionScript& ReadToEnd();
    // Sends bytes; with pieceSize > 0 in pieces of that size, pausing pauseMs after each piece.
    TConnectionScript& Send(std::string bytes, std::size_t pieceSize = 0, int pauseMs = 0);
    // Sends block again and again until totalBytes have gone out (for bulk transfers without holding them).
    TConnectionScript& SendRepeated(std::string block, std::uint64_t totalBytes);
    TConnectionScript& Pause(int ms);
    // Half-close: no more sends, but the server keeps reading if later steps ask it to.
    TConnectionScript& ShutdownWrite();
    // Orderly close now; later steps are ignored.
    TConnectionScript& Close();
    // Close with a reset (linger 0) instead of an orderly close.
    TConnectionScript& Reset();

    struct TStep {
        enum class TKind {
            ReadUntil,
            ReadCount,
            ReadHttpRequest,
            ReadToEnd,
            Send,
            SendRepeated,
            Pause,
            ShutdownWrite,
            Close,
            Reset
        };
        TKind kind;
        std::string bytes;
        std::uint64_t count = 0;
        std::size_t pieceSize = 0;
        int pauseMs = 0;
    };
    const std::vector<TStep>& Steps() const { return steps_; }

private:
    TConnectionScript& Add(TStep::TKind kind, std::string bytes = {}, std::uint64_t count = 0,
                           std::size_t pieceSize = 0, int pauseMs = 0);

    std::vector<TStep> steps_;
};

class TScriptedServer {
public:
    // Serves scripts.size() connections in order. With cycle set, starts again at the first script after the
    // last one and serves until destroyed (benchmarks use that). With ipv6 it listens on ::1 instead.
    explicit TScriptedServer(std::vector<TConnectionScript> scripts, bool cycle = false, bool ipv6 = false);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    int Port() const { return port_; }

    // Waits until every scripted connection is finished (or the server failed). Returns false when that took
    // longer than timeoutMs.
    bool WaitDone(int timeoutMs = 10000);

    // What connection i received, whole and per receive call; empty for a connection not served yet.
    std::string Received(std::size_t i) const;
    std::vector<std::string> ReceivedPieces(std::size_t i) const;
    std::size_t ConnectionsServed() const;
    // What every connection served so far received, in order.
    std::vector<std::string> ReceivedAll() const;
    // Empty unless something failed inside the server (a socket call, a read step that never completed).
    std::string Error() const;

private:
    struct TRecord {
        std::string bytes;
        std::vector<std::string> pieces;
    };
    void Run();
    void Serve(int fd, const TConnectionScript& script, std::size_t index);
    bool WaitFd(int fd, short events);
    bool Sleep(int ms);
    bool ReceiveMore(int fd, std::size_t index, bool& eof);
    bool SendAll(int fd, const char* data, std::size_t size);
    void Fail(const std::string& what);

    std::vector<TConnectionScript> scripts_;
    bool cycle_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::condition_variable doneCv_;
    bool done_ = false;
    std::vector<TRecord> records_;
    std::string error_;
    std::thread thread_;
};

} // namespace testsupport
