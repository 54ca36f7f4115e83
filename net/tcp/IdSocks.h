#pragma once

// Settings of an optional SOCKS proxy hop for the socket transport, and the
// client side of the SOCKS 4, 4A and 5 exchange.
//
// The socket transport connects to Host:Port of these settings instead of the
// target when Version is a SOCKS version, then calls Negotiate with the
// target; afterwards the connection carries the target's byte stream. With
// svNoSocks (the default) Negotiate does nothing. The exchange runs on
// Transport, below the connection's input queue; numbers go in network byte
// order and text as its bytes.
//
// Each request is built to its own size; a user name, password or host name
// that does not fit its one-byte length (or, for SOCKS 4, holds a NUL byte
// that would end it early) raises EIdSocksError before anything is sent.
// Each reply is read to its full length, so a reply in pieces is judged
// whole.
//
// Transport is only referenced: the I/O handler that takes these settings
// sets it to itself. Used by the thread that connects.

#include <cstdint>
#include <string>

#include "net/tcp/IdComponent.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandler.h"

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

class TIdSocksInfo : public TIdComponent {
public:
    explicit TIdSocksInfo(TIdBaseComponent* owner = nullptr) : TIdComponent(owner) {}

    // Copies the six settings (not Transport).
    void Assign(const TIdSocksInfo& source)
    {
        authentication_ = source.authentication_;
        host_ = source.host_;
        password_ = source.password_;
        port_ = source.port_;
        username_ = source.username_;
        version_ = source.version_;
    }

    // Runs the proxy exchange for the final target host:port on Transport.
    // The whole exchange must be done by deadline (none: no limit); when it
    // passes the exchange raises EIdConnectTimeout, as the connect itself would.
    void Negotiate(const std::string& host, int32_t port, const TIdDeadline& deadline = {});

    TSocksAuthentication Authentication() const { return authentication_; }
    void SetAuthentication(TSocksAuthentication value) { authentication_ = value; }
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& value) { host_ = value; }
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& value) { password_ = value; }
    int32_t Port() const { return port_; }
    void SetPort(int32_t value) { port_ = value; }
    const std::string& Username() const { return username_; }
    void SetUsername(const std::string& value) { username_ = value; }
    TSocksVersion Version() const { return version_; }
    void SetVersion(TSocksVersion value) { version_ = value; }
    TIdIOHandler* Transport() const { return transport_; }
    void SetTransport(TIdIOHandler* value) { transport_ = value; }

private:
    void NegotiateV4(const std::string& host, int32_t port, const TIdDeadline& deadline);
    void NegotiateV5(const std::string& host, int32_t port, const TIdDeadline& deadline);

    TSocksAuthentication authentication_ = saNoAuthentication;
    std::string host_;
    std::string password_;
    int32_t port_ = 1080;
    std::string username_;
    TSocksVersion version_ = svNoSocks;
    TIdIOHandler* transport_ = nullptr;
};
