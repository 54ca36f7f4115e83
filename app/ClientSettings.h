// The connection settings of the options as plain values, read on the GUI
// thread and put on any client (the window's, or the sync's on its own
// thread), and the client a sync run uses: set up as the window's, with a
// redirect rule of its own. Also the URLs of one RFC for a run.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "net/tcp/IdSocks.h"

class TIdHTTP;
class TIdSSLIOHandlerSocket;
class TOptionDlg;

struct TClientSettings {
    // Empty: no HTTP proxy.
    std::string ProxyHost;
    int ProxyPort = 0;
    TSocksVersion Socks = svNoSocks;
    std::string SocksHost;
    int SocksPort = 0;
    // SOCKS 5 only; empty: no login.
    std::string SocksUser;
    std::string SocksPassword;
    // One request as a whole, milliseconds.
    int TotalTimeoutMs = 0;
    // The document URL format ("%s" for the number).
    std::string UrlFormat;
};

// The options as they stand. Raises EConvertError for a port that is no integer.
[[nodiscard]] TClientSettings ReadClientSettings(const TOptionDlg& options);

// Puts proxy, SOCKS hop and time limit on http and its handler.
void ApplyClientSettings(const TClientSettings& settings, TIdHTTP& http, TIdSSLIOHandlerSocket& handler);

// A client of its own for a run away from the window: the handler first, so it outlives the client.
struct TSyncClient {
    TSyncClient();
    TSyncClient(TSyncClient&&) noexcept;
    ~TSyncClient();
    std::unique_ptr<TIdSSLIOHandlerSocket> Handler;
    std::unique_ptr<TIdHTTP> Http;
};
[[nodiscard]] TSyncClient MakeSyncClient(const TClientSettings& settings);

// RFC number's URL under the format: {to fetch, to store (no password)}.
[[nodiscard]] std::pair<std::string, std::string> SyncUrlsOf(const std::string& urlFormat, int number);
