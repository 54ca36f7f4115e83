#include "library/DocumentCache.h"

#include "net/fetch/Fetcher.h"
#include "platform/SysUtils.h"

#include <algorithm>

namespace {

constexpr int64_t kTrustedForSeconds = 24 * 60 * 60;
const char* const kLastShownKey = "last-shown";
// A small value per document in the meta table, under this prefix and the URL.
const char* const kReadingKeyPrefix = "reading-line ";

} // namespace

std::optional<TCachedDocument> TDocumentCache::Find(const std::string& url)
{
    return database_.Guarded(
        [&]() -> std::optional<TCachedDocument> {
            TSqlStatement find(database_, "SELECT number, title, etag, last_modified, length, fetched, body "
                                          "FROM document WHERE url = ?1");
            find.Bind(1, url);
            if (!find.Step()) return std::nullopt;
            TCachedDocument found;
            found.Url = url;
            found.Number = int(find.Integer(0));
            found.Title = find.Text(1);
            found.ETag = find.Text(2);
            found.LastModified = find.Text(3);
            found.Length = find.Integer(4);
            found.FetchedAt = find.Integer(5);
            found.Body = find.Text(6);
            return found;
        },
        std::optional<TCachedDocument>());
}

bool TDocumentCache::Contains(const std::string& url)
{
    return database_.Guarded(
        [&] {
            TSqlStatement find(database_, "SELECT 1 FROM document WHERE url = ?1");
            find.Bind(1, url);
            return find.Step();
        },
        false);
}

bool TDocumentCache::Store(const TCachedDocument& document)
{
    if (int64_t(document.Body.size()) > kMaxDocumentBytes) return false;
    return database_.Guarded(
        [&] {
            TSqlStatement store(database_,
                                "INSERT INTO document(url, number, title, etag, last_modified, length, fetched, body) "
                                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT(url) DO UPDATE SET "
                                "number = excluded.number, title = excluded.title, etag = excluded.etag, "
                                "last_modified = excluded.last_modified, length = excluded.length, "
                                "fetched = excluded.fetched, body = excluded.body");
            store.Bind(1, document.Url).Bind(2, document.Number).Bind(3, document.Title).Bind(4, document.ETag);
            store.Bind(5, document.LastModified).Bind(6, int64_t(document.Body.size())).Bind(7, document.FetchedAt);
            store.Bind(8, document.Body).Step();
            return true;
        },
        false);
}

bool TDocumentCache::Touch(const std::string& url, int64_t fetchedAt)
{
    return database_.Guarded(
        [&] {
            TSqlStatement touch(database_, "UPDATE document SET fetched = ?2 WHERE url = ?1");
            touch.Bind(1, url).Bind(2, fetchedAt).Step();
            return true;
        },
        false);
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
    if (age >= 0 && age < kTrustedForSeconds) return {};
    return {true, cached.ETag, cached.LastModified};
}

TCachedDocument DocumentFromResponse(const TFetchResult& fetched, const std::string& url, int64_t now)
{
    TCachedDocument document;
    document.Url = url;
    document.ETag = fetched.ETag;
    document.LastModified = fetched.LastModified;
    document.Length = int64_t(fetched.Body.size());
    document.FetchedAt = now;
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
