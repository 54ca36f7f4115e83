#pragma once

// The HTTP/1.x client: TIdHTTP fetches a URL into the caller's stream over its own buffered connection (it is
// a TIdTCPClient), directly or through an HTTP proxy, following redirects and answering authentication
// challenges when asked to.
//
// Ownership: the client owns its exchange (TIdHTTPProtocol with Request and Response), CurrentUri,
// ProxyParams and a cookie manager it creates itself; an assigned cookie manager, I/O handler or
// authentication manager is only referenced and forgotten when it is destroyed. Streams handed to it are
// never released by it. One call at a time, on the caller's thread; every read blocks.
//
// Failures leave as exceptions: EIdHTTPProtocolException for an error status (message = status line),
// EIdHTTPBadResponse for a response it refuses to read on, and the transport's exceptions. Time-outs are
// milliseconds; ReadTimeout 0 waits without limit.
//
// The source is split by concern: IdHTTPRules.cpp (decisions without a connection), IdHTTPExchange.cpp
// (status, headers, body and the next step), IdHTTPCycle.cpp (the request cycle).

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "net/http/IdAuthentication.h"
#include "net/http/IdHTTPHeaderInfo.h"
#include "net/http/IdHTTPRules.h"
#include "net/http/IdURI.h"
#include "net/tcp/IdTCPClient.h"
#include "platform/Classes.h"

class TIdCustomHTTP;
class TIdCookieManager;

// What the cycle does after a response.
enum TIdHTTPNextStep {
    nsFollow,    // send again, to the URL now in the request (a redirect, or an answered challenge)
    nsDone,      // the response is final; the call returns
    nsUndecided, // no rule matched (a 2xx on a connection already closed); the call raises
    nsAuthRetry  // send the same URL again with credentials
};

enum TIdHTTPOption { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };
using TIdHTTPOptions = std::set<TIdHTTPOption>;

// dest and method may be changed by the handler; numRedirect is a copy; handled starts as HandleRedirects.
using TIdHTTPOnRedirectEvent = std::function<void(TIdCustomHTTP* sender, std::string& dest, int32_t& numRedirect,
                                                  bool& handled, TIdHTTPMethod& method)>;
// May replace the scheme chosen from the challenge lines in authInfo.
using TIdOnSelectAuthorization = std::function<void(TIdCustomHTTP* sender, TIdAuthenticationClass& authenticationClass,
                                                    const TIdHeaderList& authInfo)>;
// Fills in credentials (PutUserName, PutPassword) and sets handled to send them.
using TIdOnAuthorization = std::function<void(TIdCustomHTTP* sender, TIdAuthentication* authentication, bool& handled)>;

// Receives a finished authentication before the client frees it (when the connection closes).
class TIdAuthenticationManager : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;
    virtual void AddAuthentication(const TIdAuthentication& authentication, const TIdURI& uri) = 0;
};

// The response: status line, parsed header fields and where the body goes.
class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    explicit TIdHTTPResponse(TIdCustomHTTP& owner);
    const char* ClassName() const override { return "TIdHTTPResponse"; }

    const std::string& StatusLine() const { return statusLine_; }
    void SetStatusLine(const std::string& value) { statusLine_ = value; }
    // Re-read from StatusLine on every query; -1 when it holds no code.
    int32_t StatusCode() { return ParseStatusCode(); }
    // pv1_0 at first; keeps its value while status lines name neither version.
    TIdHTTPProtocolVersion StatusVersion() const { return statusVersion_; }
    // The result of the last EvaluateKeepAlive.
    bool KeepConnection() const { return keepConnection_; }
    // Not owned; absent means the body is not read.
    TStream* BodyStream() const { return bodyStream_; }
    void SetBodyStream(TStream* value) { bodyStream_ = value; }

    int32_t ParseStatusCode();
    // Notices a closed connection, then applies the keep-alive rule by the client's own ProtocolVersion.
    bool EvaluateKeepAlive();

private:
    TIdCustomHTTP& owner_;
    std::string statusLine_;
    TIdHTTPProtocolVersion statusVersion_ = pv1_0;
    bool keepConnection_ = false;
    TStream* bodyStream_ = nullptr;
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    explicit TIdHTTPRequest(TIdCustomHTTP& owner);
    const char* ClassName() const override { return "TIdHTTPRequest"; }

    // As given to the call, then the path (or absolute URL through a proxy) that goes on the request line.
    const std::string& RequestUrl() const { return requestUrl_; }
    void SetRequestUrl(const std::string& value) { requestUrl_ = value; }
    TIdHTTPMethod Method() const { return method_; }
    void SetMethod(TIdHTTPMethod value) { method_ = value; }
    // The body of POST and PUT; not owned.
    TStream* SourceStream() const { return sourceStream_; }
    void SetSourceStream(TStream* value) { sourceStream_ = value; }
    TIdHTTPConnectionKind ConnectionKind() const { return connectionKind_; }
    void SetConnectionKind(TIdHTTPConnectionKind value) { connectionKind_ = value; }

private:
    std::string requestUrl_;
    TIdHTTPMethod method_ = hmGet;
    TStream* sourceStream_ = nullptr;
    TIdHTTPConnectionKind connectionKind_ = ckDirect;
};

// One request and its response on a client's connection. The client is referenced, the records owned.
class TIdHTTPProtocol {
public:
    explicit TIdHTTPProtocol(TIdCustomHTTP& client);

    TIdHTTPRequest& Request() { return request_; }
    TIdHTTPResponse& Response() { return response_; }

    // Writes the request line and header lines in one piece; with a URL also the "Cookie" line for it.
    void SendRequestHead(const TIdURI* url);
    // Reads the header block after the status line into the response and parses it. A close inside the block
    // ends it and closes the connection. Raises EIdHTTPBadResponse past 1 MiB or 10,000 lines.
    void ReadResponseHeaders();
    // Follow, finish, retry with credentials or raise, reading or discarding the body on the way.
    TIdHTTPNextStep DecideNextStep();
    // Reads the error body (2 s read time-out) and raises EIdHTTPProtocolException with the code, the status
    // line and whatever of the body arrived, also when reading it failed.
    [[noreturn]] void RaiseProtocolError();
    // Reads the body and drops it. Failures propagate; a caller that swallows them closes the connection.
    void DiscardBody();
    // Whether the last response was read to its end, so the connection holds nothing of it any more.
    bool ResponseComplete() const { return responseComplete_; }

private:
    // Runs read with ReadTimeout set to timeoutMs, restoring it on every path; false when read raised (the
    // connection is then closed, since the rest of the response may still be on its way).
    template <typename TRead>
    bool ReadQuietly(int32_t timeoutMs, TRead read);
    TIdHTTPNextStep DecideRedirect();
    void ReadFinalBody();

    TIdCustomHTTP& client_;
    TIdHTTPRequest request_;
    TIdHTTPResponse response_;
    bool responseComplete_ = true;

    friend class TIdCustomHTTP;
};

class TIdCustomHTTP : public TIdTCPClient {
public:
    static constexpr int32_t kMaxHeaderBytes = 1024 * 1024;
    static constexpr int32_t kMaxHeaderLines = 10000;
    // Error bodies are kept for the exception up to this size; the rest is read and dropped.
    static constexpr int64_t kMaxErrorBody = 1024 * 1024;

    explicit TIdCustomHTTP(TIdBaseComponent* owner = nullptr);
    ~TIdCustomHTTP() override;

    // ---- properties -----------------------------------------------------------------------------------
    int32_t AuthRetries() const { return authRetries_; }
    void SetAuthRetries(int32_t value) { authRetries_ = value; }
    bool AllowCookies() const { return allowCookies_; }
    void SetAllowCookies(bool value) { allowCookies_ = value; }
    bool HandleRedirects() const { return handleRedirects_; }
    void SetHandleRedirects(bool value) { handleRedirects_ = value; }
    TIdHTTPProtocolVersion ProtocolVersion() const { return protocolVersion_; }
    void SetProtocolVersion(TIdHTTPProtocolVersion value) { protocolVersion_ = value; }
    int32_t RedirectMaximum() const { return redirectMaximum_; }
    void SetRedirectMaximum(int32_t value) { redirectMaximum_ = value; }
    // Milliseconds for a connect; 0 lets ReadTimeout serve (whose 0 means a plain blocking connect).
    int32_t ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int32_t value) { connectTimeout_ = value; }
    TIdProxyConnectionInfo& ProxyParams() { return *proxyParams_; }
    void SetProxyParams(const TIdProxyConnectionInfo& value) { proxyParams_->Assign(value); }
    TIdHTTPRequest& Request() { return exchange_->Request(); }
    // Copies by the request records' rules (Accept..., credentials, user agent; not Host).
    void SetRequest(const TIdRequestHeaderInfo& value) { exchange_->Request().Assign(value); }
    TIdHTTPResponse& Response() { return exchange_->Response(); }
    const TIdHTTPOptions& HTTPOptions() const { return httpOptions_; }
    void SetHTTPOptions(const TIdHTTPOptions& value) { httpOptions_ = value; }
    TIdCookieManager* CookieManager() const { return cookieManager_; }
    // Frees a manager the client made itself; the new one is referenced and watched.
    void SetCookieManager(TIdCookieManager* value);
    TIdAuthenticationManager* AuthManager() const { return authManager_; }
    void SetAuthManager(TIdAuthenticationManager* value);
    void SetHost(const std::string& value) override;
    void SetPort(int32_t value) override;

    TIdHTTPOnRedirectEvent OnRedirect;
    TIdOnSelectAuthorization OnSelectAuthorization;
    TIdOnSelectAuthorization OnSelectProxyAuthorization;
    TIdOnAuthorization OnAuthorization;
    TIdOnAuthorization OnProxyAuthorization;

    // ---- state ----------------------------------------------------------------------------------------
    // The URL of the last request: the base for the next one.
    TIdURI& CurrentUri() { return currentUri_; }
    TIdHTTPProtocol& Exchange() { return *exchange_; }
    int32_t RedirectCount() const { return redirectCount_; }
    int32_t ServerAuthTries() const { return serverAuthTries_; }
    int32_t ProxyAuthTries() const { return proxyAuthTries_; }
    bool OwnsCookieManager() const { return ownsCookieManager_; }
    // The status line and code of the last response.
    const std::string& ResponseText() { return Response().StatusLine(); }
    int32_t ResponseCode() { return Response().StatusCode(); }

    // ---- requests -------------------------------------------------------------------------------------
    // Fetches url and appends the final response's body to stream at its position.
    // Example: http.Get("http://127.0.0.1:8080/rfc/rfc822.txt", body);
    void Get(const std::string& url, TStream& stream);

    virtual bool AnswerServerChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response);
    virtual bool AnswerProxyChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response);
    // Asks OnRedirect (Handled starting as HandleRedirects); location and method keep what it left.
    virtual bool FireRedirect(std::string& location, TIdHTTPMethod& method, int32_t redirectCount);
    // Runs the whole cycle for one call: source is sent for POST and PUT, the body goes to response.
    virtual void PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source, TStream* response);

    // ---- response reading (used by the exchange) --------------------------------------------------------
    // Reads the response's body into its BodyStream: by Content-Length, chunked, or until the server closes.
    // A server that closes before the announced length raises EIdConnClosedGracefully after every byte that
    // arrived has reached the stream.
    void ReadResponseBody(TIdHTTPResponse& response);
    // The next chunk-size line's size. Raises EIdHTTPBadResponse for a malformed or over-long line and
    // EIdConnClosedGracefully when the server closes inside it.
    int64_t ReadChunkSize();
    // One line of the status or header block, never longer than the header limit.
    std::string ReadHeaderLine();

protected:
    void Notification(TIdBaseComponent* component, TOperation operation) override;
    void DoOnDisconnected() override;

    // The steps of one pass, in the order the cycle runs them.
    void ResolveRequest(TIdHTTPRequest& request);
    TIdHTTPConnectionKind ChooseConnectionTarget();
    void EnsureConnected(TIdHTTPResponse& response);
    void OpenRequestConnection(TIdHTTPRequest& request, TIdHTTPResponse& response);
    void StoreResponseCookies(TIdHTTPRequest& request, TIdHTTPResponse& response);

private:
    friend class TIdHTTPProtocol;
    // Sets "Cookie" for url when the cookie manager has any.
    void AddCookieHeader(const TIdURI& url, TIdHTTPRequest& request);
    // The credentials of the request record, compared to tell whether the application changed them.
    struct TCredentials {
        std::string username;
        std::string password;
        bool basic = false;
        const TIdAuthentication* authentication = nullptr;
        bool operator==(const TCredentials&) const = default;
    };

    void RunPasses(const std::string& url, TStream* response, int64_t start);
    void FinishCall();
    // Opens or reuses the connection, sends the request and reads the first status line.
    void SendAndAwaitAnswer(TIdHTTPRequest& request);
    void ReadStatusAndHeaders(TIdHTTPProtocol& exchange, TIdHTTPRequest& request);
    void OpenTunnel(TIdHTTPRequest& request);
    void RequireTLSHandler();
    void SetPassThrough(bool value);
    TCredentials CredentialsNow();
    void TakeCredentialsOwnership();
    void DropForeignCredentials(TIdHTTPRequest& request, const std::string& target);
    TIdAuthenticationClass ChooseScheme(const TIdHeaderList& challenges, const TIdOnSelectAuthorization& onSelect);
    void ReadBodyByLength(TStream& stream, int64_t length);
    void ReadChunkedBody(TStream& stream);
    void SkipTrailer();

    TIdURI currentUri_;
    int32_t authRetries_ = 3;
    bool allowCookies_ = true;
    bool handleRedirects_ = false;
    TIdHTTPProtocolVersion protocolVersion_ = pv1_1;
    int32_t redirectMaximum_ = 15;
    int32_t connectTimeout_ = 0;
    TIdHTTPOptions httpOptions_;
    int32_t redirectCount_ = 0;
    int32_t serverAuthTries_ = 0;
    int32_t proxyAuthTries_ = 0;
    // Whether the last request went out on a connection kept from an earlier one.
    bool reusedConnection_ = false;
    TIdCookieManager* cookieManager_ = nullptr;
    bool ownsCookieManager_ = false;
    TIdAuthenticationManager* authManager_ = nullptr;
    std::unique_ptr<TIdHTTPProtocol> exchange_;
    std::unique_ptr<TIdProxyConnectionInfo> proxyParams_;
    // The credentials as they stood after the last call, and the server (TargetKeyOf) they belong to: they
    // are dropped before a request to any other server. Empty: they belong to the next server resolved.
    TCredentials carried_;
    std::string credentialsTarget_;
};

class TIdHTTP : public TIdCustomHTTP {
public:
    using TIdCustomHTTP::TIdCustomHTTP;
};
