#pragma once

// The socket stack: every socket call of the network layers goes through the
// one process-wide instance, GlobalStack.
//
// Conventions the upper layers rely on:
// - IPv4 only. Addresses travel between layers as dotted-quad text
//   ("127.0.0.1"); ports are 16-bit values carried in 32-bit integers.
// - Socket calls return -1 on failure and leave an error code behind
//   (LastSocketError, per thread). CheckSocketResult turns a -1 into
//   EIdSocketError unless the caller names the code as tolerated; it is the
//   only place where an error code becomes an exception.
// - Error codes are numbered as in the table below (10061 refused, 10060
//   timed out, 11001 host not found, ...), whatever the system's own numbers
//   are, because callers test them.
//
// TIdStack is abstract; TIdStackPosix (IdStackPosix.h) is the implementation
// for this platform and also defines the default StackClass and
// ServeFileHook, so nothing here depends on it. GlobalStack exists while at
// least one TIdComponent lives; StackGuard serialises its creation and
// release.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/tcp/IdDeadline.h"
#include "platform/Classes.h"

using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;

// Numbers the layers pass for family, socket type, option level and option;
// they are the same on this platform.
constexpr int Id_PF_INET = 2;
constexpr int Id_PF_INET6 = 10;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_SOCK_DGRAM = 2;
constexpr int Id_IPPROTO_TCP = 6;
constexpr int Id_TCP_NODELAY = 1;
constexpr int Id_SD_SEND = 1;

// Socket error codes.
constexpr int32_t Id_WSAEINTR = 10004;
constexpr int32_t Id_WSAEBADF = 10009;
constexpr int32_t Id_WSAEACCES = 10013;
constexpr int32_t Id_WSAEFAULT = 10014;
constexpr int32_t Id_WSAEINVAL = 10022;
constexpr int32_t Id_WSAEMFILE = 10024;
constexpr int32_t Id_WSAEWOULDBLOCK = 10035;
constexpr int32_t Id_WSAEINPROGRESS = 10036;
constexpr int32_t Id_WSAEALREADY = 10037;
constexpr int32_t Id_WSAENOTSOCK = 10038;
constexpr int32_t Id_WSAEDESTADDRREQ = 10039;
constexpr int32_t Id_WSAEMSGSIZE = 10040;
constexpr int32_t Id_WSAEPROTOTYPE = 10041;
constexpr int32_t Id_WSAENOPROTOOPT = 10042;
constexpr int32_t Id_WSAEPROTONOSUPPORT = 10043;
constexpr int32_t Id_WSAESOCKTNOSUPPORT = 10044;
constexpr int32_t Id_WSAEOPNOTSUPP = 10045;
constexpr int32_t Id_WSAEPFNOSUPPORT = 10046;
constexpr int32_t Id_WSAEAFNOSUPPORT = 10047;
constexpr int32_t Id_WSAEADDRINUSE = 10048;
constexpr int32_t Id_WSAEADDRNOTAVAIL = 10049;
constexpr int32_t Id_WSAENETDOWN = 10050;
constexpr int32_t Id_WSAENETUNREACH = 10051;
constexpr int32_t Id_WSAENETRESET = 10052;
constexpr int32_t Id_WSAECONNABORTED = 10053;
constexpr int32_t Id_WSAECONNRESET = 10054;
constexpr int32_t Id_WSAENOBUFS = 10055;
constexpr int32_t Id_WSAEISCONN = 10056;
constexpr int32_t Id_WSAENOTCONN = 10057;
constexpr int32_t Id_WSAESHUTDOWN = 10058;
constexpr int32_t Id_WSAETOOMANYREFS = 10059;
constexpr int32_t Id_WSAETIMEDOUT = 10060;
constexpr int32_t Id_WSAECONNREFUSED = 10061;
constexpr int32_t Id_WSAELOOP = 10062;
constexpr int32_t Id_WSAENAMETOOLONG = 10063;
constexpr int32_t Id_WSAEHOSTDOWN = 10064;
constexpr int32_t Id_WSAEHOSTUNREACH = 10065;
constexpr int32_t Id_WSAENOTEMPTY = 10066;
constexpr int32_t Id_WSANOTINITIALISED = 10093;
constexpr int32_t Id_WSAHOST_NOT_FOUND = 11001;
constexpr int32_t Id_WSATRY_AGAIN = 11002;
constexpr int32_t Id_WSANO_RECOVERY = 11003;
constexpr int32_t Id_WSANO_DATA = 11004;

// The text of the error table for a code; empty for a code without one.
std::string BaseSocketErrorText(int32_t code);

// Handles of one select list; at most kIdSelectSetSize of them.
using TIdSocketList = std::vector<TIdStackSocketHandle>;
constexpr std::size_t kIdSelectSetSize = 64;

using TIdIPv4Bytes = std::array<uint8_t, 4>;

class TIdStack {
public:
    TIdStack() = default;
    virtual ~TIdStack() = default;
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // Local addresses: the addresses the host's own name resolves to, as
    // dotted quads. The list is made on first use and refreshed at each call
    // of LocalAddresses. A failed lookup raises EIdSocketError.
    virtual void RefreshLocalAddresses() = 0;
    virtual std::string LocalAddress();
    virtual const TStringList& LocalAddresses();

    // Accepts on a listening socket; fills ip and port of the peer.
    virtual TIdStackSocketHandle SockAccept(TIdStackSocketHandle socket, std::string& ip, int32_t& port) = 0;
    // An empty ip binds the any-address.
    virtual int SockBind(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip) = 0;
    virtual int SockClose(TIdStackSocketHandle socket) = 0;
    virtual int SockConnect(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip) = 0;
    // A connect that a second thread can call off: it ends with -1 and
    // Id_WSAEINTR as soon as wakeHandle becomes readable, and leaves the
    // socket in blocking mode on every path.
    virtual int SockConnectCancellable(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip,
                                       int wakeHandle) = 0;
    // A connect that does not wait: 0 when it is made at once; -1 with Id_WSAEINPROGRESS while it goes on
    // (the socket becomes writable when it ends, and SockConnectResult tells how); -1 with another code when
    // it failed at once.
    virtual int SockConnectStart(TIdStackSocketHandle socket, int32_t port, const std::string& ip) = 0;
    // How a connect that SockConnectStart began has ended: 0 connected, else -1 with its code. Either way the
    // socket blocks again.
    virtual int SockConnectResult(TIdStackSocketHandle socket) = 0;
    // A pair of handles for calling a cancellable connect off: writing to
    // handles[1] makes handles[0] readable. Both are closed with SockClose.
    virtual int MakeWakeHandles(int handles[2]) = 0;
    // Makes the wake handle readable (see SockConnectCancellable).
    virtual int Wake(int writeHandle) = 0;
    // The first IPv4 address of the name; failure raises EIdSocketError
    // (11001 "Host not found." for a name that does not exist).
    virtual std::string HostByName(const std::string& hostName) = 0;
    virtual std::string LocalHostName() = 0;
    virtual std::string HostByAddr(const std::string& ip) = 0;
    // The port of a service name, or the name read as an integer; raises
    // EIdInvalidServiceName for a name that is neither.
    virtual int32_t ServiceByName(const std::string& serviceName) = 0;
    // The official name and the aliases of a port; empty when it has none.
    virtual TStringList ServiceByPort(int32_t port) = 0;
    virtual uint16_t HostToNet16(uint16_t value) = 0;
    virtual int SockListen(TIdStackSocketHandle socket, int backlog) = 0;
    virtual uint16_t NetToHost16(uint16_t value) = 0;
    virtual uint32_t HostToNet32(uint32_t value) = 0;
    virtual uint32_t NetToHost32(uint32_t value) = 0;
    virtual int SockRecv(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags) = 0;
    virtual int SockRecvFrom(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags, std::string& ip,
                             int32_t& port) = 0;
    // Waits until a handle of the given lists is ready (null lists are not
    // watched) and rewrites each list to its ready handles, at the latest
    // by the deadline (one that has passed polls once). More than 64 handles
    // in one list raise EIdStackSetSizeExceeded. Returns the number of ready
    // entries, 0 on time-out, -1 on failure.
    virtual int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                           const TIdDeadline& deadline) = 0;
    virtual int SockSend(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags) = 0;
    virtual int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags,
                           const std::string& ip, int32_t port) = 0;
    virtual int SockSetOption(TIdStackSocketHandle socket, int level, int option, const void* value, int length) = 0;
    virtual TIdStackSocketHandle SockCreate(int family, int type, int protocol) = 0;
    virtual int SockShutdown(TIdStackSocketHandle socket, int how) = 0;
    // "Socket Error # <code>\r\n<text of the code>".
    virtual std::string SocketErrorText(int32_t code);
    // The code of the calling thread's last failing socket call.
    virtual int32_t LastSocketError() = 0;
    virtual void PeerAddressOf(TIdStackSocketHandle socket, int& family, int32_t& port, std::string& ip) = 0;
    virtual void LocalAddressOf(TIdStackSocketHandle socket, int& family, int32_t& port, std::string& ip) = 0;
    virtual int SockGetOption(TIdStackSocketHandle socket, int level, int option, void* value, int& length) = 0;
    // Bytes in memory order, decimal, joined by ".".
    virtual std::string FormatIPv4(const TIdIPv4Bytes& bytes);
    // The four parts of a dotted quad as bytes, the first part first. A part
    // that is not an integer raises EConvertError; pass only text that passed
    // IsDottedQuad or came from the stack.
    virtual TIdIPv4Bytes ParseIPv4Octets(const std::string& ip);

    // SockCreate(family, type, protocol); raises EIdInvalidSocket when it fails.
    TIdStackSocketHandle NewSocket(int type, int protocol, int family = Id_PF_INET);
    // A result other than -1 gives false. For -1 the code of the failure is
    // stored in LastErrorCode; a code from the ignore list gives true, any
    // other raises EIdSocketError.
    bool CheckSocketResult(int result, std::initializer_list<int32_t> ignore = {});
    [[noreturn]] void RaiseSocketFailure(int32_t code);
    // "localhost" in any letter case gives 127.0.0.1, a dotted quad and an
    // IPv6 literal (with or without its URL brackets: "[::1]" gives "::1")
    // stay as they are, anything else is looked up with HostByName.
    std::string ResolveHostName(const std::string& host);
    // An IPv6 address in text form, without brackets ("::1", "2001:db8::7").
    static bool IsIPv6Literal(const std::string& text);
    // The family of a socket for the address ip: Id_PF_INET6 for an IPv6
    // literal, else Id_PF_INET.
    static int FamilyOf(const std::string& ip) { return IsIPv6Literal(ip) ? Id_PF_INET6 : Id_PF_INET; }
    // Four parts cut at the first three dots, each an integer in 0..255:
    // 1.2.3.4 passes; 1.2.3, 1.2.3.4.5 and 256.1.1.1 do not.
    static bool IsDottedQuad(const std::string& text);
    TIdIPv4Bytes ParseIPv4(const std::string& ip) { return ParseIPv4Octets(ip); }

    // The code read by the most recent failing check, from any thread.
    int32_t LastErrorCode() const { return lastErrorCode_.load(); }

private:
    std::atomic<int32_t> lastErrorCode_{0};
    std::unique_ptr<TStringList> localAddresses_;

protected:
    TStringList& LocalAddressList();
};

// Every address of host, IPv6 and IPv4, in the order the system's resolver gives them (RFC 6724 sorting), so
// a name with only an IPv6 address is reached too; literals and "localhost" as ResolveHostName gives them.
// The lookup runs on a thread of its own and is waited for until deadline (or its cancel), with the yield
// hook between steps; a lookup left behind ends by itself and its answer is dropped. Raises EIdSocketError
// (11001 "Host not found." for an unknown name) or EIdConnectTimeout when the deadline passes first.
// Example: ResolveHostAddresses("localhost", {}) -> {"127.0.0.1"}.
[[nodiscard]] std::vector<std::string> ResolveHostAddresses(const std::string& host, const TIdDeadline& deadline);

// The process-wide stack and its keeping (see TIdComponent).
extern TIdStack* GlobalStack;
extern int32_t StackUsers;
extern std::mutex StackGuard;
// Makes the stack for GlobalStack; a TIdStackPosix unless replaced (the
// default is defined with that class).
using TIdStackClass = std::function<TIdStack*()>;
extern TIdStackClass StackClass;

// The fast file path: sends the named file on a socket and returns its size,
// or 0 when that failed. Installed for this platform (kernel file send);
// empty means not installed.
using TIdServeFile = std::function<int64_t(TIdStackSocketHandle socket, const std::string& fileName)>;
extern TIdServeFile ServeFileHook;
