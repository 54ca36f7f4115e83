// TFetcher: owns the HTTP client and its TLS transport and runs one request at
// a time under a settings value: proxy, SOCKS hop, time and size limits and the
// one redirect policy every request follows (documents, revalidations, the
// index). Every way a fetch can end is a result kind, a 304 included; only
// failures outside the network's own (a program fault) propagate. It touches
// nothing but the client, so it runs on whichever thread calls Fetch, and that
// thread owns the client (and OnProgress's calls) for the call; only the cancel
// may come from another thread.
#pragma once

#include "platform/Classes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class TIdCancel;
class TIdHTTP;
class TIdSSLIOHandlerSocket;

// How every request goes out. Built once from the options (see FetchSettingsOf).
struct TFetchSettings {
    std::string ProxyHost; // empty: no HTTP proxy
    int ProxyPort = 0;
    // 0 none, 1 SOCKS 4, 2 SOCKS 4A, 3 SOCKS 5.
    int SocksVersion = 0;
    std::string SocksHost;
    int SocksPort = 0;
    std::string SocksUser; // SOCKS 5 only; empty: no login
    std::string SocksPassword;
    // The whole fetch (connect, redirects, every read), in seconds; 0: no limit.
    int TimeLimitSeconds = 300;
    // A body larger than this is refused as it arrives.
    int64_t MaxBytes = int64_t{64} << 20;
    int MaxRedirects = 5;
    // Whether a redirect from the URL last asked for to location is followed; empty: none is.
    std::function<bool(std::string_view from, std::string_view location)> RedirectAllowed;
};

struct TFetchRequest {
    TFetchRequest() = default;
    TFetchRequest(std::string url) : Url(std::move(url)) {} // NOLINT: a URL alone is a plain request
    std::string Url;
    // Validators for a conditional request; empty ones are not sent.
    std::string IfNoneMatch;
    std::string IfModifiedSince;
    // Where the body goes as it arrives; null: into TFetchResult::Body.
    TStream* Sink = nullptr;
};

enum class TFetchKind {
    Done,           // Body (unless a sink took it), validators and final URL are set
    NotModified,    // the server answered 304 to the validators
    HttpError,      // an error status: Code and StatusLine
    TooLarge,       // the body passed MaxBytes
    TimeLimit,      // the whole fetch passed TimeLimitSeconds
    ClosedInHeader, // the server hung up inside the response's header block
    NoServer,       // the server (or a hop on the way) was never reached or fell silent
    Cancelled       // RequestCancel was called during the fetch
};

struct TFetchResult {
    TFetchKind Kind = TFetchKind::Done;
    std::string Body;
    std::string ETag;
    std::string LastModified;
    // How long the copy may be trusted, as the server said; empty when it did not.
    std::string CacheControl;
    std::string Expires;
    std::string FinalUrl;
    int Code = 0;
    std::string StatusLine;
    // For Done: the Content-Type and Content-Range lines as sent (empty when
    // absent) and the announced length (-1 without one), so a caller can tell
    // a whole document from a part or an error page.
    std::string ContentType;
    std::string ContentRange;
    int64_t DeclaredLength = -1;
    // The failure's own text (every kind but Done and NotModified).
    std::string Failure;
    // For NoServer: a SOCKS hop answered, so what lay beyond it was not reached.
    bool SocksAnswered = false;
};

class TFetcher {
public:
    TFetcher();
    ~TFetcher();
    TFetcher(const TFetcher&) = delete;
    TFetcher& operator=(const TFetcher&) = delete;

    // Runs request under settings. The connection is closed after a cancel and
    // after any failure, so the next fetch starts afresh.
    [[nodiscard]] TFetchResult Fetch(const TFetchSettings& settings, const TFetchRequest& request);

    // May be called from any thread, also before the fetch has begun: every wait
    // of the running fetch (lookup, connect, handshake, reads) ends at once, and
    // it (and any later one, until ResetCancel) ends as Cancelled.
    void RequestCancel();
    // Between fetches only, from the thread that runs them.
    void ResetCancel();
    [[nodiscard]] bool CancelRequested() const;

    // Bytes of the body received so far, and the announced length (0: unknown).
    std::function<void(int64_t received, int64_t expected)> OnProgress;

    TIdHTTP& Client() { return *client_; }
    TIdSSLIOHandlerSocket& Transport() { return *transport_; }

private:
    void Apply(const TFetchSettings& settings);

    // Declared first so it outlives the client that references it.
    std::unique_ptr<TIdSSLIOHandlerSocket> transport_;
    std::unique_ptr<TIdHTTP> client_;
    // Shared with the client's calls; replaced by ResetCancel.
    mutable std::mutex cancelGuard_;
    std::shared_ptr<TIdCancel> cancel_;
    int64_t expected_ = 0;
};
