// Feeds a sequence of "Set-cookie" and "Set-cookie2" values from a few hosts
// to a cookie manager, moving its clock now and then, and asks for the Cookie
// header of every host. Nothing may raise, the store stays within its bounds,
// the domain index and the collection agree, and hosts that no stored
// domain can serve get nothing.
//
// Input: lines. The first byte of a line picks the host (low 3 bits), the
// header (bit 3: Set-cookie2) and whether the clock moves an hour first
// (bit 4); the rest of the line is the header value.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdCookieManager.h"
#include "tests/net/http/FixedCookieClock.h"

namespace {

const char* const kHosts[] = {"a.example", "w.a.example", "x.w.a.example", "b.example",
                              "1.2.3.4",   "W.A.Example", "example",       "h"};
// No cookie domain that the hosts above may set ends these names.
const char* const kStrangers[] = {"a.example.evil.test", "1.2.3.4.evil", "evil-h"};

void CheckIndexMatchesCollection(TIdCookies& cookies)
{
    std::set<const TIdNetscapeCookie*> items;
    for (int i = 0; i < cookies.Count(); ++i) items.insert(cookies.Items(i));
    Check(static_cast<int>(items.size()) == cookies.Count());
    Check(cookies.Count() <= 3000);

    std::set<const TIdNetscapeCookie*> filed;
    const TIdCookieReadGuard guard(cookies);
    const TIdCookieList& index = guard.Index();
    for (int d = 0; d < index.Count(); ++d) {
        const TIdCookieList* domain = index.ListAt(d);
        Check(domain->Count() <= 50);
        for (int c = 0; c < domain->Count(); ++c) {
            const TIdNetscapeCookie* cookie = domain->CookieAt(c);
            Check(items.count(cookie) == 1);
            Check(filed.insert(cookie).second);
        }
    }
    // StoreCookie files or deletes every cookie it makes.
    Check(filed.size() == items.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    TFixedCookieClock clock;
    TIdCookieManager manager(nullptr, nullptr, clock);

    size_t start = 0;
    while (start < input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        if (end > start) {
            const auto selector = static_cast<unsigned char>(input[start]);
            const std::string value = input.substr(start + 1, end - start - 1);
            const char* host = kHosts[selector & 7];
            if (selector & 16) clock.now += 1.0 / 24;
            if (selector & 8) {
                manager.AddServerCookie2(value, host);
            } else {
                manager.AddServerCookie(value, host);
            }
        }
        start = end + 1;
    }
    CheckIndexMatchesCollection(*manager.CookieCollection());

    for (const char* host : kHosts) {
        for (bool tls : {false, true}) {
            const std::string header = manager.CookieHeaderFor(std::string("http://") + host + "/a/b/c", tls);
            Check(header.size() <= static_cast<size_t>(manager.CookieCollection()->Count()) * 4200);
        }
    }
    for (const char* host : kStrangers) {
        Check(manager.CookieHeaderFor(std::string("https://") + host + "/", true).empty());
    }
    CheckIndexMatchesCollection(*manager.CookieCollection());
    return 0;
}
