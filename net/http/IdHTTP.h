#pragma once

// The HTTP/1.x client: TIdHTTP fetches a URL into the caller's stream over its own buffered connection (it is
// a TIdTCPClient), directly or through an HTTP proxy, following redirects and answering authentication
// challenges when asked to.
//
// Ownership: the client owns Request, Response, CurrentUri, ProxyParams and a cookie manager it creates
// itself; an assigned cookie manager, I/O handler or authentication manager is only referenced and forgotten
// when it is destroyed. Streams handed to it are never released by it. One call at a time, on the caller's
// thread; every read blocks.
//
// Failures leave as exceptions: EIdHTTPProtocolException for an error status (message = status line),
// EIdHTTPBadResponse for a response it refuses to read on or a redirect it refuses to follow (EIdHTTPTooLarge
// for a document past MaxBodySize), EIdHTTPClosedInHeader when the server closed inside a header block,
// EIdHTTPTimeLimit when the call outlasts TotalTimeout, EIdHTTPCancelled after Cancel, and the transport's
// exceptions. An exception from the
// application's yield hook passes through and leaves the client disconnected. Time-outs are milliseconds;
// ReadTimeout 0 waits without limit.
//
// The source is split by concern: IdHTTPRules (decisions without a connection), IdHTTPExchange (one request
// head out and one response in, on a connection it is given), IdHTTP (this cycle, which alone acts).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "net/http/IdAuthentication.h"
#include "net/http/IdHTTPExchange.h"
#include "net/http/IdHTTPHeaderInfo.h"
#include "net/http/IdHTTPRules.h"
#include "net/http/IdURI.h"
#include "net/tcp/IdTCPClient.h"
#include "platform/Classes.h"

class TIdCustomHTTP;
class TIdCookieManager;

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
    TIdHTTPResponse() = default;
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
    // Takes the version from the status line, then applies the keep-alive rule by the client's own version to
    // a connection that is still open.
    bool EvaluateKeepAlive(bool connected, TIdHTTPProtocolVersion clientVersion);

private:
    std::string statusLine_;
    TIdHTTPProtocolVersion statusVersion_ = pv1_0;
    bool keepConnection_ = false;
    TStream* bodyStream_ = nullptr;
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    TIdHTTPRequest() = default;
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

class TIdCustomHTTP : public TIdTCPClient {
public:
    // The bounds a client has before anyone sets them, so that no caller grows a document without end or
    // waits for ever: 512 MiB and 10 minutes for the whole call. 0 lifts either.
    static constexpr int64_t kDefaultMaxBodySize = int64_t{512} * 1024 * 1024;
    static constexpr int32_t kDefaultTotalTimeout = 10 * 60 * 1000;
    static constexpr int32_t kMaxHeaderBytes = TIdHTTPExchange::kMaxHeaderBytes;
    static constexpr int32_t kMaxHeaderLines = TIdHTTPExchange::kMaxHeaderLines;
    // The most of a body that is not the document (an error page, a redirect's) that is read; the error
    // exception keeps it. A longer one is not read on: its connection closes.
    static constexpr int64_t kMaxErrorBody = 64 * 1024;
    // Interim responses (1xx) one request may receive before its final one.
    static constexpr int32_t kMaxInterim = 20;

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
    // Bytes; 0 for no limit (default kDefaultMaxBodySize). A document larger than this raises EIdHTTPTooLarge
    // before the bytes past it are read.
    int64_t MaxBodySize() const { return maxBodySize_; }
    void SetMaxBodySize(int64_t bytes) { maxBodySize_ = bytes; }
    // Milliseconds for a whole call: name lookup, connect, redirects, retries and every read; 0 for none
    // (default kDefaultTotalTimeout). A call that outlasts it raises EIdHTTPTimeLimit, however the server
    // trickles its bytes.
    int32_t TotalTimeout() const { return totalTimeout_; }
    void SetTotalTimeout(int32_t ms) { totalTimeout_ = ms; }
    TIdProxyConnectionInfo& ProxyParams() { return *proxyParams_; }
    void SetProxyParams(const TIdProxyConnectionInfo& value) { proxyParams_->Assign(value); }
    TIdHTTPRequest& Request() { return request_; }
    // Copies by the request records' rules (Accept..., credentials, user agent; not Host).
    void SetRequest(const TIdRequestHeaderInfo& value) { request_.Assign(value); }
    TIdHTTPResponse& Response() { return response_; }
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
    // Ends the call in progress from any thread: every wait of it (lookup, connect, handshake, reads) ends at
    // once, and the call raises EIdHTTPCancelled with its connection closed. Without a call in progress it
    // does nothing.
    void Cancel();
    // A cancel the calls share instead of making one each, so a cancel set before a call begins (or while
    // none runs) ends that call as soon as it starts; Cancel sets it too. Null (the default): each call has
    // its own. Set it between calls, from the thread that makes them.
    void SetCallCancel(std::shared_ptr<TIdCancel> cancel);

    virtual bool AnswerServerChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response);
    virtual bool AnswerProxyChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response);
    // Asks OnRedirect (Handled starting as HandleRedirects); location and method keep what it left.
    virtual bool FireRedirect(std::string& location, TIdHTTPMethod& method, int32_t redirectCount);
    // Runs the whole cycle for one call: source is sent for POST and PUT, the body goes to response.
    virtual void PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source, TStream* response);

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

    // The one conversion of the time properties into the deadlines of a call (see TIdHTTPDeadlines).
    TIdHTTPDeadlines DeadlinesOfCall(std::shared_ptr<const TIdCancel> cancel) const;
    void RunPasses(TStream* body, int64_t start);
    void FinishCall();
    // Opens or reuses the connection, sends the request and reads the first status line.
    void SendAndAwaitAnswer(TIdHTTPRequest& request);
    void SendRequestHead(TIdHTTPRequest& request, const TIdURI* cookieUrl);
    // Starts reading the response to a request of method: its first head into response.
    void ReadFirstHead(TIdHTTPMethod method, TIdHTTPResponse& response);
    // Takes in the head just read (fields, cookies), and the heads after it while it was an interim one.
    void ReadResponseHead(TIdHTTPRequest& request, TIdHTTPResponse& response);
    // Reads a body that is not the document (see kMaxErrorBody) for at most waitMs in all.
    std::string ReadSideBody(int32_t waitMs);
    // Reads the error body and raises EIdHTTPProtocolException with the code, the status line and whatever of
    // the body arrived.
    [[noreturn]] void RaiseProtocolError(const TIdHTTPResponse& response);
    // Answers a 401 or 407 of response to request so that it can go again at once (inProcess), or raises its
    // protocol error.
    void AnswerChallenge(TIdHTTPAction action, TIdHTTPRequest& request, TIdHTTPResponse& response, bool inProcess);
    // Follows a redirect as the redirect event (and the rules) allow; false when the event accepted it
    // without following, which ends the call.
    bool FollowRedirect(TIdHTTPAction action);
    void OpenTunnel(TIdHTTPRequest& request);
    // Closes a connection the last response does not let us keep or that holds stray bytes; whether it is
    // still open.
    bool KeepOrClose(TIdHTTPResponse& response);
    void RequireTLSHandler();
    // Sets a TLS handler's pass-through switch, naming the server behind it.
    void SetPassThrough(bool value);
    TCredentials CredentialsNow();
    void TakeCredentialsOwnership();
    void DropForeignCredentials(TIdHTTPRequest& request, const std::string& target);
    TIdAuthenticationClass ChooseScheme(const TIdHeaderList& challenges, const TIdOnSelectAuthorization& onSelect);

    TIdURI currentUri_;
    int32_t authRetries_ = 3;
    bool allowCookies_ = true;
    bool handleRedirects_ = false;
    TIdHTTPProtocolVersion protocolVersion_ = pv1_1;
    int32_t redirectMaximum_ = 15;
    int32_t connectTimeout_ = 0;
    int64_t maxBodySize_ = kDefaultMaxBodySize;
    int32_t totalTimeout_ = kDefaultTotalTimeout;
    // The deadlines of the call in progress, and its cancel (guarded: Cancel may come from another thread).
    TIdHTTPDeadlines deadlines_;
    std::mutex cancelGuard_;
    std::shared_ptr<TIdCancel> cancel_;
    std::shared_ptr<TIdCancel> sharedCancel_;
    // Whether the head just read was an interim one, so another head follows.
    bool interimPending_ = false;
    TIdHTTPOptions httpOptions_;
    int32_t redirectCount_ = 0;
    int32_t serverAuthTries_ = 0;
    int32_t proxyAuthTries_ = 0;
    // Whether the last request went out on a connection kept from an earlier one.
    bool reusedConnection_ = false;
    // Whether the last response was read to its end, so the connection holds nothing of it any more.
    bool responseComplete_ = true;
    // The server (TargetKeyOf) that the open connection's proxy tunnel leads to; empty without one.
    std::string tunnelTarget_;
    TIdCookieManager* cookieManager_ = nullptr;
    bool ownsCookieManager_ = false;
    TIdAuthenticationManager* authManager_ = nullptr;
    TIdHTTPRequest request_;
    TIdHTTPResponse response_;
    TIdHTTPExchange exchange_{*this};
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
