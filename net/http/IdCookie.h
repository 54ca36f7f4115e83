#pragma once

// Cookie objects and the collection that owns them.
//
// TIdNetscapeCookie, TIdCookieRFC2109 and TIdCookieRFC2965 parse one cookie
// text (a "Set-cookie" or "Set-cookie2" value) into fields and rebuild it.
// TIdCookies owns every cookie object made in it and keeps the domain index:
// domain name -> cookie name -> cookie (references only). Destroying a cookie
// takes it out of the index and out of its collection.
//
// Times are TDateTime values (days since 1899-12-30) in local time, read from
// a TIdCookieClock so that tests can set the time. MaxAge is in seconds.
//
// The domain index is guarded by a multi-reader, single-writer lock whose
// write side the holding thread may take again; the collection itself and
// the cookie objects are not locked and belong to one thread at a time.

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "net/http/IdDate.h"
#include "platform/Classes.h"

// Where the cookie code reads the time. Implementations must be usable from
// any thread that uses the cookies.
class TIdCookieClock {
public:
    virtual ~TIdCookieClock() = default;
    // The local date-time now.
    virtual TDateTime Now() const = 0;
    // Local time minus UTC, as a signed day fraction (0.375 at UTC+9).
    // May throw EIdFailedToRetreiveTimeZoneInfo.
    virtual TDateTime LocalUtcOffset() const = 0;
};

// The operating system's clock and time zone. Stateless; one shared instance.
class TIdSystemCookieClock : public TIdCookieClock {
public:
    TDateTime Now() const override;
    TDateTime LocalUtcOffset() const override;
    static const TIdSystemCookieClock& Instance();
};

// The form in which BuildCookieText rebuilds a cookie.
enum TIdCookieKind : uint8_t {
    ckNetscape = 0, // "expires" is written back
    ckRFC2109 = 1,  // "max-age", "comment" and "version" are written back
    ckRFC2965 = 2   // as ckRFC2109
};

class TIdCookies;
class TIdCookieList;

// A cookie in its oldest form: name, value, path, domain, expiry, secure.
// Made by a collection (which owns it) or standalone (collection nullptr,
// then the system clock is used). Deleting it removes it from its
// collection and from the domain index.
class TIdNetscapeCookie {
public:
    explicit TIdNetscapeCookie(TIdCookies* collection);
    virtual ~TIdNetscapeCookie();
    TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
    TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;

    // Takes the content of another TIdCookieRFC2109 (or descendant) by parsing
    // its BuildCookieText and taking its Kind and its expiry; any other source
    // is ignored. This is how a stored cookie takes over a replacing one.
    virtual void Assign(const TIdNetscapeCookie& source);

    // Splits text at ";" into the cookie (name=value) and its attributes and
    // fills the fields. Does nothing when text equals SourceText.
    // Example: "k=v; path=/; domain=.a.b; secure".
    // Throws EConvertError for a "Port" item that is not a number.
    void ParseCookie(const std::string& text);
    // The attributes in upper-case-name form ("PATH=/", "SECURE").
    virtual void ParseAttributes(const TStringList& attributes);

    // "name=value; path=..; expires=..; domain=..; secure" with empty
    // properties left out (an empty value drops the name as well).
    virtual std::string BuildCookieText() const;
    virtual std::string ServerForm() const { return BuildCookieText(); }
    virtual std::string ClientForm() const { return CookieName + "=" + CookieValue; }

    // Stores the expiry date text ("" for none).
    virtual void PutExpires(const std::string& text);
    const std::string& ExpiresText() const { return expiresText_; }
    // True when the expiry text holds a readable date and now is past it; an
    // unreadable date never expires.
    bool ExpiredAt(TDateTime localNow, TDateTime localUtcOffset) const;

    // Whether a cookie with this CookieDomain may be set by a response from host.
    virtual bool AcceptsHost(const std::string& host) const;

    TIdCookies* Collection() const { return collection_; }
    // Position in the collection, -1 without one.
    int Index() const;
    const TIdCookieClock& Clock() const;

    std::string SourceText;
    std::string CookieDomain;
    std::string CookieName;
    std::string CookiePath;
    bool SecureOnly = false;
    std::string CookieValue;
    TIdCookieKind Kind = ckNetscape;

protected:
    void SetExpiresText(const std::string& text);
    // The expiry as UTC; false when there is none or it cannot be read.
    bool ExpiryUtc(TDateTime& utc) const;
    void CopyExpiry(const TIdNetscapeCookie& other);

private:
    friend class TIdCookies;

    TIdCookies* collection_ = nullptr;
    std::string expiresText_;
    // The expiry as UTC (date minus its zone), valid when expiresReadable_.
    TDateTime expiresUtc_ = 0;
    bool expiresReadable_ = false;
    // The domain's cookie list this cookie is filed in, nullptr if none.
    TIdCookieList* filedIn_ = nullptr;
};

// Adds max-age, version and comment; an "expires" also computes MaxAge.
class TIdCookieRFC2109 : public TIdNetscapeCookie {
public:
    explicit TIdCookieRFC2109(TIdCookies* collection);

    void Assign(const TIdNetscapeCookie& source) override;
    void ParseAttributes(const TStringList& attributes) override;
    std::string BuildCookieText() const override;
    void PutExpires(const std::string& text) override;

    int64_t MaxAge = -1; // seconds; -1 means none
    std::string VersionText;
    std::string CommentText;
};

// Adds the comment URL, the discard flag and the port list.
class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
    explicit TIdCookieRFC2965(TIdCookies* collection);

    void ParseAttributes(const TStringList& attributes) override;
    // Sets Ports[index]; index may be Ports.size() (the list grows by one).
    // Throws EIdException "Index out of range." otherwise.
    void PutPort(int index, int32_t port);

    std::string CommentUrl;
    bool Discard = false;
    std::vector<int32_t> Ports;
};

// Names with an object each, in insertion order; lookups ignore letter case.
// In the domain index every entry owns a cookie list; in a cookie list every
// entry references a cookie.
class TIdCookieList {
public:
    int Count() const { return static_cast<int>(entries_.size()); }
    const std::string& Strings(int index) const { return entries_.at(static_cast<size_t>(index)).name; }
    TIdNetscapeCookie* CookieAt(int index) const { return entries_.at(static_cast<size_t>(index)).cookie; }
    TIdCookieList* ListAt(int index) const { return entries_.at(static_cast<size_t>(index)).list.get(); }
    // First entry with this name (letter case ignored), or -1.
    int IndexOf(const std::string& name) const;
    int IndexOfCookie(const TIdNetscapeCookie* cookie) const;

    void AddCookie(const std::string& name, TIdNetscapeCookie* cookie);
    // Adds an entry owning a new empty list and returns that list.
    TIdCookieList* AddList(const std::string& name);
    void Delete(int index);

private:
    struct TEntry {
        std::string name;
        TIdNetscapeCookie* cookie = nullptr;
        std::unique_ptr<TIdCookieList> list;
    };
    std::vector<TEntry> entries_;
};

// Multi-reader, single-writer lock. The writing thread may take the write
// side (and the read side) again; a reader must not ask for the write side.
class TIdIndexLock {
public:
    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

private:
    std::shared_mutex mutex_;
    std::atomic<std::thread::id> writer_{};
    int writeDepth_ = 0; // touched only by the writer
};

enum TIdCookieAccess { caRead, caReadWrite };

// Owns every cookie made in it and the domain index. Bounded: a domain holds
// at most kMaxCookiesPerDomain cookies and the collection kMaxCookies; when a
// new cookie would pass either, the oldest goes first.
class TIdCookies {
public:
    static constexpr int kMaxCookiesPerDomain = 50;
    static constexpr int kMaxCookies = 3000;

    // The clock must outlive the collection.
    explicit TIdCookies(const TIdCookieClock& clock = TIdSystemCookieClock::Instance());
    // Destroys every cookie, then the index.
    ~TIdCookies();
    TIdCookies(const TIdCookies&) = delete;
    TIdCookies& operator=(const TIdCookies&) = delete;

    TIdCookieRFC2109* NewCookie();
    TIdCookieRFC2965* NewCookie2();

    int Count() const { return static_cast<int>(items_.size()); }
    TIdNetscapeCookie* Items(int index) const { return items_.at(static_cast<size_t>(index)); }

    // Files cookie under its domain and name. A cookie of the same domain and
    // name already filed takes over its content (Assign) and stays in place;
    // the new cookie is then deleted. Returns the cookie now in the index.
    TIdNetscapeCookie* AddToIndex(TIdNetscapeCookie* cookie);

    // The domain index, under the read or the write side of the lock; every
    // LockIndex is paired with an UnlockIndex of the same access;
    // TIdCookieIndexGuard pairs them.
    TIdCookieList& LockIndex(TIdCookieAccess access);
    void UnlockIndex(TIdCookieAccess access);

    const TIdCookieClock& Clock() const { return *clock_; }

private:
    friend class TIdNetscapeCookie;

    void Adopt(TIdNetscapeCookie* cookie);
    void Release(TIdNetscapeCookie* cookie);
    void Unfile(TIdNetscapeCookie* cookie);

    const TIdCookieClock* clock_;
    std::vector<TIdNetscapeCookie*> items_; // owned, oldest first
    TIdCookieList index_;
    TIdIndexLock lock_;
};

// Holds the domain index locked with one access for the guard's life;
// readers see it const.
template <TIdCookieAccess Access>
class TIdCookieIndexGuard {
public:
    using TIndex = std::conditional_t<Access == caRead, const TIdCookieList, TIdCookieList>;

    explicit TIdCookieIndexGuard(TIdCookies& cookies) : cookies_(cookies), index_(cookies.LockIndex(Access)) {}
    ~TIdCookieIndexGuard() { cookies_.UnlockIndex(Access); }
    TIdCookieIndexGuard(const TIdCookieIndexGuard&) = delete;
    TIdCookieIndexGuard& operator=(const TIdCookieIndexGuard&) = delete;
    TIndex& Index() const { return index_; }

private:
    TIdCookies& cookies_;
    TIndex& index_;
};

using TIdCookieReadGuard = TIdCookieIndexGuard<caRead>;
using TIdCookieWriteGuard = TIdCookieIndexGuard<caReadWrite>;
