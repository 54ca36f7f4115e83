#include "net/tcp/IdIOHandlerSocket.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdStack.h"

namespace {

constexpr int32_t kConnectStepMs = 125;
// The longest a connect waits while the application yields between steps.
constexpr int32_t kYieldingConnectTimeoutMs = 120000;

// Runs one connect on a thread of its own. Its only output is ConnectError,
// read after the thread has finished.
//
// Closing a socket under a thread blocked in connect does not wake that thread
// on this system, so the connect watches a wake-up pipe as well: Terminate
// makes the pipe readable and the connect gives up at once.
class TIdConnectThread {
public:
    explicit TIdConnectThread(TIdSocketHandle* socketHandle) : socketHandle_(socketHandle)
    {
        // Without the wake handles the connect could not be called off, and
        // a time-out would wait for the system's own connect time-out.
        GlobalStack->CheckSocketResult(GlobalStack->MakeWakeHandles(wakePipe_));
    }

    ~TIdConnectThread()
    {
        if (thread_.joinable()) {
            Terminate();
            thread_.join();
        }
        GlobalStack->SockClose(wakePipe_[0]);
        GlobalStack->SockClose(wakePipe_[1]);
    }

    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    void Start()
    {
        thread_ = std::thread([this] { Execute(); });
    }

    // Waits up to ms for the thread to finish; true when it has.
    bool WaitFinished(int32_t ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return finishedCv_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)), [this] { return finished_; });
    }

    bool Finished()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }

    // Unchecked: the pipe is empty and ours, so the write cannot block, and
    // a connect that is not called off still ends with its own result.
    void Terminate() { GlobalStack->Wake(wakePipe_[1]); }

    void WaitFor()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    const std::string& ConnectError() const { return connectError_; }

private:
    void Execute()
    {
        std::string error;
        try {
            int result = socketHandle_->ConnectPeer(Id_PF_INET, wakePipe_[0]);
            // A socket that was closed under the connect is not an error of
            // its own: the waiting side reports what happened.
            GlobalStack->CheckSocketResult(result, {Id_WSAEBADF, Id_WSAENOTSOCK});
        } catch (const std::exception& e) {
            error = e.what();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        connectError_ = error;
        finished_ = true;
        finishedCv_.notify_all();
    }

    TIdSocketHandle* socketHandle_;
    int wakePipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable finishedCv_;
    bool finished_ = false;
    std::string connectError_;
    std::thread thread_;
};

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

    // The address comes first: it decides the socket's family.
    if (!TIdStack::IsDottedQuad(targetHost)) {
        ReportStatus(hsResolving, targetHost);
    }
    std::string address = GlobalStack->ResolveHostName(targetHost);
    TIdSocketHandle& handle = *socketHandle_;
    handle.AllocateHandle(Id_SOCK_STREAM, 0, TIdStack::FamilyOf(address));
    handle.SetIP(boundIP);
    handle.SetPort(boundPort);
    handle.SetClientPortMin(boundPortLow);
    handle.SetClientPortMax(boundPortHigh);
    handle.BindLocal();
    handle.SetRemote(address, targetPort);
    if (!useNagle_) {
        handle.SetOption(Id_IPPROTO_TCP, Id_TCP_NODELAY, 4, 1);
    }
    ReportStatus(hsConnecting, address);

    if (deadline.Limited()) {
        ConnectWait(deadline);
    } else if (TIdAntiFreezeBase::ShouldYield()) {
        ConnectWait(TIdDeadline::In(std::chrono::milliseconds(kYieldingConnectTimeoutMs)));
    } else {
        GlobalStack->CheckSocketResult(handle.ConnectPeer(Id_PF_INET));
    }
    // The deadline covers the proxy exchange too: a proxy that accepts and then stalls must not stretch the
    // connect beyond it.
    socks->Negotiate(host, port, deadline);
}

void TIdIOHandlerSocket::ConnectWait(const TIdDeadline& deadline)
{
    TIdConnectThread thread(socketHandle_.get());
    thread.Start();

    int32_t step = kConnectStepMs;
    if (TIdAntiFreezeBase::ShouldYield()) {
        TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
        if (hook != nullptr) {
            step = std::max(std::min(hook->IdleTimeOut(), kConnectStepMs), 1);
        }
    }
    // As many whole steps as the deadline holds when the wait starts, with a yield after each, then the rest of
    // the time without one (none when the steps ran late).
    const int32_t steps = (deadline.WaitMs() - 1) / step;
    bool finished = false;
    for (int32_t i = 0; i < steps && !finished; ++i) {
        finished = thread.WaitFinished(step);
        TIdAntiFreezeBase::YieldToApplication(true, false);
    }
    if (finished || thread.WaitFinished(deadline.WaitMs())) {
        thread.WaitFor();
        if (!thread.ConnectError().empty()) {
            throw EIdConnectException(thread.ConnectError());
        }
        return;
    }
    // Call the connect off and let the worker end before the socket goes,
    // so the worker never touches a closed (and possibly reused) handle.
    thread.Terminate();
    thread.WaitFor();
    CloseTransport();
    throw EIdConnectTimeout();
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
