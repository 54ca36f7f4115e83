// The cache of fetched documents, and the conditional request that keeps a
// cached copy fresh.
//
// TDocumentCache references the database and turns every database failure
// into "not found" / "not stored" plus the database's fault, so the window
// falls back to the network. The statements of every fetch are prepared on
// first use and kept. Times are seconds since the Unix epoch.
// One thread, the one that owns the database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "library/LibraryDatabase.h"
#include "net/fetch/Fetcher.h"

struct TCachedDocument {
    std::string Url;
    int Number = 0;
    std::string Title;
    // The validators exactly as the server sent them; empty when it sent none.
    std::string ETag;
    std::string LastModified;
    int64_t Length = 0;
    int64_t FetchedAt = 0;
    // Until when the server said the copy may be trusted without asking
    // (Cache-Control max-age, Expires); 0 when it said nothing.
    int64_t FreshUntil = 0;
    std::string Body;
};

// What the library holds: documents and the bytes of their text.
struct TLibraryStorage {
    int64_t Documents = 0;
    int64_t Bytes = 0;
};

class TDocumentCache {
public:
    // Larger documents are shown but not kept. The full-text index of one
    // document is built in memory whole, some ten times the text for one of
    // distinct words; the largest RFCs are a fraction of this.
    static constexpr int64_t kMaxDocumentBytes = 8LL * 1024 * 1024;

    explicit TDocumentCache(TLibraryDatabase& database);
    ~TDocumentCache();
    TDocumentCache(const TDocumentCache&) = delete;
    TDocumentCache& operator=(const TDocumentCache&) = delete;

    [[nodiscard]] std::optional<TCachedDocument> Find(const std::string& url);
    [[nodiscard]] bool Contains(const std::string& url);
    // Adds or replaces the copy of document.Url; Length is taken from the body.
    // False when it was not stored: too large, or the database failed (its fault is kept).
    [[nodiscard]] bool Store(const TCachedDocument& document);
    // Records that the server confirmed the copy (a 304) at fetchedAt.
    [[nodiscard]] bool Touch(const std::string& url, int64_t fetchedAt);
    // Records that the reader looked at the copy at readAt.
    [[nodiscard]] bool MarkRead(const std::string& url, int64_t readAt);

    [[nodiscard]] TLibraryStorage Storage();
    // Removes every document, or those neither read nor fetched since cutoff,
    // and gives the space back to the disk. The number removed; -1 on failure.
    [[nodiscard]] int64_t RemoveAll();
    [[nodiscard]] int64_t RemoveUnreadSince(int64_t cutoff);

    // The library's bound on the text it keeps, by default 2 GiB. TrimToLimit
    // removes the documents fetched or confirmed longest ago (never keep)
    // until the text kept is within limitBytes; the number removed, -1 when
    // the database failed. Example: 30 bytes kept in three documents and a
    // limit of 25 remove the oldest one.
    static constexpr int64_t kDefaultSizeLimit = 2LL * 1024 * 1024 * 1024;
    [[nodiscard]] int64_t TrimToLimit(int64_t limitBytes, const std::string& keep);

    // The URL of the document shown last, to show again at the next start.
    [[nodiscard]] std::string LastShown();
    void SetLastShown(const std::string& url);

    // Where the reader was in the document at url: a 0-based line of its
    // text, kept across runs. Nothing when none was kept or the database failed.
    [[nodiscard]] std::optional<int> ReadingLine(const std::string& url);
    void KeepReadingLine(const std::string& url, int line);

    TLibraryDatabase& Database() { return database_; }

private:
    struct TStatements;
    TStatements& Statements();
    int64_t RemoveWhere(const char* sql, int64_t cutoff);

    TLibraryDatabase& database_;
    std::unique_ptr<TStatements> statements_;
};

// Whether a cached copy is asked about again, and with which validators.
struct TRevalidation {
    bool Needed = false;
    std::string IfNoneMatch;
    std::string IfModifiedSince;
};

// A copy is trusted without asking until the time the server gave it
// (FreshUntil), or without one for a day after it was fetched; after that
// (or when it is dated after now: the clock went back) it is asked about
// with its ETag and Last-Modified, whichever it has.
// Example: fetched at 1000, now 1000 + 86399 -> not needed; + 86400 -> needed.
TRevalidation DecideRevalidation(const TCachedDocument& cached, int64_t now);

enum class TRevalidationOutcome {
    roFresh,       // young enough: no request was made
    roNotModified, // the server answered 304; the copy stays and counts as fetched now
    roReplaced,    // the server sent the document again; it replaced the copy
    roGone,        // the server answered 404 or 410: it no longer has the document; the copy stays
    roRejected,    // the server answered, but with nothing to keep (see TAnswerVerdict); the copy stays
    roFailed       // the server could not be reached; the copy stays
};

struct TRevalidationResult {
    TRevalidationOutcome Outcome = TRevalidationOutcome::roFresh;
    // The copy to show: the old one, or the new one after roReplaced.
    TCachedDocument Document;
    // For roGone and roRejected: the server's answer and why it is not kept;
    // for roFailed: the network failure's message.
    std::string Failure;
};

// What a server answered to a revalidation, as far as deciding goes.
struct TRevalidationAnswer {
    int Status = 0;
    // The Content-Type and Content-Range lines, as sent; empty when absent.
    std::string ContentType;
    std::string ContentRange;
    // The Content-Length the server announced, -1 without one; and what came.
    int64_t DeclaredLength = -1;
    int64_t BodyLength = 0;
};

enum class TAnswerVerdict {
    avStore,       // a whole 200 of the document's kind of text: it replaces the copy
    avNotModified, // 304
    avGone,        // 404 or 410
    avReject       // anything else: a redirect that was not followed, a partial, empty or
                   // cut answer, another kind of content (an HTML error page), an error status
};

struct TAnswerJudgement {
    TAnswerVerdict Verdict = TAnswerVerdict::avReject;
    // Why it is rejected, for the status line; empty otherwise.
    std::string Why;
};

// Judges a revalidation answer for the document at url. Only a complete 200
// replaces a copy, and only of plain text or of the kind url's extension
// names (".html" serves text/html); no Content-Type at all is taken as the
// document's own kind. Example: 200, "text/html; charset=utf-8" for
// "https://h/rfc1.txt" -> avReject "not plain text (text/html)".
[[nodiscard]] TAnswerJudgement JudgeRevalidationAnswer(const TRevalidationAnswer& answer, const std::string& url);

// Whether a redirect from url to location stays on url's server (host and
// port, no step down from https to http). A relative location does.
[[nodiscard]] bool RedirectStaysOnServer(const std::string& url, const std::string& location);

// Asks the server about cached through fetcher under settings (with force:
// fetches it again without validators and whatever its age) and updates the
// cache by the answer, judged by JudgeRevalidationAnswer; redirects are
// followed only on the same server. Failures to reach the server become roFailed.
// The three steps below, in a row.
[[nodiscard]] TRevalidationResult Revalidate(TFetcher& fetcher, const TFetchSettings& settings, TDocumentCache& cache,
                                             const TCachedDocument& cached, int64_t now, bool force = false);

// The exchange a revalidation makes, apart from the cache, so it can run where
// the database is not (another thread): the settings narrowed to the copy's
// server and the request with the copy's validators.
struct TRevalidationAsk {
    TFetchSettings Settings;
    TFetchRequest Request;
};
// What to ask about cached; nothing while the copy is fresh (unless forced).
[[nodiscard]] std::optional<TRevalidationAsk> RevalidationAsk(const TFetchSettings& settings,
                                                              const TCachedDocument& cached, int64_t now, bool force);
// Judges what the server answered to RevalidationAsk and updates the cache by it.
[[nodiscard]] TRevalidationResult TakeRevalidationAnswer(TDocumentCache& cache, const TCachedDocument& cached,
                                                         const TFetchResult& fetched, int64_t now);

// Until when a response with these headers may be trusted, for one received
// at now: Cache-Control max-age (no-cache and no-store: not at all), else
// Expires (an unreadable date counts as past), else 0 (no instruction).
// Example: "Cache-Control: public, max-age=600" at 1000 -> 1600.
[[nodiscard]] int64_t FreshUntilOf(const std::string& cacheControl, const std::string& expires, int64_t now);

// The copy to store for a document fetched whole (the result's validators). Number and title are the caller's.
[[nodiscard]] TCachedDocument DocumentFromResponse(const TFetchResult& fetched, const std::string& url, int64_t now);
