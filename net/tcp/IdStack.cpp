#include "net/tcp/IdStack.h"

#include <arpa/inet.h>

#include <algorithm>

#include "net/tcp/IdException.h"
#include "platform/SysUtils.h"

TIdStack* GlobalStack = nullptr;
int32_t StackUsers = 0;
std::mutex StackGuard;

std::string BaseSocketErrorText(int32_t code)
{
    switch (code) {
    case Id_WSAEINTR: return "Interrupted system call.";
    case Id_WSAEBADF: return "Bad file number.";
    case Id_WSAEACCES: return "Access denied.";
    case Id_WSAEFAULT: return "Bad address.";
    case Id_WSAEINVAL: return "Invalid argument.";
    case Id_WSAEMFILE: return "Too many open files.";
    case Id_WSAEWOULDBLOCK: return "Operation would block. ";
    case Id_WSAEINPROGRESS: return "Operation now in progress.";
    case Id_WSAEALREADY: return "Operation already in progress.";
    case Id_WSAENOTSOCK: return "Socket operation on non-socket.";
    case Id_WSAEDESTADDRREQ: return "Destination address required.";
    case Id_WSAEMSGSIZE: return "Message too long.";
    case Id_WSAEPROTOTYPE: return "Protocol wrong type for socket.";
    case Id_WSAENOPROTOOPT: return "Bad protocol option.";
    case Id_WSAEPROTONOSUPPORT: return "Protocol not supported.";
    case Id_WSAESOCKTNOSUPPORT: return "Socket type not supported.";
    case Id_WSAEOPNOTSUPP: return "Operation not supported on socket.";
    case Id_WSAEPFNOSUPPORT: return "Protocol family not supported.";
    case Id_WSAEAFNOSUPPORT: return "Address family not supported by protocol family.";
    case Id_WSAEADDRINUSE: return "Address already in use.";
    case Id_WSAEADDRNOTAVAIL: return "Cannot assign requested address.";
    case Id_WSAENETDOWN: return "Network is down.";
    case Id_WSAENETUNREACH: return "Network is unreachable.";
    case Id_WSAENETRESET: return "Net dropped connection or reset.";
    case Id_WSAECONNABORTED: return "Software caused connection abort.";
    case Id_WSAECONNRESET: return "Connection reset by peer.";
    case Id_WSAENOBUFS: return "No buffer space available.";
    case Id_WSAEISCONN: return "Socket is already connected.";
    case Id_WSAENOTCONN: return "Socket is not connected.";
    case Id_WSAESHUTDOWN: return "Cannot send or receive after socket is closed.";
    case Id_WSAETOOMANYREFS: return "Too many references, cannot splice.";
    case Id_WSAETIMEDOUT: return "Connection timed out.";
    case Id_WSAECONNREFUSED: return "Connection refused.";
    case Id_WSAELOOP: return "Too many levels of symbolic links.";
    case Id_WSAENAMETOOLONG: return "File name too long.";
    case Id_WSAEHOSTDOWN: return "Host is down.";
    case Id_WSAEHOSTUNREACH: return "No route to host.";
    case Id_WSAENOTEMPTY: return "Directory not empty";
    default: return std::string();
    }
}

TStringList& TIdStack::LocalAddressList()
{
    if (!localAddresses_) {
        localAddresses_ = std::make_unique<TStringList>();
    }
    return *localAddresses_;
}

const TStringList& TIdStack::LocalAddresses()
{
    LocalAddressList();
    RefreshLocalAddresses();
    return *localAddresses_;
}

std::string TIdStack::LocalAddress()
{
    const TStringList& addresses = LocalAddresses();
    return addresses.Count() > 0 ? addresses[0] : std::string();
}

std::string TIdStack::SocketErrorText(int32_t code)
{
    return Format("Socket Error # %d\r\n%s", code, BaseSocketErrorText(code));
}

std::string TIdStack::FormatIPv4(const TIdIPv4Bytes& bytes)
{
    return Format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
}

namespace {

// Cuts at the first three dots; everything after the third dot is the fourth
// part, so "1.2.3.4.5" has the fourth part "4.5".
std::array<std::string, 4> SplitDottedQuad(const std::string& text)
{
    std::array<std::string, 4> parts;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string::npos) {
            parts[i] = text.substr(start);
            return parts;
        }
        parts[i] = text.substr(start, dot - start);
        start = dot + 1;
    }
    parts[3] = text.substr(start);
    return parts;
}

} // namespace

TIdIPv4Bytes TIdStack::ParseIPv4Octets(const std::string& ip)
{
    std::array<std::string, 4> parts = SplitDottedQuad(ip);
    TIdIPv4Bytes bytes{};
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(StrToInt(parts[i]));
    }
    return bytes;
}

bool TIdStack::IsDottedQuad(const std::string& text)
{
    for (const std::string& part : SplitDottedQuad(text)) {
        int32_t value = 0;
        if (!TryStrToInt(part, value) || value < 0 || value > 255) {
            return false;
        }
    }
    return true;
}

TIdStackSocketHandle TIdStack::NewSocket(int type, int protocol, int family)
{
    TIdStackSocketHandle socket = SockCreate(family, type, protocol);
    if (socket == Id_INVALID_SOCKET) {
        throw EIdInvalidSocket();
    }
    return socket;
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int32_t> ignore)
{
    if (result != Id_SOCKET_ERROR) {
        return false;
    }
    int32_t code = LastSocketError();
    lastErrorCode_.store(code);
    if (std::find(ignore.begin(), ignore.end(), code) != ignore.end()) {
        return true;
    }
    RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(int32_t code) { throw EIdSocketError::WithMessage(code, SocketErrorText(code)); }

std::string TIdStack::ResolveHostName(const std::string& host)
{
    if (SameText(host, "LOCALHOST")) {
        return "127.0.0.1";
    }
    if (IsDottedQuad(host) || IsIPv6Literal(host)) {
        return host;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
        IsIPv6Literal(host.substr(1, host.size() - 2))) {
        return host.substr(1, host.size() - 2);
    }
    return HostByName(host);
}

bool TIdStack::IsIPv6Literal(const std::string& text)
{
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}
