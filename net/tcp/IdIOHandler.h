#pragma once

// The transport interface of the buffered connection.
//
// A connection reads and writes only through these operations, so a transport that wraps the plain socket
// (for example one that encrypts) can stand in for it without changes to the connection. The defaults of the
// optional operations do nothing; a transport implements the four abstract ones.
//
// Waits end at a deadline (net/tcp/IdDeadline.h). Results follow the socket convention: a byte count,
// 0 when the peer closed, -1 on failure with the error code left with the socket stack (GlobalStack).
//
// A destructor cannot dispatch to a derived class, so every transport that holds a resource releases it by
// calling its own CloseTransport from its own destructor.

#include <cstdint>
#include <string>

#include "net/tcp/IdComponent.h"
#include "net/tcp/IdDeadline.h"
#include "net/tcp/IdException.h"

// TLS could not be set up on a connection (handshake, certificate). Raised by a TLS transport; the HTTP client
// closes the connection before letting it go on.
class EIdSSLProtocolReplyError : public EIdProtocolReplyError {
public:
    explicit EIdSSLProtocolReplyError(const std::string& message, int32_t code = 0)
        : EIdProtocolReplyError(code, message)
    {}
};

class TIdIOHandler : public TIdComponent {
public:
    explicit TIdIOHandler(TIdBaseComponent* owner = nullptr);
    ~TIdIOHandler() override;

    // Completes a connection accepted by a server (unused by clients).
    virtual void FinishAccept() {}
    // Closes the transport; safe to call when it is not open.
    virtual void CloseTransport() {}
    // The connect, and whatever handshake the transport runs on it, ends by deadline.
    virtual void ConnectTransport(const std::string& host, int32_t port, const std::string& boundIP, int32_t boundPort,
                                  int32_t boundPortLow, int32_t boundPortHigh, const TIdDeadline& deadline);
    virtual bool IsOpen() = 0;
    // Readies the transport for the next connect.
    virtual void PrepareTransport() {}
    // True when bytes (or the peer's close) can be received before the deadline.
    virtual bool WaitReadable(const TIdDeadline& deadline) = 0;
    virtual int32_t ReceiveSome(void* buffer, int32_t length) = 0;
    virtual int32_t SendSome(const void* buffer, int32_t length) = 0;

    // Exchanges that run below a connection's input queue (proxy and TLS handshakes) build on these two,
    // through the virtual operations above. They raise instead of returning results: EIdSocketError (from the
    // stack's check) for a failure, EIdConnClosedGracefully for a peer that closed first.
    // Receives exactly length bytes; with a deadline all of them by then, else EIdReadTimeout.
    void ReceiveExactly(void* buffer, int32_t length, const TIdDeadline& deadline = {});
    void SendAll(const void* buffer, int32_t length);

    // What the HTTP client asks of a TLS transport, without linking one. A plain transport is not TLS and
    // always passes bytes through.
    virtual bool IsTLS() const { return false; }
    // On: bytes pass unencrypted (a plain http request, or a proxy's CONNECT exchange). Switching it off on an
    // open connection starts TLS there, ending by handshakeBy; set off before connecting, TLS starts with the
    // connect, by the connect's deadline. peerName is the server TLS will speak with (verified against its
    // certificate); empty: the host connected to.
    virtual bool PassThrough() const { return true; }
    virtual void SetPassThrough(bool value, const std::string& peerName = {}, const TIdDeadline& handshakeBy = {})
    {
        (void)value;
        (void)peerName;
        (void)handshakeBy;
    }
};
