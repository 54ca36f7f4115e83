#include "net/tcp/IdSocketHandle.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"

TIdSocketHandle::TIdSocketHandle(int32_t defaultPort) : port_(defaultPort) {}

TIdSocketHandle::~TIdSocketHandle() { ReleaseHandle(); }

void TIdSocketHandle::Assign(const TIdSocketHandle& source)
{
    ip_ = source.ip_;
    port_ = source.port_;
    remoteIP_ = source.remoteIP_;
    remotePort_ = source.remotePort_;
}

void TIdSocketHandle::AllocateHandle(int type, int protocol, int family)
{
    ReleaseHandle();
    if (hasHandle_) {
        ClearHandle(true);
    }
    handle_ = GlobalStack->NewSocket(type, protocol, family);
    hasHandle_ = true;
}

void TIdSocketHandle::ReleaseHandle()
{
    if (!hasHandle_) {
        return;
    }
    hasHandle_ = false;
    GlobalStack->SockShutdown(handle_, Id_SD_SEND);
    GlobalStack->SockClose(handle_);
}

void TIdSocketHandle::ClearHandle(bool clearLocal)
{
    handle_ = Id_INVALID_SOCKET;
    hasHandle_ = false;
    remoteIP_.clear();
    remotePort_ = 0;
    if (clearLocal) {
        ip_.clear();
        port_ = 0;
    }
}

void TIdSocketHandle::BindLocal()
{
    if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
        if (!TryBindLocal()) {
            throw EIdCouldNotBindSocket();
        }
        return;
    }
    if (clientPortMax_ < clientPortMin_) {
        throw EIdInvalidPortRange(clientPortMin_, clientPortMax_);
    }
    if (!BindInRange(clientPortMin_, clientPortMax_)) {
        throw EIdCanNotBindPortInRange(clientPortMin_, clientPortMax_);
    }
}

bool TIdSocketHandle::TryBindLocal()
{
    int result = GlobalStack->SockBind(handle_, Id_PF_INET, port_, ip_);
    if (GlobalStack->CheckSocketResult(result, {Id_WSAEADDRINUSE})) {
        return false;
    }
    RefreshLocal();
    return true;
}

bool TIdSocketHandle::BindInRange(int32_t portMin, int32_t portMax)
{
    for (int32_t port = portMax; port >= portMin; --port) {
        port_ = port;
        if (TryBindLocal()) {
            return true;
        }
    }
    return false;
}

int TIdSocketHandle::ConnectPeer(int family, int wakeHandle)
{
    int result = wakeHandle >= 0
                     ? GlobalStack->SockConnectCancellable(handle_, family, remotePort_, remoteIP_, wakeHandle)
                     : GlobalStack->SockConnect(handle_, family, remotePort_, remoteIP_);
    if (result != Id_SOCKET_ERROR) {
        RefreshLocal();
        RefreshRemote();
    }
    return result;
}

void TIdSocketHandle::SetRemote(const std::string& ip, int32_t port)
{
    remoteIP_ = ip;
    remotePort_ = port;
}

bool TIdSocketHandle::AcceptFrom(TIdStackSocketHandle listeningSocket)
{
    ClearHandle(true);
    TIdStackSocketHandle accepted = GlobalStack->SockAccept(listeningSocket, ip_, port_);
    if (accepted == Id_INVALID_SOCKET) {
        if (GlobalStack->CheckSocketResult(Id_SOCKET_ERROR, {Id_WSAEINTR, Id_WSAENOTSOCK, Id_WSAEBADF})) {
            return false;
        }
    }
    handle_ = accepted;
    hasHandle_ = true;
    RefreshLocal();
    RefreshRemote();
    return true;
}

bool TIdSocketHandle::IsReadable(const TIdDeadline& deadline)
{
    // With a yield hook the wait runs in idle-sized slices, as many as the deadline holds when the wait starts,
    // and the application gets its step after each; one loop, however long the deadline or short the slice.
    // The last slice ends at the deadline itself, so slices that ran late make it shorter, not the wait longer.
    int64_t slices = -1;
    for (int64_t slice = 1;; ++slice) {
        if (!hasHandle_) {
            throw EIdConnClosedGracefully();
        }
        TIdDeadline until = deadline;
        if (TIdAntiFreezeBase::ShouldYield()) {
            TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
            const int32_t idle = hook != nullptr ? std::max(hook->IdleTimeOut(), 1) : 1;
            if (slices < 0) {
                slices = deadline.WaitMs() >= 0 ? std::max((deadline.WaitMs() + idle - 1) / idle, 1) : INT64_MAX;
            }
            if (slice < slices) {
                until = deadline.Earlier(TIdDeadline::In(std::chrono::milliseconds(idle)));
            }
        } else {
            slices = slice;
        }
        TIdSocketList readList{handle_};
        const bool result = GlobalStack->SockSelect(&readList, nullptr, nullptr, until) == 1;
        TIdAntiFreezeBase::YieldToApplication(!result, false);
        if (result || slice >= slices) {
            return result;
        }
    }
}

void TIdSocketHandle::RefreshLocal()
{
    int family = 0;
    GlobalStack->LocalAddressOf(handle_, family, port_, ip_);
}

void TIdSocketHandle::RefreshRemote()
{
    int family = 0;
    GlobalStack->PeerAddressOf(handle_, family, remotePort_, remoteIP_);
}

void TIdSocketHandle::SetOption(int level, int option, int length, int value)
{
    // The value is one int: a longer length must not read past it.
    int size = length < static_cast<int>(sizeof(value)) ? length : static_cast<int>(sizeof(value));
    GlobalStack->CheckSocketResult(GlobalStack->SockSetOption(handle_, level, option, &value, size));
}

int TIdSocketHandle::ReceiveBytes(void* buffer, int32_t length, int flags)
{
    return GlobalStack->SockRecv(handle_, buffer, length, flags);
}

int TIdSocketHandle::SendBytes(const void* buffer, int32_t length, int flags)
{
    return GlobalStack->SockSend(handle_, buffer, length, flags);
}

int TIdSocketHandle::ReceiveDatagram(void* buffer, int32_t length, int flags, std::string& ip, int32_t& port)
{
    return GlobalStack->SockRecvFrom(handle_, buffer, length, flags, ip, port);
}
