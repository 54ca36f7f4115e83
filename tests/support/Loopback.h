#pragma once

// Small helpers the network tests share: plain POSIX loopback connects (never through the stack under test),
// an anti-freeze that counts its calls, and saving a process-wide hook for the length of a test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace testsupport {

// A socket connected to 127.0.0.1:port, or -1 when the connect failed.
inline int TryConnectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
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
