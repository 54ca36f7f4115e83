#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "tests/support/Loopback.h"

namespace testsupport {

using TKind = TConnectionScript::TStep::TKind;

TConnectionScript& TConnectionScript::Add(TKind kind, std::string bytes, std::uint64_t count, std::size_t pieceSize,
                                          int pauseMs)
{
    TStep step{kind, std::move(bytes)};
    step.count = count;
    step.pieceSize = pieceSize;
    step.pauseMs = pauseMs;
    steps_.push_back(std::move(step));
    return *this;
}

TConnectionScript& TConnectionScript::ReadUntil(std::string marker) { return Add(TKind::ReadUntil, std::move(marker)); }
TConnectionScript& TConnectionScript::ReadCount(std::size_t count) { return Add(TKind::ReadCount, {}, count); }
TConnectionScript& TConnectionScript::ReadHttpRequest() { return Add(TKind::ReadHttpRequest); }
TConnectionScript& TConnectionScript::ReadToEnd() { return Add(TKind::ReadToEnd); }

TConnectionScript& TConnectionScript::Send(std::string bytes, std::size_t pieceSize, int pauseMs)
{
    return Add(TKind::Send, std::move(bytes), 0, pieceSize, pauseMs);
}

TConnectionScript& TConnectionScript::SendRepeated(std::string block, std::uint64_t totalBytes)
{
    return Add(TKind::SendRepeated, std::move(block), totalBytes);
}

TConnectionScript& TConnectionScript::Pause(int ms) { return Add(TKind::Pause, {}, 0, 0, ms); }
TConnectionScript& TConnectionScript::ShutdownWrite() { return Add(TKind::ShutdownWrite); }
TConnectionScript& TConnectionScript::Close() { return Add(TKind::Close); }
TConnectionScript& TConnectionScript::Reset() { return Add(TKind::Reset); }

namespace {

std::string ErrnoText(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// The value of a Content-Length header in an HTTP head, 0 when there is none.
std::uint64_t ContentLengthOf(const std::string& head)
{
    static const char kName[] = "content-length:";
    std::string lower = head;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    const std::size_t at = lower.find(kName);
    if (at == std::string::npos) return 0;
    return std::strtoull(head.c_str() + at + sizeof(kName) - 1, nullptr, 10);
}

} // namespace

TScriptedServer::TScriptedServer(std::vector<TConnectionScript> scripts, bool cycle, bool ipv6)
    : scripts_(std::move(scripts)), cycle_(cycle)
{
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error(ErrnoText("pipe2"));
    listenFd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error(ErrnoText("socket"));
    sockaddr_in v4 = LoopbackAddress();
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    sockaddr* addr = ipv6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
    socklen_t len = ipv6 ? sizeof(v6) : sizeof(v4);
    if (::bind(listenFd_, addr, len) != 0 || ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, addr, &len) != 0) {
        const std::string what = ErrnoText("bind/listen");
        ::close(listenFd_);
        throw std::runtime_error(what);
    }
    port_ = ntohs(ipv6 ? v6.sin6_port : v4.sin_port);
    // The socket listens before the constructor returns, so a client may connect at once: its connect is
    // queued by the kernel until the thread accepts it.
    thread_ = std::thread([this] { Run(); });
}

TScriptedServer::~TScriptedServer()
{
    stopping_ = true;
    const char wake = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &wake, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

bool TScriptedServer::WaitDone(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return doneCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

std::string TScriptedServer::Received(std::size_t i) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return i < records_.size() ? records_[i].bytes : std::string();
}

std::vector<std::string> TScriptedServer::ReceivedPieces(std::size_t i) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return i < records_.size() ? records_[i].pieces : std::vector<std::string>();
}

std::vector<std::string> TScriptedServer::ReceivedAll() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> all;
    for (const TRecord& record : records_) all.push_back(record.bytes);
    return all;
}

std::size_t TScriptedServer::ConnectionsServed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

std::string TScriptedServer::Error() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void TScriptedServer::Fail(const std::string& what)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = what;
}

bool TScriptedServer::Sleep(int ms)
{
    // Waits on the wake-up pipe alone, so stopping the server ends the pause at once.
    pollfd wake{wakePipe_[0], POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return !stopping_;
        const int r = ::poll(&wake, 1, static_cast<int>(left.count()));
        if (r > 0 || stopping_) return false;
    }
}

bool TScriptedServer::WaitFd(int fd, short events)
{
    pollfd fds[2] = {{fd, events, 0}, {wakePipe_[0], POLLIN, 0}};
    for (;;) {
        const int r = ::poll(fds, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            Fail(ErrnoText("poll"));
            return false;
        }
        if (fds[1].revents != 0 || stopping_) return false;
        return true;
    }
}

void TScriptedServer::Run()
{
    for (std::size_t i = 0; !stopping_ && !scripts_.empty(); ++i) {
        if (i == scripts_.size()) {
            if (!cycle_) break;
            i = 0;
        }
        if (!WaitFd(listenFd_, POLLIN)) break;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            Fail(ErrnoText("accept"));
            break;
        }
        // Pieces must leave as separate segments for the tests that split a reply on purpose.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        std::size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = records_.size();
            records_.emplace_back();
        }
        Serve(fd, scripts_[i], index);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    doneCv_.notify_all();
}

bool TScriptedServer::ReceiveMore(int fd, std::size_t index, bool& eof)
{
    if (!WaitFd(fd, POLLIN)) return false;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
    if (n < 0) {
        if (errno == EINTR) return true;
        Fail(ErrnoText("recv"));
        return false;
    }
    if (n == 0) {
        eof = true;
        return true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    // Bulk uploads would otherwise keep one piece per receive forever; the whole bytes are kept regardless.
    if (records_[index].pieces.size() < 4096) records_[index].pieces.emplace_back(buf, static_cast<std::size_t>(n));
    records_[index].bytes.append(buf, static_cast<std::size_t>(n));
    return true;
}

bool TScriptedServer::SendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        if (!WaitFd(fd, POLLOUT)) return false;
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            // A client that closed early is part of several scenarios; it is not a server failure.
            if (errno == EPIPE || errno == ECONNRESET) return false;
            Fail(ErrnoText("send"));
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void TScriptedServer::Serve(int fd, const TConnectionScript& script, std::size_t index)
{
    std::size_t consumed = 0;
    bool eof = false;
    bool closed = false;
    bool reset = false;
    auto unconsumed = [&]() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_[index].bytes.substr(consumed);
    };
    // Reads until ready(unconsumed bytes) returns how many bytes to consume (npos: not yet).
    auto readUntil = [&](auto ready, const char* what) {
        for (;;) {
            const std::size_t take = ready(unconsumed());
            if (take != std::string::npos) {
                consumed += take;
                return true;
            }
            if (eof) {
                Fail(std::string("client closed before ") + what);
                return false;
            }
            if (!ReceiveMore(fd, index, eof)) return false;
        }
    };

    for (const auto& step : script.Steps()) {
        if (stopping_ || closed) break;
        bool ok = true;
        switch (step.kind) {
        case TKind::ReadUntil:
            ok = readUntil(
                [&](const std::string& s) {
                    const std::size_t at = s.find(step.bytes);
                    return at == std::string::npos ? at : at + step.bytes.size();
                },
                "the expected marker");
            break;
        case TKind::ReadCount:
            ok = readUntil(
                [&](const std::string& s) {
                    return s.size() >= step.count ? static_cast<std::size_t>(step.count) : std::string::npos;
                },
                "the expected byte count");
            break;
        case TKind::ReadHttpRequest:
            ok = readUntil(
                [&](const std::string& s) {
                    const std::size_t end = s.find("\r\n\r\n");
                    if (end == std::string::npos) return end;
                    const std::size_t total = end + 4 + ContentLengthOf(s.substr(0, end));
                    return s.size() >= total ? total : std::string::npos;
                },
                "the end of the request");
            break;
        case TKind::ReadToEnd:
            while (!eof && ok) ok = ReceiveMore(fd, index, eof);
            consumed = Received(index).size();
            break;
        case TKind::Send:
            if (step.pieceSize == 0) {
                ok = SendAll(fd, step.bytes.data(), step.bytes.size());
            } else {
                for (std::size_t at = 0; ok && at < step.bytes.size(); at += step.pieceSize) {
                    ok = SendAll(fd, step.bytes.data() + at, std::min(step.pieceSize, step.bytes.size() - at));
                    if (ok && step.pauseMs > 0) ok = Sleep(step.pauseMs);
                }
            }
            break;
        case TKind::SendRepeated:
            for (std::uint64_t left = step.count; ok && left > 0;) {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, step.bytes.size()));
                ok = SendAll(fd, step.bytes.data(), n);
                left -= n;
            }
            break;
        case TKind::Pause: ok = Sleep(step.pauseMs); break;
        case TKind::ShutdownWrite: ::shutdown(fd, SHUT_WR); break;
        case TKind::Close: closed = true; break;
        case TKind::Reset: {
            const linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
            closed = true;
            reset = true;
            break;
        }
        }
        if (!ok) break;
    }
    if (!reset) {
        // Closing with unread bytes in the receive buffer would send a reset instead of an orderly close, and
        // the client would see a socket error rather than the end of the stream: take them first.
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
            if (n <= 0) break;
            std::lock_guard<std::mutex> lock(mutex_);
            records_[index].bytes.append(buf, static_cast<std::size_t>(n));
            records_[index].pieces.emplace_back(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
}

} // namespace testsupport
