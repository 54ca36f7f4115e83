#include "net/fetch/Fetcher.h"

#include "net/http/IdHTTP.h"
#include "net/http/IdHTTPRules.h"
#include "net/tcp/IdDeadline.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdSocks.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/SysUtils.h"

#include <algorithm>

namespace {

// A document server that stays silent this long between two received bytes,
// or does not accept the connection in this time, is given up on: without a
// limit a fetch would wait for good.
const int32_t kNetworkTimeoutMs = 30000;

// Sets the validators on the request while alive and takes them off again, so
// a later request sends none it was not given.
class TValidators {
public:
    TValidators(TIdHTTP& http, const TFetchRequest& request) : http_(http)
    {
        // A validator goes back exactly as it came: servers compare it byte for
        // byte, and a long one folded over two lines is answered with a 400.
        TIdHeaderList& headers = http_.Request().CustomHeaders();
        const bool folding = headers.FoldOnWrite();
        headers.SetFoldOnWrite(false);
        // An empty value removes the line.
        headers.SetValueOf("If-None-Match", request.IfNoneMatch);
        headers.SetValueOf("If-Modified-Since", request.IfModifiedSince);
        headers.SetFoldOnWrite(folding);
    }
    ~TValidators()
    {
        http_.Request().CustomHeaders().SetValueOf("If-None-Match", "");
        http_.Request().CustomHeaders().SetValueOf("If-Modified-Since", "");
    }
    TValidators(const TValidators&) = delete;
    TValidators& operator=(const TValidators&) = delete;

private:
    TIdHTTP& http_;
};

// The kind of a failure the network layers raised; Done for one they do not own.
TFetchKind KindOf(const std::exception& e)
{
    if (dynamic_cast<const EIdHTTPProtocolException*>(&e)) return TFetchKind::HttpError;
    if (dynamic_cast<const EIdHTTPTooLarge*>(&e)) return TFetchKind::TooLarge;
    // Before the silent server: the whole-fetch bound is a read time-out too.
    if (dynamic_cast<const EIdHTTPTimeLimit*>(&e)) return TFetchKind::TimeLimit;
    if (dynamic_cast<const EIdHTTPClosedInHeader*>(&e)) return TFetchKind::ClosedInHeader;
    if (dynamic_cast<const EIdSocketError*>(&e) || dynamic_cast<const EIdConnectException*>(&e) ||
        dynamic_cast<const EIdConnectTimeout*>(&e) || dynamic_cast<const EIdSocksError*>(&e) ||
        dynamic_cast<const EIdReadTimeout*>(&e))
        return TFetchKind::NoServer;
    return TFetchKind::Done;
}

} // namespace

TFetcher::TFetcher() : transport_(std::make_unique<TIdSSLIOHandlerSocket>()), client_(std::make_unique<TIdHTTP>())
{
    // The document publisher serves https only; the handler passes http bytes through untouched.
    client_->SetIOHandler(transport_.get());
    TIdHTTPRequest& request = client_->Request();
    request.SetAccept("text/html, */*");
    request.SetContentType("text/html");
    request.SetUserAgent("Mozilla/3.0 (compatible; Scrivlet)");
    request.SetContentLength(-1);
    request.SetContentRangeStart(0);
    request.SetContentRangeEnd(0);
    request.SetBasicAuthentication(false);
    client_->ProxyParams().SetBasicAuthentication(false);
    client_->ProxyParams().SetProxyPort(0);
    client_->SetAllowCookies(true);
    client_->SetHTTPOptions({hoForceEncodeParams});
    client_->SetMaxLineAction(maException);
    client_->SetReadTimeout(kNetworkTimeoutMs);
    client_->SetConnectTimeout(kNetworkTimeoutMs);
    // OnRedirect, set for each fetch, turns away what the policy refuses.
    client_->SetHandleRedirects(true);
    client_->OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int64_t max) {
        if (mode == wmRead) expected_ = max;
    };
    client_->OnWork = [this](TIdComponent*, TWorkMode mode, int64_t count) {
        if (mode == wmRead && OnProgress) OnProgress(count, expected_);
    };
    ResetCancel();
}

TFetcher::~TFetcher() = default;

void TFetcher::RequestCancel()
{
    std::lock_guard<std::mutex> lock(cancelGuard_);
    cancel_->Cancel();
}

void TFetcher::ResetCancel()
{
    auto fresh = std::make_shared<TIdCancel>();
    client_->SetCallCancel(fresh);
    std::lock_guard<std::mutex> lock(cancelGuard_);
    cancel_ = std::move(fresh);
}

bool TFetcher::CancelRequested() const
{
    std::lock_guard<std::mutex> lock(cancelGuard_);
    return cancel_->Cancelled();
}

void TFetcher::Apply(const TFetchSettings& settings)
{
    // A server trickling a byte now and then never trips the per-read limit; this bounds the whole fetch.
    client_->SetTotalTimeout(int32_t(settings.TimeLimitSeconds) * 1000);
    client_->SetMaxBodySize(settings.MaxBytes);
    client_->SetRedirectMaximum(settings.MaxRedirects);
    TIdProxyConnectionInfo& proxy = client_->ProxyParams();
    proxy.SetProxyServer(settings.ProxyHost);
    proxy.SetProxyPort(settings.ProxyHost.empty() ? 0 : settings.ProxyPort);
    // The SOCKS hop lies below whatever the client connects to, so a proxy is reached through it too.
    TIdSocksInfo* socks = transport_->SocksInfo();
    static const TSocksVersion kVersions[] = {svNoSocks, svSocks4, svSocks4A, svSocks5};
    const int version = std::clamp(settings.SocksVersion, 0, 3);
    socks->SetVersion(kVersions[version]);
    if (version == 0) return;
    socks->SetHost(settings.SocksHost);
    socks->SetPort(settings.SocksPort);
    const bool withLogin = kVersions[version] == svSocks5 && !settings.SocksUser.empty();
    socks->SetAuthentication(withLogin ? saUsernamePassword : saNoAuthentication);
    socks->SetUsername(withLogin ? settings.SocksUser : "");
    socks->SetPassword(withLogin ? settings.SocksPassword : "");
}

TFetchResult TFetcher::Fetch(const TFetchSettings& settings, const TFetchRequest& request)
{
    TFetchResult result;
    // Where the last request went, to judge the next redirect by.
    std::string current = request.Url;
    client_->OnRedirect = [&](TIdCustomHTTP*, std::string& location, int32_t& count, bool& handled, TIdHTTPMethod&) {
        handled =
            count < settings.MaxRedirects && settings.RedirectAllowed && settings.RedirectAllowed(current, location);
        if (handled) current = location;
    };
    struct TForget {
        TIdHTTP& client;
        ~TForget() { client.OnRedirect = nullptr; }
    } forget{*client_};

    TMemoryStream body;
    TStream& sink = request.Sink ? *request.Sink : body;
    try {
        Apply(settings);
        expected_ = 0;
        const TValidators validators(*client_, request);
        client_->Get(request.Url, sink);
    } catch (const std::exception& e) {
        result.Failure = ExceptionMessage(e);
        if (CancelRequested()) {
            result.Kind = TFetchKind::Cancelled;
        } else {
            result.Kind = KindOf(e);
            if (result.Kind == TFetchKind::Done) throw;
            if (const auto* status = dynamic_cast<const EIdHTTPProtocolException*>(&e)) {
                result.Code = status->ReplyErrorCode();
                result.StatusLine = e.what();
                if (result.Code == 304) result.Kind = TFetchKind::NotModified;
            }
            result.SocksAnswered = dynamic_cast<const EIdSocksError*>(&e) != nullptr;
        }
        // Closed at once: the server may still be sending, and the next fetch must start afresh.
        if (result.Kind == TFetchKind::Cancelled) client_->CloseConnection();
        return result;
    }
    if (!request.Sink) result.Body.assign(body.Memory(), size_t(body.Size()));
    result.ETag = client_->Response().HeaderLines().ValueOf("ETag");
    result.LastModified = client_->Response().HeaderLines().ValueOf("Last-Modified");
    result.CacheControl = client_->Response().HeaderLines().ValueOf("Cache-Control");
    result.Expires = client_->Response().HeaderLines().ValueOf("Expires");
    result.FinalUrl = current;
    result.Code = client_->ResponseCode();
    result.StatusLine = client_->ResponseText();
    result.ContentType = client_->Response().HeaderLines().ValueOf("Content-Type");
    result.ContentRange = client_->Response().HeaderLines().ValueOf("Content-Range");
    if (client_->Response().ContentLengthGiven()) result.DeclaredLength = client_->Response().ContentLength();
    return result;
}
