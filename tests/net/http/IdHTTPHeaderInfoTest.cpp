#include "net/http/IdHTTPHeaderInfo.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "net/http/IdAuthentication.h"
#include "platform/SysUtils.h"
#include "tests/support/ExpectRaises.h"

namespace {

using testsupport::ExpectRaises;

using Lines = std::vector<std::string>;

Lines LinesOf(const TStringList& list) { return Lines(list.begin(), list.end()); }

// Several text fields in one comparison, so a failure shows them all.
std::string Joined(const Lines& fields)
{
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) text += (i > 0 ? "|" : "") + fields[i];
    return text;
}

template <typename Record>
void ParseLines(Record& record, const Lines& lines)
{
    record.HeaderLines().Clear();
    for (const std::string& line : lines) record.HeaderLines().Add(line);
    record.FieldsFromLines();
}

const char* const kAgent = "User-Agent: Mozilla/3.0 (compatible; Scrivlet)";
const char* const kAladdin = "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==";

TEST(TIdRequestHeaderInfo, ComposesTheProgramsRequest)
{
    TIdRequestHeaderInfo request;
    TIdProxyConnectionInfo proxy;
    request.SetHost("127.0.0.1:8080");
    request.LinesFromFields();
    proxy.LinesFromFields(request.HeaderLines());
    EXPECT_EQ(request.HeaderLines().Text(), std::string("Content-Type: text/html\r\nHost: 127.0.0.1:8080\r\n") +
                                                "Accept: text/html, */*\r\n" + kAgent + "\r\n");
}

TEST(TIdRequestHeaderInfo, ComposesEveryFieldInItsOrder)
{
    TIdRequestHeaderInfo r;
    r.SetConnection("keep-alive"), r.SetContentVersion("1"), r.SetContentEncoding("gzip");
    r.SetContentLanguage("ja"), r.SetContentType("text/plain"), r.SetContentLength(42), r.SetCacheControl("cc");
    r.SetDate(34644.5), r.SetExpires(34645.25), r.SetPragma("no-cache"), r.SetProxyConnection("keep-alive");
    r.SetHost("h"), r.SetAccept("*/*"), r.SetAcceptCharSet("utf-8"), r.SetAcceptEncoding("identity");
    r.SetAcceptLanguage("en"), r.SetFrom("me@h"), r.SetReferer("http://h/"), r.SetLastModified(34600.0);
    r.SetContentRangeStart(1), r.SetContentRangeEnd(2), r.SetBasicAuthentication(true);
    r.SetUsername("Aladdin"), r.SetPassword("open sesame");
    const Lines expected{"Connection: keep-alive",
                         "Content-Version: 1",
                         "Content-Encoding: gzip",
                         "Content-Language: ja",
                         "Content-Type: text/plain",
                         "Content-Length: 42",
                         "Cache-control: cc",
                         "Date: " + LocalToInternetDate(34644.5),
                         "Expires: " + LocalToInternetDate(34645.25),
                         "Pragma: no-cache",
                         "Proxy-Connection: keep-alive",
                         "Host: h",
                         "Accept: */*",
                         "Accept-Charset: utf-8",
                         "Accept-Encoding: identity",
                         "Accept-Language: en",
                         "From: me@h",
                         "Referer: http://h/",
                         kAgent,
                         "If-Modified-Since: " + LocalToInternetDate(34600.0),
                         "Range: bytes=1-2",
                         std::string("Authorization: ") + kAladdin};
    r.LinesFromFields();
    EXPECT_EQ(LinesOf(r.HeaderLines()), expected);
    // Composing again starts from an empty list and keeps the Basic object.
    TIdAuthentication* kept = r.Authentication();
    ASSERT_NE(kept, nullptr);
    r.LinesFromFields();
    EXPECT_EQ(LinesOf(r.HeaderLines()), expected);
    EXPECT_EQ(r.Authentication(), kept);
}

TEST(TIdRequestHeaderInfo, ComposesRangesAndCustomHeaders)
{
    struct Case {
        uint32_t start, end;
        const char* accept;
        Lines custom;
        Lines expected;
    };
    const Case cases[] = {
        {0, 499, "", {}, {"Content-Type: text/html", "Host: h", kAgent, "Range: bytes=0-499"}},
        {500, 0, "", {}, {"Content-Type: text/html", "Host: h", kAgent, "Range: bytes=500-"}},
        {4294967295u, 1, "", {}, {"Content-Type: text/html", "Host: h", kAgent, "Range: bytes=4294967295-1"}},
        // Custom lines follow the entity lines, continuations and all.
        {0, 0, "", {"X-Folded: a", " b"}, {"Content-Type: text/html", "X-Folded: a", " b", "Host: h", kAgent}},
        {0, 0, "", {"accept: x/y"}, {"Content-Type: text/html", "accept: x/y", "Host: h", kAgent}},
        // A field of the record replaces its custom line in place.
        {0,
         0,
         "*/*",
         {"accept: x/y", "X-C: 1"},
         {"Content-Type: text/html", "Accept: */*", "X-C: 1", "Host: h", kAgent}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected[1]);
        TIdRequestHeaderInfo request;
        request.SetHost("h");
        request.SetAccept(c.accept);
        request.SetContentRangeStart(c.start);
        request.SetContentRangeEnd(c.end);
        for (const std::string& line : c.custom) request.CustomHeaders().Add(line);
        request.LinesFromFields();
        EXPECT_EQ(LinesOf(request.HeaderLines()), c.expected);
        EXPECT_EQ(LinesOf(request.CustomHeaders()), c.custom);
    }
}

TEST(TIdRequestHeaderInfo, ParsesARequestsRange)
{
    TIdRequestHeaderInfo request;
    ParseLines(request, {"Host: h", "accept: a/b", "Range: bytes=10-20"});
    EXPECT_EQ(Joined({request.Host(), request.Accept(), request.UserAgent()}), "h|a/b|");
    EXPECT_EQ(request.ContentRangeStart(), 10u);
    EXPECT_EQ(request.ContentRangeEnd(), 20u);
    ParseLines(request, {"Range: bytes=x-"});
    EXPECT_EQ(request.ContentRangeStart(), 0u);
    EXPECT_EQ(request.ContentRangeEnd(), 0u);
}

TEST(TIdResponseHeaderInfo, ReadsTheFirstLineOfEachNameInAnyCase)
{
    TIdResponseHeaderInfo response;
    ParseLines(response,
               {"location: /a", "Location: /b", "Server: s", "Proxy-Connection: close", "content-type: t/p",
                "WWW-Authenticate: Foo x", "www-authenticate: Basic realm=\"r\"", "Proxy-Authenticate: Basic",
                "Pragma: p", "Date: Sun, 06 Nov 1994 08:49:37 GMT", "Last-Modified: Sat, 05 Nov 1994 08:49:37 GMT"});
    EXPECT_EQ(Joined({response.Location(), response.Server(), response.ProxyConnection(), response.ContentType(),
                      response.Pragma()}),
              "/a|s|close|t/p|p");
    EXPECT_EQ(LinesOf(response.WWWAuthenticate()), (Lines{"Foo x", "Basic realm=\"r\""}));
    EXPECT_EQ(LinesOf(response.ProxyAuthenticate()), Lines{"Basic"});
    EXPECT_DOUBLE_EQ(response.Date(), InternetDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_DOUBLE_EQ(response.LastModified() + 1, response.Date());
    // A second parse replaces everything, the challenges too.
    ParseLines(response, {"Content-Length: 1"});
    EXPECT_EQ(response.WWWAuthenticate().Count(), 0);
    EXPECT_EQ(Joined({response.Location(), response.ContentType()}), "|");
}

TEST(TIdResponseHeaderInfo, ReadsLengthAndRangeWithoutRaising)
{
    struct Case {
        const char* line;
        int32_t length;
        uint32_t start, end;
    };
    const Case cases[] = {
        {"Content-Length:   42  ", 42, 0, 0},
        {"Content-Length: 0", 0, 0, 0},
        {"Content-Length: forty", -1, 0, 0},
        {"Content-Length: -5", -5, 0, 0},
        {"Content-Length: 99999999999", -1, 0, 0},
        {"Content-Range: bytes 500-999/1234", -1, 500, 999},
        {"Content-Range: bytes 100-200", -1, 100, 200},
        // Malformed ranges give 0 and 0 instead of failing the document.
        {"Content-Range: bytes x-499/1234", -1, 0, 0},
        {"Content-Range: bytes 5-y/10", -1, 0, 0},
        {"Content-Range: bytes */1234", -1, 0, 0},
        {"Content-Range: bytes 1--2/3", -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        TIdResponseHeaderInfo response;
        response.SetContentRangeStart(7);
        response.SetContentRangeEnd(7);
        response.ClearFields();
        EXPECT_NO_THROW(ParseLines(response, {c.line}));
        EXPECT_EQ(response.ContentLength(), c.length);
        EXPECT_EQ(response.ContentLengthGiven(), c.length >= 0);
        EXPECT_EQ(response.ContentRangeStart(), c.start);
        EXPECT_EQ(response.ContentRangeEnd(), c.end);
    }
}

TEST(TIdResponseHeaderInfo, TakesAWholeNumberExpiresAsSecondsFromNow)
{
    const auto now = [] { return 25569.0 + double(std::time(nullptr)) / 86400 + LocalUtcOffset(); };
    // Numbers outside one day must neither fail nor wrap into a time of day.
    for (const int seconds : {0, 3600, 86399, 86400, 604800, -60, -86400}) {
        SCOPED_TRACE(seconds);
        TIdResponseHeaderInfo response;
        const TDateTime before = now();
        EXPECT_NO_THROW(ParseLines(response, {"Expires: " + std::to_string(seconds)}));
        const TDateTime after = now();
        const double slack = 1.5 / 86400; // the clock reads whole seconds
        EXPECT_GE(response.Expires(), before + seconds / 86400.0 - slack);
        EXPECT_LE(response.Expires(), after + seconds / 86400.0 + slack);
    }
    // -1 and date texts are read as dates.
    for (const char* value : {"-1", "Sun, 06 Nov 1994 08:49:37 GMT", "soon"}) {
        SCOPED_TRACE(value);
        TIdResponseHeaderInfo response;
        ParseLines(response, {std::string("Expires: ") + value});
        EXPECT_DOUBLE_EQ(response.Expires(), InternetDateToLocal(value));
    }
}

TEST(TIdEntityHeaderInfo, ClearFieldsKeepsCacheHintsAndTheLengthFlag)
{
    TIdRequestHeaderInfo request;
    EXPECT_FALSE(request.ContentLengthGiven());
    request.SetContentLength(0);
    request.SetCacheControl("cc"), request.SetPragma("p"), request.CustomHeaders().Add("X: 1");
    request.SetContentType("a/b"), request.SetAccept("x"), request.SetBasicAuthentication(true);
    request.SetHost("h"), request.SetUsername("u");
    request.ClearFields();
    EXPECT_EQ(request.ContentLength(), -1);
    EXPECT_TRUE(request.ContentLengthGiven());
    EXPECT_EQ(Joined({request.CacheControl(), request.Pragma(), request.CustomHeaders()[0]}), "cc|p|X: 1");
    EXPECT_EQ(Joined({request.ContentType(), request.Accept(), request.Host(), request.Username()}),
              "text/html|text/html, */*|h|u");
    EXPECT_FALSE(request.BasicAuthentication());

    TIdResponseHeaderInfo response;
    response.SetProxyConnection("close");
    response.WWWAuthenticate().Add("Basic");
    response.ClearFields();
    EXPECT_EQ(response.ProxyConnection(), "close");
    EXPECT_EQ(response.WWWAuthenticate().Count(), 0);
}

TEST(TIdEntityHeaderInfo, AssignCopiesByTheRecordsRules)
{
    TIdRequestHeaderInfo source;
    source.HeaderLines().Add("A: 1");
    source.SetContentType("t"), source.SetContentLength(9), source.SetDate(2.5), source.SetConnection("c");
    source.SetAccept("acc"), source.SetUsername("u"), source.SetBasicAuthentication(true), source.SetHost("h");

    TIdRequestHeaderInfo request;
    request.Assign(source);
    EXPECT_EQ(Joined({request.Accept(), request.Username(), request.Host()}), "acc|u|");
    EXPECT_TRUE(request.BasicAuthentication());
    EXPECT_EQ(request.ContentType(), "text/html");
    EXPECT_EQ(request.HeaderLines().Count(), 0);

    TIdResponseHeaderInfo response;
    response.Assign(source);
    EXPECT_EQ(LinesOf(response.HeaderLines()), Lines{"A: 1"});
    EXPECT_EQ(Joined({response.ContentType(), response.Connection()}), "t|");
    EXPECT_EQ(response.ContentLength(), 9);
    EXPECT_FALSE(response.ContentLengthGiven());
    EXPECT_EQ(response.Date(), 2.5);

    TIdProxyConnectionInfo proxy;
    ExpectRaises<EConvertError>([&] { proxy.Assign(source); },
                                "Cannot assign a TIdRequestHeaderInfo to a TIdProxyConnectionInfo");
    EXPECT_THROW(response.Assign(proxy), EConvertError);
}

TEST(TIdProxyConnectionInfo, AuthorizesEveryRequestAndForgetsOnAnotherProxy)
{
    TIdProxyConnectionInfo proxy;
    proxy.SetProxyServer("Proxy.Example"), proxy.SetProxyPort(3128);
    proxy.SetProxyUsername("Aladdin"), proxy.SetProxyPassword("open sesame");
    TIdHeaderList lines;
    proxy.LinesFromFields(lines);
    EXPECT_EQ(lines.Count(), 0);

    proxy.SetBasicAuthentication(true);
    lines.Add("Proxy-Authorization: stale");
    proxy.LinesFromFields(lines);
    EXPECT_EQ(LinesOf(lines), Lines{std::string("Proxy-Authorization: ") + kAladdin});
    proxy.SetProxyServer("proxy.example"), proxy.SetProxyPort(3128);
    EXPECT_NE(proxy.Authentication(), nullptr);
    proxy.SetProxyServer("other");
    EXPECT_EQ(proxy.Authentication(), nullptr);
    proxy.LinesFromFields(lines);
    proxy.SetProxyPort(8080);
    EXPECT_EQ(proxy.Authentication(), nullptr);

    TIdProxyConnectionInfo copy;
    copy.Assign(proxy);
    EXPECT_EQ(
        Joined({copy.ProxyServer(), std::to_string(copy.ProxyPort()), copy.ProxyUsername(), copy.ProxyPassword()}),
        "other|8080|Aladdin|open sesame");
    EXPECT_TRUE(copy.BasicAuthentication());
}

} // namespace
