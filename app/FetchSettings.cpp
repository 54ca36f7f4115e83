// The settings value built from the options, and the one table of what the user is told for each way a fetch ends.
#include "app/FetchSettings.h"

#include "app/DocumentFetch.h"
#include "app/DocumentText.h"
#include "platform/SysUtils.h"

namespace {

std::string Bounded(const char* why, const TFetchResult& result, const std::string& shownUrl)
{
    return std::string(why) + "\r\n" + shownUrl + "\r\nERR:" + result.Failure;
}

} // namespace

TFetchSettings FetchSettingsOf(const TConnectionOptions& opts)
{
    TFetchSettings settings;
    settings.TimeLimitSeconds = opts.FetchTimeLimitSeconds;
    if (opts.UseProxy) {
        settings.ProxyHost = opts.ProxyServer;
        settings.ProxyPort = StrToInt(opts.ProxyPort);
    }
    settings.SocksVersion = opts.SocksVersion < 0 || opts.SocksVersion > 3 ? 0 : opts.SocksVersion;
    if (settings.SocksVersion != 0) {
        settings.SocksHost = opts.SocksServer;
        settings.SocksPort = StrToInt(opts.SocksPort);
        if (settings.SocksVersion == 3 && !opts.SocksUser.empty()) {
            settings.SocksUser = opts.SocksUser;
            settings.SocksPassword = opts.SocksPassword;
        }
    }
    // A document is held whole in memory, so a server may not send more than a local file may hold.
    settings.MaxBytes = int64_t(kMaxDocumentBytes);
    settings.MaxRedirects = 5;
    // A publisher moving its documents to https, or to another path of its own, is followed; nothing else.
    settings.RedirectAllowed = [](std::string_view from, std::string_view location) {
        return RedirectAllowed(from, location) && CheckUrl(location) == TUrlProblem::None;
    };
    return settings;
}

TFetchMessage FetchFailureMessage(const TFetchResult& result, const TFetchSettings& settings, const std::string& url,
                                  const std::string& shownUrl)
{
    TFetchMessage told;
    switch (result.Kind) {
    case TFetchKind::Done: return told;
    case TFetchKind::Cancelled: told.Status = "取得を中止しました: " + shownUrl; return told;
    case TFetchKind::NotModified:
    case TFetchKind::HttpError: told.Message = "指定のRFCが見つかりませんでした。\r\nERR:" + result.Failure; break;
    case TFetchKind::TooLarge:
        told.Message =
            Bounded(Format("文書が大きすぎます（%d MiBまで）。", settings.MaxBytes >> 20).c_str(), result, shownUrl);
        break;
    case TFetchKind::TimeLimit: told.Message = Bounded("制限時間内に文書が届きませんでした。", result, shownUrl); break;
    case TFetchKind::ClosedInHeader:
        told.Message = Bounded("サーバが応答の途中で接続を切りました。", result, shownUrl);
        break;
    case TFetchKind::NoServer: {
        const TFetchRoute route{url, settings.ProxyHost, settings.ProxyPort,
                                settings.SocksVersion != 0 ? settings.SocksHost : std::string(),
                                settings.SocksVersion != 0 ? settings.SocksPort : 0};
        told.Message = "サーバにアクセスできませんでした。\r\n接続先: " + TriedAddress(route, result.SocksAnswered) +
                       "\r\nERR:" + result.Failure;
        break;
    }
    }
    told.Status = OneLine(told.Message);
    return told;
}

std::string OneLine(std::string text)
{
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += text[i] == '\n' ? ' ' : text[i];
    }
    return line;
}
