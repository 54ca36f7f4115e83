#include "library/DocumentCache.h"

#include "net/fetch/Fetcher.h"
#include "net/http/IdDate.h"
#include "net/http/IdGlobal.h"
#include "net/http/IdURI.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

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

int64_t TDocumentCache::TrimToLimit(int64_t limitBytes, const std::string& keep)
{
    return database_.Guarded(
        [&]() -> int64_t {
            TSqlStatement total(database_, "SELECT coalesce(sum(length), 0) FROM document");
            int64_t bytes = total.Step() ? total.Integer(0) : 0;
            total.Reset();
            if (bytes <= limitBytes) return 0;
            std::vector<int64_t> doomed;
            {
                TSqlStatement oldest(
                    database_, "SELECT id, length FROM document WHERE url != ?1 ORDER BY max(read_at, fetched), id");
                oldest.Bind(1, keep);
                while (bytes > limitBytes && oldest.Step()) {
                    doomed.push_back(oldest.Integer(0));
                    bytes -= oldest.Integer(1);
                }
            }
            TSqlTransaction transaction(database_);
            TSqlStatement remove(database_, "DELETE FROM document WHERE id = ?1");
            for (const int64_t id : doomed) {
                remove.Bind(1, id).Step();
                remove.Reset();
            }
            transaction.Commit();
            return int64_t(doomed.size());
        },
        int64_t(-1));
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

namespace {

// "Text/Plain; charset=utf-8" -> "text/plain".
std::string MediaType(const std::string& contentType)
{
    std::string type(TrimBlanks(std::string_view(contentType).substr(0, contentType.find(';'))));
    for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
    return type;
}

// The kind of text a document's URL names by its extension; plain text unless it names another.
std::string ExpectedMediaType(const std::string& url)
{
    const TIdURI uri(url);
    std::string resource = uri.Resource;
    for (char& c : resource) c = char(std::tolower(static_cast<unsigned char>(c)));
    const auto endsWith = [&](const char* ending) { return resource.ends_with(ending); };
    if (endsWith(".html") || endsWith(".htm")) return "text/html";
    if (endsWith(".xml")) return "application/xml";
    return "text/plain";
}

bool AcceptedType(const std::string& contentType, const std::string& url)
{
    const std::string type = MediaType(contentType);
    if (type.empty() || type == "text/plain") return true;
    const std::string expected = ExpectedMediaType(url);
    return type == expected || (expected == "application/xml" && type == "text/xml");
}

} // namespace

bool RedirectStaysOnServer(const std::string& url, const std::string& location)
{
    if (location.find("://") == std::string::npos) return !location.starts_with("//");
    const TIdURI from(url);
    const TIdURI to(location);
    const auto lower = [](std::string text) {
        for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    const auto port = [&](const TIdURI& uri) {
        if (!uri.Port.empty()) return uri.Port;
        return lower(uri.Protocol) == "https" ? std::string("443") : std::string("80");
    };
    const std::string fromScheme = lower(from.Protocol);
    const std::string toScheme = lower(to.Protocol);
    if (toScheme != "http" && toScheme != "https") return false;
    if (fromScheme == "https" && toScheme != "https") return false;
    if (lower(from.Host) != lower(to.Host)) return false;
    // The same host moving from http to https changes the port with the scheme.
    return port(from) == port(to) || (fromScheme == "http" && toScheme == "https" && to.Port.empty());
}

TAnswerJudgement JudgeRevalidationAnswer(const TRevalidationAnswer& answer, const std::string& url)
{
    const auto reject = [&](const std::string& why) {
        return TAnswerJudgement{TAnswerVerdict::avReject, Format("%d: ", int64_t(answer.Status)) + why};
    };
    if (answer.Status == 304) return {TAnswerVerdict::avNotModified, ""};
    if (answer.Status == 404 || answer.Status == 410) return {TAnswerVerdict::avGone, ""};
    if (answer.Status >= 300 && answer.Status < 400) return reject("sent elsewhere");
    if (answer.Status != 200) return reject(answer.Status == 206 ? "a part only" : "not the document");
    if (!answer.ContentRange.empty()) return reject("a part only");
    if (answer.BodyLength == 0) return reject("empty");
    if (answer.DeclaredLength >= 0 && answer.DeclaredLength != answer.BodyLength) return reject("cut short");
    if (!AcceptedType(answer.ContentType, url)) return reject("not plain text (" + MediaType(answer.ContentType) + ")");
    return {TAnswerVerdict::avStore, ""};
}

std::optional<TRevalidationAsk> RevalidationAsk(const TFetchSettings& settings, const TCachedDocument& cached,
                                                int64_t now, bool force)
{
    const TRevalidation decision = force ? TRevalidation{true, "", ""} : DecideRevalidation(cached, now);
    if (!decision.Needed) return std::nullopt;
    TRevalidationAsk ask;
    // The copy is stored under its own URL, so the caller's redirect policy is narrowed to that server, not
    // replaced: whatever the policy refuses for a first fetch stays refused here.
    ask.Settings = settings;
    ask.Settings.RedirectAllowed = [url = cached.Url, policy = settings.RedirectAllowed](std::string_view from,
                                                                                         std::string_view location) {
        return RedirectStaysOnServer(url, std::string(location)) && (!policy || policy(from, location));
    };
    ask.Request.Url = cached.Url;
    ask.Request.IfNoneMatch = decision.IfNoneMatch;
    ask.Request.IfModifiedSince = decision.IfModifiedSince;
    return ask;
}

TRevalidationResult Revalidate(TFetcher& fetcher, const TFetchSettings& settings, TDocumentCache& cache,
                               const TCachedDocument& cached, int64_t now, bool force)
{
    const std::optional<TRevalidationAsk> ask = RevalidationAsk(settings, cached, now, force);
    if (!ask) return {TRevalidationOutcome::roFresh, cached, ""};
    return TakeRevalidationAnswer(cache, cached, fetcher.Fetch(ask->Settings, ask->Request), now);
}

TRevalidationResult TakeRevalidationAnswer(TDocumentCache& cache, const TCachedDocument& cached,
                                           const TFetchResult& fetched, int64_t now)
{
    TRevalidationResult result{TRevalidationOutcome::roFresh, cached, ""};
    if (fetched.Kind != TFetchKind::Done && fetched.Kind != TFetchKind::NotModified &&
        fetched.Kind != TFetchKind::HttpError) {
        // Not reached, or cancelled: the caller tells a cancel by the result's kind.
        result.Outcome = TRevalidationOutcome::roFailed;
        result.Failure = fetched.Failure;
        return result;
    }
    TRevalidationAnswer answer;
    answer.Status = fetched.Kind == TFetchKind::NotModified ? 304 : fetched.Code;
    answer.ContentType = fetched.ContentType;
    answer.ContentRange = fetched.ContentRange;
    answer.DeclaredLength = fetched.DeclaredLength;
    answer.BodyLength = int64_t(fetched.Body.size());
    const TAnswerJudgement judgement = JudgeRevalidationAnswer(answer, cached.Url);
    switch (judgement.Verdict) {
    case TAnswerVerdict::avNotModified:
        (void)cache.Touch(cached.Url, now); // a failed touch only asks again next time
        result.Outcome = TRevalidationOutcome::roNotModified;
        result.Document.FetchedAt = now;
        return result;
    case TAnswerVerdict::avGone: result.Outcome = TRevalidationOutcome::roGone; return result;
    case TAnswerVerdict::avReject:
        result.Outcome = TRevalidationOutcome::roRejected;
        result.Failure = fetched.Kind == TFetchKind::HttpError ? fetched.Failure : judgement.Why;
        return result;
    case TAnswerVerdict::avStore: break;
    }
    TCachedDocument fresh = DocumentFromResponse(fetched, cached.Url, now);
    fresh.Number = cached.Number;
    fresh.Title = cached.Title;
    (void)cache.Store(fresh); // shown either way; a copy that could not be kept leaves its fault
    result.Outcome = TRevalidationOutcome::roReplaced;
    result.Document = std::move(fresh);
    return result;
}
