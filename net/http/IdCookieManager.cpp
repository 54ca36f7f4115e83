#include "net/http/IdCookieManager.h"

#include <algorithm>
#include <memory>

#include "platform/SysUtils.h"

namespace {

bool EndsWithText(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

// A domain entry serves the host of that name and, when it begins with ".",
// every host ending in it. Matching the name anywhere inside the host would
// hand a.example's cookies to a.example.evil.test and to xa.example.
bool DomainServesHost(const std::string& domain, const std::string& host)
{
    if (SameText(domain, host)) return true;
    return !domain.empty() && domain.front() == '.' && EndsWithText(host, domain);
}

// A control byte (a tab aside) in a cookie could end the Cookie header early or smuggle bytes into
// it when the cookie is sent back; such a cookie is refused whole (RFC 6265, 5.2).
bool HasControlByte(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7F;
    });
}

} // namespace

TIdCookieManager::TIdCookieManager(TIdBaseComponent* owner, TOnManagerEvent onCreate, const TIdCookieClock& clock)
    : TIdComponent(owner), OnCreate(std::move(onCreate)), cookies_(std::make_unique<TIdCookies>(clock))
{
    DoOnCreate();
}

TIdCookieManager::~TIdCookieManager()
{
    RemoveExpired();
    DoOnDestroy();
    cookies_.reset();
}

void TIdCookieManager::DoOnCreate()
{
    if (OnCreate) OnCreate(this, cookies_.get());
}

void TIdCookieManager::DoOnDestroy()
{
    if (OnDestroy) OnDestroy(this, cookies_.get());
}

bool TIdCookieManager::DoOnNewCookie(TIdNetscapeCookie* cookie)
{
    bool accept = true;
    if (OnNewCookie) OnNewCookie(this, cookie, accept);
    return accept;
}

TIdNetscapeCookie* TIdCookieManager::AddServerCookie(const std::string& cookie, const std::string& host)
{
    return StoreCookie(cookies_->NewCookie(), cookie, host);
}

TIdNetscapeCookie* TIdCookieManager::AddServerCookie2(const std::string& cookie, const std::string& host)
{
    return StoreCookie(cookies_->NewCookie2(), cookie, host);
}

TIdNetscapeCookie* TIdCookieManager::StoreCookie(TIdNetscapeCookie* cookie, const std::string& text,
                                                 const std::string& host)
{
    // Deletes the cookie on every road that does not file it, throws included.
    std::unique_ptr<TIdNetscapeCookie> pending(cookie);
    if (text.size() > kMaxCookieBytes || HasControlByte(text)) return nullptr;
    try {
        cookie->ParseCookie(text);
    } catch (const EConvertError&) {
        // A "Port" item that is not a number: this cookie goes, the response's
        // other cookies are still stored.
        return nullptr;
    }
    if (cookie->CookieDomain.empty()) cookie->CookieDomain = host;
    if (!cookie->AcceptsHost(host) || !DoOnNewCookie(cookie)) return nullptr;
    return cookies_->AddToIndex(pending.release());
}

void TIdCookieManager::RemoveExpired()
{
    TDateTime now, offset;
    try {
        const TIdCookieClock& clock = cookies_->Clock();
        now = clock.Now();
        offset = clock.LocalUtcOffset();
    } catch (const EIdException&) {
        // Without the time zone nothing can be judged expired; keep everything.
        return;
    }
    TIdCookieWriteGuard guard(*cookies_);
    const TIdCookieList& index = guard.Index();
    for (int d = 0; d < index.Count(); ++d) {
        TIdCookieList* domain = index.ListAt(d);
        for (int c = domain->Count() - 1; c >= 0; --c) {
            TIdNetscapeCookie* cookie = domain->CookieAt(c);
            if (cookie->ExpiredAt(now, offset)) delete cookie;
        }
    }
}

std::string TIdCookieManager::CookieHeaderFor(const TIdURI& url, bool tls)
{
    RemoveExpired();

    // Collected in index order, each domain's cookies from the last to the
    // first; sent longest path first, equal paths in collection order.
    std::vector<const TIdNetscapeCookie*> chosen;
    {
        TIdCookieReadGuard guard(*cookies_);
        const TIdCookieList& index = guard.Index();
        for (int d = 0; d < index.Count(); ++d) {
            if (!DomainServesHost(index.Strings(d), url.Host)) continue;
            const TIdCookieList* domain = index.ListAt(d);
            for (int c = domain->Count() - 1; c >= 0; --c) {
                const TIdNetscapeCookie* cookie = domain->CookieAt(c);
                if (cookie->CookiePath.empty() ||
                    url.Path.compare(0, cookie->CookiePath.size(), cookie->CookiePath) != 0)
                    continue;
                if (cookie->SecureOnly && !tls) continue;
                if (cookie->CookieValue.empty()) continue;
                chosen.push_back(cookie);
            }
        }
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const TIdNetscapeCookie* a, const TIdNetscapeCookie* b) {
        return CompareText(a->CookiePath, b->CookiePath) > 0;
    });

    std::string header;
    for (const TIdNetscapeCookie* cookie : chosen) {
        if (!header.empty()) header += "; ";
        header += cookie->CookieName;
        header += '=';
        header += cookie->CookieValue;
    }
    return header;
}

std::string TIdCookieManager::CookieHeaderFor(const std::string& url, bool tls)
{
    return CookieHeaderFor(TIdURI(url), tls);
}
