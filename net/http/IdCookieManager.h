#pragma once

// The cookie manager: turns the cookie headers of responses into stored
// cookies and the stored cookies into the "Cookie" header of a request.
//
// It owns its TIdCookies (and through it every cookie). The HTTP client calls
// AddServerCookie / AddServerCookie2 with every "Set-cookie" / "Set-cookie2"
// value of a response and CookieHeaderFor before every request. Nothing of it
// raises on hostile input: a cookie that cannot be stored is dropped.
// Used by one thread at a time (the index lock only guards the index).

#include <functional>
#include <string>

#include "net/http/IdCookie.h"
#include "net/http/IdURI.h"
#include "net/tcp/IdComponent.h"

class TIdCookieManager;

using TOnManagerEvent = std::function<void(TIdCookieManager* sender, TIdCookies* cookieCollection)>;
// accept starts true; the handler clears it to keep the cookie out.
using TOnNewCookieEvent = std::function<void(TIdCookieManager* sender, TIdNetscapeCookie* cookie, bool& accept)>;

class TIdCookieManager : public TIdComponent {
public:
    // A text longer than this is not stored.
    static constexpr size_t kMaxCookieBytes = 4096;

    // onCreate runs at the end of construction with the empty collection.
    // The clock must outlive the manager.
    explicit TIdCookieManager(TIdBaseComponent* owner = nullptr, TOnManagerEvent onCreate = nullptr,
                              const TIdCookieClock& clock = TIdSystemCookieClock::Instance());
    // RemoveExpired, OnDestroy, then the collection with every cookie.
    ~TIdCookieManager() override;

    // A "Set-cookie" value received from host. Returns the stored cookie
    // (valid until the next call that changes the store) or nullptr when it
    // was dropped: refused by host or by OnNewCookie, unreadable or too long.
    TIdNetscapeCookie* AddServerCookie(const std::string& cookie, const std::string& host);
    // The same for a "Set-cookie2" value.
    TIdNetscapeCookie* AddServerCookie2(const std::string& cookie, const std::string& host);

    // The "Cookie" header value for a request to url ("" when none applies):
    // cookies of the host's own domain entry, and of entries ".x" the host
    // ends with, whose path starts the URL's path, secure ones only over TLS;
    // the longest paths first. Removes the expired cookies first.
    std::string CookieHeaderFor(const TIdURI& url, bool tls);
    std::string CookieHeaderFor(const std::string& url, bool tls);

    // Parses text into cookie (owned by the collection) and files it, or
    // deletes it. Returns the cookie in the index or nullptr.
    TIdNetscapeCookie* StoreCookie(TIdNetscapeCookie* cookie, const std::string& text, const std::string& host);

    // Deletes every cookie whose expiry date has passed.
    void RemoveExpired();

    TIdCookies* CookieCollection() const { return cookies_.get(); }

    TOnManagerEvent OnCreate;
    TOnManagerEvent OnDestroy;
    TOnNewCookieEvent OnNewCookie;

protected:
    virtual void DoOnCreate();
    virtual void DoOnDestroy();
    // The accept flag after OnNewCookie.
    virtual bool DoOnNewCookie(TIdNetscapeCookie* cookie);

private:
    std::unique_ptr<TIdCookies> cookies_;
};
