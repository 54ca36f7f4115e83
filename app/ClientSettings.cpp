#include "app/ClientSettings.h"

#include "app/DocumentFetch.h"
#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "net/http/IdHTTP.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/SysUtils.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>

namespace {

// As the window's own fetch: a server that stops answering is given up after this long.
constexpr int32_t kNetworkTimeoutMs = 30000;
constexpr int32_t kMaxRedirects = 5;

} // namespace

TClientSettings ReadClientSettings(const TOptionDlg& options)
{
    TClientSettings settings;
    settings.TotalTimeoutMs = options.FetchTimeLimit * 1000;
    settings.UrlFormat = TextToSetting(options.UrlBase->text());
    if (options.UseProxy->isChecked()) {
        settings.ProxyHost = TextToSetting(options.ServerName->text());
        settings.ProxyPort = StrToInt(TextToSetting(options.PortNumber->text()));
    }
    static const TSocksVersion kVersions[] = {svNoSocks, svSocks4, svSocks4A, svSocks5};
    settings.Socks = kVersions[std::clamp(options.SocksVersion->currentIndex(), 0, 3)];
    if (settings.Socks == svNoSocks) return settings;
    settings.SocksHost = TextToSetting(options.SocksServer->text());
    settings.SocksPort = StrToInt(TextToSetting(options.SocksPort->text()));
    if (settings.Socks == svSocks5) {
        settings.SocksUser = TextToSetting(options.SocksUser->text());
        settings.SocksPassword = TextToSetting(options.SocksPassword->text());
    }
    return settings;
}

void ApplyClientSettings(const TClientSettings& settings, TIdHTTP& http, TIdSSLIOHandlerSocket& handler)
{
    // A server trickling a byte now and then never trips the per-read limit; this bounds the whole fetch.
    http.SetTotalTimeout(settings.TotalTimeoutMs);
    http.ProxyParams().SetProxyServer(settings.ProxyHost);
    http.ProxyParams().SetProxyPort(settings.ProxyHost.empty() ? 0 : settings.ProxyPort);
    // The SOCKS hop lies below whatever the client connects to, so a proxy is reached through it too.
    TIdSocksInfo* socks = handler.SocksInfo();
    socks->SetVersion(settings.Socks);
    if (settings.Socks == svNoSocks) return;
    socks->SetHost(settings.SocksHost);
    socks->SetPort(settings.SocksPort);
    const bool withLogin = settings.Socks == svSocks5 && !settings.SocksUser.empty();
    socks->SetAuthentication(withLogin ? saUsernamePassword : saNoAuthentication);
    socks->SetUsername(withLogin ? settings.SocksUser : "");
    socks->SetPassword(withLogin ? settings.SocksPassword : "");
}

TSyncClient::TSyncClient() = default;
TSyncClient::TSyncClient(TSyncClient&&) noexcept = default;

TSyncClient::~TSyncClient()
{
    // The client goes first: it still references the handler while it closes.
    Http.reset();
}

TSyncClient MakeSyncClient(const TClientSettings& settings)
{
    TSyncClient client;
    client.Handler = std::make_unique<TIdSSLIOHandlerSocket>();
    client.Http = std::make_unique<TIdHTTP>();
    TIdHTTP& http = *client.Http;
    http.SetIOHandler(client.Handler.get());
    http.Request().SetUserAgent("Mozilla/3.0 (compatible; Scrivlet)");
    http.SetReadTimeout(kNetworkTimeoutMs);
    http.SetConnectTimeout(kNetworkTimeoutMs);
    http.SetMaxBodySize(int64_t(kMaxDocumentBytes));
    http.SetHandleRedirects(true);
    http.SetRedirectMaximum(kMaxRedirects);
    // The same rule as the window's fetch: a redirect stays with the server or moves to https of it.
    auto current = std::make_shared<std::string>();
    http.OnRedirect = [current](TIdCustomHTTP* sender, std::string& location, int32_t& count, bool& handled,
                                TIdHTTPMethod&) {
        *current = static_cast<TIdHTTP*>(sender)->CurrentUri().ComposeUrl(false, false);
        handled = count < kMaxRedirects && RedirectAllowed(*current, location);
    };
    ApplyClientSettings(settings, http, *client.Handler);
    return client;
}

std::pair<std::string, std::string> SyncUrlsOf(const std::string& urlFormat, int number)
{
    const std::string url = DocumentUrl(urlFormat, std::to_string(number));
    return {url, WithoutPassword(url)};
}
