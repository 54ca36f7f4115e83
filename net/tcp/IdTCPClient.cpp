#include "net/tcp/IdTCPClient.h"

#include "net/tcp/IdDeadline.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdIntercept.h"

TIdTCPClient::TIdTCPClient(TIdBaseComponent* owner) : TIdTCPConnection(owner) {}

TIdTCPClient::~TIdTCPClient() = default;

void TIdTCPClient::SetHost(const std::string& value) { host_ = value; }

void TIdTCPClient::SetPort(int32_t value) { port_ = value; }

void TIdTCPClient::DoOnConnected()
{
    if (OnConnected) {
        OnConnected(this);
    }
}

TIdDeadline TIdTCPClient::ConnectDeadline(int32_t timeoutMs) const
{
    // -1 and 0 ask for a connect without a limit of its own, which only the call's deadline (if any) bounds
    // and whose failure is the socket's error; -2 for one without a limit that reports a failure as a failed
    // connect (the clock's far end).
    TIdDeadline connectBy;
    if (timeoutMs == -2) {
        connectBy = TIdDeadline::At(TIdDeadline::TClock::time_point::max());
    } else if (timeoutMs != -1 && timeoutMs != 0) {
        connectBy = DeadlineAfter(timeoutMs);
    }
    return connectBy.Earlier(CallDeadline());
}

void TIdTCPClient::OpenConnection(int32_t timeoutMs) { OpenConnectionBy(ConnectDeadline(timeoutMs)); }

void TIdTCPClient::OpenConnectionBy(const TIdDeadline& deadline)
{
    if (IOHandler() == nullptr) {
        auto* handler = new TIdIOHandlerSocket(this);
        SetIOHandler(handler);
        // Status reports of the transport reach the client's handler, with
        // the transport as their sender.
        handler->OnStatus = OnStatus;
        SetOwnsIOHandler(true);
    } else if (IOHandler()->IsOpen()) {
        throw EIdAlreadyConnected();
    }

    try {
        TIdIOHandler* handler = IOHandler();
        handler->PrepareTransport();
        ResetReadState();
        handler->ConnectTransport(host_, port_, boundIP_, boundPort_, boundPortLow_, boundPortHigh_,
                                  deadline.Earlier(CallDeadline()));
        if (Intercept() != nullptr) {
            Intercept()->AttachConnection(this);
        }
        ReportStatus(hsConnected, host_);
        DoOnConnected();
    } catch (const std::exception&) {
        // A failed connect leaves the client disconnected with its socket
        // closed; the handler stays assigned for the next attempt.
        DropSocket();
        throw;
    }
}

std::string TIdTCPClient::ConnectAndReadAll()
{
    OpenConnection(-1);
    std::string result;
    try {
        result = ReadAll();
    } catch (const std::exception&) {
        CloseConnection();
        throw;
    }
    CloseConnection();
    return result;
}
