// The request cycle: resolving the URL, choosing and opening the connection, sending the head, and the loop
// over redirects and authentication retries. It alone acts on what a response means.

#include "net/http/IdHTTP.h"

#include <memory>

#include "net/http/IdCookieManager.h"
#include "net/http/IdGlobal.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdStack.h"
#include "platform/SysUtils.h"

// ---- records --------------------------------------------------------------------------------------------------

int32_t TIdHTTPResponse::ParseStatusCode() { return StatusCodeOf(statusLine_); }

bool TIdHTTPResponse::EvaluateKeepAlive(bool connected, TIdHTTPProtocolVersion clientVersion)
{
    StatusVersionOf(statusLine_, statusVersion_);
    keepConnection_ = connected && KeepAliveAllowed(clientVersion, Connection(), ProxyConnection());
    return keepConnection_;
}

// ---- construction and properties --------------------------------------------------------------------------

TIdCustomHTTP::TIdCustomHTTP(TIdBaseComponent* owner)
    : TIdTCPClient(owner), proxyParams_(std::make_unique<TIdProxyConnectionInfo>())
{
    SetPort(80);
    httpOptions_ = {hoForceEncodeParams};
}

TIdCustomHTTP::~TIdCustomHTTP()
{
    SetCookieManager(nullptr);
    SetAuthManager(nullptr);
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
    tunnelTarget_.clear();
    TIdAuthentication* authentication = request_.Authentication();
    if (authentication && authentication->StepTotal() == authentication->StepNo()) {
        if (authManager_) authManager_->AddAuthentication(*authentication, currentUri_);
        request_.SetAuthentication(nullptr);
    }
    if (proxyParams_->Authentication()) proxyParams_->Authentication()->Restart();
}

// ---- the cycle ----------------------------------------------------------------------------------------------

void TIdCustomHTTP::Get(const std::string& url, TStream& stream) { PerformRequest(hmGet, url, nullptr, &stream); }

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source, TStream* response)
{
    const int64_t start = response ? response->Position() : 0;
    redirectCount_ = 0;
    serverAuthTries_ = 0;
    proxyAuthTries_ = 0;
    request_.SetRequestUrl(url);
    request_.SetMethod(method);
    request_.SetSourceStream(source);
    response_.SetBodyStream(response);
    TakeCredentialsOwnership();

    // The whole call's limit and its cancel bound every wait and connect below; they end with the call.
    std::shared_ptr<TIdCancel> cancel;
    {
        std::lock_guard<std::mutex> lock(cancelGuard_);
        cancel = sharedCancel_ ? sharedCancel_ : std::make_shared<TIdCancel>();
        cancel_ = cancel;
    }
    deadlines_ = DeadlinesOfCall(cancel);
    SetCallDeadline(deadlines_.Call());
    struct TEndCall {
        TIdCustomHTTP& http;
        ~TEndCall()
        {
            http.SetCallDeadline({});
            http.deadlines_ = {};
            std::lock_guard<std::mutex> lock(http.cancelGuard_);
            http.cancel_.reset();
        }
    } endCall{*this};
    try {
        RunPasses(response, start);
    } catch (const EIdHTTPProtocolException&) {
        FinishCall();
        throw;
    } catch (const std::exception& failure) {
        // Whatever a cancelled wait raised, and wherever, the call says it was cancelled; its connection is
        // in an unknown state.
        if (cancel->Cancelled()) {
            CloseConnection();
            FinishCall();
            throw EIdHTTPCancelled();
        }
        FinishCall();
        // A wait, connect or handshake that the call's limit cut short says so, whichever layer noticed.
        const bool timedOut = dynamic_cast<const EIdReadTimeout*>(&failure) ||
                              dynamic_cast<const EIdConnectTimeout*>(&failure) ||
                              dynamic_cast<const EIdSSLProtocolReplyError*>(&failure);
        if (timedOut && CallDeadline().Passed() && !dynamic_cast<const EIdHTTPTimeLimit*>(&failure)) {
            throw EIdHTTPTimeLimit(totalTimeout_);
        }
        throw;
    }
    FinishCall();
    redirectCount_ = 0;
}

void TIdCustomHTTP::Cancel()
{
    std::lock_guard<std::mutex> lock(cancelGuard_);
    if (cancel_) cancel_->Cancel();
}

void TIdCustomHTTP::SetCallCancel(std::shared_ptr<TIdCancel> cancel)
{
    std::lock_guard<std::mutex> lock(cancelGuard_);
    sharedCancel_ = std::move(cancel);
}

TIdHTTPDeadlines TIdCustomHTTP::DeadlinesOfCall(std::shared_ptr<const TIdCancel> cancel) const
{
    return TIdHTTPDeadlines(ReadTimeout(), connectTimeout_, totalTimeout_, std::move(cancel));
}

void TIdCustomHTTP::RunPasses(TStream* body, int64_t start)
{
    for (;;) {
        ++redirectCount_;
        ResolveRequest(request_);
        SendAndAwaitAnswer(request_);
        ReadResponseHead(request_, response_);
        const int32_t code = response_.StatusCode();
        const TIdHTTPAction action =
            DecideAfterResponse({code, !response_.Location().empty(), handleRedirects_, redirectCount_,
                                 redirectMaximum_, code == 407 ? proxyAuthTries_ : serverAuthTries_, authRetries_});
        switch (action) {
        case TIdHTTPAction::Done:
            if (body) exchange_.ReadBody(*body, maxBodySize_);
            responseComplete_ = exchange_.LeftConnectionClean();
            return;
        case TIdHTTPAction::AnswerServerChallenge:
        case TIdHTTPAction::AnswerProxyChallenge:
            AnswerChallenge(action, request_, response_, httpOptions_.count(hoInProcessAuth) > 0);
            // The same URL again, with credentials; a challenge is no redirect.
            --redirectCount_;
            break;
        case TIdHTTPAction::Redirect:
        case TIdHTTPAction::AskRedirect:
        case TIdHTTPAction::TooManyRedirects:
            if (!FollowRedirect(action)) return;
            serverAuthTries_ = 0;
            proxyAuthTries_ = 0;
            break;
        case TIdHTTPAction::Fail: RaiseProtocolError(response_);
        }
        if (body) {
            body->SetSize(start);
            body->SetPosition(start);
        }
    }
}

void TIdCustomHTTP::FinishCall()
{
    // What is left of a response that was not read to its end would be taken for the next one, so such a
    // connection is closed as well as one the response does not let us keep.
    const bool keep = response_.EvaluateKeepAlive(IsConnected(), protocolVersion_);
    if (!keep || !responseComplete_) CloseConnection();
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
            OpenRequestConnection(request, response_);
            ReadFirstHead(request.Method(), response_);
            return;
        } catch (const EIdConnClosedGracefully&) {
            if (retried || !resendable || !reusedConnection_) throw;
        } catch (const EIdSocketError& e) {
            if (retried || !resendable || !reusedConnection_ || e.ErrorCode() != Id_WSAECONNRESET) throw;
        }
        CloseConnection();
    }
}

void TIdCustomHTTP::SendRequestHead(TIdHTTPRequest& request, const TIdURI* cookieUrl)
{
    request.LinesFromFields();
    proxyParams_->LinesFromFields(request.HeaderLines());
    if (cookieUrl) AddCookieHeader(*cookieUrl, request);
    responseComplete_ = false;
    exchange_.SendHead(RequestLineOf(request.Method(), request.RequestUrl(), protocolVersion_), request.HeaderLines());
}

void TIdCustomHTTP::ReadFirstHead(TIdHTTPMethod method, TIdHTTPResponse& response)
{
    exchange_.Begin(method);
    std::string statusLine;
    interimPending_ = exchange_.ReadHead(statusLine, response.HeaderLines());
    response.SetStatusLine(statusLine);
}

void TIdCustomHTTP::ReadResponseHead(TIdHTTPRequest& request, TIdHTTPResponse& response)
{
    for (int32_t interim = 0;; ++interim) {
        response.FieldsFromLines();
        StoreResponseCookies(request, response);
        if (!interimPending_) return;
        // An interim response is followed by the real one on the same connection; a server that sends them
        // without end is not answering.
        if (interim == kMaxInterim) {
            throw EIdHTTPBadResponse("More than " + std::to_string(kMaxInterim) + " interim responses");
        }
        std::string statusLine;
        interimPending_ = exchange_.ReadHead(statusLine, response.HeaderLines());
        response.SetStatusLine(statusLine);
    }
}

std::string TIdCustomHTTP::ReadSideBody(int32_t waitMs)
{
    std::string kept;
    responseComplete_ =
        exchange_.ReadSideBody(kMaxErrorBody, deadlines_.SideBody(waitMs), &kept) && exchange_.LeftConnectionClean();
    return kept;
}

void TIdCustomHTTP::RaiseProtocolError(const TIdHTTPResponse& response)
{
    // The status is known whatever happens to the body: a body that times out or breaks off still leaves the
    // protocol error, with as much of the body as came.
    const std::string body = ReadSideBody(2000);
    throw EIdHTTPProtocolException(StatusCodeOf(response.StatusLine()), response.StatusLine(), body);
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
    // A control byte or blank in the host would split the Host line or a proxy's CONNECT line.
    if (!HostIsClean(currentUri_.Host)) throw EIdURIException("Host name with a control character or blank refused");
    DropForeignCredentials(request, TargetKeyOf(currentUri_));
    if (!next.Username.empty()) {
        request.SetUsername(next.Username);
        request.SetPassword(next.Password);
    }
    currentUri_.Username = request.Username();
    currentUri_.Password = request.Password();

    const TIdHTTPMethod method = request.Method();
    request.SetRequestUrl(EncodeRequestTarget(currentUri_.Path + currentUri_.Resource + currentUri_.Query));
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
    if (!IOHandler() || !IOHandler()->IsTLS()) return;
    // A TLS session opened inside a tunnel ends when the switch goes on.
    if (value) tunnelTarget_.clear();
    // A handshake started on an open connection (inside a tunnel) has the connect's time-out.
    IOHandler()->SetPassThrough(value, currentUri_.Host, deadlines_.Connect());
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
        // A tunnel to the same server stays, with its TLS session; any other request starts plain.
        if (!tls || tunnelTarget_ != TargetKeyOf(currentUri_)) SetPassThrough(true);
        return tls ? ckTLSTunnel : ckProxy;
    }
    // A port that is not a number (a server's Location can hold anything) fails as a URL error of the
    // network tree, with the conversion's own text.
    int32_t port = 0;
    if (!TryStrToInt(currentUri_.Port, port)) {
        throw EIdURIException(Format("'%s' は整数ではありません", currentUri_.Port));
    }
    if (!SameText(Host(), currentUri_.Host) || Port() != port || !tunnelTarget_.empty()) {
        if (IsConnected()) CloseConnection();
        SetHost(currentUri_.Host);
        SetPort(port);
    }
    if (tls) RequireTLSHandler();
    SetPassThrough(!tls);
    return tls ? ckTLSDirect : ckDirect;
}

bool TIdCustomHTTP::KeepOrClose(TIdHTTPResponse& response)
{
    if (!response.EvaluateKeepAlive(IsConnected(), protocolVersion_)) CloseConnection();
    // A look without waiting notices a close (or stray bytes) that already arrived; waiting even 1 ms would
    // cost every request on a kept connection that much.
    FillInputBuffer(false, 0, false);
    // Bytes nobody asked for mean the connection is out of step with its requests.
    if (InputQueue().Size() > 0) CloseConnection();
    return IsConnected();
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& response)
{
    reusedConnection_ = KeepOrClose(response);
    if (reusedConnection_) return;
    try {
        OpenConnectionBy(deadlines_.Connect());
    } catch (const EIdSSLProtocolReplyError&) {
        CloseConnection();
        throw;
    }
}

void TIdCustomHTTP::OpenRequestConnection(TIdHTTPRequest& request, TIdHTTPResponse& response)
{
    const TIdHTTPConnectionKind kind = ChooseConnectionTarget();
    request.SetConnectionKind(kind);
    if (kind == ckProxy) request.SetRequestUrl(EncodeRequestTarget(currentUri_.RequestUri()));
    const bool keepAliveNeedsSaying = protocolVersion_ == pv1_0 && request.Connection().empty();
    if (kind == ckDirect && keepAliveNeedsSaying) request.SetConnection("keep-alive");
    if (kind == ckProxy && keepAliveNeedsSaying) request.SetProxyConnection("keep-alive");
    if (kind == ckTLSDirect || kind == ckTLSTunnel) request.SetConnection("");

    if (kind != ckTLSTunnel) {
        EnsureConnected(response);
    } else if (tunnelTarget_ == TargetKeyOf(currentUri_) && KeepOrClose(response)) {
        reusedConnection_ = true;
    } else {
        OpenTunnel(request);
    }
    SendRequestHead(request, &currentUri_);
    if ((request.Method() == hmPost || request.Method() == hmPut) && request.SourceStream()) {
        WriteFromStream(*request.SourceStream(), true, false, 0);
    }
}

void TIdCustomHTTP::OpenTunnel(TIdHTTPRequest& request)
{
    // Until the tunnel stands, the connection carries the proxy's answers: a failure leaves it unusable.
    responseComplete_ = false;
    tunnelTarget_.clear();
    SetPassThrough(true);
    TIdHTTPRequest connect;
    TIdHTTPResponse answer;
    connect.SetUserAgent(request.UserAgent());
    connect.SetHost(request.Host());
    connect.SetContentLength(request.ContentLength());
    connect.SetPragma("no-cache");
    connect.SetRequestUrl(currentUri_.Host + ":" + currentUri_.Port);
    connect.SetMethod(hmConnect);
    connect.SetProxyConnection("keep-alive");
    for (;;) {
        EnsureConnected(answer);
        SendRequestHead(connect, nullptr);
        ReadFirstHead(hmConnect, answer);
        ReadResponseHead(connect, answer);
        // Any 2xx answer to CONNECT means the tunnel stands (RFC 9110 section 9.3.6); TLS starts inside it.
        const int32_t code = answer.StatusCode();
        if (code / 100 == 2) {
            responseComplete_ = true;
            SetPassThrough(false);
            tunnelTarget_ = TargetKeyOf(currentUri_);
            return;
        }
        // Only the proxy's own challenge is answered here, and always at once: the tunnel is not the document.
        // Whatever else the proxy says ends the call.
        if (code != 407 || proxyAuthTries_ >= authRetries_) RaiseProtocolError(answer);
        AnswerChallenge(TIdHTTPAction::AnswerProxyChallenge, connect, answer, true);
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

bool TIdCustomHTTP::FollowRedirect(TIdHTTPAction action)
{
    if (action == TIdHTTPAction::TooManyRedirects) RaiseProtocolError(response_);
    // The event and the connection judge one URL: the reference resolved against the one it came from.
    std::string location = ResolveReference(currentUri_, response_.Location());
    TIdHTTPMethod method = request_.Method();
    if (!FireRedirect(location, method, redirectCount_)) RaiseProtocolError(response_);
    if (action == TIdHTTPAction::AskRedirect) {
        // The application took the location without having it followed: the call ends here.
        response_.SetLocation(location);
        ReadSideBody(4000);
        return false;
    }
    const std::string refusal = RedirectRefusal(currentUri_.Protocol, location);
    if (!refusal.empty()) throw EIdHTTPBadResponse(refusal);
    ReadSideBody(4000);
    request_.SetRequestUrl(location);
    request_.SetMethod(method);
    return true;
}

void TIdCustomHTTP::AnswerChallenge(TIdHTTPAction action, TIdHTTPRequest& request, TIdHTTPResponse& response,
                                    bool inProcess)
{
    const bool server = action == TIdHTTPAction::AnswerServerChallenge;
    if (!(server ? AnswerServerChallenge(request, response) : AnswerProxyChallenge(request, response))) {
        TIdAuthentication* authentication = server ? request.Authentication() : proxyParams_->Authentication();
        if (authentication) authentication->Restart();
        RaiseProtocolError(response);
    }
    // Without in-process authentication the answer waits for the application's next call; this one ends
    // with the challenge, never with its page taken for the document.
    if (!inProcess) RaiseProtocolError(response);
    ReadSideBody(4000);
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
