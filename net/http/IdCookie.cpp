#include "net/http/IdCookie.h"

#include <algorithm>
#include <cmath>

#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

// The value of the first "NAME=value" entry whose name matches (letter case
// ignored); found tells an absent attribute from an empty value.
std::string AttributeValue(const TStringList& attributes, const std::string& name, bool* found = nullptr)
{
    for (const std::string& entry : attributes) {
        const size_t eq = entry.find('=');
        if (eq == name.size() && SameText(entry.substr(0, eq), name)) {
            if (found) *found = true;
            return entry.substr(eq + 1);
        }
    }
    if (found) *found = false;
    return {};
}

bool HasFlag(const TStringList& attributes, const std::string& flag)
{
    return std::find(attributes.begin(), attributes.end(), flag) != attributes.end();
}

// Appends "; name=value", or nothing for an empty value.
void AddProperty(std::string& text, const std::string& name, const std::string& value)
{
    if (value.empty()) return;
    if (!text.empty()) text += "; ";
    text += name;
    text += '=';
    text += value;
}

void AddFlag(std::string& text, const char* flag)
{
    if (!text.empty()) text += "; ";
    text += flag;
}

std::string StripQuotes(std::string value)
{
    if (!value.empty() && value.front() == '"') value.erase(0, 1);
    if (!value.empty() && value.back() == '"') value.pop_back();
    return value;
}

// Reads an Internet date as UTC (the date minus its zone). False when the
// reader cannot make a date of it; it answers 0 then.
bool ReadExpiry(const std::string& text, TDateTime& utc)
{
    std::string rest = text;
    const TDateTime date = ParseInternetDate(rest);
    if (date == 0) return false;
    // Named zones ("GMT", "UT", "EST") are shorter than "+hhmm" and count as UTC.
    utc = date - (rest.size() >= 5 ? ZoneOffsetToTime(rest) : 0);
    return true;
}

// The Internet date of a local time with the clock's zone, not the process's.
std::string LocalDateText(TDateTime local, TDateTime localUtcOffset)
{
    std::string text = LocalToInternetDate(local);
    text.erase(text.rfind(' ') + 1);
    return text + TimeToZoneOffset(localUtcOffset, false);
}

} // namespace

// ---- clock ------------------------------------------------------------------

TDateTime TIdSystemCookieClock::Now() const { return LocalNow(); }

TDateTime TIdSystemCookieClock::LocalUtcOffset() const { return ::LocalUtcOffset(); }

const TIdSystemCookieClock& TIdSystemCookieClock::Instance()
{
    static const TIdSystemCookieClock clock;
    return clock;
}

// ---- TIdNetscapeCookie --------------------------------------------------------

TIdNetscapeCookie::TIdNetscapeCookie(TIdCookies* collection) : collection_(collection)
{
    if (collection_) collection_->Adopt(this);
}

TIdNetscapeCookie::~TIdNetscapeCookie()
{
    if (collection_) collection_->Release(this);
}

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie&) {}

const TIdCookieClock& TIdNetscapeCookie::Clock() const
{
    return collection_ ? collection_->Clock() : TIdSystemCookieClock::Instance();
}

int TIdNetscapeCookie::Index() const
{
    if (!collection_) return -1;
    const auto& items = collection_->items_;
    const auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TIdNetscapeCookie::ParseCookie(const std::string& text)
{
    if (text == SourceText) return;
    SourceText = text;

    // Every piece before a ";" counts, even when blank; the last only when
    // something is left of it. A text without ";" is taken whole, untrimmed.
    TStringList entries;
    const std::string_view whole(text);
    if (whole.find(';') == std::string_view::npos) {
        entries.Add(text);
    } else {
        size_t start = 0, semi;
        while ((semi = whole.find(';', start)) != std::string_view::npos) {
            entries.Add(std::string(TrimBlanks(whole.substr(start, semi - start))));
            start = semi + 1;
        }
        const std::string_view last = TrimBlanks(whole.substr(start));
        if (!last.empty()) entries.Add(std::string(last));
    }

    const std::string& first = entries[0];
    const size_t eq = first.find('=');
    CookieName = eq == std::string::npos ? std::string() : first.substr(0, eq);
    CookieValue = eq == std::string::npos ? std::string() : first.substr(eq + 1);
    entries.Delete(0);

    for (int i = 0; i < entries.Count(); ++i) {
        std::string& entry = entries[i];
        const size_t at = entry.find('=');
        entry = at == std::string::npos ? UpperCase(entry) : UpperCase(entry.substr(0, at)) + entry.substr(at);
    }
    ParseAttributes(entries);
}

void TIdNetscapeCookie::ParseAttributes(const TStringList& attributes)
{
    CookiePath = StripQuotes(AttributeValue(attributes, "PATH"));
    PutExpires(AttributeValue(attributes, "EXPIRES"));
    CookieDomain = AttributeValue(attributes, "DOMAIN");
    SecureOnly = HasFlag(attributes, "SECURE");
}

std::string TIdNetscapeCookie::BuildCookieText() const
{
    std::string text;
    if (!CookieValue.empty()) AddProperty(text, CookieName, CookieValue);
    AddProperty(text, "path", CookiePath);
    if (Kind == ckNetscape) AddProperty(text, "expires", ExpiresText());
    AddProperty(text, "domain", CookieDomain);
    if (SecureOnly) AddFlag(text, "secure");
    return text;
}

void TIdNetscapeCookie::PutExpires(const std::string& text) { SetExpiresText(text); }

void TIdNetscapeCookie::SetExpiresText(const std::string& text)
{
    expiresText_ = text;
    expiresReadable_ = !text.empty() && ReadExpiry(text, expiresUtc_);
}

bool TIdNetscapeCookie::ExpiryUtc(TDateTime& utc) const
{
    utc = expiresUtc_;
    return expiresReadable_;
}

void TIdNetscapeCookie::CopyExpiry(const TIdNetscapeCookie& other)
{
    expiresText_ = other.expiresText_;
    expiresUtc_ = other.expiresUtc_;
    expiresReadable_ = other.expiresReadable_;
}

bool TIdNetscapeCookie::ExpiredAt(TDateTime localNow, TDateTime localUtcOffset) const
{
    return expiresReadable_ && localNow > expiresUtc_ + localUtcOffset;
}

bool TIdNetscapeCookie::AcceptsHost(const std::string& host) const
{
    if (LooksLikeIPv4(host)) return CookieDomain == host;
    if (LooksLikeHostName(host)) {
        return LooksLikeHostName(CookieDomain) ? CookieDomain == host : CookieDomain == DomainPart(host);
    }
    return SameText(CookieDomain, DomainPart(host));
}

// ---- TIdCookieRFC2109 ---------------------------------------------------------

TIdCookieRFC2109::TIdCookieRFC2109(TIdCookies* collection) : TIdNetscapeCookie(collection) { Kind = ckRFC2109; }

void TIdCookieRFC2109::Assign(const TIdNetscapeCookie& source)
{
    const auto* other = dynamic_cast<const TIdCookieRFC2109*>(&source);
    if (!other) return;
    ParseCookie(other->BuildCookieText());
    Kind = other->Kind;
    // The rebuilt text of a cookie that keeps the RFC 2109 form carries
    // neither its "expires" nor a max-age: take the expiry itself.
    CopyExpiry(*other);
    MaxAge = other->MaxAge;
}

void TIdCookieRFC2109::ParseAttributes(const TStringList& attributes)
{
    TIdNetscapeCookie::ParseAttributes(attributes);
    int32_t maxAge;
    bool found;
    const std::string maxAgeText = AttributeValue(attributes, "MAX-AGE", &found);
    MaxAge = found && TryStrToInt(maxAgeText, maxAge) ? maxAge : -1;
    VersionText = AttributeValue(attributes, "VERSION");
    CommentText = AttributeValue(attributes, "COMMENT");
    if (ExpiresText().empty()) {
        Kind = ckNetscape;
        if (MaxAge >= 0) {
            const TIdCookieClock& clock = Clock();
            const TDateTime offset = clock.LocalUtcOffset();
            PutExpires(LocalDateText(clock.Now() + static_cast<TDateTime>(MaxAge) * 1000 / kMsPerDay, offset));
        }
    }
}

std::string TIdCookieRFC2109::BuildCookieText() const
{
    std::string text = TIdNetscapeCookie::BuildCookieText();
    if (MaxAge >= 0 && ExpiresText().empty()) AddProperty(text, "max-age", IntToStr(MaxAge));
    AddProperty(text, "comment", CommentText);
    AddProperty(text, "version", VersionText);
    return text;
}

void TIdCookieRFC2109::PutExpires(const std::string& text)
{
    SetExpiresText(text);
    TDateTime utc;
    if (ExpiryUtc(utc)) {
        const TIdCookieClock& clock = Clock();
        const TDateTime local = utc + clock.LocalUtcOffset();
        // Rounded to the millisecond first so that float noise cannot turn
        // 3600 s into 3599.
        const auto ms = std::llround((local - clock.Now()) * kMsPerDay);
        MaxAge = ms / 1000;
    }
}

// ---- TIdCookieRFC2965 ---------------------------------------------------------

TIdCookieRFC2965::TIdCookieRFC2965(TIdCookies* collection) : TIdCookieRFC2109(collection) { Kind = ckRFC2965; }

void TIdCookieRFC2965::ParseAttributes(const TStringList& attributes)
{
    TIdCookieRFC2109::ParseAttributes(attributes);
    CommentUrl = AttributeValue(attributes, "CommentURL");
    Discard = HasFlag(attributes, "DISCARD");

    const std::string ports = AttributeValue(attributes, "PORT");
    if (ports.empty()) {
        Ports = {80};
        return;
    }
    if (ports.front() != '"' || ports.back() != '"') return;
    const std::string inner = ports.size() >= 2 ? ports.substr(1, ports.size() - 2) : std::string();
    int position = 0;
    size_t i = 0;
    while (i < inner.size()) {
        if (inner[i] == ',' || inner[i] == ' ') {
            ++i;
            continue;
        }
        const size_t end = inner.find_first_of(", ", i);
        const std::string item = inner.substr(i, end == std::string::npos ? std::string::npos : end - i);
        PutPort(position++, StrToInt(item));
        i = end == std::string::npos ? inner.size() : end;
    }
    if (position == 0) Ports = {80};
}

void TIdCookieRFC2965::PutPort(int index, int32_t port)
{
    if (index < 0 || static_cast<size_t>(index) > Ports.size()) throw EIdException("Index out of range.");
    if (static_cast<size_t>(index) == Ports.size()) {
        Ports.push_back(port);
    } else {
        Ports[static_cast<size_t>(index)] = port;
    }
}

// ---- TIdCookieList ------------------------------------------------------------

int TIdCookieList::IndexOf(const std::string& name) const
{
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (SameText(entries_[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

int TIdCookieList::IndexOfCookie(const TIdNetscapeCookie* cookie) const
{
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].cookie == cookie) return static_cast<int>(i);
    }
    return -1;
}

void TIdCookieList::AddCookie(const std::string& name, TIdNetscapeCookie* cookie)
{
    entries_.push_back(TEntry{name, cookie, nullptr});
}

TIdCookieList* TIdCookieList::AddList(const std::string& name)
{
    entries_.push_back(TEntry{name, nullptr, std::make_unique<TIdCookieList>()});
    return entries_.back().list.get();
}

void TIdCookieList::Delete(int index) { entries_.erase(entries_.begin() + index); }

// ---- TIdIndexLock -------------------------------------------------------------

void TIdIndexLock::BeginRead()
{
    if (writer_.load() == std::this_thread::get_id()) {
        ++writeDepth_;
        return;
    }
    mutex_.lock_shared();
}

void TIdIndexLock::EndRead()
{
    if (writer_.load() == std::this_thread::get_id()) {
        --writeDepth_;
        return;
    }
    mutex_.unlock_shared();
}

void TIdIndexLock::BeginWrite()
{
    const std::thread::id self = std::this_thread::get_id();
    if (writer_.load() == self) {
        ++writeDepth_;
        return;
    }
    mutex_.lock();
    writer_.store(self);
    writeDepth_ = 1;
}

void TIdIndexLock::EndWrite()
{
    if (--writeDepth_ > 0) return;
    writer_.store(std::thread::id());
    mutex_.unlock();
}

// ---- TIdCookies ---------------------------------------------------------------

TIdCookies::TIdCookies(const TIdCookieClock& clock) : clock_(&clock) {}

TIdCookies::~TIdCookies()
{
    // Each cookie takes itself out of the index and off the back of items_.
    while (!items_.empty()) delete items_.back();
}

TIdCookieRFC2109* TIdCookies::NewCookie() { return new TIdCookieRFC2109(this); }

TIdCookieRFC2965* TIdCookies::NewCookie2() { return new TIdCookieRFC2965(this); }

void TIdCookies::Adopt(TIdNetscapeCookie* cookie) { items_.push_back(cookie); }

void TIdCookies::Release(TIdNetscapeCookie* cookie)
{
    Unfile(cookie);
    // Cookies mostly go soon after they were made: search from the back.
    const auto it = std::find(items_.rbegin(), items_.rend(), cookie);
    if (it != items_.rend()) items_.erase(std::next(it).base());
}

// By identity, not by name: a refused or merged cookie shares its name with
// the stored one, which must stay.
void TIdCookies::Unfile(TIdNetscapeCookie* cookie)
{
    if (!cookie->filedIn_) return;
    TIdCookieWriteGuard guard(*this);
    const int at = cookie->filedIn_->IndexOfCookie(cookie);
    if (at >= 0) cookie->filedIn_->Delete(at);
    cookie->filedIn_ = nullptr;
}

TIdNetscapeCookie* TIdCookies::AddToIndex(TIdNetscapeCookie* cookie)
{
    TIdCookieWriteGuard guard(*this);
    const int domainAt = index_.IndexOf(cookie->CookieDomain);
    TIdCookieList* domain = domainAt < 0 ? index_.AddList(cookie->CookieDomain) : index_.ListAt(domainAt);

    const int nameAt = domain->IndexOf(cookie->CookieName);
    if (nameAt >= 0) {
        TIdNetscapeCookie* stored = domain->CookieAt(nameAt);
        if (stored == cookie) return cookie;
        stored->Assign(*cookie);
        delete cookie;
        return stored;
    }

    Unfile(cookie);
    while (domain->Count() >= kMaxCookiesPerDomain) delete domain->CookieAt(0);
    domain->AddCookie(cookie->CookieName, cookie);
    cookie->filedIn_ = domain;
    while (Count() > kMaxCookies && items_.front() != cookie) delete items_.front();
    return cookie;
}

TIdCookieList& TIdCookies::LockIndex(TIdCookieAccess access)
{
    if (access == caRead) {
        lock_.BeginRead();
    } else {
        lock_.BeginWrite();
    }
    return index_;
}

void TIdCookies::UnlockIndex(TIdCookieAccess access)
{
    if (access == caRead) {
        lock_.EndRead();
    } else {
        lock_.EndWrite();
    }
}
