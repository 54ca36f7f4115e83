// The request cycle: resolving the URL, choosing and opening the connection, sending the head, and the loop
// over redirects and authentication retries.

#include <memory>

#include "net/http/IdCookieManager.h"
#include "net/http/IdGlobal.h"
#include "net/http/IdHTTP.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdStack.h"
#include "platform/SysUtils.h"

// ---- construction and properties ------------------------------------------------------------------------

TIdCustomHTTP::TIdCustomHTTP(TIdBaseComponent* owner)
    : TIdTCPClient(owner), exchange_(std::make_unique<TIdHTTPProtocol>(*this)),
      proxyParams_(std::make_unique<TIdProxyConnectionInfo>())
{
    SetPort(80);
    httpOptions_ = {hoForceEncodeParams};
}

TIdCustomHTTP::~TIdCustomHTTP()
{
    SetCookieManager(nullptr);
    SetAuthManager(nullptr);
    exchange_.reset();
}

void TIdCustomHTTP::SetHost(const std::string& value)
{
    TIdTCPClient::SetHost(value);
    currentUri_.Host = value;
}

void TIdCustomHTTP::SetPort(int32_t value)
{
    TIdTCPClient::SetPort(value);
    currentUri_.Port = IntToStr(value);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* value)
{
    if (value == cookieManager_) return;
    // A manager made for this client goes when another takes its place.
    std::unique_ptr<TIdCookieManager> owned(ownsCookieManager_ ? cookieManager_ : nullptr);
    Relink(cookieManager_, value);
    ownsCookieManager_ = false;
}

void TIdCustomHTTP::SetAuthManager(TIdAuthenticationManager* value) { Relink(authManager_, value); }

void TIdCustomHTTP::Notification(TIdBaseComponent* component, TOperation operation)
{
    TIdTCPClient::Notification(component, operation);
    if (operation != opRemove) return;
    if (component == cookieManager_) {
        cookieManager_ = nullptr;
        ownsCookieManager_ = false;
    }
    if (component == authManager_) authManager_ = nullptr;
}

void TIdCustomHTTP::DoOnDisconnected()
{
    TIdTCPClient::DoOnDisconnected();
    if (!exchange_) return;
    TIdHTTPRequest& request = Request();
    TIdAuthentication* authentication = request.Authentication();
    if (authentication && authentication->StepTotal() == authentication->StepNo()) {
        if (authManager_) authManager_->AddAuthentication(*authentication, currentUri_);
        request.SetAuthentication(nullptr);
    }
    if (proxyParams_->Authentication()) proxyParams_->Authentication()->Restart();
}

// ---- the cycle ----------------------------------------------------------------------------------------------

void TIdCustomHTTP::Get(const std::string& url, TStream& stream) { PerformRequest(hmGet, url, nullptr, &stream); }

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source, TStream* response)
{
    const int64_t start = response ? response->Position() : 0;
    serverAuthTries_ = 0;
    proxyAuthTries_ = 0;
    TIdHTTPRequest& request = Request();
    request.SetRequestUrl(url);
    request.SetMethod(method);
    request.SetSourceStream(source);
    Response().SetBodyStream(response);
    TakeCredentialsOwnership();

    try {
        RunPasses(url, response, start);
    } catch (const std::exception&) {
        FinishCall();
        throw;
    }
    FinishCall();
    redirectCount_ = 0;
}

void TIdCustomHTTP::RunPasses(const std::string& url, TStream* response, int64_t start)
{
    TIdHTTPRequest& request = Request();
    for (;;) {
        ++redirectCount_;
        ResolveRequest(request);
        SendAndAwaitAnswer(request);
        ReadStatusAndHeaders(*exchange_, request);
        const int32_t code = Response().StatusCode();
        switch (exchange_->DecideNextStep()) {
        case nsAuthRetry:
            --redirectCount_;
            request.SetRequestUrl(url);
            break;
        case nsFollow:
            if (response) {
                response->SetSize(start);
                response->SetPosition(start);
            }
            // An answered challenge on a closed connection also follows; its tries still count, so a
            // server that challenges for ever ends at AuthRetries.
            if (code != 401 && code != 407) {
                serverAuthTries_ = 0;
                proxyAuthTries_ = 0;
            }
            break;
        case nsDone: return;
        case nsUndecided: throw EIdException("Undefined situation");
        }
    }
}

void TIdCustomHTTP::FinishCall()
{
    // What is left of a response that was not read to its end would be taken for the next one, so such a
    // connection is closed as well as one the response does not let us keep.
    const bool keep = Response().EvaluateKeepAlive();
    if (!keep || !exchange_->ResponseComplete()) CloseConnection();
    carried_ = CredentialsNow();
}

void TIdCustomHTTP::SendAndAwaitAnswer(TIdHTTPRequest& request)
{
    // A server may close a kept connection at any moment. When its close crosses our request, the request
    // was never answered, so one without a body goes out once more on a new connection. A fresh connection
    // that closes unanswered is the server's answer, and it stands.
    const bool resendable = request.Method() != hmPost && request.Method() != hmPut;
    for (bool retried = false;; retried = true) {
        try {
            OpenRequestConnection(request, Response());
            Response().SetStatusLine(ReadHeaderLine());
            return;
        } catch (const EIdConnClosedGracefully&) {
            if (retried || !resendable || !reusedConnection_) throw;
        } catch (const EIdSocketError& e) {
            if (retried || !resendable || !reusedConnection_ || e.ErrorCode() != Id_WSAECONNRESET) throw;
        }
        CloseConnection();
    }
}

void TIdCustomHTTP::ReadStatusAndHeaders(TIdHTTPProtocol& exchange, TIdHTTPRequest& request)
{
    // The first status line is already read; an interim 100 is followed by the real one.
    TIdHTTPResponse& response = exchange.Response();
    for (;;) {
        exchange.ReadResponseHeaders();
        StoreResponseCookies(request, response);
        if (response.ParseStatusCode() != 100) return;
        response.SetStatusLine(ReadHeaderLine());
    }
}

// ---- credentials ------------------------------------------------------------------------------------------

TIdCustomHTTP::TCredentials TIdCustomHTTP::CredentialsNow()
{
    TIdHTTPRequest& request = Request();
    return {request.Username(), request.Password(), request.BasicAuthentication(), request.Authentication()};
}

void TIdCustomHTTP::TakeCredentialsOwnership()
{
    // Credentials the application changed since the last call are meant for this call's server.
    if (!(CredentialsNow() == carried_)) credentialsTarget_.clear();
}

void TIdCustomHTTP::DropForeignCredentials(TIdHTTPRequest& request, const std::string& target)
{
    if (credentialsTarget_.empty() || credentialsTarget_ == target) {
        credentialsTarget_ = target;
        return;
    }
    // Credentials never follow a call or a redirect to another server, port or protocol.
    request.SetAuthentication(nullptr);
    request.SetUsername("");
    request.SetPassword("");
    request.SetBasicAuthentication(false);
    credentialsTarget_ = target;
}

// ---- one pass ------------------------------------------------------------------------------------------------

void TIdCustomHTTP::ResolveRequest(TIdHTTPRequest& request)
{
    const TIdURI next(request.RequestUrl());
    MergeRequestUri(currentUri_, next);
    DropForeignCredentials(request, TargetKeyOf(currentUri_));
    if (!next.Username.empty()) {
        request.SetUsername(next.Username);
        request.SetPassword(next.Password);
    }
    currentUri_.Username = request.Username();
    currentUri_.Password = request.Password();

    const TIdHTTPMethod method = request.Method();
    request.SetRequestUrl(currentUri_.Path + currentUri_.Resource + currentUri_.Query);
    if (method == hmOptions && next.Resource == "*") request.SetRequestUrl("*");
    const bool needs11 = method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete;
    if (needs11 && protocolVersion_ != pv1_1) throw EIdException("This request method is supported in HTTP 1.1");
    TStream* source = request.SourceStream();
    const bool sendsBody = method == hmPost || method == hmPut;
    request.SetContentLength(sendsBody ? static_cast<int32_t>(source ? source->Size() : 0) : -1);
    request.SetHost(HostHeaderOf(currentUri_));
}

void TIdCustomHTTP::RequireTLSHandler()
{
    if (!IOHandler() || !IOHandler()->IsTLS()) throw EIdIOHandlerPropInvalid();
}

void TIdCustomHTTP::SetPassThrough(bool value)
{
    if (IOHandler() && IOHandler()->IsTLS()) IOHandler()->SetPassThrough(value);
}

TIdHTTPConnectionKind TIdCustomHTTP::ChooseConnectionTarget()
{
    const bool tls = SameText(currentUri_.Protocol, "HTTPS");
    TIdProxyConnectionInfo& proxy = *proxyParams_;
    if (!proxy.ProxyServer().empty()) {
        if ((!SameText(Host(), proxy.ProxyServer()) || Port() != proxy.ProxyPort()) && IsConnected()) {
            CloseConnection();
        }
        // Straight to the client's own fields: CurrentUri keeps naming the server behind the proxy.
        TIdTCPClient::SetHost(proxy.ProxyServer());
        TIdTCPClient::SetPort(proxy.ProxyPort());
        if (tls) RequireTLSHandler();
        SetPassThrough(true);
        return tls ? ckTLSTunnel : ckProxy;
    }
    // A port that is not a number (a server's Location can hold anything) fails as a URL error of the
    // network tree, with the conversion's own text.
    int32_t port = 0;
    if (!TryStrToInt(currentUri_.Port, port)) {
        throw EIdURIException(Format("'%s' は整数ではありません", currentUri_.Port));
    }
    if (!SameText(Host(), currentUri_.Host) || Port() != port) {
        if (IsConnected()) CloseConnection();
        SetHost(currentUri_.Host);
        SetPort(port);
    }
    if (tls) RequireTLSHandler();
    SetPassThrough(!tls);
    return tls ? ckTLSDirect : ckDirect;
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& response)
{
    if (!response.EvaluateKeepAlive()) CloseConnection();
    // A look without waiting notices a close (or stray bytes) that already arrived; waiting even 1 ms would
    // cost every request on a kept connection that much.
    FillInputBuffer(false, 0, false);
    // Bytes nobody asked for mean the connection is out of step with its requests.
    if (InputQueue().Size() > 0) CloseConnection();
    reusedConnection_ = IsConnected();
    if (reusedConnection_) return;
    try {
        OpenConnection(connectTimeout_ != 0 ? connectTimeout_ : ReadTimeout());
    } catch (const EIdSSLProtocolReplyError&) {
        CloseConnection();
        throw;
    }
}

void TIdCustomHTTP::OpenRequestConnection(TIdHTTPRequest& request, TIdHTTPResponse& response)
{
    const TIdHTTPConnectionKind kind = ChooseConnectionTarget();
    request.SetConnectionKind(kind);
    if (kind == ckProxy) request.SetRequestUrl(currentUri_.RequestUri());
    const bool keepAliveNeedsSaying = protocolVersion_ == pv1_0 && request.Connection().empty();
    if (kind == ckDirect && keepAliveNeedsSaying) request.SetConnection("keep-alive");
    if (kind == ckProxy && keepAliveNeedsSaying) request.SetProxyConnection("keep-alive");
    if (kind == ckTLSDirect || kind == ckTLSTunnel) request.SetConnection("");

    if (kind == ckTLSTunnel) {
        OpenTunnel(request);
    } else {
        EnsureConnected(response);
    }
    exchange_->SendRequestHead(&currentUri_);
    if ((request.Method() == hmPost || request.Method() == hmPut) && request.SourceStream()) {
        WriteFromStream(*request.SourceStream(), true, false, 0);
    }
}

void TIdCustomHTTP::OpenTunnel(TIdHTTPRequest& request)
{
    // Until the tunnel stands, the connection carries the proxy's answers: a failure leaves it unusable.
    exchange_->responseComplete_ = false;
    TIdHTTPProtocol tunnel(*this);
    TIdHTTPRequest& connect = tunnel.Request();
    TIdHTTPResponse& answer = tunnel.Response();
    connect.SetUserAgent(request.UserAgent());
    connect.SetHost(request.Host());
    connect.SetContentLength(request.ContentLength());
    connect.SetPragma("no-cache");
    connect.SetRequestUrl(currentUri_.Host + ":" + currentUri_.Port);
    connect.SetMethod(hmConnect);
    connect.SetProxyConnection("keep-alive");
    TMemoryStream body;
    answer.SetBodyStream(&body);
    for (;;) {
        EnsureConnected(answer);
        tunnel.SendRequestHead(nullptr);
        answer.SetStatusLine(ReadHeaderLine());
        if (!answer.StatusLine().empty()) {
            tunnel.ReadResponseHeaders();
            StoreResponseCookies(connect, answer);
        } else {
            answer.SetStatusLine("HTTP/1.0 200 OK");
            answer.SetConnection("close");
        }
        // Any 2xx answer to CONNECT means the tunnel stands (RFC 7231 section 4.3.6); TLS starts inside it.
        if (answer.StatusCode() / 100 == 2) {
            SetPassThrough(false);
            return;
        }
        tunnel.DecideNextStep();
    }
}

// ---- cookies ----------------------------------------------------------------------------------------------

void TIdCustomHTTP::AddCookieHeader(const TIdURI& url, TIdHTTPRequest& request)
{
    if (!cookieManager_) return;
    // Secure cookies only where TLS actually runs, not over a TLS handler that passes plain http through.
    const bool tls = IOHandler() && IOHandler()->IsTLS() && !IOHandler()->PassThrough();
    const std::string value = cookieManager_->CookieHeaderFor(url, tls);
    if (!value.empty()) request.HeaderLines().SetValueOf("Cookie", value);
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPRequest&, TIdHTTPResponse& response)
{
    if (!cookieManager_ && allowCookies_) {
        SetCookieManager(new TIdCookieManager(this));
        ownsCookieManager_ = true;
    }
    if (!cookieManager_) return;
    TStringList cookies;
    TStringList cookies2;
    response.HeaderLines().CollectValues("Set-cookie", &cookies);
    response.HeaderLines().CollectValues("Set-cookie2", &cookies2);
    for (const std::string& cookie : cookies) cookieManager_->AddServerCookie(cookie, currentUri_.Host);
    for (const std::string& cookie : cookies2) cookieManager_->AddServerCookie2(cookie, currentUri_.Host);
}

// ---- redirects and challenges ------------------------------------------------------------------------------

bool TIdCustomHTTP::FireRedirect(std::string& location, TIdHTTPMethod& method, int32_t redirectCount)
{
    bool handled = handleRedirects_;
    if (OnRedirect) {
        int32_t numRedirect = redirectCount;
        OnRedirect(this, location, numRedirect, handled, method);
    }
    return handled;
}

TIdAuthenticationClass TIdCustomHTTP::ChooseScheme(const TIdHeaderList& challenges,
                                                   const TIdOnSelectAuthorization& onSelect)
{
    TIdAuthenticationClass chosen = nullptr;
    for (const std::string& challenge : challenges) {
        std::string rest = challenge;
        chosen = FindScheme(CutToken(rest, " "));
        if (chosen) break;
    }
    if (chosen && onSelect) onSelect(this, chosen, challenges);
    return chosen;
}

namespace {

// Steps a scheme through a challenge until it can send the request again (true) or gives up (false). When the
// scheme wants credentials, offer puts the ones at hand into it, the application is asked through onAsk, and keep
// stores what it answered for the next request.
bool StepChallenge(TIdCustomHTTP* sender, TIdAuthentication& authentication, const TIdOnAuthorization& onAsk,
                   const std::function<void()>& offer, const std::function<void()>& keep)
{
    for (;;) {
        switch (authentication.DecideNext()) {
        case naSendAgain: return true;
        case naGiveUp: return false;
        case naAskApplication: {
            offer();
            bool handled = false;
            onAsk(sender, &authentication, handled);
            if (!handled) return false;
            keep();
            break;
        }
        }
    }
}

} // namespace

bool TIdCustomHTTP::AnswerServerChallenge(TIdHTTPRequest& request, TIdHTTPResponse& response)
{
    ++serverAuthTries_;
    if (!request.Authentication()) {
        const TIdAuthenticationClass scheme = ChooseScheme(response.WWWAuthenticate(), OnSelectAuthorization);
        if (!scheme) return false;
        request.SetAuthentication(scheme->Create());
    }
    if (!OnAuthorization) return false;
    TIdAuthentication& authentication = *request.Authentication();
    const auto offer = [&] {
        authentication.PutUserName(request.Username());
        authentication.PutPassword(request.Password());
    };
    offer();
    authentication.ParamList().SetValueOf("Authorization", authentication.HeaderValue());
    authentication.TakeChallenges(response.WWWAuthenticate());
    return StepChallenge(this, authentication, OnAuthorization, offer, [&] {
        request.SetBasicAuthentication(true);
        request.SetUsername(authentication.UserNameOf());
        request.SetPassword(authentication.PasswordOf());
    });
}

bool TIdCustomHTTP::AnswerProxyChallenge(TIdHTTPRequest&, TIdHTTPResponse& response)
{
    ++proxyAuthTries_;
    TIdProxyConnectionInfo& proxy = *proxyParams_;
    if (!proxy.Authentication()) {
        const TIdAuthenticationClass scheme = ChooseScheme(response.ProxyAuthenticate(), OnSelectProxyAuthorization);
        if (!scheme) return false;
        proxy.SetAuthentication(scheme->Create());
    }
    const bool answerable = static_cast<bool>(OnProxyAuthorization);
    TIdAuthentication& authentication = *proxy.Authentication();
    proxy.SetProxyPassword("");
    authentication.Restart();
    if (!answerable) return false;
    const auto offer = [&] {
        authentication.PutUserName(proxy.ProxyUsername());
        authentication.PutPassword(proxy.ProxyPassword());
    };
    offer();
    authentication.TakeChallenges(response.ProxyAuthenticate());
    return StepChallenge(this, authentication, OnProxyAuthorization, offer, [&] {
        proxy.SetProxyUsername(authentication.UserNameOf());
        proxy.SetProxyPassword(authentication.PasswordOf());
    });
}
