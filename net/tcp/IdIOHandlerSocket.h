#pragma once

// The transport over one TCP socket, with the optional SOCKS hop and a
// connect with a time-out.
//
// Owns its TIdSocketHandle (made by the first PrepareTransport) and, when it
// made them itself, its SOCKS settings; SOCKS settings that belong to another
// component are only referenced and dropped when that component goes.
//
// Used by one thread at a time. A connect resolves the name (every family),
// then races the addresses without blocking: one after the other, a short
// stagger apart, the first to connect wins. Its waits end by the deadline or
// its cancel and let the yield hook run between steps.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdSocketHandle.h"
#include "net/tcp/IdSocks.h"

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    explicit TIdIOHandlerSocket(TIdBaseComponent* owner = nullptr);
    ~TIdIOHandlerSocket() override;

    void CloseTransport() override;
    // Connects to host:port (or to the SOCKS server), bound to boundIP and
    // boundPort or the range boundPortLow..boundPortHigh. Raises
    // EIdConnectTimeout "Connect timed out." when the deadline passes (or is
    // cancelled); when every address fails, EIdSocketError with the last
    // failure's code without a time limit, EIdConnectException with its
    // message with one. With SOCKS settings the exchange with the proxy
    // follows (TIdSocksInfo) under the same deadline.
    void ConnectTransport(const std::string& host, int32_t port, const std::string& boundIP, int32_t boundPort,
                          int32_t boundPortLow, int32_t boundPortHigh, const TIdDeadline& deadline) override;
    // The TCP connect of ConnectTransport, to addresses as a resolver gave them (IPv6 and IPv4 literals):
    // tried in their order, each one a short stagger (250 ms) after the last unless that one failed first, and
    // the first to connect wins. Failures as ConnectTransport's.
    void ConnectToAddresses(const std::vector<std::string>& addresses, int32_t port, const std::string& boundIP,
                            int32_t boundPort, int32_t boundPortLow, int32_t boundPortHigh,
                            const TIdDeadline& deadline);
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
    struct TBinding {
        std::string ip;
        int32_t port = 0;
        int32_t low = 0;
        int32_t high = 0;
    };
    // A bound socket for address whose connect has begun; code is 0 (connected), Id_WSAEINPROGRESS or the
    // failure's code.
    std::unique_ptr<TIdSocketHandle> StartAttempt(const std::string& address, int32_t port, const TBinding& binding,
                                                  int32_t& code);
    // The first of addresses that connects (see ConnectTransport).
    std::unique_ptr<TIdSocketHandle> ConnectFirst(const std::vector<std::string>& addresses, int32_t port,
                                                  const TBinding& binding, const TIdDeadline& deadline);
    void FreeOwnSocksInfo();

    std::unique_ptr<TIdSocketHandle> socketHandle_;
    bool useNagle_ = true;
    TIdSocksInfo* socksInfo_ = nullptr;
    bool ownsSocksInfo_ = false;
};
