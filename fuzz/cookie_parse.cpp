// Parses arbitrary text as a "Set-cookie2" value, rebuilds it and parses the
// rebuilt text again: the fields the rebuilt text carries must come back
// unchanged, and a copy (the merge of the domain index) must match too.
// The only failure allowed is the conversion error of a "Port" item.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdCookie.h"
#include "tests/net/http/FixedCookieClock.h"

namespace {

// The rebuilt text cannot carry a path that begins or ends with a double
// quote (one pair is taken off each time) or ends in a blank (entries are
// trimmed).
bool PathSurvives(const std::string& path)
{
    if (path.empty()) return true;
    return path.front() != '"' && path.back() != '"' && static_cast<unsigned char>(path.back()) > 32;
}

void CheckSameCarriedFields(const TIdCookieRFC2109& a, const TIdCookieRFC2109& b)
{
    Check(a.CookieName == b.CookieName);
    Check(a.CookieValue == b.CookieValue);
    Check(a.CookieDomain == b.CookieDomain);
    Check(a.SecureOnly == b.SecureOnly);
    Check(a.CommentText == b.CommentText);
    Check(a.VersionText == b.VersionText);
    if (PathSurvives(a.CookiePath)) Check(a.CookiePath == b.CookiePath);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TFixedCookieClock clock;
    TIdCookies cookies(clock);
    TIdCookieRFC2965& cookie = *cookies.NewCookie2();
    try {
        cookie.ParseCookie(text);
    } catch (const EConvertError&) {
        return 0;
    }
    Check(cookie.SourceText == text);
    Check(cookie.ClientForm() == cookie.CookieName + "=" + cookie.CookieValue);
    // Only a max-age gives a Netscape-form cookie its expiry.
    Check(cookie.Kind != ckNetscape || cookie.ExpiresText().empty() || cookie.MaxAge >= 0);

    const std::string rebuilt = cookie.BuildCookieText();
    // An empty value drops the name from the rebuilt text, so the first
    // attribute would be read as the cookie.
    if (!cookie.CookieValue.empty()) {
        TIdCookieRFC2965& again = *cookies.NewCookie2();
        again.ParseCookie(rebuilt);
        CheckSameCarriedFields(cookie, again);
        if (cookie.Kind == ckNetscape) Check(again.ExpiresText() == cookie.ExpiresText());
    }

    TIdCookieRFC2109& copy = *cookies.NewCookie();
    copy.Assign(cookie);
    if (!cookie.CookieValue.empty()) CheckSameCarriedFields(cookie, copy);
    Check(copy.Kind == cookie.Kind);
    Check(copy.ExpiresText() == cookie.ExpiresText());
    Check(copy.MaxAge == cookie.MaxAge);
    return 0;
}
