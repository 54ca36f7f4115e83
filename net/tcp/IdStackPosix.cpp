#include "net/tcp/IdStackPosix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "platform/SysUtils.h"

std::atomic<bool> StackStarted{false};

namespace {

// The code of the calling thread's last failing call, like the per-thread
// error of the socket library the layers were first written against.
thread_local int32_t tlsLastError = 0;

void SetLastError(int32_t code) { tlsLastError = code; }

void SetLastErrorFromErrno() { SetLastError(StackErrorFromErrno(errno)); }

// For the calls that only succeed or fail: 0, or Id_SOCKET_ERROR with the
// thread's error taken from errno when the system call returned -1.
int CallResult(ssize_t systemResult)
{
    if (systemResult == -1) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    return 0;
}

// Calls again while a signal interrupts the call; on failure the thread's
// error is taken from errno and the call's -1 is returned.
template <typename Call>
auto RetryInterrupted(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    if (result == -1) SetLastErrorFromErrno();
    return result;
}

// A negative buffer length moves nothing.
std::size_t BufferSize(int32_t length) { return static_cast<std::size_t>(length < 0 ? 0 : length); }

int32_t StackErrorFromGai(int gaiError)
{
    switch (gaiError) {
    case EAI_NONAME: return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return Id_WSATRY_AGAIN;
    case EAI_FAIL: return Id_WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return Id_WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return Id_WSANO_DATA;
#endif
    case EAI_MEMORY: return Id_WSAENOBUFS;
    case EAI_SYSTEM: return StackErrorFromErrno(errno);
    default: return Id_WSAEINVAL;
    }
}

constexpr std::size_t kHostNameBufferSize = 250;

// Builds the 16-byte IPv4 socket address; an empty ip is the any-address.
sockaddr_in MakeAddress(TIdStack& stack, int family, int32_t port, const std::string& ip)
{
    sockaddr_in address{};
    address.sin_family = static_cast<sa_family_t>(family);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (ip.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    } else {
        TIdIPv4Bytes bytes = stack.ParseIPv4(ip);
        std::memcpy(&address.sin_addr.s_addr, bytes.data(), 4);
    }
    return address;
}

void ReadAddress(TIdStack& stack, const sockaddr_in& address, int& family, int32_t& port, std::string& ip)
{
    TIdIPv4Bytes bytes{};
    std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
    family = address.sin_family;
    port = ntohs(address.sin_port);
    ip = stack.FormatIPv4(bytes);
}

// The address at one end of a connected socket: getName is getpeername or
// getsockname. Throws EIdSocketError when the call fails.
void ReadSocketName(TIdStack& stack, int (*getName)(int, sockaddr*, socklen_t*), TIdStackSocketHandle socket,
                    int& family, int32_t& port, std::string& ip)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getName(socket, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        SetLastErrorFromErrno();
        stack.CheckSocketResult(Id_SOCKET_ERROR);
    }
    if (address.ss_family != AF_INET6) {
        ReadAddress(stack, reinterpret_cast<const sockaddr_in&>(address), family, port, ip);
        return;
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof(text));
    family = AF_INET6;
    port = ntohs(v6.sin6_port);
    ip = text;
}

// A socket address for bind and connect: IPv6 for an IPv6 literal, else IPv4; an empty ip is the any-address
// of the socket's own family.
struct TSocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

TSocketAddress MakeSocketAddress(TIdStack& stack, TIdStackSocketHandle socket, int32_t port, const std::string& ip)
{
    int domain = AF_INET;
    socklen_t size = sizeof(domain);
    if (ip.empty()) getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &domain, &size);
    TSocketAddress address;
    if (domain != AF_INET6 && !TIdStack::IsIPv6Literal(ip)) {
        const sockaddr_in v4 = MakeAddress(stack, AF_INET, port, ip);
        std::memcpy(&address.storage, &v4, sizeof(v4));
        address.length = sizeof(v4);
        return address;
    }
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    v6.sin6_addr = in6addr_any;
    if (!ip.empty()) inet_pton(AF_INET6, ip.c_str(), &v6.sin6_addr);
    std::memcpy(&address.storage, &v6, sizeof(v6));
    address.length = sizeof(v6);
    return address;
}

// Looks a name up and hands every IPv4 address to visit. Returns the stack
// error code of a failed lookup, 0 on success.
template <typename Visit>
int32_t LookupIPv4(TIdStack& stack, const std::string& hostName, Visit visit)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(hostName.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        return StackErrorFromGai(rc);
    }
    for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            int family = 0;
            int32_t port = 0;
            std::string ip;
            ReadAddress(stack, *reinterpret_cast<const sockaddr_in*>(entry->ai_addr), family, port, ip);
            visit(ip);
        }
    }
    freeaddrinfo(result);
    return 0;
}

// Looks a name up for every family (RFC 6724 order, as the system sorts it) and hands each address to visit,
// once. Returns the stack error code of a failed lookup, 0 on success. Uses no stack instance: it runs on a
// lookup thread that may outlive the components.
int32_t LookupAnyFamily(const std::string& hostName, std::vector<std::string>& addresses)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(hostName.c_str(), nullptr, &hints, &result);
    if (rc != 0) return StackErrorFromGai(rc);
    for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        if (entry->ai_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr, text, sizeof(text));
        } else if (entry->ai_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr, text, sizeof(text));
        } else {
            continue;
        }
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.emplace_back(text);
    }
    freeaddrinfo(result);
    return addresses.empty() ? Id_WSANO_DATA : 0;
}

// One lookup on its own thread. The state is shared with the thread, so a caller that stops waiting leaves it
// behind safely; the thread writes to the pipe when it is done.
struct TLookup {
    std::mutex mutex;
    bool done = false;
    int32_t code = 0;
    std::vector<std::string> addresses;
    int pipe[2] = {-1, -1};
    ~TLookup()
    {
        for (const int handle : pipe) {
            if (handle >= 0) close(handle);
        }
    }
};

// Restores the blocking flag of a socket whatever way a connect ends.
class TBlockingModeGuard {
public:
    explicit TBlockingModeGuard(int fd) : fd_(fd), flags_(fcntl(fd, F_GETFL)) {}
    ~TBlockingModeGuard()
    {
        if (flags_ != -1) {
            fcntl(fd_, F_SETFL, flags_);
        }
    }
    bool SetNonBlocking() { return flags_ != -1 && fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK) != -1; }

private:
    int fd_;
    int flags_;
};

// Sends a whole file on a socket with the kernel's file send; the file's size
// when every byte went out, else 0.
int64_t SendFileOnSocket(TIdStackSocketHandle socket, const std::string& fileName)
{
    int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd == -1) {
        return 0;
    }
    struct stat info {};
    int64_t result = 0;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        off_t offset = 0;
        bool failed = false;
        while (offset < info.st_size && !failed) {
            ssize_t sent = sendfile(socket, fd, &offset, static_cast<std::size_t>(info.st_size - offset));
            if (sent == -1) {
                failed = errno != EINTR;
            } else if (sent == 0) {
                failed = true; // the file shrank under us
            }
        }
        if (!failed) {
            result = info.st_size;
        } else {
            SetLastErrorFromErrno();
        }
    }
    close(fd);
    return result;
}

} // namespace

TIdServeFile ServeFileHook = &SendFileOnSocket;
TIdStackClass StackClass = [] { return static_cast<TIdStack*>(new TIdStackPosix()); };

int32_t StackErrorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case EINTR: return Id_WSAEINTR;
    case EBADF: return Id_WSAEBADF;
    case EACCES: return Id_WSAEACCES;
    case EPERM: return Id_WSAEACCES;
    case EFAULT: return Id_WSAEFAULT;
    case EINVAL: return Id_WSAEINVAL;
    case EMFILE: return Id_WSAEMFILE;
    case ENFILE: return Id_WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return Id_WSAEWOULDBLOCK;
#endif
    case EWOULDBLOCK: return Id_WSAEWOULDBLOCK;
    case EINPROGRESS: return Id_WSAEINPROGRESS;
    case EALREADY: return Id_WSAEALREADY;
    case ENOTSOCK: return Id_WSAENOTSOCK;
    case EDESTADDRREQ: return Id_WSAEDESTADDRREQ;
    case EMSGSIZE: return Id_WSAEMSGSIZE;
    case EPROTOTYPE: return Id_WSAEPROTOTYPE;
    case ENOPROTOOPT: return Id_WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return Id_WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return Id_WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return Id_WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return Id_WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return Id_WSAEAFNOSUPPORT;
    case EADDRINUSE: return Id_WSAEADDRINUSE;
    case EADDRNOTAVAIL: return Id_WSAEADDRNOTAVAIL;
    case ENETDOWN: return Id_WSAENETDOWN;
    case ENETUNREACH: return Id_WSAENETUNREACH;
    case ENETRESET: return Id_WSAENETRESET;
    case ECONNABORTED: return Id_WSAECONNABORTED;
    case ECONNRESET: return Id_WSAECONNRESET;
    case ENOBUFS: return Id_WSAENOBUFS;
    case ENOMEM: return Id_WSAENOBUFS;
    case EISCONN: return Id_WSAEISCONN;
    case ENOTCONN: return Id_WSAENOTCONN;
    // A send after either side shut the stream down.
    case ESHUTDOWN: return Id_WSAESHUTDOWN;
    case EPIPE: return Id_WSAESHUTDOWN;
    case ETOOMANYREFS: return Id_WSAETOOMANYREFS;
    case ETIMEDOUT: return Id_WSAETIMEDOUT;
    case ECONNREFUSED: return Id_WSAECONNREFUSED;
    case ELOOP: return Id_WSAELOOP;
    case ENAMETOOLONG: return Id_WSAENAMETOOLONG;
    case EHOSTDOWN: return Id_WSAEHOSTDOWN;
    case EHOSTUNREACH: return Id_WSAEHOSTUNREACH;
    case ENOTEMPTY: return Id_WSAENOTEMPTY;
    default: return errnoValue;
    }
}

TIdStackPosix::TIdStackPosix()
{
    bool expected = false;
    if (StackStarted.compare_exchange_strong(expected, true)) {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            signal(SIGPIPE, SIG_IGN);
        }
    }
}

void TIdStackPosix::RefreshLocalAddresses()
{
    TStringList& list = LocalAddressList();
    list.Clear();
    std::string hostName = LocalHostName();
    int32_t code = LookupIPv4(*this, hostName, [&list](const std::string& ip) {
        if (list.IndexOf(ip) < 0) {
            list.Add(ip);
        }
    });
    if (code != 0) {
        SetLastError(code);
        CheckSocketResult(Id_SOCKET_ERROR);
    }
}

TIdStackSocketHandle TIdStackPosix::SockAccept(TIdStackSocketHandle socket, std::string& ip, int32_t& port)
{
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    const int fd =
        RetryInterrupted([&] { return accept4(socket, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC); });
    if (fd == -1) return Id_INVALID_SOCKET;
    int family = 0;
    ReadAddress(*this, address, family, port, ip);
    return fd;
}

int TIdStackPosix::SockBind(TIdStackSocketHandle socket, int /*family*/, int32_t port, const std::string& ip)
{
    const TSocketAddress address = MakeSocketAddress(*this, socket, port, ip);
    return CallResult(bind(socket, address.Get(), address.length));
}

int TIdStackPosix::SockClose(TIdStackSocketHandle socket) { return CallResult(close(socket)); }

int TIdStackPosix::SockConnect(TIdStackSocketHandle socket, int /*family*/, int32_t port, const std::string& ip)
{
    const TSocketAddress address = MakeSocketAddress(*this, socket, port, ip);
    return CallResult(connect(socket, address.Get(), address.length));
}

int TIdStackPosix::SockConnectStart(TIdStackSocketHandle socket, int32_t port, const std::string& ip)
{
    const TSocketAddress address = MakeSocketAddress(*this, socket, port, ip);
    const int flags = fcntl(socket, F_GETFL);
    if (flags == -1 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) == -1) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    if (connect(socket, address.Get(), address.length) == 0) return 0;
    SetLastError(errno == EINPROGRESS || errno == EINTR ? Id_WSAEINPROGRESS : StackErrorFromErrno(errno));
    return Id_SOCKET_ERROR;
}

int TIdStackPosix::SockConnectResult(TIdStackSocketHandle socket)
{
    int error = 0;
    socklen_t length = sizeof(error);
    const bool asked = getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0;
    const int askError = errno;
    const int flags = fcntl(socket, F_GETFL);
    if (flags != -1) fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
    if (!asked) error = askError;
    if (error == 0) return 0;
    SetLastError(StackErrorFromErrno(error));
    return Id_SOCKET_ERROR;
}

int TIdStackPosix::MakeWakeHandles(int handles[2]) { return CallResult(pipe2(handles, O_CLOEXEC)); }

int TIdStackPosix::Wake(int writeHandle)
{
    const char byte = 1;
    return CallResult(write(writeHandle, &byte, 1));
}

int TIdStackPosix::SockConnectCancellable(TIdStackSocketHandle socket, int /*family*/, int32_t port,
                                          const std::string& ip, int wakeHandle)
{
    const TSocketAddress address = MakeSocketAddress(*this, socket, port, ip);
    TBlockingModeGuard mode(socket);
    if (!mode.SetNonBlocking()) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    if (connect(socket, address.Get(), address.length) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    pollfd fds[2] = {{socket, POLLOUT, 0}, {wakeHandle, POLLIN, 0}};
    if (RetryInterrupted([&] { return poll(fds, 2, -1); }) == -1) return Id_SOCKET_ERROR;
    if (fds[0].revents == 0) {
        SetLastError(Id_WSAEINTR);
        return Id_SOCKET_ERROR;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == -1) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    if (error != 0) {
        SetLastError(StackErrorFromErrno(error));
        return Id_SOCKET_ERROR;
    }
    return 0;
}

std::vector<std::string> ResolveHostAddresses(const std::string& host, const TIdDeadline& deadline)
{
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
    if (SameText(bare, "LOCALHOST") || TIdStack::IsDottedQuad(bare) || TIdStack::IsIPv6Literal(bare)) {
        return {GlobalStack->ResolveHostName(host)};
    }
    auto lookup = std::make_shared<TLookup>();
    GlobalStack->CheckSocketResult(CallResult(pipe2(lookup->pipe, O_CLOEXEC)));
    std::thread([lookup, bare] {
        std::vector<std::string> addresses;
        const int32_t code = LookupAnyFamily(bare, addresses);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->addresses = std::move(addresses);
        lookup->code = code;
        lookup->done = true;
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(lookup->pipe[1], &byte, 1);
    }).detach();
    // The wait runs in the yield hook's steps, like a read's; the deadline's cancel ends it at once.
    for (;;) {
        TIdDeadline until = deadline;
        const bool yielding = TIdAntiFreezeBase::ShouldYield();
        if (yielding) {
            TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
            const int32_t idle = hook != nullptr ? std::max(hook->IdleTimeOut(), 1) : 1;
            until = deadline.Earlier(TIdDeadline::In(std::chrono::milliseconds(idle)));
        }
        TIdSocketList readList{lookup->pipe[0]};
        const bool ready = GlobalStack->SockSelect(&readList, nullptr, nullptr, until) == 1;
        {
            std::lock_guard<std::mutex> lock(lookup->mutex);
            if (lookup->done) {
                if (lookup->code != 0) GlobalStack->RaiseSocketFailure(lookup->code);
                return lookup->addresses;
            }
        }
        if (!ready && deadline.Passed()) throw EIdConnectTimeout();
        TIdAntiFreezeBase::YieldToApplication(!ready, false);
    }
}

std::string TIdStackPosix::HostByName(const std::string& hostName)
{
    std::string first;
    int32_t code = LookupIPv4(*this, hostName, [&first](const std::string& ip) {
        if (first.empty()) {
            first = ip;
        }
    });
    if (code == 0 && first.empty()) {
        code = Id_WSANO_DATA;
    }
    if (code != 0) {
        SetLastError(code);
        CheckSocketResult(Id_SOCKET_ERROR);
    }
    return first;
}

std::string TIdStackPosix::LocalHostName()
{
    char buffer[kHostNameBufferSize] = {};
    if (gethostname(buffer, sizeof(buffer) - 1) == -1) {
        SetLastErrorFromErrno();
        CheckSocketResult(Id_SOCKET_ERROR);
    }
    return buffer;
}

std::string TIdStackPosix::HostByAddr(const std::string& ip)
{
    sockaddr_in address = MakeAddress(*this, AF_INET, 0, ip);
    char host[NI_MAXHOST] = {};
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof(address), host, sizeof(host), nullptr, 0,
                         NI_NAMEREQD);
    if (rc != 0) {
        SetLastError(StackErrorFromGai(rc));
        CheckSocketResult(Id_SOCKET_ERROR);
    }
    return host;
}

int32_t TIdStackPosix::ServiceByName(const std::string& serviceName)
{
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (getservbyname_r(serviceName.c_str(), nullptr, &entry, buffer, sizeof(buffer), &found) == 0 &&
        found != nullptr) {
        return ntohs(static_cast<uint16_t>(found->s_port));
    }
    int32_t port = 0;
    if (!TryStrToInt(serviceName, port)) {
        throw EIdInvalidServiceName(serviceName);
    }
    return port;
}

TStringList TIdStackPosix::ServiceByPort(int32_t port)
{
    TStringList names;
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (getservbyport_r(htons(static_cast<uint16_t>(port)), nullptr, &entry, buffer, sizeof(buffer), &found) == 0 &&
        found != nullptr) {
        names.Add(found->s_name);
        for (char** alias = found->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
            names.Add(*alias);
        }
    }
    return names;
}

uint16_t TIdStackPosix::HostToNet16(uint16_t value) { return htons(value); }

int TIdStackPosix::SockListen(TIdStackSocketHandle socket, int backlog) { return CallResult(listen(socket, backlog)); }

uint16_t TIdStackPosix::NetToHost16(uint16_t value) { return ntohs(value); }

uint32_t TIdStackPosix::HostToNet32(uint32_t value) { return htonl(value); }

uint32_t TIdStackPosix::NetToHost32(uint32_t value) { return ntohl(value); }

int TIdStackPosix::SockRecv(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags)
{
    const ssize_t received = RetryInterrupted([&] { return recv(socket, buffer, BufferSize(length), flags); });
    return received == -1 ? Id_SOCKET_ERROR : static_cast<int>(received);
}

int TIdStackPosix::SockRecvFrom(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags, std::string& ip,
                                int32_t& port)
{
    sockaddr_in address{};
    socklen_t addressLength = sizeof(address);
    const ssize_t received = RetryInterrupted([&] {
        return recvfrom(socket, buffer, BufferSize(length), flags, reinterpret_cast<sockaddr*>(&address),
                        &addressLength);
    });
    if (received == -1) return Id_SOCKET_ERROR;
    int family = 0;
    ReadAddress(*this, address, family, port, ip);
    return static_cast<int>(received);
}

int TIdStackPosix::SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                              const TIdDeadline& deadline)
{
    // The readiness classes of select on this system: end of stream and
    // errors count as readable, errors as writable, urgent data as an
    // exceptional condition.
    struct TWatch {
        TIdSocketList* list;
        short events;
        short readyMask;
    };
    const TWatch watches[3] = {
        {readList, POLLIN, POLLIN | POLLHUP | POLLERR},
        {writeList, POLLOUT, POLLOUT | POLLERR},
        {errorList, POLLPRI, POLLPRI},
    };
    pollfd fds[3 * kIdSelectSetSize + 1];
    nfds_t count = 0;
    for (const TWatch& watch : watches) {
        if (watch.list == nullptr) {
            continue;
        }
        if (watch.list->size() > kIdSelectSetSize) {
            throw EIdStackSetSizeExceeded();
        }
        for (TIdStackSocketHandle handle : *watch.list) {
            fds[count++] = pollfd{handle, watch.events, 0};
        }
    }

    // A cancel ends the wait as a time-out would; it is watched last, so the lists' indices stay as they are.
    const nfds_t watched = count;
    if (deadline.CancelHandle() >= 0) fds[count++] = pollfd{deadline.CancelHandle(), POLLIN, 0};
    // The wait is asked afresh after an interruption, and rounded up: a wait rounded down would end before the
    // deadline and read as a time-out.
    int ready;
    do {
        ready = poll(fds, count, deadline.WaitMs());
    } while (ready == -1 && errno == EINTR);
    count = watched;
    if (ready == -1) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents & POLLNVAL) {
            SetLastError(Id_WSAENOTSOCK);
            return Id_SOCKET_ERROR;
        }
    }

    int total = 0;
    nfds_t index = 0;
    for (const TWatch& watch : watches) {
        if (watch.list == nullptr) {
            continue;
        }
        // Compacted in place: a wait allocates nothing.
        TIdSocketList& list = *watch.list;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < list.size(); ++i, ++index) {
            if (fds[index].revents & watch.readyMask) {
                list[kept++] = fds[index].fd;
            }
        }
        list.resize(kept);
        total += static_cast<int>(kept);
    }
    return total;
}

int TIdStackPosix::SockSend(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags)
{
    const ssize_t sent =
        RetryInterrupted([&] { return send(socket, buffer, BufferSize(length), flags | MSG_NOSIGNAL); });
    return sent == -1 ? Id_SOCKET_ERROR : static_cast<int>(sent);
}

int TIdStackPosix::SockSendTo(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags,
                              const std::string& ip, int32_t port)
{
    sockaddr_in address = MakeAddress(*this, AF_INET, port, ip);
    const ssize_t sent = RetryInterrupted([&] {
        return sendto(socket, buffer, BufferSize(length), flags | MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    });
    return sent == -1 ? Id_SOCKET_ERROR : static_cast<int>(sent);
}

int TIdStackPosix::SockSetOption(TIdStackSocketHandle socket, int level, int option, const void* value, int length)
{
    return CallResult(setsockopt(socket, level, option, value, static_cast<socklen_t>(length)));
}

TIdStackSocketHandle TIdStackPosix::SockCreate(int family, int type, int protocol)
{
    int fd = socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd == -1) {
        SetLastErrorFromErrno();
        return Id_INVALID_SOCKET;
    }
    return fd;
}

int TIdStackPosix::SockShutdown(TIdStackSocketHandle socket, int how) { return CallResult(shutdown(socket, how)); }

std::string TIdStackPosix::SocketErrorText(int32_t code)
{
    if (code == Id_WSAHOST_NOT_FOUND) {
        return Format("Socket Error # %d\r\n%s", code, std::string("Host not found."));
    }
    return TIdStack::SocketErrorText(code);
}

int32_t TIdStackPosix::LastSocketError() { return tlsLastError; }

void TIdStackPosix::PeerAddressOf(TIdStackSocketHandle socket, int& family, int32_t& port, std::string& ip)
{
    ReadSocketName(*this, getpeername, socket, family, port, ip);
}

void TIdStackPosix::LocalAddressOf(TIdStackSocketHandle socket, int& family, int32_t& port, std::string& ip)
{
    ReadSocketName(*this, getsockname, socket, family, port, ip);
}

int TIdStackPosix::SockGetOption(TIdStackSocketHandle socket, int level, int option, void* value, int& length)
{
    socklen_t size = static_cast<socklen_t>(length);
    if (getsockopt(socket, level, option, value, &size) == -1) {
        SetLastErrorFromErrno();
        return Id_SOCKET_ERROR;
    }
    length = static_cast<int>(size);
    return 0;
}
