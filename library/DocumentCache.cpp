#include "library/DocumentCache.h"

#include "net/fetch/Fetcher.h"
#include "net/http/IdDate.h"
#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <cmath>

#include <algorithm>

namespace {

constexpr int64_t kTrustedForSeconds = 24 * 60 * 60;
// A year: a server's "forever" is taken as this, so the copy is asked about again some day.
constexpr int64_t kMaxLifetimeSeconds = 365LL * 24 * 60 * 60;
// 1970-01-01 as a day count from 1899-12-30.
constexpr double kUnixEpochDay = 25569.0;
const char* const kLastShownKey = "last-shown";
// A small value per document in the meta table, under this prefix and the URL.
const char* const kReadingKeyPrefix = "reading-line ";

} // namespace

// The statements every fetch uses, prepared once.
struct TDocumentCache::TStatements {
    explicit TStatements(TLibraryDatabase& database)
        : Find(database, "SELECT number, title, etag, last_modified, length, fetched, fresh_until, body "
                         "FROM document WHERE url = ?1"),
          Contains(database, "SELECT 1 FROM document WHERE url = ?1"),
          Store(database, "INSERT INTO document(url, number, title, etag, last_modified, length, fetched, "
                          "fresh_until, body) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT(url) DO UPDATE "
                          "SET number = excluded.number, title = excluded.title, etag = excluded.etag, "
                          "last_modified = excluded.last_modified, length = excluded.length, "
                          "fetched = excluded.fetched, fresh_until = excluded.fresh_until, body = excluded.body"),
          // A confirmed copy keeps the lifetime the server first gave it.
          Touch(database, "UPDATE document SET fetched = ?2, "
                          "fresh_until = CASE WHEN fresh_until > 0 THEN ?2 + fresh_until - fetched ELSE 0 END "
                          "WHERE url = ?1"),
          MarkRead(database, "UPDATE document SET read_at = ?2 WHERE url = ?1")
    {}
    TSqlStatement Find, Contains, Store, Touch, MarkRead;
};

namespace {

// Leaves a kept statement ready for its next use however the run ends, so
// it never holds a read transaction open.
class TKeptRun {
public:
    explicit TKeptRun(TSqlStatement& statement) : statement_(statement) {}
    ~TKeptRun() { statement_.Reset(); }
    TKeptRun(const TKeptRun&) = delete;
    TKeptRun& operator=(const TKeptRun&) = delete;
    TSqlStatement* operator->() { return &statement_; }

private:
    TSqlStatement& statement_;
};

} // namespace

TDocumentCache::TDocumentCache(TLibraryDatabase& database) : database_(database) {}

TDocumentCache::~TDocumentCache() = default;

TDocumentCache::TStatements& TDocumentCache::Statements()
{
    if (!statements_) statements_ = std::make_unique<TStatements>(database_);
    return *statements_;
}

std::optional<TCachedDocument> TDocumentCache::Find(const std::string& url)
{
    return database_.Guarded(
        [&]() -> std::optional<TCachedDocument> {
            TKeptRun find(Statements().Find);
            find->Bind(1, url);
            if (!find->Step()) return std::nullopt;
            TCachedDocument found;
            found.Url = url;
            found.Number = int(find->Integer(0));
            found.Title = find->Text(1);
            found.ETag = find->Text(2);
            found.LastModified = find->Text(3);
            found.Length = find->Integer(4);
            found.FetchedAt = find->Integer(5);
            found.FreshUntil = find->Integer(6);
            found.Body = find->Text(7);
            return found;
        },
        std::optional<TCachedDocument>());
}

bool TDocumentCache::Contains(const std::string& url)
{
    return database_.Guarded(
        [&] {
            TKeptRun find(Statements().Contains);
            find->Bind(1, url);
            return find->Step();
        },
        false);
}

bool TDocumentCache::Store(const TCachedDocument& document)
{
    if (int64_t(document.Body.size()) > kMaxDocumentBytes) return false;
    return database_.Guarded(
        [&] {
            TKeptRun store(Statements().Store);
            store->Bind(1, document.Url).Bind(2, document.Number).Bind(3, document.Title).Bind(4, document.ETag);
            store->Bind(5, document.LastModified).Bind(6, int64_t(document.Body.size())).Bind(7, document.FetchedAt);
            store->Bind(8, document.FreshUntil).Bind(9, document.Body).Step();
            return true;
        },
        false);
}

bool TDocumentCache::Touch(const std::string& url, int64_t fetchedAt)
{
    return database_.Guarded(
        [&] {
            TKeptRun touch(Statements().Touch);
            touch->Bind(1, url).Bind(2, fetchedAt).Step();
            return true;
        },
        false);
}

bool TDocumentCache::MarkRead(const std::string& url, int64_t readAt)
{
    return database_.Guarded(
        [&] {
            TKeptRun mark(Statements().MarkRead);
            mark->Bind(1, url).Bind(2, readAt).Step();
            return true;
        },
        false);
}

TLibraryStorage TDocumentCache::Storage()
{
    return database_.Guarded(
        [&] {
            TSqlStatement count(database_, "SELECT count(*), coalesce(sum(length), 0) FROM document");
            count.Step();
            return TLibraryStorage{count.Integer(0), count.Integer(1)};
        },
        TLibraryStorage());
}

int64_t TDocumentCache::RemoveWhere(const char* sql, int64_t cutoff)
{
    return database_.Guarded(
        [&] {
            int64_t removed = 0;
            {
                TSqlTransaction transaction(database_);
                TSqlStatement remove(database_, sql);
                remove.Bind(1, cutoff).Step();
                removed = database_.Changes();
                transaction.Commit();
            }
            // The pages the text took go back to the disk, or clearing would free nothing a user can see.
            if (removed > 0) database_.Execute("VACUUM");
            return removed;
        },
        int64_t(-1));
}

int64_t TDocumentCache::RemoveAll() { return RemoveWhere("DELETE FROM document WHERE ?1 = ?1", 0); }

int64_t TDocumentCache::RemoveUnreadSince(int64_t cutoff)
{
    return RemoveWhere("DELETE FROM document WHERE max(read_at, fetched) < ?1", cutoff);
}

std::string TDocumentCache::LastShown()
{
    return database_.Guarded([&] { return database_.ReadMeta(kLastShownKey); }, std::string());
}

void TDocumentCache::SetLastShown(const std::string& url)
{
    database_.Guarded(
        [&] {
            database_.WriteMeta(kLastShownKey, url);
            return true;
        },
        false);
}

std::optional<int> TDocumentCache::ReadingLine(const std::string& url)
{
    const std::string value =
        database_.Guarded([&] { return database_.ReadMeta(kReadingKeyPrefix + url); }, std::string());
    int32_t line = 0;
    if (value.empty() || !TryStrToInt(value, line) || line < 0) return std::nullopt;
    return line;
}

void TDocumentCache::KeepReadingLine(const std::string& url, int line)
{
    database_.Guarded(
        [&] {
            database_.WriteMeta(kReadingKeyPrefix + url, std::to_string(std::max(0, line)));
            return true;
        },
        false);
}

TRevalidation DecideRevalidation(const TCachedDocument& cached, int64_t now)
{
    const int64_t age = now - cached.FetchedAt;
    const bool trusted = cached.FreshUntil > 0 ? now < cached.FreshUntil : age < kTrustedForSeconds;
    if (age >= 0 && trusted) return {};
    return {true, cached.ETag, cached.LastModified};
}

int64_t FreshUntilOf(const std::string& cacheControl, const std::string& expires, int64_t now)
{
    // Directives are compared without case and may carry quoted values; only two matter here.
    std::string directives = LowerCase(cacheControl);
    while (!directives.empty()) {
        const std::string directive(TrimBlanks(CutToken(directives, ",")));
        if (directive == "no-cache" || directive == "no-store") return now;
        if (directive.rfind("max-age", 0) != 0) continue;
        std::string value(TrimBlanks(std::string_view(directive).substr(7)));
        if (value.empty() || value[0] != '=') continue;
        value = std::string(TrimBlanks(std::string_view(value).substr(1)));
        if (!value.empty() && value.front() == '"' && value.back() == '"' && value.size() >= 2)
            value = value.substr(1, value.size() - 2);
        int64_t seconds = 0;
        bool digits = !value.empty();
        for (char c : value) {
            if (c < '0' || c > '9')
                digits = false;
            else if (seconds < kMaxLifetimeSeconds)
                seconds = seconds * 10 + (c - '0');
        }
        if (digits) return now + std::min(seconds, kMaxLifetimeSeconds);
    }
    if (TrimBlanks(expires).empty()) return 0;
    std::string text = expires;
    const TDateTime date = ParseInternetDate(text);
    // An unreadable date, "0" among them, means already expired.
    if (date <= 0) return now;
    const double seconds = (date - kUnixEpochDay - ZoneOffsetToTime(std::string(TrimBlanks(text)))) * 86400.0;
    return std::min(int64_t(std::llround(seconds)), now + kMaxLifetimeSeconds);
}

TCachedDocument DocumentFromResponse(const TFetchResult& fetched, const std::string& url, int64_t now)
{
    TCachedDocument document;
    document.Url = url;
    document.ETag = fetched.ETag;
    document.LastModified = fetched.LastModified;
    document.Length = int64_t(fetched.Body.size());
    document.FetchedAt = now;
    document.FreshUntil = FreshUntilOf(fetched.CacheControl, fetched.Expires, now);
    document.Body = fetched.Body;
    return document;
}

TRevalidationResult Revalidate(TFetcher& fetcher, const TFetchSettings& settings, TDocumentCache& cache,
                               const TCachedDocument& cached, int64_t now, bool force)
{
    TRevalidation decision = force ? TRevalidation{true, "", ""} : DecideRevalidation(cached, now);
    TRevalidationResult result{TRevalidationOutcome::roFresh, cached, ""};
    if (!decision.Needed) return result;

    TFetchRequest request;
    request.Url = cached.Url;
    request.IfNoneMatch = decision.IfNoneMatch;
    request.IfModifiedSince = decision.IfModifiedSince;
    const TFetchResult fetched = fetcher.Fetch(settings, request);
    if (fetched.Kind == TFetchKind::NotModified) {
        (void)cache.Touch(cached.Url, now); // a failed touch only asks again next time
        result.Outcome = TRevalidationOutcome::roNotModified;
        result.Document.FetchedAt = now;
        return result;
    }
    if (fetched.Kind != TFetchKind::Done) {
        result.Outcome = TRevalidationOutcome::roFailed;
        result.Failure = fetched.Failure;
        return result;
    }
    TCachedDocument fresh = DocumentFromResponse(fetched, cached.Url, now);
    fresh.Number = cached.Number;
    fresh.Title = cached.Title;
    (void)cache.Store(fresh); // shown either way; a copy that could not be kept leaves its fault
    result.Outcome = TRevalidationOutcome::roReplaced;
    result.Document = std::move(fresh);
    return result;
}
