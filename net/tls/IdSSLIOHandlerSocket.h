#pragma once

// The socket transport with TLS on top: every byte the connection reads or writes is decrypted or encrypted
// here, and the encrypted bytes travel through the socket transport's own receive and send, so the
// connection's input queue, line reads, write buffering and time-outs work over TLS exactly as over a plain
// socket.
//
// Pass-through on, bytes go out and come in unencrypted (plain http, or a proxy's CONNECT exchange); switched
// off on an open connection, the handshake runs at once on that connection; off before a connect, the
// handshake follows the connect.
//
// Safe by default: TLS 1.2 or later, the server name sent, the chain verified against the system's trust
// store and the name checked. A failure to set TLS up raises EIdSSLProtocolReplyError with a plain-English
// reason followed by the library's own words in parentheses, and leaves the socket closed. A failure later
// in the session (a server refusing after the handshake, a corrupt record) raises the same class on that and
// every later receive or send.
//
// Closing sends close_notify when a handshake completed. A peer that closes without close_notify ends the
// connection like a plain close (receive gives 0), so bodies are judged as over plain sockets.
//
// Nagle's algorithm is off by default (UseNagle false): TLS writes small records back to back.
//
// Owns its TLS context and session; used by one thread at a time. Waits end at a deadline (IdDeadline.h).

#include <cstdint>
#include <exception>
#include <string>

#include "net/tcp/IdIOHandlerSocket.h"

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;
struct x509_st;
struct evp_pkey_st;

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
public:
    explicit TIdSSLIOHandlerSocket(TIdBaseComponent* owner = nullptr);
    ~TIdSSLIOHandlerSocket() override;

    bool IsTLS() const override { return true; }
    bool PassThrough() const override { return passThrough_; }
    // Off on an open connection without TLS runs the handshake now with peerName, ending by handshakeBy
    // (EIdSSLProtocolReplyError on failure). On while TLS runs closes the connection (close_notify first): a
    // TLS session cannot fall back to plain bytes, so they need a connection of their own.
    void SetPassThrough(bool value, const std::string& peerName = {}, const TIdDeadline& handshakeBy = {}) override;

    void CloseTransport() override;
    // Connects like the socket transport; with pass-through off the handshake follows, by the same deadline.
    void ConnectTransport(const std::string& host, int32_t port, const std::string& boundIP, int32_t boundPort,
                          int32_t boundPortLow, int32_t boundPortHigh, const TIdDeadline& deadline) override;
    void PrepareTransport() override;
    // True only when decrypted bytes (or the end) can be had by the deadline: TLS records that carry no
    // application data do not count.
    bool WaitReadable(const TIdDeadline& deadline) override;
    int32_t ReceiveSome(void* buffer, int32_t length) override;
    int32_t SendSome(const void* buffer, int32_t length) override;

    // ---- properties (read at the next handshake) ------------------------------------------------------------
    // A PEM file of extra trusted certificates, and a folder of them in hashed form; both add to the system's
    // trust store.
    const std::string& CAFile() const { return caFile_; }
    void SetCAFile(const std::string& value);
    const std::string& CAPath() const { return caPath_; }
    void SetCAPath(const std::string& value);
    // False accepts any certificate for any name; only ever switched off on purpose.
    bool VerifyPeer() const { return verifyPeer_; }
    void SetVerifyPeer(bool value);
    // The name sent and checked. Empty: the peer named with the pass-through switch, else the host connected
    // to.
    const std::string& HostName() const { return hostName_; }
    void SetHostName(const std::string& value) { hostName_ = value; }

    // ---- the running session (empty without one) -----------------------------------------------------------
    std::string ProtocolVersion() const;
    std::string CipherName() const;

private:
    static int BioWrite(bio_st* bio, const char* data, int length);
    static int BioRead(bio_st* bio, char* data, int length);
    static long BioControl(bio_st* bio, int command, long number, void* pointer);
    static int ClientCertificateAsked(ssl_st* ssl, x509_st** certificate, evp_pkey_st** key);

    void StartTLS();
    void PrepareContext();
    void FreeSession();
    // The name the handshake uses (see HostName).
    std::string PeerName() const;
    // Runs one call into the library with a fresh error queue, its receives bounded by deadline; an exception
    // that a socket call raised inside it is rethrown once the library has returned.
    template <typename TCall>
    int CallLibrary(const TIdDeadline& deadline, TCall call);
    // Raises EIdSSLProtocolReplyError for a failed call and remembers it for every later call.
    [[noreturn]] void RaiseFailure(int result, const char* stage);
    // One read or write through the session: a failure the session had before is raised again and a length
    // of 0 or less moves nothing; otherwise call moves the bytes.
    template <typename TCall>
    int32_t SessionTransfer(int32_t length, TCall call);
    // What a read or write that moved no bytes reports: 0 for the peer's close, -1 for a socket error.
    int32_t TransferEnded(int result);
    std::string FailureReason(int result, const char* stage);

    bool passThrough_ = false;
    bool verifyPeer_ = true;
    std::string caFile_;
    std::string caPath_;
    std::string hostName_;
    std::string connectHost_;
    std::string peerName_;
    TIdDeadline handshakeDeadline_;
    // What the handshake's deadline allowed when it was given, for the message of one that ran out.
    int handshakeMs_ = -1;

    ssl_ctx_st* context_ = nullptr;
    ssl_st* session_ = nullptr;
    bool handshakeDone_ = false;
    bool clientCertificateAsked_ = false;
    std::string failure_;

    // Set by the receive under the library: the end of the stream, the socket error code, and a deadline
    // after which the receive gives up with "try again".
    bool receivedEnd_ = false;
    int32_t socketError_ = 0;
    TIdDeadline deadline_;
    std::exception_ptr pendingException_;
};
