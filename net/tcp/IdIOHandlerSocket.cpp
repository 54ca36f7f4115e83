#include "net/tcp/IdIOHandlerSocket.h"

#include <algorithm>
#include <chrono>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdStack.h"

namespace {

// The wait before the next address is tried while the earlier attempts go on (RFC 8305 section 5, its
// recommended Connection Attempt Delay): a dead address costs this much, not the system's connect time-out.
constexpr int32_t kAttemptStaggerMs = 250;

// The wait of one step of a connect: until the deadline, or one idle step when the application yields.
TIdDeadline StepDeadline(const TIdDeadline& deadline)
{
    if (!TIdAntiFreezeBase::ShouldYield()) return deadline;
    TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
    const int32_t idle = hook != nullptr ? std::max(hook->IdleTimeOut(), 1) : 1;
    return deadline.Earlier(TIdDeadline::In(std::chrono::milliseconds(idle)));
}

} // namespace

TIdIOHandlerSocket::TIdIOHandlerSocket(TIdBaseComponent* owner) : TIdIOHandler(owner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket()
{
    CloseTransport();
    FreeOwnSocksInfo();
    if (socksInfo_ != nullptr) {
        socksInfo_->RemoveFreeNotification(this);
        socksInfo_ = nullptr;
    }
    socketHandle_.reset();
}

void TIdIOHandlerSocket::CloseTransport()
{
    if (socketHandle_) {
        socketHandle_->ReleaseHandle();
    }
}

bool TIdIOHandlerSocket::IsOpen() { return socketHandle_ && socketHandle_->HasHandle(); }

void TIdIOHandlerSocket::PrepareTransport()
{
    if (socketHandle_) {
        socketHandle_->ClearHandle(true);
    } else {
        socketHandle_ = std::make_unique<TIdSocketHandle>();
    }
}

bool TIdIOHandlerSocket::WaitReadable(const TIdDeadline& deadline)
{
    if (!socketHandle_) {
        throw EIdConnClosedGracefully();
    }
    return socketHandle_->IsReadable(deadline);
}

int32_t TIdIOHandlerSocket::ReceiveSome(void* buffer, int32_t length)
{
    if (!IsOpen()) {
        throw EIdClosedSocket();
    }
    return socketHandle_->ReceiveBytes(buffer, length, 0);
}

int32_t TIdIOHandlerSocket::SendSome(const void* buffer, int32_t length)
{
    if (!IsOpen()) {
        throw EIdClosedSocket();
    }
    return socketHandle_->SendBytes(buffer, length, 0);
}

void TIdIOHandlerSocket::ConnectTransport(const std::string& host, int32_t port, const std::string& boundIP,
                                          int32_t boundPort, int32_t boundPortLow, int32_t boundPortHigh,
                                          const TIdDeadline& deadline)
{
    if (!socketHandle_) {
        PrepareTransport();
    }
    TIdSocksInfo* socks = SocksInfo();
    const bool viaSocks = socks->Version() != svNoSocks;
    const std::string targetHost = viaSocks ? socks->Host() : host;
    const int32_t targetPort = viaSocks ? socks->Port() : port;
    // A port travels in 16 bits; a larger one would wrap around to some other port.
    for (int32_t value : {port, targetPort, boundPort, boundPortLow, boundPortHigh}) {
        if (value < 0 || value > 65535) {
            throw EIdSocketHandleError(Format("Port %d is outside the range 0 to 65535.", value));
        }
    }

    if (!TIdStack::IsDottedQuad(targetHost) && !TIdStack::IsIPv6Literal(targetHost)) {
        ReportStatus(hsResolving, targetHost);
    }
    ConnectToAddresses(ResolveHostAddresses(targetHost, deadline), targetPort, boundIP, boundPort, boundPortLow,
                       boundPortHigh, deadline);
    // The deadline covers the proxy exchange too: a proxy that accepts and then stalls must not stretch the
    // connect beyond it.
    socks->Negotiate(host, port, deadline);
}

void TIdIOHandlerSocket::ConnectToAddresses(const std::vector<std::string>& addresses, int32_t port,
                                            const std::string& boundIP, int32_t boundPort, int32_t boundPortLow,
                                            int32_t boundPortHigh, const TIdDeadline& deadline)
{
    socketHandle_ = ConnectFirst(addresses, port, {boundIP, boundPort, boundPortLow, boundPortHigh}, deadline);
}

std::unique_ptr<TIdSocketHandle> TIdIOHandlerSocket::StartAttempt(const std::string& address, int32_t port,
                                                                  const TBinding& binding, int32_t& code)
{
    auto handle = std::make_unique<TIdSocketHandle>();
    handle->AllocateHandle(Id_SOCK_STREAM, 0, TIdStack::FamilyOf(address));
    handle->SetIP(binding.ip);
    handle->SetPort(binding.port);
    handle->SetClientPortMin(binding.low);
    handle->SetClientPortMax(binding.high);
    handle->BindLocal();
    handle->SetRemote(address, port);
    if (!useNagle_) {
        handle->SetOption(Id_IPPROTO_TCP, Id_TCP_NODELAY, 4, 1);
    }
    ReportStatus(hsConnecting, address);
    code = GlobalStack->SockConnectStart(handle->Handle(), port, address) == 0 ? 0 : GlobalStack->LastSocketError();
    return handle;
}

std::unique_ptr<TIdSocketHandle> TIdIOHandlerSocket::ConnectFirst(const std::vector<std::string>& addresses,
                                                                  int32_t port, const TBinding& binding,
                                                                  const TIdDeadline& deadline)
{
    // Without a time limit a failure is the socket's own error; with one, it says the connect failed.
    const bool timed = deadline.WaitMs() >= 0;
    const auto fail = [timed](int32_t code) {
        if (timed) throw EIdConnectException(GlobalStack->SocketErrorText(code));
        GlobalStack->RaiseSocketFailure(code);
    };
    const auto connected = [](std::unique_ptr<TIdSocketHandle>& handle) {
        handle->RefreshLocal();
        handle->RefreshRemote();
        return std::move(handle);
    };
    // Attempts start in the resolver's order, each one a stagger after the last unless that one failed
    // first; the first to connect wins and the others close with their handles.
    std::vector<std::unique_ptr<TIdSocketHandle>> pending;
    size_t next = 0;
    int32_t lastCode = Id_WSAEHOSTUNREACH;
    TIdDeadline nextStart;
    for (;;) {
        if (deadline.Passed()) throw EIdConnectTimeout();
        if (next < addresses.size() && (pending.empty() || nextStart.Passed())) {
            int32_t code = 0;
            std::unique_ptr<TIdSocketHandle> handle = StartAttempt(addresses[next++], port, binding, code);
            nextStart = TIdDeadline::In(std::chrono::milliseconds(kAttemptStaggerMs));
            if (code == 0 && GlobalStack->SockConnectResult(handle->Handle()) == 0) return connected(handle);
            if (code == Id_WSAEINPROGRESS) {
                pending.push_back(std::move(handle));
            } else {
                lastCode = code != 0 ? code : GlobalStack->LastSocketError();
            }
            continue;
        }
        if (pending.empty()) fail(lastCode);
        TIdSocketList writeList;
        for (const auto& handle : pending) writeList.push_back(handle->Handle());
        TIdDeadline until = StepDeadline(deadline);
        if (next < addresses.size()) until = until.Earlier(nextStart);
        const int ready = GlobalStack->SockSelect(nullptr, &writeList, nullptr, until);
        GlobalStack->CheckSocketResult(ready);
        for (const TIdStackSocketHandle socket : writeList) {
            const auto at = std::find_if(pending.begin(), pending.end(),
                                         [socket](const auto& handle) { return handle->Handle() == socket; });
            if (GlobalStack->SockConnectResult(socket) == 0) return connected(*at);
            lastCode = GlobalStack->LastSocketError();
            pending.erase(at);
        }
        TIdAntiFreezeBase::YieldToApplication(ready <= 0, false);
    }
}

TIdSocksInfo* TIdIOHandlerSocket::SocksInfo()
{
    if (socksInfo_ == nullptr) {
        socksInfo_ = new TIdSocksInfo();
        ownsSocksInfo_ = true;
        socksInfo_->SetTransport(this);
    }
    return socksInfo_;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* value)
{
    if (value == socksInfo_) {
        if (value != nullptr) {
            value->SetTransport(this);
        }
        return;
    }
    if (value == nullptr) {
        if (ownsSocksInfo_) {
            FreeOwnSocksInfo();
        } else if (socksInfo_ != nullptr) {
            socksInfo_->RemoveFreeNotification(this);
            socksInfo_ = nullptr;
        }
        return;
    }
    if (value->Owner() != nullptr) {
        if (ownsSocksInfo_) {
            FreeOwnSocksInfo();
        } else if (socksInfo_ != nullptr) {
            socksInfo_->RemoveFreeNotification(this);
        }
        socksInfo_ = value;
        value->FreeNotification(this);
        value->SetTransport(this);
        return;
    }
    if (!ownsSocksInfo_ && socksInfo_ != nullptr) {
        socksInfo_->RemoveFreeNotification(this);
        socksInfo_ = nullptr;
    }
    SocksInfo()->Assign(*value);
    socksInfo_->SetTransport(this);
}

void TIdIOHandlerSocket::Notification(TIdBaseComponent* component, TOperation operation)
{
    if (operation == opRemove && component == socksInfo_ && !ownsSocksInfo_) {
        socksInfo_ = nullptr;
    }
    TIdIOHandler::Notification(component, operation);
}

void TIdIOHandlerSocket::FreeOwnSocksInfo()
{
    if (ownsSocksInfo_) {
        TIdSocksInfo* own = socksInfo_;
        socksInfo_ = nullptr;
        ownsSocksInfo_ = false;
        delete own;
    }
}
