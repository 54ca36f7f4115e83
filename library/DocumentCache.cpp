#include "library/DocumentCache.h"

#include "net/fetch/Fetcher.h"
#include "net/http/IdURI.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

#include <cctype>
#include <vector>

namespace {

constexpr int64_t kTrustedForSeconds = 24 * 60 * 60;
const char* const kLastShownKey = "last-shown";

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
                TSqlStatement oldest(database_, "SELECT id, length FROM document WHERE url != ?1 ORDER BY fetched, id");
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

TRevalidationResult Revalidate(TFetcher& fetcher, const TFetchSettings& settings, TDocumentCache& cache,
                               const TCachedDocument& cached, int64_t now, bool force)
{
    TRevalidation decision = force ? TRevalidation{true, "", ""} : DecideRevalidation(cached, now);
    TRevalidationResult result{TRevalidationOutcome::roFresh, cached, ""};
    if (!decision.Needed) return result;

    TFetchSettings onServer = settings;
    onServer.RedirectAllowed = [&](std::string_view, std::string_view location) {
        return RedirectStaysOnServer(cached.Url, std::string(location));
    };
    TFetchRequest request;
    request.Url = cached.Url;
    request.IfNoneMatch = decision.IfNoneMatch;
    request.IfModifiedSince = decision.IfModifiedSince;
    const TFetchResult fetched = fetcher.Fetch(onServer, request);
    if (fetched.Kind != TFetchKind::Done && fetched.Kind != TFetchKind::NotModified &&
        fetched.Kind != TFetchKind::HttpError) {
        // Not reached, or cancelled: the caller tells a cancel by the fetcher.
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
