#include "net/tls/IdSSLIOHandlerSocket.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cstring>

#include "net/tcp/IdException.h"
#include "net/tcp/IdStack.h"
#include "platform/SysUtils.h"

namespace {

std::string LibraryReason()
{
    // A failed system call (a file not found, say) is the first entry, with the system's error number as its
    // reason; the entries after it only say that a system call failed.
    const unsigned long first = ERR_peek_error();
    if (first != 0 && ERR_GET_LIB(first) == ERR_LIB_SYS) {
        return std::strerror(ERR_GET_REASON(first));
    }
    const unsigned long code = ERR_peek_last_error();
    const char* text = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return text != nullptr ? text : "";
}

// Why a certificate was refused, in words a reader of the message can act on.
std::string VerifyExplanation(long result, const std::string& name)
{
    switch (result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return "it is self-signed and not among the trusted certificates";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return "it was issued by an authority that is not trusted here";
    case X509_V_ERR_CERT_HAS_EXPIRED: return "it has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "it is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return Format("it was issued for another name than %s", name);
    case X509_V_ERR_CERT_REVOKED: return "it has been revoked";
    default: return "it did not pass verification";
    }
}

// Why the library failed, for the reasons a user meets in practice.
std::string ProtocolExplanation(int reason, bool clientCertificateAsked)
{
    switch (reason) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
        return "the server does not speak TLS on this port; it may be a plain http server";
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION: return "the server offers no TLS version accepted here (1.2 or later)";
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
        return "the server demands a client certificate, and none is configured";
    case SSL_R_UNEXPECTED_EOF_WHILE_READING: return "the server closed the connection";
    default:
        return clientCertificateAsked ? "the server refused the connection after asking for a client certificate, "
                                        "and none is configured"
                                      : "the TLS exchange failed";
    }
}

} // namespace

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket(TIdBaseComponent* owner) : TIdIOHandlerSocket(owner)
{
    // TLS sends small records back to back (the client's last handshake flight, then the request; the close
    // alert); with Nagle's algorithm each waits for the peer's delayed acknowledgement, some 40 ms.
    SetUseNagle(false);
}

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket()
{
    CloseTransport();
    SSL_CTX_free(context_);
}

// ---- properties -------------------------------------------------------------------------------------------

void TIdSSLIOHandlerSocket::SetPassThrough(bool value, const std::string& peerName, const TIdDeadline& handshakeBy)
{
    passThrough_ = value;
    if (!value) {
        peerName_ = peerName;
        handshakeDeadline_ = handshakeBy;
        handshakeMs_ = handshakeBy.WaitMs();
    }
    if (!value && session_ == nullptr && IsOpen()) {
        StartTLS();
    } else if (value && session_ != nullptr) {
        // Plain bytes cannot follow TLS on one connection: the party at the far end of the session (the
        // server at the end of a proxy's tunnel, say) is not the one they are meant for. The connection
        // ends; the next one starts plain.
        CloseTransport();
    }
}

void TIdSSLIOHandlerSocket::SetCAFile(const std::string& value)
{
    caFile_ = value;
    SSL_CTX_free(context_);
    context_ = nullptr;
}

void TIdSSLIOHandlerSocket::SetCAPath(const std::string& value)
{
    caPath_ = value;
    SSL_CTX_free(context_);
    context_ = nullptr;
}

void TIdSSLIOHandlerSocket::SetVerifyPeer(bool value)
{
    verifyPeer_ = value;
    SSL_CTX_free(context_);
    context_ = nullptr;
}

std::string TIdSSLIOHandlerSocket::ProtocolVersion() const
{
    return session_ != nullptr && handshakeDone_ ? SSL_get_version(session_) : "";
}

std::string TIdSSLIOHandlerSocket::CipherName() const
{
    const char* name = session_ != nullptr && handshakeDone_ ? SSL_get_cipher_name(session_) : nullptr;
    return name != nullptr ? name : "";
}

std::string TIdSSLIOHandlerSocket::PeerName() const
{
    if (!hostName_.empty()) {
        return hostName_;
    }
    return peerName_.empty() ? connectHost_ : peerName_;
}

// ---- transport --------------------------------------------------------------------------------------------

void TIdSSLIOHandlerSocket::PrepareTransport()
{
    FreeSession();
    TIdIOHandlerSocket::PrepareTransport();
}

void TIdSSLIOHandlerSocket::ConnectTransport(const std::string& host, int32_t port, const std::string& boundIP,
                                             int32_t boundPort, int32_t boundPortLow, int32_t boundPortHigh,
                                             const TIdDeadline& deadline)
{
    FreeSession();
    connectHost_ = host;
    handshakeDeadline_ = deadline;
    handshakeMs_ = deadline.WaitMs();
    TIdIOHandlerSocket::ConnectTransport(host, port, boundIP, boundPort, boundPortLow, boundPortHigh, deadline);
    if (!passThrough_) {
        StartTLS();
    }
}

void TIdSSLIOHandlerSocket::CloseTransport()
{
    if (session_ != nullptr) {
        if (handshakeDone_ && failure_.empty() && IsOpen()) {
            // One close_notify and no wait for the peer's: the socket closes right after. A peer that is
            // already gone only makes the send fail, which changes nothing here.
            try {
                CallLibrary(DeadlineAfter(0), [this] { return SSL_shutdown(session_); });
            } catch (const std::exception&) {}
        }
        FreeSession();
    }
    TIdIOHandlerSocket::CloseTransport();
}

void TIdSSLIOHandlerSocket::FreeSession()
{
    SSL_free(session_);
    session_ = nullptr;
    handshakeDone_ = false;
    failure_.clear();
}

bool TIdSSLIOHandlerSocket::WaitReadable(const TIdDeadline& deadline)
{
    if (session_ == nullptr) {
        return TIdIOHandlerSocket::WaitReadable(deadline);
    }
    if (!failure_.empty() || receivedEnd_ || SSL_pending(session_) > 0) {
        return true;
    }
    // A readable socket may hold only part of a record, or a record without application data (a session
    // ticket), after which a receive would block; peeking under the deadline settles it.
    char probe = 0;
    const int result = CallLibrary(deadline, [&] { return SSL_peek(session_, &probe, 1); });
    if (result > 0) {
        return true;
    }
    switch (SSL_get_error(session_, result)) {
    case SSL_ERROR_WANT_READ: return false;
    case SSL_ERROR_ZERO_RETURN:
    case SSL_ERROR_SYSCALL:
        // The receive that follows reports the end or the socket's error.
        return true;
    default: RaiseFailure(result, nullptr);
    }
}

template <typename TCall>
int32_t TIdSSLIOHandlerSocket::SessionTransfer(int32_t length, TCall call)
{
    if (!failure_.empty()) {
        throw EIdSSLProtocolReplyError(failure_);
    }
    if (length <= 0) {
        return 0;
    }
    const int result = CallLibrary(TIdDeadline(), call);
    return result > 0 ? result : TransferEnded(result);
}

int32_t TIdSSLIOHandlerSocket::ReceiveSome(void* buffer, int32_t length)
{
    if (session_ == nullptr || !IsOpen()) {
        return TIdIOHandlerSocket::ReceiveSome(buffer, length);
    }
    return SessionTransfer(length, [&] { return SSL_read(session_, buffer, length); });
}

int32_t TIdSSLIOHandlerSocket::SendSome(const void* buffer, int32_t length)
{
    if (session_ == nullptr || !IsOpen()) {
        return TIdIOHandlerSocket::SendSome(buffer, length);
    }
    return SessionTransfer(length, [&] { return SSL_write(session_, buffer, length); });
}

int32_t TIdSSLIOHandlerSocket::TransferEnded(int result)
{
    switch (SSL_get_error(session_, result)) {
    case SSL_ERROR_ZERO_RETURN: return 0;
    case SSL_ERROR_SYSCALL:
        // The socket's error code is still the stack's last one, where the connection looks for it.
        return socketError_ != 0 ? -1 : 0;
    default: RaiseFailure(result, nullptr);
    }
}

// ---- the handshake ------------------------------------------------------------------------------------------

void TIdSSLIOHandlerSocket::PrepareContext()
{
    if (context_ != nullptr) {
        return;
    }
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        throw EIdSSLProtocolReplyError(Format("TLS could not be set up: %s", LibraryReason()));
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // A peer that ends the stream without close_notify has ended it all the same; the layers above judge
    // whether a body was complete, as they do over plain sockets.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    // Whole socket reads instead of a header read and a body read per record: half the receive calls.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_verify_paths(context);
    if (!caFile_.empty() || !caPath_.empty()) {
        if (SSL_CTX_load_verify_locations(context, caFile_.empty() ? nullptr : caFile_.c_str(),
                                          caPath_.empty() ? nullptr : caPath_.c_str()) != 1) {
            const std::string reason = LibraryReason();
            SSL_CTX_free(context);
            throw EIdSSLProtocolReplyError(Format("TLS could not be set up: the trusted certificates of %s could not "
                                                  "be loaded (%s)",
                                                  caFile_.empty() ? caPath_ : caFile_, reason));
        }
    }
    SSL_CTX_set_verify(context, verifyPeer_ ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_client_cert_cb(context, &TIdSSLIOHandlerSocket::ClientCertificateAsked);
    context_ = context;
}

void TIdSSLIOHandlerSocket::StartTLS()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "socket transport");
        BIO_meth_set_write(m, &TIdSSLIOHandlerSocket::BioWrite);
        BIO_meth_set_read(m, &TIdSSLIOHandlerSocket::BioRead);
        BIO_meth_set_ctrl(m, &TIdSSLIOHandlerSocket::BioControl);
        return m;
    }();

    FreeSession();
    try {
        PrepareContext();
    } catch (const EIdSSLProtocolReplyError&) {
        // No TLS without a context: the connection is of no use.
        TIdIOHandlerSocket::CloseTransport();
        throw;
    }
    clientCertificateAsked_ = false;
    receivedEnd_ = false;
    session_ = SSL_new(context_);
    BIO* bio = session_ != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr) {
        FreeSession();
        throw EIdSSLProtocolReplyError(Format("TLS could not be set up: %s", LibraryReason()));
    }
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(session_, bio, bio);
    SSL_set_app_data(session_, this);

    std::string name = PeerName();
    // A URL carries an IPv6 literal in brackets; the certificate lists the bare address.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (TIdStack::IsDottedQuad(name) || TIdStack::IsIPv6Literal(name)) {
        // Addresses are not sent as a server name; the certificate must list the address itself.
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session_), name.c_str());
    } else {
        SSL_set_tlsext_host_name(session_, name.c_str());
        SSL_set1_host(session_, name.c_str());
    }

    int result = 0;
    try {
        result = CallLibrary(handshakeDeadline_, [this] { return SSL_connect(session_); });
    } catch (const std::exception&) {
        FreeSession();
        TIdIOHandlerSocket::CloseTransport();
        throw;
    }
    if (result != 1) {
        RaiseFailure(result, "handshake");
    }
    handshakeDone_ = true;
}

// ---- failures ---------------------------------------------------------------------------------------------

std::string TIdSSLIOHandlerSocket::FailureReason(int result, const char* stage)
{
    const int error = SSL_get_error(session_, result);
    const long verified = SSL_get_verify_result(session_);
    if (verifyPeer_ && verified != X509_V_OK) {
        return Format("the server's certificate was refused: %s (%s)", VerifyExplanation(verified, PeerName()),
                      X509_verify_cert_error_string(verified));
    }
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        return Format("the server did not complete the %s within %d ms", stage, handshakeMs_);
    }
    const unsigned long code = ERR_peek_last_error();
    if (socketError_ != 0) {
        // The stack's text is "Socket Error # <code>" CR LF <words>; the words read better inside a sentence.
        const std::string text = GlobalStack->SocketErrorText(socketError_);
        const size_t lineEnd = text.find("\r\n");
        return Format("the connection failed (socket error %d: %s)", socketError_,
                      lineEnd == std::string::npos ? text : text.substr(lineEnd + 2));
    }
    if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN || code == 0) {
        return stage != nullptr ? Format("the server closed the connection during the %s", stage)
                                : std::string("the server closed the connection");
    }
    const std::string explanation = ProtocolExplanation(ERR_GET_REASON(code), clientCertificateAsked_);
    return Format("%s (%s)", explanation, LibraryReason());
}

void TIdSSLIOHandlerSocket::RaiseFailure(int result, const char* stage)
{
    const std::string name = PeerName();
    const std::string reason = FailureReason(result, stage);
    if (stage != nullptr) {
        // A session that never stood is of no use; the connection ends here.
        const std::string message = Format("TLS %s with %s failed: %s", stage, name, reason);
        FreeSession();
        TIdIOHandlerSocket::CloseTransport();
        throw EIdSSLProtocolReplyError(message);
    }
    failure_ = Format("TLS connection to %s failed: %s", name, reason);
    throw EIdSSLProtocolReplyError(failure_);
}

template <typename TCall>
int TIdSSLIOHandlerSocket::CallLibrary(const TIdDeadline& deadline, TCall call)
{
    // The deadline holds for this call only, however it ends.
    struct TRestore {
        TIdDeadline& field;
        TIdDeadline saved;
        ~TRestore() { field = saved; }
    } restore{deadline_, deadline_};
    deadline_ = deadline;
    ERR_clear_error();
    socketError_ = 0;
    pendingException_ = nullptr;
    const int result = call();
    if (pendingException_) {
        std::exception_ptr raised = pendingException_;
        pendingException_ = nullptr;
        std::rethrow_exception(raised);
    }
    return result;
}

// ---- the library's view of the socket ------------------------------------------------------------------------
// Exceptions must not cross the library's C frames: one raised by a socket call is held and rethrown by
// CallLibrary.

int TIdSSLIOHandlerSocket::BioWrite(BIO* bio, const char* data, int length)
{
    auto* self = static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    try {
        const int32_t sent = self->TIdIOHandlerSocket::SendSome(data, length);
        if (sent < 0) {
            self->socketError_ = GlobalStack->LastSocketError();
        }
        return sent;
    } catch (const std::exception&) {
        self->pendingException_ = std::current_exception();
        return -1;
    }
}

int TIdSSLIOHandlerSocket::BioRead(BIO* bio, char* data, int length)
{
    auto* self = static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    try {
        if (self->deadline_.Limited()) {
            if (!self->TIdIOHandlerSocket::WaitReadable(self->deadline_)) {
                BIO_set_retry_read(bio);
                return -1;
            }
        }
        const int32_t received = self->TIdIOHandlerSocket::ReceiveSome(data, length);
        if (received == 0) {
            self->receivedEnd_ = true;
        } else if (received < 0) {
            self->socketError_ = GlobalStack->LastSocketError();
        }
        return received;
    } catch (const std::exception&) {
        self->pendingException_ = std::current_exception();
        return -1;
    }
}

long TIdSSLIOHandlerSocket::BioControl(BIO* bio, int command, long, void*)
{
    switch (command) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return static_cast<TIdSSLIOHandlerSocket*>(BIO_get_data(bio))->receivedEnd_ ? 1 : 0;
    default: return 0;
    }
}

int TIdSSLIOHandlerSocket::ClientCertificateAsked(SSL* ssl, X509**, EVP_PKEY**)
{
    // No client certificate is ever sent; the note only explains a refusal that may follow.
    static_cast<TIdSSLIOHandlerSocket*>(SSL_get_app_data(ssl))->clientCertificateAsked_ = true;
    return 0;
}
