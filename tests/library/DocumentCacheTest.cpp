// The document cache: when a copy is asked about again, and the whole road against a real nginx that
// answers with ETag and Last-Modified.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>

#include "library/DocumentCache.h"
#include "net/fetch/Fetcher.h"
#include "net/http/IdHTTP.h"
#include "platform/Classes.h"
#include "tests/support/GoldenExchange.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

using testsupport::TGoldenExchange;
using testsupport::TRealPeer;
using testsupport::TScriptedServer;

namespace {

// A library of its own in a temporary folder.
struct TLibraryHome {
    TTempDir temp;
    TLibraryDatabase database{{temp.File("library.db")}};
    TDocumentCache cache{database};
};

TCachedDocument Document(const std::string& url, int64_t fetchedAt, const std::string& body, int64_t freshUntil = 0)
{
    TCachedDocument document;
    document.Url = url;
    document.FetchedAt = fetchedAt;
    document.FreshUntil = freshUntil;
    document.Body = body;
    return document;
}

} // namespace

// Without a lifetime from the server a copy is trusted for a day; with one, for exactly that long.
TEST(TDocumentCache, RevalidatesCopiesPastTheirLifetimeWithTheValidatorsTheyHave)
{
    const char* const date = "Mon, 01 Jan 2024 00:00:00 GMT";
    struct TCase {
        const char* name;
        int64_t age;
        int64_t freshFor; // 0: the server gave no lifetime
        const char* etag;
        const char* lastModified;
        TRevalidation expected;
    } cases[] = {
        {"just fetched", 0, 0, "\"e\"", date, {false, "", ""}},
        {"one second short of a day", 86399, 0, "\"e\"", "", {false, "", ""}},
        {"a day old", 86400, 0, "\"e\"", date, {true, "\"e\"", date}},
        {"only a date", 90000, 0, "", date, {true, "", date}},
        {"no validators", 90000, 0, "", "", {true, "", ""}},
        {"dated after now (clock set back)", -60, 0, "\"e\"", "", {true, "\"e\"", ""}},
        {"within a ten-minute lifetime", 599, 600, "\"e\"", "", {false, "", ""}},
        {"at the end of a ten-minute lifetime", 600, 600, "\"e\"", "", {true, "\"e\"", ""}},
        {"a week's lifetime outlasts the day", 86400 * 3, 86400 * 7, "\"e\"", "", {false, "", ""}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TCachedDocument cached;
        cached.ETag = c.etag;
        cached.LastModified = c.lastModified;
        cached.FetchedAt = 1'700'000'000;
        cached.FreshUntil = c.freshFor ? cached.FetchedAt + c.freshFor : 0;
        const TRevalidation decision = DecideRevalidation(cached, cached.FetchedAt + c.age);
        EXPECT_EQ(decision.Needed, c.expected.Needed);
        EXPECT_EQ(decision.IfNoneMatch, c.expected.IfNoneMatch);
        EXPECT_EQ(decision.IfModifiedSince, c.expected.IfModifiedSince);
    }
}

TEST(TDocumentCache, LifetimeComesFromMaxAgeThenExpires)
{
    const int64_t now = 1'700'000'000; // Tue, 14 Nov 2023 22:13:20 GMT
    struct TCase {
        const char* cacheControl;
        const char* expires;
        int64_t expected;
    } cases[] = {
        {"", "", 0},
        {"max-age=600", "", now + 600},
        {"public, MAX-AGE = \"60\"", "", now + 60},
        {"max-age=600", "Tue, 14 Nov 2023 23:13:20 GMT", now + 600},
        {"", "Tue, 14 Nov 2023 23:13:20 GMT", now + 3600},
        {"", "Tue, 14 Nov 2023 23:13:20 +0100", now},
        {"", "0", now},
        {"no-cache", "Tue, 14 Nov 2024 23:13:20 GMT", now},
        {"max-age=abc", "", 0},
        {"max-age=99999999999999999999", "", now + 365LL * 86400},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.cacheControl) + " | " + c.expires);
        EXPECT_EQ(FreshUntilOf(c.cacheControl, c.expires, now), c.expected);
    }
}

TEST(TDocumentCache, ConfirmedCopyKeepsItsLifetimeAndClearingFollowsReading)
{
    TLibraryHome home;
    TDocumentCache& cache = home.cache;
    for (const char* url : {"http://h/a", "http://h/b", "http://h/c"})
        ASSERT_TRUE(cache.Store(Document(url, 1000, "text", std::string(url) == "http://h/a" ? 1600 : 0)));
    ASSERT_TRUE(cache.Touch("http://h/a", 5000));
    EXPECT_EQ(cache.Find("http://h/a")->FreshUntil, 5600);
    ASSERT_TRUE(cache.Touch("http://h/b", 5000));
    EXPECT_EQ(cache.Find("http://h/b")->FreshUntil, 0);
    ASSERT_TRUE(cache.MarkRead("http://h/c", 9000));
    EXPECT_EQ(cache.Storage().Documents, 3);
    EXPECT_EQ(cache.Storage().Bytes, 12);

    // a and b were last fetched at 5000, c read at 9000.
    EXPECT_EQ(cache.RemoveUnreadSince(5000), 0);
    EXPECT_EQ(cache.RemoveUnreadSince(5001), 2);
    EXPECT_TRUE(cache.Contains("http://h/c"));
    EXPECT_EQ(cache.RemoveAll(), 1);
    EXPECT_EQ(cache.Storage().Documents, 0);
}

TEST(TDocumentCache, DocumentPastTheLibraryLimitIsNotStored)
{
    TTempDir temp;
    TLibraryDatabase database({temp.File("library.db")});
    TDocumentCache cache(database);
    TCachedDocument huge;
    huge.Url = "http://h/huge.txt";
    huge.Body.assign(size_t(8) * 1024 * 1024 + 1, 'x');
    EXPECT_FALSE(cache.Store(huge));
    EXPECT_FALSE(cache.Contains(huge.Url));
    EXPECT_EQ(database.Fault(), TLibraryFault::lfNone);
}

// The reading position of each document outlives the program, and a damaged value is no position.
TEST(TDocumentCache, KeepsTheReadingLineOfEachDocumentAcrossRuns)
{
    TTempDir temp;
    {
        TLibraryDatabase database({temp.File("library.db")});
        TDocumentCache cache(database);
        EXPECT_EQ(cache.ReadingLine("http://h/rfc2616.txt"), std::nullopt);
        cache.KeepReadingLine("http://h/rfc2616.txt", 120);
        cache.KeepReadingLine("http://h/rfc2616.txt", 4321);
        cache.KeepReadingLine("file:////tmp/rfc822.txt", 0);
        database.WriteMeta("reading-line http://h/bad.txt", "12x");
    }
    TLibraryDatabase database({temp.File("library.db")});
    TDocumentCache cache(database);
    EXPECT_EQ(cache.ReadingLine("http://h/rfc2616.txt"), 4321);
    EXPECT_EQ(cache.ReadingLine("file:////tmp/rfc822.txt"), 0);
    EXPECT_EQ(cache.ReadingLine("http://h/bad.txt"), std::nullopt);
}

namespace {

// The status codes nginx logged, one per request, in order.
std::vector<int> LoggedStatuses(const TRealPeer& nginx)
{
    std::vector<int> statuses;
    std::istringstream log(nginx.AccessLog(4));
    for (std::string line; std::getline(log, line);) {
        const size_t quoteEnd = line.find("\" ", line.find("\"GET "));
        if (quoteEnd != std::string::npos) statuses.push_back(std::stoi(line.substr(quoteEnd + 2, 3)));
    }
    return statuses;
}

void WriteDocument(const std::string& path, const std::string& text, time_t modified)
{
    WriteTextFile(path, text);
    const utimbuf times{modified, modified};
    ::utime(path.c_str(), &times);
}

} // namespace

// Fetched once, then asked about: fresh (no request), 304 (kept), changed (replaced), forced (fetched
// whatever its age), and with the server gone (kept, failure told).
TEST(TDocumentCache, ConditionalRequestsAgainstRealServerKeepOrReplaceTheCopy)
{
    TTempDir root;
    WriteDocument(root.File("rfc2616.txt"), "Hypertext Transfer Protocol -- HTTP/1.1\n", 1'600'000'000);
    std::unique_ptr<TRealPeer> nginx = TRealPeer::Nginx(root.Path());
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx->Port()) + "/rfc2616.txt";
    TTempDir home;
    TLibraryDatabase database({home.File("library.db")});
    TDocumentCache cache(database);
    TFetcher fetcher;
    const TFetchSettings settings;

    const TFetchResult fetched = fetcher.Fetch(settings, {url});
    ASSERT_EQ(fetched.Kind, TFetchKind::Done) << fetched.Failure;
    TCachedDocument first = DocumentFromResponse(fetched, url, 1000);
    first.Number = 2616;
    EXPECT_FALSE(first.ETag.empty());
    EXPECT_EQ(first.LastModified, "Sun, 13 Sep 2020 12:26:40 GMT");
    ASSERT_TRUE(cache.Store(first));

    const TRevalidationResult fresh = Revalidate(fetcher, settings, cache, *cache.Find(url), 1000 + 3600);
    EXPECT_EQ(fresh.Outcome, TRevalidationOutcome::roFresh);

    const int64_t dayLater = 1000 + 86400;
    const TRevalidationResult kept = Revalidate(fetcher, settings, cache, *cache.Find(url), dayLater);
    EXPECT_EQ(kept.Outcome, TRevalidationOutcome::roNotModified) << kept.Failure;
    EXPECT_EQ(kept.Document.Body, "Hypertext Transfer Protocol -- HTTP/1.1\n");
    EXPECT_EQ(cache.Find(url)->FetchedAt, dayLater);
    EXPECT_TRUE(fetcher.Client().Request().CustomHeaders().ValueOf("If-None-Match").empty());

    WriteDocument(root.File("rfc2616.txt"), "Obsoleted text\n", 1'700'000'000);
    const TRevalidationResult replaced = Revalidate(fetcher, settings, cache, *cache.Find(url), dayLater * 2);
    EXPECT_EQ(replaced.Outcome, TRevalidationOutcome::roReplaced) << replaced.Failure;
    const std::optional<TCachedDocument> stored = cache.Find(url);
    EXPECT_EQ(stored->Body, "Obsoleted text\n");
    EXPECT_EQ(stored->LastModified, "Tue, 14 Nov 2023 22:13:20 GMT");
    EXPECT_EQ(stored->Number, 2616);

    const TRevalidationResult forced = Revalidate(fetcher, settings, cache, *stored, stored->FetchedAt, true);
    EXPECT_EQ(forced.Outcome, TRevalidationOutcome::roReplaced) << forced.Failure;
    EXPECT_EQ(LoggedStatuses(*nginx), (std::vector<int>{200, 304, 200, 200}));

    nginx.reset();
    const TRevalidationResult unreachable = Revalidate(fetcher, settings, cache, *cache.Find(url), dayLater * 3, true);
    EXPECT_EQ(unreachable.Outcome, TRevalidationOutcome::roFailed);
    EXPECT_FALSE(unreachable.Failure.empty());
    EXPECT_EQ(unreachable.Document.Body, "Obsoleted text\n");
    EXPECT_TRUE(cache.Contains(url));
}

// A copy a day old asked about again, against a scripted server per row: only a whole 200 of plain text from
// the same server replaces it; the request carries the copy's validator on one line.
TEST(Revalidate, KeepsTheCopyUnlessTheAnswerIsTheWholeDocument)
{
    const std::string longTag = "\"" + std::string(70, 'e') + "\"";
    const char* const old = "old text\n";
    struct TRow {
        const char* file;
        TRevalidationOutcome outcome;
        const char* stored;
        std::string etag = "";
        bool policyRefuses = false;
    } rows[] = {
        {"revalidate_same_server_redirect.txt", TRevalidationOutcome::roReplaced, "moved text\n"},
        {"revalidate_other_server_redirect.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_206.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_200_with_range.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_soft_404.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_empty_200.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_204.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_404.txt", TRevalidationOutcome::roGone, old},
        {"revalidate_400.txt", TRevalidationOutcome::roRejected, old},
        {"revalidate_long_etag.txt", TRevalidationOutcome::roNotModified, old, longTag},
        {"revalidate_redirect_the_policy_refuses.txt", TRevalidationOutcome::roRejected, old, "", true},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.file);
        const TGoldenExchange::TConnections run = TGoldenExchange::Load(std::string("library/") + row.file)
                                                      .Connections(TGoldenExchange::TClientRead::AsHttpRequest);
        TScriptedServer server(run.scripts);
        const std::string port = std::to_string(server.Port());
        TLibraryHome home;
        TDocumentCache& cache = home.cache;
        TCachedDocument cached = Document("http://127.0.0.1:" + port + "/doc.txt", 1000, old);
        cached.Number = 1;
        cached.ETag = row.etag;
        ASSERT_TRUE(cache.Store(cached));
        TFetcher fetcher;
        TFetchSettings settings;
        if (row.policyRefuses) settings.RedirectAllowed = [](std::string_view, std::string_view) { return false; };
        const TRevalidationResult result = Revalidate(fetcher, settings, cache, cached, 1000 + 2 * 86400);
        EXPECT_EQ(result.Outcome, row.outcome) << result.Failure;
        EXPECT_EQ(result.Document.Body, row.stored);
        EXPECT_EQ(cache.Find(cached.Url)->Body, row.stored);
        EXPECT_EQ(cache.Find(cached.Url)->Number, 1);
        fetcher.Client().CloseConnection();
        EXPECT_TRUE(server.WaitDone());
        EXPECT_EQ(server.ReceivedAll(), run.RequestsOn(server.Port()));
    }
}

// The edges the scripted rows leave out: the kind of text the URL names, a length that does not match.
TEST(Revalidate, JudgesTheKindAndCompletenessOfAnAnswer)
{
    struct TRow {
        const char* url;
        int status;
        const char* type;
        int64_t declared, received;
        TAnswerVerdict verdict;
    } rows[] = {
        {"http://h/rfc1.txt", 200, "TEXT/PLAIN ; charset=us-ascii", 5, 5, TAnswerVerdict::avStore},
        {"http://h/rfc1.txt", 200, "", -1, 5, TAnswerVerdict::avStore},
        {"http://h/rfc1.txt", 200, "text/html", 5, 5, TAnswerVerdict::avReject},
        {"http://h/rfc1.html", 200, "text/html; charset=utf-8", 5, 5, TAnswerVerdict::avStore},
        {"http://h/rfc1.html", 200, "application/octet-stream", 5, 5, TAnswerVerdict::avReject},
        {"http://h/rfc1.txt", 200, "text/plain", 6, 5, TAnswerVerdict::avReject},
        {"http://h/rfc1.txt", 410, "", -1, 0, TAnswerVerdict::avGone},
        {"http://h/rfc1.txt", 500, "text/plain", 5, 5, TAnswerVerdict::avReject},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::string(row.url) + " " + std::to_string(row.status) + " " + row.type);
        TRevalidationAnswer answer;
        answer.Status = row.status;
        answer.ContentType = row.type;
        answer.DeclaredLength = row.declared;
        answer.BodyLength = row.received;
        EXPECT_EQ(JudgeRevalidationAnswer(answer, row.url).Verdict, row.verdict);
    }
}

TEST(Revalidate, FollowsARedirectOnlyOnTheSameServer)
{
    struct TRow {
        const char* from;
        const char* to;
        bool follows;
    } rows[] = {
        {"http://h/a.txt", "/b.txt", true},
        {"http://h/a.txt", "b.txt", true},
        {"http://h/a.txt", "//other/a.txt", false},
        {"http://h/a.txt", "http://H/b.txt", true},
        {"http://h/a.txt", "https://h/a.txt", true},
        {"https://h/a.txt", "http://h/a.txt", false},
        {"http://h:8080/a.txt", "http://h:8081/a.txt", false},
        {"http://h/a.txt", "http://other/a.txt", false},
        {"http://h/a.txt", "file:///etc/passwd", false},
    };
    for (const TRow& row : rows) EXPECT_EQ(RedirectStaysOnServer(row.from, row.to), row.follows) << row.to;
}

// The library stays within its size: the documents fetched longest ago go first, never the one just shown.
TEST(TDocumentCache, TrimsTheOldestDocumentsToItsSizeLimit)
{
    struct TRow {
        int64_t limit;
        const char* keep;
        std::vector<std::string> left;
    } rows[] = {
        {30, "c", {"a", "b", "c"}}, {29, "c", {"b", "c"}}, {10, "c", {"c"}}, {10, "a", {"a"}}, {0, "b", {"b"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::to_string(row.limit) + " keep " + row.keep);
        TLibraryHome home;
        TDocumentCache& cache = home.cache;
        // Stored out of order, so the order of removal is the time fetched.
        for (const auto& [url, fetched] : {std::pair{"b", 2}, std::pair{"a", 1}, std::pair{"c", 3}})
            ASSERT_TRUE(cache.Store(Document(url, fetched, std::string(10, 'x'))));
        EXPECT_EQ(cache.TrimToLimit(row.limit, row.keep), int64_t(3 - row.left.size()));
        std::vector<std::string> left;
        for (const char* url : {"a", "b", "c"})
            if (cache.Contains(url)) left.push_back(url);
        EXPECT_EQ(left, row.left);
    }
}
