#include "net/http/IdCookie.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/http/FixedCookieClock.h"
#include "tests/support/ExpectRaises.h"

namespace {

using testsupport::ExpectRaises;

// A cookie read from text, alone in a collection of its own that runs on the fixed clock.
struct TParsedCookie {
    explicit TParsedCookie(const std::string& text) { cookie.ParseCookie(text); }
    TFixedCookieClock clock;
    TIdCookies cookies{clock};
    TIdCookieRFC2109& cookie = *cookies.NewCookie();
};

TEST(TIdCookieRFC2109, ParsesCookieTextIntoFields)
{
    struct Case {
        const char* text;
        const char* name;
        const char* value;
        const char* path;
        const char* domain;
        const char* expires;
        bool secure;
        int64_t maxAge;
        TIdCookieKind kind;
        const char* comment;
        const char* version;
    } cases[] = {
        {"k=v; path=/; domain=.a.b; secure", "k", "v", "/", ".a.b", "", true, -1, ckNetscape, "", ""},
        // Without ";" the text is taken whole, untrimmed.
        {" x=y=z ", " x", "y=z ", "", "", "", false, -1, ckNetscape, "", ""},
        {"novalue; path=/", "", "", "/", "", "", false, -1, ckNetscape, "", ""},
        {"  k = v ;;Path=\"/rfc/\"", "k ", " v", "/rfc/", "", "", false, -1, ckNetscape, "", ""},
        {"k=v; domain=\".a.b\"; SeCuRe", "k", "v", "", "\".a.b\"", "", true, -1, ckNetscape, "", ""},
        {"k=v; secure=1; path = /", "k", "v", "", "", "", false, -1, ckNetscape, "", ""},
        {"k=v; Comment=a=b c; VERSION=1", "k", "v", "", "", "", false, -1, ckNetscape, "a=b c", "1"},
        // max-age alone becomes an expiry date one hour ahead, in the Netscape form.
        {"k=v; max-age=3600", "k", "v", "", "", "Sun, 10 Mar 2024 13:00:00 +0900", false, 3600, ckNetscape, "", ""},
        {"k=v; max-age=0x10", "k", "v", "", "", "Sun, 10 Mar 2024 12:00:16 +0900", false, 16, ckNetscape, "", ""},
        {"k=v; max-age=abc", "k", "v", "", "", "", false, -1, ckNetscape, "", ""},
        {"k=v; max-age=-5", "k", "v", "", "", "", false, -5, ckNetscape, "", ""},
        // An "expires" keeps the RFC 2109 form; max-age replaces what it computed.
        {"k=v; expires=Sun, 10 Mar 2024 05:00:00 GMT", "k", "v", "", "", "Sun, 10 Mar 2024 05:00:00 GMT", false, -1,
         ckRFC2109, "", ""},
        {"k=v; expires=Sun, 10 Mar 2024 05:00:00 GMT; max-age=60", "k", "v", "", "", "Sun, 10 Mar 2024 05:00:00 GMT",
         false, 60, ckRFC2109, "", ""},
        {"k=v; expires=garbage", "k", "v", "", "", "garbage", false, -1, ckRFC2109, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TParsedCookie parsed(c.text);
        const TIdCookieRFC2109& cookie = parsed.cookie;
        EXPECT_EQ(cookie.SourceText, c.text);
        EXPECT_EQ(cookie.CookieName, c.name);
        EXPECT_EQ(cookie.CookieValue, c.value);
        EXPECT_EQ(cookie.CookiePath, c.path);
        EXPECT_EQ(cookie.CookieDomain, c.domain);
        EXPECT_EQ(cookie.ExpiresText(), c.expires);
        EXPECT_EQ(cookie.SecureOnly, c.secure);
        EXPECT_EQ(cookie.MaxAge, c.maxAge);
        EXPECT_EQ(cookie.Kind, c.kind);
        EXPECT_EQ(cookie.CommentText, c.comment);
        EXPECT_EQ(cookie.VersionText, c.version);
    }
}

TEST(TIdCookieRFC2109, ParsingTheSameTextAgainChangesNothing)
{
    TParsedCookie parsed("k=v; path=/");
    parsed.cookie.CookieValue = "changed";
    parsed.cookie.ParseCookie("k=v; path=/");
    EXPECT_EQ(parsed.cookie.CookieValue, "changed");
}

TEST(TIdCookieRFC2109, PutExpiresCountsWholeSecondsTowardZero)
{
    struct Case {
        const char* text;
        int64_t maxAge;
    } cases[] = {
        {"Sun, 10 Mar 2024 04:00:00 GMT", 3599},   // 3599.5 s ahead
        {"Sun, 10 Mar 2024 13:00:00 +0900", 3599}, // the same instant
        {"Sun, 10 Mar 2024 02:00:00 GMT", -3600},  // 3600.5 s past
        {"Sunday, 10-Mar-24 03:00:00 GMT", 0},     // half a second past
        {"garbage", 77},                           // unreadable: unchanged
        {"", 77},
    };
    TFixedCookieClock clock;
    clock.now = kCookieNoon + kSecond / 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TIdCookies cookies(clock);
        TIdCookieRFC2109& cookie = *cookies.NewCookie();
        cookie.MaxAge = 77;
        cookie.PutExpires(c.text);
        EXPECT_EQ(cookie.MaxAge, c.maxAge);
        EXPECT_EQ(cookie.ExpiresText(), c.text);
    }
}

TEST(TIdCookieRFC2109, RebuildsItsText)
{
    struct Case {
        const char* text;
        const char* built;
    } cases[] = {
        {"k=v; secure; domain=.a.b; path=/", "k=v; path=/; domain=.a.b; secure"},
        {"k=; path=/", "path=/"},
        {"k=v; max-age=3600", "k=v; expires=Sun, 10 Mar 2024 13:00:00 +0900"},
        {"k=v; expires=Sun, 10 Mar 2024 05:00:00 GMT; comment=c; version=1", "k=v; comment=c; version=1"},
        {"k=v; path=\"/x/\"", "k=v; path=/x/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TParsedCookie parsed(c.text);
        EXPECT_EQ(parsed.cookie.BuildCookieText(), c.built);
        EXPECT_EQ(parsed.cookie.ServerForm(), c.built);
    }

    TIdCookieRFC2109 bare(nullptr);
    bare.CookieName = "k";
    bare.CookieValue = "v";
    bare.MaxAge = 5;
    EXPECT_EQ(bare.BuildCookieText(), "k=v; max-age=5");
    EXPECT_EQ(bare.ClientForm(), "k=v");
}

TEST(TIdCookieRFC2965, ReadsPortsDiscardAndCommentUrl)
{
    struct Case {
        const char* text;
        std::vector<int32_t> ports;
    } cases[] = {
        {"k=v", {80}},
        {"k=v; Port", {80}},
        {"k=v; port=", {80}},
        {"k=v; Port=\"80,8080\"", {80, 8080}},
        {"k=v; Port=\" 80 , 8080,\"", {80, 8080}},
        {"k=v; Port=\"\"", {80}},
        {"k=v; Port=8080", {}},
        {"k=v; Port=\"8080", {}},
    };
    TFixedCookieClock clock;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TIdCookies cookies(clock);
        TIdCookieRFC2965& cookie = *cookies.NewCookie2();
        cookie.ParseCookie(c.text);
        EXPECT_EQ(cookie.Ports, c.ports);
    }

    TIdCookieRFC2965 cookie(nullptr);
    cookie.ParseCookie("k=v; Discard; CommentURL=http://c/?a=b; version=1");
    EXPECT_TRUE(cookie.Discard);
    EXPECT_EQ(cookie.CommentUrl, "http://c/?a=b");
    EXPECT_EQ(cookie.Kind, ckNetscape);
    EXPECT_EQ(cookie.BuildCookieText(), "k=v; version=1");

    ExpectRaises<EConvertError>([&] { cookie.ParseCookie("k=v; port=\"80,x8\""); }, "'x8' は整数ではありません");
}

TEST(TIdCookieRFC2965, PutPortGrowsByOneAtMost)
{
    TIdCookieRFC2965 cookie(nullptr);
    cookie.PutPort(0, 80);
    cookie.PutPort(1, 81);
    cookie.PutPort(0, 82);
    EXPECT_EQ(cookie.Ports, (std::vector<int32_t>{82, 81}));
    for (int index : {-1, 3}) {
        SCOPED_TRACE(index);
        ExpectRaises<EIdException>([&] { cookie.PutPort(index, 1); }, "Index out of range.");
    }
    EXPECT_EQ(cookie.Ports.size(), 2u);
}

TEST(TIdNetscapeCookie, AcceptsTheHostItselfAndItsOwnDomain)
{
    struct Case {
        const char* host;
        const char* domain;
        bool accepted;
    } cases[] = {
        {"w.a.b", "w.a.b", true},     {"w.a.b", ".a.b", true},   {"w.a.b", "a.b", false},
        {"w.a.b", ".b", false},       {"w.a.b", "W.A.B", false}, {"w.a.b", ".A.B", false},
        {"w.a.b", "\".a.b\"", false}, {"w", "w", true},          {"1.2.3.4", "1.2.3.4", true},
        {"1.2.3.4", ".2.3.4", false}, {".a.b", ".A.B", true},    {".a.b", "a.b", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " / " + c.domain);
        TIdNetscapeCookie cookie(nullptr);
        cookie.CookieDomain = c.domain;
        EXPECT_EQ(cookie.AcceptsHost(c.host), c.accepted);
    }
}

// ---- collection ----------------------------------------------------------------

TEST(TIdCookies, MergesASecondCookieOfTheSameDomainAndNameInPlace)
{
    TFixedCookieClock clock;
    TIdCookies cookies(clock);
    auto file = [&](TIdCookieRFC2109* cookie, const char* text) {
        cookie->ParseCookie(text);
        return cookies.AddToIndex(cookie);
    };
    TIdNetscapeCookie* first = file(cookies.NewCookie(), "a=1; domain=.a.b");
    TIdNetscapeCookie* second = file(cookies.NewCookie(), "b=2; domain=.a.b");
    TIdNetscapeCookie* merged = file(cookies.NewCookie2(), "A=3; domain=.A.B");

    EXPECT_EQ(merged, first);
    EXPECT_EQ(cookies.Count(), 2);
    EXPECT_EQ(first->CookieValue, "3");
    EXPECT_NE(dynamic_cast<TIdCookieRFC2109*>(first), nullptr);
    EXPECT_EQ(dynamic_cast<TIdCookieRFC2965*>(first), nullptr);

    TIdCookieList& index = cookies.LockIndex(caRead);
    ASSERT_EQ(index.Count(), 1);
    EXPECT_EQ(index.Strings(0), ".a.b");
    ASSERT_EQ(index.ListAt(0)->Count(), 2);
    EXPECT_EQ(index.ListAt(0)->CookieAt(0), first);
    EXPECT_EQ(index.ListAt(0)->CookieAt(1), second);
    cookies.UnlockIndex(caRead);

    delete first;
    TIdCookieList& after = cookies.LockIndex(caReadWrite);
    ASSERT_EQ(after.Count(), 1);
    ASSERT_EQ(after.ListAt(0)->Count(), 1);
    EXPECT_EQ(after.ListAt(0)->CookieAt(0), second);
    // The write side may be taken again by its holder.
    delete second;
    EXPECT_EQ(after.Count(), 1); // the domain entry stays, empty
    EXPECT_EQ(after.ListAt(0)->Count(), 0);
    cookies.UnlockIndex(caReadWrite);
    EXPECT_EQ(cookies.Count(), 0);
}

TEST(TIdCookies, ReadersShareTheIndex)
{
    TIdCookies cookies;
    cookies.LockIndex(caRead);
    // Would never finish (and hit the suite's time-out) if readers excluded each other.
    std::async(std::launch::async, [&] {
        cookies.LockIndex(caRead);
        cookies.UnlockIndex(caRead);
    }).get();
    cookies.UnlockIndex(caRead);
}

TEST(TIdCookies, CapsEachDomainAndTheWholeStoreDroppingTheOldest)
{
    TFixedCookieClock clock;
    TIdCookies cookies(clock);
    auto file = [&](int domain, int name) {
        TIdCookieRFC2109* cookie = cookies.NewCookie();
        cookie->ParseCookie("c" + std::to_string(name) + "=v; domain=d" + std::to_string(domain));
        return cookies.AddToIndex(cookie);
    };
    TIdNetscapeCookie* oldest = file(0, 0);
    for (int n = 1; n < 50; ++n) file(0, n);
    EXPECT_EQ(cookies.Count(), 50);
    EXPECT_EQ(cookies.Items(0), oldest);
    file(0, 50);
    EXPECT_EQ(cookies.Count(), 50);
    EXPECT_EQ(cookies.Items(0)->CookieName, "c1");

    for (int d = 1; d < 60; ++d) {
        for (int n = 0; n < 50; ++n) file(d, n);
    }
    EXPECT_EQ(cookies.Count(), 3000);
    file(60, 0);
    EXPECT_EQ(cookies.Count(), 3000);
    EXPECT_EQ(cookies.Items(0)->CookieName, "c2"); // c1 of d0 went first
    EXPECT_EQ(cookies.Items(2999)->CookieDomain, "d60");

    TIdCookieList& index = cookies.LockIndex(caRead);
    int filed = 0;
    for (int d = 0; d < index.Count(); ++d) filed += index.ListAt(d)->Count();
    cookies.UnlockIndex(caRead);
    EXPECT_EQ(filed, 3000);
}

} // namespace
