#include "library/DocumentCache.h"

#include "net/http/IdHTTP.h"
#include "net/http/IdURI.h"
#include "net/tcp/IdException.h"
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

bool TDocumentCache::Remove(const std::string& url)
{
    return database_.Guarded(
        [&] {
            TSqlStatement remove(database_, "DELETE FROM document WHERE url = ?1");
            remove.Bind(1, url).Step();
            return database_.Changes() > 0;
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

TConditionalRequest::TConditionalRequest(TIdHTTP& http, const std::string& ifNoneMatch,
                                         const std::string& ifModifiedSince)
    : http_(http)
{
    // A validator goes back exactly as it came: servers compare it byte for
    // byte, and a long one folded over two lines is answered with a 400.
    TIdHeaderList& headers = http_.Request().CustomHeaders();
    const bool folding = headers.FoldOnWrite();
    headers.SetFoldOnWrite(false);
    // An empty value removes the line, so a validator the copy lacks is not sent.
    headers.SetValueOf("If-None-Match", ifNoneMatch);
    headers.SetValueOf("If-Modified-Since", ifModifiedSince);
    headers.SetFoldOnWrite(folding);
}

TConditionalRequest::~TConditionalRequest()
{
    http_.Request().CustomHeaders().SetValueOf("If-None-Match", "");
    http_.Request().CustomHeaders().SetValueOf("If-Modified-Since", "");
}

TCachedDocument DocumentFromResponse(TIdHTTP& http, const std::string& url, std::string body, int64_t now)
{
    TCachedDocument document;
    document.Url = url;
    document.ETag = http.Response().HeaderLines().ValueOf("ETag");
    document.LastModified = http.Response().HeaderLines().ValueOf("Last-Modified");
    document.Length = int64_t(body.size());
    document.FetchedAt = now;
    document.Body = std::move(body);
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

// Puts a redirect judge on http while alive and gives back the one it had.
class TRedirectGuard {
public:
    TRedirectGuard(TIdHTTP& http, std::string url) : http_(http), saved_(std::move(http.OnRedirect))
    {
        http_.OnRedirect = [url = std::move(url)](TIdCustomHTTP*, std::string& location, int32_t&, bool& handled,
                                                  TIdHTTPMethod&) {
            handled = handled && RedirectStaysOnServer(url, location);
        };
    }
    ~TRedirectGuard() { http_.OnRedirect = std::move(saved_); }
    TRedirectGuard(const TRedirectGuard&) = delete;
    TRedirectGuard& operator=(const TRedirectGuard&) = delete;

private:
    TIdHTTP& http_;
    TIdHTTPOnRedirectEvent saved_;
};

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

TRevalidationResult Revalidate(TIdHTTP& http, TDocumentCache& cache, const TCachedDocument& cached, int64_t now,
                               bool force)
{
    TRevalidation decision = force ? TRevalidation{true, "", ""} : DecideRevalidation(cached, now);
    TRevalidationResult result{TRevalidationOutcome::roFresh, cached, ""};
    if (!decision.Needed) return result;

    TMemoryStream body;
    TRevalidationAnswer answer;
    try {
        const TConditionalRequest conditional(http, decision.IfNoneMatch, decision.IfModifiedSince);
        const TRedirectGuard redirects(http, cached.Url);
        http.Get(cached.Url, body);
        answer.Status = http.ResponseCode();
        answer.ContentType = http.Response().HeaderLines().ValueOf("Content-Type");
        answer.ContentRange = http.Response().HeaderLines().ValueOf("Content-Range");
        if (http.Response().ContentLengthGiven()) answer.DeclaredLength = http.Response().ContentLength();
        answer.BodyLength = body.Size();
    } catch (const EIdHTTPProtocolException& e) {
        answer.Status = e.ReplyErrorCode();
        result.Failure = ExceptionMessage(e);
    } catch (const EIdException& e) {
        result.Outcome = TRevalidationOutcome::roFailed;
        result.Failure = ExceptionMessage(e);
        return result;
    }
    const TAnswerJudgement judgement = JudgeRevalidationAnswer(answer, cached.Url);
    switch (judgement.Verdict) {
    case TAnswerVerdict::avNotModified:
        cache.Touch(cached.Url, now);
        result.Outcome = TRevalidationOutcome::roNotModified;
        result.Document.FetchedAt = now;
        result.Failure.clear();
        return result;
    case TAnswerVerdict::avGone: result.Outcome = TRevalidationOutcome::roGone; return result;
    case TAnswerVerdict::avReject:
        result.Outcome = TRevalidationOutcome::roRejected;
        if (result.Failure.empty()) result.Failure = judgement.Why;
        return result;
    case TAnswerVerdict::avStore: break;
    }
    TCachedDocument fresh =
        DocumentFromResponse(http, cached.Url, std::string(body.Memory(), size_t(body.Size())), now);
    fresh.Number = cached.Number;
    fresh.Title = cached.Title;
    cache.Store(fresh);
    result.Outcome = TRevalidationOutcome::roReplaced;
    result.Document = std::move(fresh);
    return result;
}
