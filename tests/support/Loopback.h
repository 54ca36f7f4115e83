#pragma once

// Small helpers the network tests share: plain POSIX loopback sockets that stand in for peers (never through
// the stack under test), an owned descriptor, and saving a process-wide hook for the length of a test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// 127.0.0.1:port as the socket calls take it.
inline sockaddr_in LoopbackAddress(int port = 0)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Starts a connect to 127.0.0.1:port; false when it failed at once (a non-blocking one may still be going).
inline bool StartConnectLoopback(int fd, int port)
{
    const sockaddr_in address = LoopbackAddress(port);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

// A socket connected to 127.0.0.1:port, or -1 when the connect failed.
inline int TryConnectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!StartConnectLoopback(fd, port)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline int ConnectLoopback(int port)
{
    const int fd = TryConnectLoopback(port);
    if (fd < 0) throw std::runtime_error("connect to 127.0.0.1:" + std::to_string(port) + " failed");
    return fd;
}

// A TCP socket bound to 127.0.0.1, or to ::1 with ipv6 (port 0: the system's choice). Listening only when
// asked; a bound socket that does not listen refuses connects.
class TRawSocket {
public:
    explicit TRawSocket(int port = 0, bool ipv6 = false) : ipv6_(ipv6)
    {
        fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address = Address(port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), Length()) == 0;
        socklen_t length = Length();
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port)
                     : ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    ~TRawSocket()
    {
        for (int fd : pending_) ::close(fd);
        if (fd_ != -1) ::close(fd_);
    }
    TRawSocket(const TRawSocket&) = delete;
    TRawSocket& operator=(const TRawSocket&) = delete;

    bool Bound() const { return bound_; }
    int Port() const { return port_; }
    int Fd() const { return fd_; }
    void Listen(int backlog) { ::listen(fd_, backlog); }

    // Fills the accept queue of a listening socket that never accepts, so that the next connect to it waits
    // for an answer that does not come. Returns false when the queue did not fill.
    bool FillBacklog()
    {
        Listen(0);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const int fd = ::socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            const sockaddr_storage address = Address(port_);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), Length());
            pending_.push_back(fd);
            pollfd watch{fd, POLLOUT, 0};
            // A connect the full queue leaves unanswered stays pending.
            if (::poll(&watch, 1, 200) == 0) return true;
        }
        return false;
    }

private:
    sockaddr_storage Address(int port) const
    {
        sockaddr_storage storage{};
        if (!ipv6_) {
            const sockaddr_in v4 = LoopbackAddress(port);
            std::memcpy(&storage, &v4, sizeof(v4));
            return storage;
        }
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(port));
        v6.sin6_addr = in6addr_loopback;
        std::memcpy(&storage, &v6, sizeof(v6));
        return storage;
    }
    socklen_t Length() const { return ipv6_ ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

    bool ipv6_ = false;
    int fd_ = -1;
    int port_ = 0;
    bool bound_ = false;
    std::vector<int> pending_;
};

// A port on 127.0.0.1 that was free a moment ago.
inline int FreeLoopbackPort()
{
    const TRawSocket probe;
    if (!probe.Bound()) throw std::runtime_error("no free loopback port");
    return probe.Port();
}

// A connected pair of loopback TCP sockets: first is accepted, second the connecting end.
inline std::pair<int, int> ConnectedPair()
{
    TRawSocket listener;
    listener.Listen(1);
    const int client = TryConnectLoopback(listener.Port());
    const int server = ::accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    return {server, client};
}

// Owns a descriptor: closed when the object goes.
class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TFd& operator=(TFd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Get() const { return fd_; }
    operator int() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Sets a process-wide hook (a global variable) for one scope and puts the old value back at its end, even
// when an assertion returns early.
template <typename T>
class TScopedHook {
public:
    TScopedHook(T& hook, T value) : hook_(hook), saved_(std::move(hook)) { hook_ = std::move(value); }
    ~TScopedHook() { hook_ = std::move(saved_); }
    TScopedHook(const TScopedHook&) = delete;
    TScopedHook& operator=(const TScopedHook&) = delete;
    const T& Saved() const { return saved_; }

private:
    T& hook_;
    T saved_;
};

} // namespace testsupport
