#include <gtest/gtest.h>

#include "net/http/IdHTTPRules.h"
#include "tests/support/ExpectRaises.h"

namespace {

TEST(IdHTTPRules, StatusCodeIsTheSecondWordOrMinusOne)
{
    const struct {
        const char* line;
        int32_t code;
    } rows[] = {
        {"HTTP/1.1 404 Not Found", 404},
        {"HTTP/1.0 200", 200},
        {"HTTP/1.1   301   Moved", 301},
        {"HTTP/1.1 $1F x", -1},
        {"HTTP/1.1 +200 OK", -1},
        {"HTTP/1.1 0x1 OK", -1},
        {"HTTP/1.1 OK", -1},
        {"HTTP/1.1", -1},
        {"", -1},
        {"HTTP/1.1 20x0 OK", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(StatusCodeOf(row.line), row.code);
    }
}

TEST(IdHTTPRules, KeepAliveFollowsTheClientsOwnVersion)
{
    const struct {
        TIdHTTPProtocolVersion version;
        const char* connection;
        const char* proxyConnection;
        bool keep;
    } rows[] = {
        {pv1_1, "", "", true},
        {pv1_1, " cLoSe ", "", false},
        {pv1_1, "", "close", false},
        {pv1_1, "keep-alive", "", true},
        {pv1_0, "", "", false},
        {pv1_0, "Keep-Alive", "", true},
        {pv1_0, "", " keep-alive\t", true},
        {pv1_0, "close", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.connection) + "|" + row.proxyConnection);
        EXPECT_EQ(KeepAliveAllowed(row.version, row.connection, row.proxyConnection), row.keep);
    }
}

TEST(IdHTTPRules, MergeResolvesAgainstThePreviousRequest)
{
    const struct {
        const char* previous; // "" for a fresh client (port 80 as its constructor sets)
        const char* url;
        const char* expected; // protocol host port path resource query
    } rows[] = {
        {"", "http://h/a/b.txt?x#frag", "http h 80 /a/ b.txt ?x"},
        {"http://h:8080/a/b.txt", "/rfc/rfc822.txt", "http h 8080 /rfc/ rfc822.txt "},
        {"http://h:8080/a/b.txt", "c.txt", "http h 8080 /a/ c.txt "},
        {"http://h:8080/a/b.txt", "../c.txt", "http h 8080 / c.txt "},
        {"http://h/a/", "https://g/x", "https g 443 / x "},
        {"https://g/x", "http://h/y", "http h 80 / y "},
        {"http://h:8080/", "https://g/x", "https g 8080 / x "},
        {"http://h/", "HTTP://g:81/", "HTTP g 81 /  "},
        {"http://h/", "ftp://g:21/x", "ftp g 21 / x "},
        {"http://h/", "/a b/\xE3\x81\x82.txt", "http h 80 /a b/ \xE3\x81\x82.txt "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.previous) + " + " + row.url);
        TIdURI current;
        current.Port = "80";
        if (*row.previous) MergeRequestUri(current, TIdURI(row.previous));
        MergeRequestUri(current, TIdURI(row.url));
        EXPECT_EQ(current.Protocol + " " + current.Host + " " + current.Port + " " + current.Path + " " +
                      current.Resource + " " + current.Query,
                  row.expected);
    }
}

TEST(IdHTTPRules, ActionAfterAResponse)
{
    using A = TIdHTTPAction;
    const struct {
        const char* name;
        TIdHTTPResponseFacts facts; // code, location, follow, passes, maximum, tries, retries
        TIdHTTPAction action;
    } rows[] = {
        {"200", {200, false, false, 1, 15, 0, 3}, A::Done},
        {"204", {204, false, false, 1, 15, 0, 3}, A::Done},
        {"302 followed", {302, true, true, 1, 15, 0, 3}, A::Redirect},
        {"302 at the last pass", {302, true, true, 14, 15, 0, 3}, A::Redirect},
        {"302 past the limit", {302, true, true, 15, 15, 0, 3}, A::TooManyRedirects},
        {"302 not followed", {302, true, false, 1, 15, 0, 3}, A::AskRedirect},
        {"200 with Location", {200, true, true, 1, 15, 0, 3}, A::Redirect},
        {"304", {304, false, true, 1, 15, 0, 3}, A::Fail},
        {"401 with tries left", {401, false, false, 1, 15, 2, 3}, A::AnswerServerChallenge},
        {"401 out of tries", {401, false, false, 1, 15, 3, 3}, A::Fail},
        {"407 with tries left", {407, false, false, 1, 15, 0, 3}, A::AnswerProxyChallenge},
        {"404", {404, false, false, 1, 15, 0, 3}, A::Fail},
        {"101", {101, false, false, 1, 15, 0, 3}, A::Fail},
        {"no code", {-1, false, false, 1, 15, 0, 3}, A::Fail},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DecideAfterResponse(row.facts), row.action);
    }
}

TEST(IdHTTPRules, RedirectTargets)
{
    const struct {
        const char* from;
        const char* location;
        const char* refusal;
    } rows[] = {
        {"http", "/relative/path", ""},
        {"http", "other.txt", ""},
        {"http", "//host/x", ""},
        {"http", "/a:b", ""},
        {"http", "HTTPS://host/x", ""},
        {"https", "https://host/x", ""},
        {"https", "http://host/x", "Redirect from https to http refused: http://host/x"},
        {"http", "file:///etc/passwd",
         "Redirect to a location that is neither http nor https refused: file:///etc/passwd"},
        {"http", "javascript:alert(1)",
         "Redirect to a location that is neither http nor https refused: javascript:alert(1)"},
        {"https", "gopher://h/", "Redirect to a location that is neither http nor https refused: gopher://h/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.location);
        EXPECT_EQ(RedirectRefusal(row.from, row.location), row.refusal);
    }
}

TEST(IdHTTPRules, RedirectReferenceResolvesAgainstTheUrlItCameFrom)
{
    TIdURI base;
    base.Port = "80";
    MergeRequestUri(base, TIdURI("https://h/a/b.txt?x#top"));
    const struct {
        const char* reference;
        const char* resolved;
    } rows[] = {
        // A relative reference from https used to become an http URL (on port 80 from 443).
        {"/next", "https://h:443/next"},
        {"next.txt", "https://h:443/a/next.txt"},
        {"../up.txt", "https://h:443/up.txt"},
        {"?y=1", "https://h:443/a/b.txt?y=1"},
        {"#frag", "https://h:443/a/b.txt?x"},
        {"//g/x", "https://g/x"},
        {"http://g:81/x", "http://g:81/x"},
        // The window's policy read the host after the last "@"; the connection went to [::1]:81.
        {"http://[::1]:81\\@127.0.0.1:82/x", "http://[::1]:81/@127.0.0.1:82/x"},
        {"http://u:p@g/x", "http://u:p@g/x"},
        {"javascript:alert(1)", "javascript:alert(1)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reference);
        const std::string resolved = ResolveReference(base, row.reference);
        EXPECT_EQ(resolved, row.resolved);
        // The connection reads the same URL back.
        if (resolved.find("://") != std::string::npos) {
            EXPECT_EQ(TIdURI(resolved).ComposeUrl(true, false), resolved);
        }
    }
}

TEST(IdHTTPRules, HostWithAControlByteOrBlankIsRefused)
{
    EXPECT_TRUE(HostIsClean("a.example"));
    EXPECT_TRUE(HostIsClean("[::1]"));
    for (const char* host : {"a.example\rX-Injected: yes", "a b", "a\tb", "a\x7F", "a\nb"}) {
        SCOPED_TRACE(host);
        EXPECT_FALSE(HostIsClean(host));
    }
}

TEST(IdHTTPRules, RequestTargetIsPercentEncoded)
{
    EXPECT_EQ(EncodeRequestTarget("/rfc/rfc822.txt?a=1&b=%41"), "/rfc/rfc822.txt?a=1&b=%41");
    EXPECT_EQ(EncodeRequestTarget("/a b/\xE3\x81\x82\t\"<>\\^`{|}\x7F"),
              "/a%20b/%E3%81%82%09%22%3C%3E%5C%5E%60%7B%7C%7D%7F");
}

} // namespace
