#include "net/http/IdCookieManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/net/http/FixedCookieClock.h"

namespace {

struct TSetCookie {
    const char* host;
    const char* value;
    bool version2 = false;
};

// Stores the given header values (as received from their hosts) and returns
// the Cookie header for url.
struct TCookieJar {
    TFixedCookieClock clock;
    TIdCookieManager manager{nullptr, nullptr, clock};

    void Store(const std::vector<TSetCookie>& cookies)
    {
        for (const TSetCookie& c : cookies) {
            if (c.version2) {
                manager.AddServerCookie2(c.value, c.host);
            } else {
                manager.AddServerCookie(c.value, c.host);
            }
        }
    }
    std::string HeaderFor(const std::string& url, bool tls = false) { return manager.CookieHeaderFor(url, tls); }
    int Count() const { return manager.CookieCollection()->Count(); }
};

TEST(TIdCookieManager, SendsADomainsCookiesOnlyToItsOwnHosts)
{
    struct Case {
        const char* host;
        const char* header;
    } cases[] = {
        {"a.example", "host=1"},
        {"A.Example", "host=1"},
        {"w.a.example", "dot=2"},
        {"x.y.a.example", "dot=2"},
        {"W.A.EXAMPLE", "dot=2"},
        {"a.example.evil.test", ""},
        {"w.a.example.evil.test", ""},
        {"xa.example", ""},
        {"evil-a.example", ""},
        {"example", ""},
        {"b.example", ""},
    };
    TCookieJar jar;
    jar.Store({{"a.example", "host=1; path=/"}, {"w.a.example", "dot=2; path=/; domain=.a.example"}});
    ASSERT_EQ(jar.Count(), 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(jar.HeaderFor(std::string("http://") + c.host + "/rfc/x.txt"), c.header);
    }
}

TEST(TIdCookieManager, BuildsTheCookieHeader)
{
    struct Case {
        const char* name;
        std::vector<TSetCookie> stored;
        const char* url;
        bool tls;
        const char* header;
    } cases[] = {
        {"domain attribute", {{"w.a.b", "k=v; path=/; domain=.a.b"}}, "http://w.a.b/rfc/", false, "k=v"},
        {"no path is never sent", {{"w.a.b", "k=v; domain=.a.b"}}, "http://w.a.b/rfc/", false, ""},
        {"path must start the URL's path", {{"w.a.b", "k=v; path=/rfc/"}}, "http://w.a.b/doc/rfc/", false, ""},
        {"path compared with its case", {{"w.a.b", "k=v; path=/RFC/"}}, "http://w.a.b/rfc/", false, ""},
        {"empty value never sent", {{"w.a.b", "k=; path=/"}, {"w.a.b", "j=1; path=/"}}, "http://w.a.b/", false, "j=1"},
        {"secure without TLS", {{"w.a.b", "k=v; path=/; secure"}}, "http://w.a.b/", false, ""},
        {"secure with TLS", {{"w.a.b", "k=v; path=/; secure"}}, "https://w.a.b/", true, "k=v"},
        {"longest path first",
         {{"w.a.b", "a=1; path=/"}, {"w.a.b", "b=2; path=/rfc/"}},
         "http://w.a.b/rfc/x",
         false,
         "b=2; a=1"},
        // Equal paths: domains in index order, each domain's cookies newest first.
        {"equal paths",
         {{"w.a.b", "x=1; path=/; domain=.a.b"}, {"w.a.b", "y=2; path=/; domain=.a.b"}, {"w.a.b", "z=3; path=/"}},
         "http://w.a.b/",
         false,
         "y=2; x=1; z=3"},
        {"replaced value", {{"w.a.b", "k=old; path=/"}, {"w.a.b", "k=new; path=/"}}, "http://w.a.b/", false, "k=new"},
        {"domain a.b from w.a.b refused, stored one kept",
         {{"a.b", "k=old; path=/"}, {"w.a.b", "k=new; path=/; domain=a.b"}},
         "http://a.b/",
         false,
         "k=old"},
        {"Set-cookie2 ports",
         {{"w.a.b", "k=v; path=/; port=\"80,8080\"; version=1", true}},
         "http://w.a.b/",
         false,
         "k=v"},
        // A bad port drops its own cookie only.
        {"Set-cookie2 bad port",
         {{"w.a.b", "a=1; path=/", true},
          {"w.a.b", "b=2; path=/; port=\"80,http\"", true},
          {"w.a.b", "c=3; path=/", true}},
         "http://w.a.b/",
         false,
         "c=3; a=1"},
        {"unreadable expiry never expires", {{"w.a.b", "k=v; path=/; expires=soon"}}, "http://w.a.b/", false, "k=v"},
        {"expiry in the past",
         {{"w.a.b", "k=v; path=/; expires=Sun, 10 Mar 2024 02:59:59 GMT"}},
         "http://w.a.b/",
         false,
         ""},
        {"expiry ahead",
         {{"w.a.b", "k=v; path=/; expires=Sun, 10 Mar 2024 03:00:01 GMT"}},
         "http://w.a.b/",
         false,
         "k=v"},
        {"max-age 0", {{"w.a.b", "k=v; path=/; max-age=0"}}, "http://w.a.b/", false, "k=v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCookieJar jar;
        jar.Store(c.stored);
        EXPECT_EQ(jar.HeaderFor(c.url, c.tls), c.header);
    }
}

TEST(TIdCookieManager, DropsWhatCannotBeStoredWithoutRaising)
{
    TCookieJar jar;
    EXPECT_EQ(jar.manager.AddServerCookie2("b=2; path=/; Port=\"80,x\"", "w.a.b"), nullptr);
    EXPECT_EQ(jar.manager.AddServerCookie("k=v; domain=a.b", "w.a.b"), nullptr);
    EXPECT_EQ(jar.manager.AddServerCookie("k=v; domain=.example", "w.a.b"), nullptr);

    std::string big = "k=" + std::string(4094, 'x');
    EXPECT_NE(jar.manager.AddServerCookie(big, "w.a.b"), nullptr); // 4,096 bytes
    EXPECT_EQ(jar.manager.AddServerCookie(big + "x", "w.a.b"), nullptr);
    // A control byte anywhere refuses the cookie whole; a tab is the one allowed.
    for (const std::string& text : {std::string("n=a\0b", 5), std::string("n=a\x01z"), std::string("n=a\x7fz"),
                                    std::string("n\x1f=ab"), std::string("n=ab; path=/\x01")}) {
        EXPECT_EQ(jar.manager.AddServerCookie(text, "w.a.b"), nullptr);
    }
    EXPECT_NE(jar.manager.AddServerCookie("t=a\tb", "w.a.b"), nullptr);
    EXPECT_EQ(jar.Count(), 2);
}

TEST(TIdCookieManager, OnNewCookieMayRefuse)
{
    TCookieJar jar;
    std::vector<std::string> seen;
    jar.manager.OnNewCookie = [&](TIdCookieManager* sender, TIdNetscapeCookie* cookie, bool& accept) {
        EXPECT_EQ(sender, &jar.manager);
        EXPECT_TRUE(accept);
        seen.push_back(cookie->CookieName);
        accept = cookie->CookieName != "no";
    };
    EXPECT_EQ(jar.manager.AddServerCookie("no=1; path=/", "w.a.b"), nullptr);
    EXPECT_NE(jar.manager.AddServerCookie("yes=1; path=/", "w.a.b"), nullptr);
    // A cookie the host may not set never reaches the handler.
    EXPECT_EQ(jar.manager.AddServerCookie("foreign=1; domain=.c.d", "w.a.b"), nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"no", "yes"}));
    EXPECT_EQ(jar.HeaderFor("http://w.a.b/"), "yes=1");
    EXPECT_EQ(jar.Count(), 1);
}

TEST(TIdCookieManager, ExpiredCookiesGoAtTheNextRequest)
{
    TCookieJar jar;
    jar.Store({{"w.a.b", "gone=1; path=/; expires=Sun, 10 Mar 2024 02:00:00 GMT"},
               {"w.a.b", "hour=2; path=/; max-age=3600"},
               {"w.a.b", "zero=3; path=/; max-age=0"}});
    EXPECT_EQ(jar.Count(), 3);
    EXPECT_EQ(jar.HeaderFor("http://w.a.b/"), "zero=3; hour=2");
    EXPECT_EQ(jar.Count(), 2);

    jar.clock.now += kSecond;
    EXPECT_EQ(jar.HeaderFor("http://w.a.b/"), "hour=2");
    jar.clock.now += 3600 * kSecond;
    EXPECT_EQ(jar.HeaderFor("http://w.a.b/"), "");
    EXPECT_EQ(jar.Count(), 0);
}

TEST(TIdCookieManager, AReplacingCookieBringsItsExpiry)
{
    struct Case {
        const char* replacing;
        TDateTime later; // time after which the stored cookie must be gone
    } cases[] = {
        {"k=new; path=/; expires=Sun, 10 Mar 2024 04:00:00 GMT", 3600 * kSecond},
        {"k=new; path=/; max-age=0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.replacing);
        TCookieJar jar;
        jar.Store({{"w.a.b", "k=old; path=/"}, {"w.a.b", c.replacing}});
        EXPECT_EQ(jar.HeaderFor("http://w.a.b/"), "k=new");
        jar.clock.now += c.later + kSecond;
        EXPECT_EQ(jar.HeaderFor("http://w.a.b/"), "");
        EXPECT_EQ(jar.Count(), 0);
    }
}

TEST(TIdCookieManager, ReportsCreationAndReleaseAfterRemovingTheExpired)
{
    TFixedCookieClock clock;
    TIdCookies* created = nullptr;
    int countAtDestroy = -1;
    auto* manager = new TIdCookieManager(
        nullptr, [&](TIdCookieManager*, TIdCookies* cookies) { created = cookies; }, clock);
    EXPECT_EQ(created, manager->CookieCollection());
    manager->OnDestroy = [&](TIdCookieManager*, TIdCookies* cookies) { countAtDestroy = cookies->Count(); };
    manager->AddServerCookie("a=1; path=/; max-age=60", "w.a.b");
    manager->AddServerCookie("b=1; path=/; max-age=120", "w.a.b");
    manager->AddServerCookie("c=1; path=/; expires=bogus", "w.a.b");
    clock.now += 90 * kSecond;
    delete manager;
    EXPECT_EQ(countAtDestroy, 2);
}

TEST(TIdCookieManager, NothingRaisesWhenTheZoneCannotBeTold)
{
    struct TBrokenClock : TFixedCookieClock {
        TDateTime LocalUtcOffset() const override
        {
            if (broken) throw EIdFailedToRetreiveTimeZoneInfo();
            return kPlus9;
        }
        bool broken = false;
    } clock;
    auto* manager = new TIdCookieManager(nullptr, nullptr, clock);
    manager->AddServerCookie("k=v; path=/; expires=Sun, 10 Mar 2024 02:00:00 GMT", "w.a.b");
    clock.broken = true;
    EXPECT_EQ(manager->CookieHeaderFor("http://w.a.b/", false), "k=v");
    delete manager;
}

} // namespace
