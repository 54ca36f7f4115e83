#pragma once

// A buffered connection that opens itself: the target (Host, Port), the
// local bind parameters and the connect.
//
// Without an assigned I/O handler OpenConnection creates a socket transport
// that the client owns; CloseConnection frees it again, so every connect
// after a close starts with a fresh transport. An assigned handler is only
// referenced. Used by one thread at a time.

#include <cstdint>
#include <string>

#include "net/tcp/IdTCPConnection.h"

class TIdTCPClient : public TIdTCPConnection {
public:
    explicit TIdTCPClient(TIdBaseComponent* owner = nullptr);
    ~TIdTCPClient() override;

    // Local address to bind before connecting; empty binds the any-address.
    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& value) { boundIP_ = value; }
    // Local port; 0 lets the system choose (or uses the range below).
    int32_t BoundPort() const { return boundPort_; }
    void SetBoundPort(int32_t value) { boundPort_ = value; }
    int32_t BoundPortHigh() const { return boundPortHigh_; }
    void SetBoundPortHigh(int32_t value) { boundPortHigh_ = value; }
    int32_t BoundPortLow() const { return boundPortLow_; }
    void SetBoundPortLow(int32_t value) { boundPortLow_ = value; }
    // Host name or dotted quad of the target.
    const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& value);
    int32_t Port() const { return port_; }
    virtual void SetPort(int32_t value);
    // Fired after every successful connect.
    TNotifyEvent OnConnected;

    virtual void DoOnConnected();
    // Connects to Host:Port. timeoutMs -1 and 0: a plain blocking connect;
    // -2: no limit; any other value: at most that many milliseconds
    // (EIdConnectTimeout "Connect timed out."); CallDeadline bounds all of
    // them. Raises EIdAlreadyConnected
    // "Already connected." on an open connection (which stays open). Any
    // failure drops the socket before the exception leaves.
    // Example: client.SetHost("127.0.0.1"); client.SetPort(80); client.OpenConnection();
    virtual void OpenConnection(int32_t timeoutMs = -1);
    // The same, ending by deadline (and never after CallDeadline).
    void OpenConnectionBy(const TIdDeadline& deadline);
    // The deadline a connect (and the handshake a transport runs on it) of timeoutMs gets, as above.
    TIdDeadline ConnectDeadline(int32_t timeoutMs) const;
    // Connects, reads until the peer closes, closes (also when the read fails).
    virtual std::string ConnectAndReadAll();

private:
    std::string boundIP_;
    int32_t boundPort_ = 0;
    int32_t boundPortHigh_ = 0;
    int32_t boundPortLow_ = 0;
    std::string host_;
    int32_t port_ = 0;
};
