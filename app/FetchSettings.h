// From the options to a fetch and back to the user: the settings value every
// request goes out under (built by one pure function from the options'
// values), and the one table of what the user is told for each way a fetch
// ends. Plain code over UTF-8 text, no window.
#pragma once

#include "net/fetch/Fetcher.h"

#include <string>

// The options as the dialog holds them, as text where the dialog has a field.
struct TConnectionOptions {
    bool UseProxy = false;
    std::string ProxyServer;
    std::string ProxyPort;
    // 0 none, 1 SOCKS 4, 2 SOCKS 4A, 3 SOCKS 5.
    int SocksVersion = 0;
    std::string SocksServer;
    std::string SocksPort;
    std::string SocksUser;
    std::string SocksPassword;
    int FetchTimeLimitSeconds = 300;
};

// The settings value for opts: the proxy only when used, the SOCKS login for
// SOCKS 5 only, documents of at most 64 MiB, at most five redirects and the
// one redirect rule (RedirectAllowed). A port that is not a number raises the
// integer conversion's error, as the fetch then cannot go out.
[[nodiscard]] TFetchSettings FetchSettingsOf(const TConnectionOptions& opts);

// What the user is told about a fetch of shownUrl that did not end in a
// document: the message box text (empty for a cancel, which shows none) and
// the status line's one-line text. url is the URL as requested (its host and
// port name the server tried).
struct TFetchMessage {
    std::string Message;
    std::string Status;
};
[[nodiscard]] TFetchMessage FetchFailureMessage(const TFetchResult& result, const TFetchSettings& settings,
                                                const std::string& url, const std::string& shownUrl);

// A message in one line: every line break a blank.
[[nodiscard]] std::string OneLine(std::string text);
