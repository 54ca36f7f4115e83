#pragma once

// The transport over one TCP socket, with the optional SOCKS hop and a
// connect with a time-out.
//
// Owns its TIdSocketHandle (made by the first PrepareTransport) and, when it
// made them itself, its SOCKS settings; SOCKS settings that belong to another
// component are only referenced and dropped when that component goes.
//
// Used by one thread at a time. A timed connect runs the connect on a worker
// thread; the calling thread waits in steps of at most 125 ms and never
// returns before the worker has ended.

#include <cstdint>
#include <memory>
#include <string>

#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdSocketHandle.h"
#include "net/tcp/IdSocks.h"

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    explicit TIdIOHandlerSocket(TIdBaseComponent* owner = nullptr);
    ~TIdIOHandlerSocket() override;

    void CloseTransport() override;
    // Connects to host:port (or to the SOCKS server), bound to boundIP and
    // boundPort or the range boundPortLow..boundPortHigh. Without a deadline
    // a plain blocking connect, raising EIdSocketError (with a yield hook a
    // worker-thread connect of at most 120 s); with one, a worker-thread
    // connect raising EIdConnectTimeout "Connect timed out." when it passes
    // and EIdConnectException with the failure's message when the connect
    // fails. With SOCKS settings the exchange with the proxy follows
    // (TIdSocksInfo) under the same deadline.
    void ConnectTransport(const std::string& host, int32_t port, const std::string& boundIP, int32_t boundPort,
                          int32_t boundPortLow, int32_t boundPortHigh, const TIdDeadline& deadline) override;
    bool IsOpen() override;
    void PrepareTransport() override;
    bool WaitReadable(const TIdDeadline& deadline) override;
    // Raw results of the socket; EIdClosedSocket "Disconnected." without one.
    int32_t ReceiveSome(void* buffer, int32_t length) override;
    int32_t SendSome(const void* buffer, int32_t length) override;

    // Null before the first PrepareTransport.
    TIdSocketHandle* SocketHandle() const { return socketHandle_.get(); }

    // False sets TCP_NODELAY on the socket before the connect.
    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool value) { useNagle_ = value; }

    // Made on first read (version svNoSocks) and owned by this handler.
    TIdSocksInfo* SocksInfo();
    // Null clears the reference. Settings with a component owner are
    // referenced and watched; ownerless settings are copied into this
    // handler's own instance. Either way their Transport becomes this handler.
    void SetSocksInfo(TIdSocksInfo* value);

protected:
    void Notification(TIdBaseComponent* component, TOperation operation) override;

private:
    void ConnectWait(const TIdDeadline& deadline);
    void FreeOwnSocksInfo();

    std::unique_ptr<TIdSocketHandle> socketHandle_;
    bool useNagle_ = true;
    TIdSocksInfo* socksInfo_ = nullptr;
    bool ownsSocksInfo_ = false;
};
