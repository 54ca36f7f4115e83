#include "net/http/IdURI.h"

#include <gtest/gtest.h>

#include "tests/support/ExpectRaises.h"

namespace {

using testsupport::ExpectRaises;

struct UrlCase {
    const char* url;
    const char* protocol;
    const char* username;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
    const char* resource;
    const char* query;
    const char* fragment;
};

void ExpectFields(const TIdURI& uri, const UrlCase& c)
{
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.Username, c.username);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Resource, c.resource);
    EXPECT_EQ(uri.Query, c.query);
    EXPECT_EQ(uri.Fragment, c.fragment);
}

TEST(TIdURI, SplitsUrlsIntoFields)
{
    const UrlCase cases[] = {
        // url                                    prot    user    pw     host     port    path      resource       query
        // frag
        {"x://host/rfc/rfc2223.txt", "x", "", "", "host", "", "/rfc/", "rfc2223.txt", "", ""},
        {"x://user:pw@host:8080/a/b.cgi?x=1#top", "x", "user", "pw", "host", "8080", "/a/", "b.cgi", "?x=1", "top"},
        {"x://host", "x", "", "", "host", "", "/", "", "", ""},
        {"x://h:81", "x", "", "", "h", "81", "/", "", "", ""},
        // An IPv6 literal keeps its brackets; its colons are not a port's.
        {"x://[::1]:8080/a/b", "x", "", "", "[::1]", "8080", "/a/", "b", "", ""},
        {"x://u@[fe80::1%25lo]/", "x", "u", "", "[fe80::1%25lo]", "", "/", "", "", ""},
        {"x://host/", "x", "", "", "host", "", "/", "", "", ""},
        // A password without a user name is dropped with it.
        {"x://:pw@host/", "x", "", "", "host", "", "/", "", "", ""},
        {"x://user@host/", "x", "user", "", "host", "", "/", "", "", ""},
        // Only the first colon separates user and password.
        {"x://u:p:w@h/", "x", "u", "p:w", "h", "", "/", "", "", ""},
        // An "@" after the first "/" belongs to the path.
        {"x://h/a@b", "x", "", "", "h", "", "/", "a@b", "", ""},
        // The directory ends at the last "/" before the query, not in it.
        {"x://h/a/b?c=/d/e", "x", "", "", "h", "", "/a/", "b", "?c=/d/e", ""},
        // Without "?", the first "=" starts the query.
        {"x://h/cgi/prog=val", "x", "", "", "h", "", "/cgi/", "prog", "=val", ""},
        {"x://h/a/b.html#sec", "x", "", "", "h", "", "/a/", "b.html", "", "sec"},
        {"x://h/a/b.html?q#f#g", "x", "", "", "h", "", "/a/", "b.html", "?q", "f#g"},
        // Without a path the authority runs to the end, query and all.
        {"x://h?q=1", "x", "", "", "h?q=1", "", "/", "", "", ""},
        // Letter case is kept everywhere.
        {"HTTP://Host/Dir/F.TXT", "HTTP", "", "", "Host", "", "/Dir/", "F.TXT", "", ""},
        // Backslashes become slashes before splitting.
        {"x:\\\\host\\dir\\f.txt", "x", "", "", "host", "", "/dir/", "f.txt", "", ""},
        {"x:///path", "x", "", "", "", "", "/", "path", "", ""},
        // Relative references: no "/" is added and no host is looked for.
        {"../x/y.txt", "", "", "", "", "", "../x/", "y.txt", "", ""},
        {"y.txt", "", "", "", "", "", "", "y.txt", "", ""},
        {"a/b.cgi?x=1#f", "", "", "", "", "", "a/", "b.cgi", "?x=1", "f"},
        {"a/b.html#f", "", "", "", "", "", "a/", "b.html#f", "", ""},
        {"", "", "", "", "", "", "", "", "", ""},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url);
        TIdURI uri;
        uri.SetUrl(c.url);
        ExpectFields(uri, c);
    }
}

TEST(TIdURI, KeepsTheUrlTextWithForwardSlashes)
{
    TIdURI uri("x:\\\\host\\dir\\f.txt");
    EXPECT_EQ(uri.UriText, "x://host/dir/f.txt");
}

TEST(TIdURI, SetUrlClearsFieldsOfThePreviousUrl)
{
    TIdURI uri("x://user:pw@host:8080/a/b.cgi?x=1#top");
    uri.SetUrl("../y.txt");
    ExpectFields(uri, {"", "", "", "", "", "", "../", "y.txt", "", ""});
    EXPECT_EQ(uri.UriText, "../y.txt");
}

TEST(TIdURI, ComposesWithAndWithoutUserInfoAndFragment)
{
    TIdURI uri("x://user:pw@host:8080/a/b.cgi?x=1#top");
    EXPECT_EQ(uri.ComposeUrl(false, false), "x://host:8080/a/b.cgi?x=1");
    EXPECT_EQ(uri.ComposeUrl(true, false), "x://user:pw@host:8080/a/b.cgi?x=1");
    EXPECT_EQ(uri.ComposeUrl(false, true), "x://host:8080/a/b.cgi?x=1#top");
    EXPECT_EQ(uri.ComposeUrl(true, true), "x://user:pw@host:8080/a/b.cgi?x=1#top");

    TIdURI userOnly("x://user@h/p");
    EXPECT_EQ(userOnly.ComposeUrl(true, true), "x://user@h/p");

    TIdURI bare("x://h");
    EXPECT_EQ(bare.ComposeUrl(true, true), "x://h/");
}

TEST(TIdURI, ComposeRejectsMissingProtocolOrHost)
{
    struct Case {
        const char* url;
        const char* message;
    } cases[] = {
        {"../x/y.txt", "Protocol field is empty"},
        {"", "Protocol field is empty"},
        {"x:///path", "Host field is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        TIdURI uri(c.url);
        ExpectRaises<EIdURIException>([&] { uri.ComposeUrl(true, true); }, c.message);
    }
    // The exception belongs to the network tree.
    TIdURI empty;
    EXPECT_THROW(empty.RequestUri(), EIdException);
}

TEST(TIdURI, RequestUriRefreshesUriTextAndStripsUserInfoAndFragment)
{
    TIdURI uri("x://user:pw@host:8080/a/b.cgi?x=1#top");
    uri.Host = "other";
    uri.Port.clear();
    EXPECT_EQ(uri.RequestUri(), "x://other/a/b.cgi?x=1");
    EXPECT_EQ(uri.UriText, "x://user:pw@other/a/b.cgi?x=1#top");
}

TEST(TIdURI, SplitAndComposeRoundTrip)
{
    const char* urls[] = {
        "http://example.org/rfc/rfc2616.txt",
        "http://u:p@example.org:8080/cgi-bin/q.cgi?a=1&b=2#frag",
        "https://example.org/dir/",
    };
    for (const char* url : urls) {
        SCOPED_TRACE(url);
        TIdURI uri(url);
        EXPECT_EQ(uri.ComposeUrl(true, true), url);
    }
}

} // namespace
