#include "net/http/IdHTTPHeaderInfo.h"

#include <span>

#include "net/http/IdAuthentication.h"
#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"

namespace {

const char* const kDefaultAccept = "text/html, */*";
const char* const kDefaultUserAgent = "Mozilla/3.0 (compatible; Scrivlet)";
const char* const kDefaultContentType = "text/html";

// A whole number of seconds (anything but -1) counts from now, backwards when
// negative: a cache hint must never fail the document it came with.
// Any other text is a date.
TDateTime ExpiresFrom(const std::string& value)
{
    int32_t seconds = 0;
    if (TryStrToInt(value, seconds) && seconds != -1) return LocalNow() + seconds * 1000.0 / kMsPerDay;
    return InternetDateToLocal(value);
}

// Lenient reading of a range bound: 0 for anything but a number >= 0.
uint32_t RangeBound(const std::string& text)
{
    const int32_t value = StrToIntDef(text, 0);
    return value < 0 ? 0 : uint32_t(value);
}

using TTextField = std::pair<const char*, std::string*>;

void ReadTextFields(const TIdHeaderList& lines, std::span<const TTextField> fields)
{
    for (const auto& [name, field] : fields) *field = lines.ValueOf(name);
}

// A field left empty gets no line.
void WriteTextFields(TIdHeaderList& lines, std::span<const TTextField> fields)
{
    for (const auto& [name, field] : fields) {
        if (!field->empty()) lines.SetValueOf(name, *field);
    }
}

// Sets the named authorization line from the handler, making a Basic one
// from the user name and password first when asked to and none is set.
// No handler, or an empty value, gives no line.
void PutAuthorization(TIdHeaderList& lines, const char* name, std::unique_ptr<TIdAuthentication>& authentication,
                      bool basic, const std::string& username, const std::string& password)
{
    if (!authentication && basic) {
        authentication = TIdBasicAuthentication::Class()->Create();
        authentication->ParamList().SetValueOf("Username", username);
        authentication->ParamList().SetValueOf("Password", password);
    }
    if (!authentication) return;
    const std::string value = authentication->HeaderValue();
    if (!value.empty()) lines.SetValueOf(name, value);
}

} // namespace

// ---- TIdPersistent ------------------------------------------------------------

void TIdPersistent::AssignTo(TIdPersistent& destination) const
{
    throw EConvertError(Format("Cannot assign a %s to a %s", ClassName(), destination.ClassName()));
}

// ---- TIdEntityHeaderInfo -------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo() { TIdEntityHeaderInfo::ClearFields(); }

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::SetContentLength(int32_t value)
{
    contentLength_ = value;
    contentLengthGiven_ = value >= 0;
}

void TIdEntityHeaderInfo::ClearFields()
{
    headerLines_.Clear();
    connection_.clear();
    contentEncoding_.clear();
    contentLanguage_.clear();
    contentLength_ = -1; // the flag stays as it was
    contentRangeStart_ = 0;
    contentRangeEnd_ = 0;
    contentType_ = kDefaultContentType;
    contentVersion_.clear();
    date_ = 0;
    expires_ = 0;
    lastModified_ = 0;
}

void TIdEntityHeaderInfo::AssignTo(TIdPersistent& destination) const
{
    auto* target = dynamic_cast<TIdEntityHeaderInfo*>(&destination);
    if (target == nullptr) {
        TIdPersistent::AssignTo(destination);
        return;
    }
    if (target == this) return;
    target->headerLines_.AssignLines(headerLines_);
    target->contentEncoding_ = contentEncoding_;
    target->contentLanguage_ = contentLanguage_;
    target->contentLength_ = contentLength_;
    target->contentRangeEnd_ = contentRangeEnd_;
    target->contentRangeStart_ = contentRangeStart_;
    target->contentType_ = contentType_;
    target->contentVersion_ = contentVersion_;
    target->date_ = date_;
    target->expires_ = expires_;
    target->lastModified_ = lastModified_;
}

void TIdEntityHeaderInfo::FieldsFromLines() { EntityFieldsFromLines(); }

void TIdEntityHeaderInfo::LinesFromFields() { EntityLinesFromFields(); }

std::array<TTextField, 5> TIdEntityHeaderInfo::EntityTextFields()
{
    return {{
        {"Connection", &connection_},
        {"Content-Version", &contentVersion_},
        {"Content-Encoding", &contentEncoding_},
        {"Content-Language", &contentLanguage_},
        {"Content-Type", &contentType_},
    }};
}

void TIdEntityHeaderInfo::EntityFieldsFromLines()
{
    const TIdHeaderList& lines = headerLines_;
    ReadTextFields(lines, EntityTextFields());
    SetContentLength(StrToIntDef(lines.ValueOf("Content-Length"), -1));
    date_ = InternetDateToLocal(lines.ValueOf("Date"));
    lastModified_ = InternetDateToLocal(lines.ValueOf("Last-Modified"));
    expires_ = ExpiresFrom(lines.ValueOf("Expires"));
    pragma_ = lines.ValueOf("Pragma");
}

void TIdEntityHeaderInfo::EntityLinesFromFields()
{
    TIdHeaderList& lines = headerLines_;
    lines.Clear();
    WriteTextFields(lines, EntityTextFields());
    if (contentLength_ >= 0) lines.SetValueOf("Content-Length", IntToStr(contentLength_));
    if (!cacheControl_.empty()) lines.SetValueOf("Cache-control", cacheControl_);
    if (date_ > 0) lines.SetValueOf("Date", LocalToInternetDate(date_));
    if (expires_ > 0) lines.SetValueOf("Expires", LocalToInternetDate(expires_));
    if (!pragma_.empty()) lines.SetValueOf("Pragma", pragma_);
    if (customHeaders_.Count() > 0) lines.SetText(lines.Text() + customHeaders_.Text());
}

// ---- TIdRequestHeaderInfo ------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { TIdRequestHeaderInfo::ClearFields(); }

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> value)
{
    authentication_ = std::move(value);
}

void TIdRequestHeaderInfo::ClearFields()
{
    accept_ = kDefaultAccept;
    acceptCharSet_.clear();
    userAgent_ = kDefaultUserAgent;
    basicAuthentication_ = false;
    TIdEntityHeaderInfo::ClearFields();
}

void TIdRequestHeaderInfo::AssignTo(TIdPersistent& destination) const
{
    auto* target = dynamic_cast<TIdRequestHeaderInfo*>(&destination);
    if (target == nullptr) {
        TIdEntityHeaderInfo::AssignTo(destination);
        return;
    }
    target->accept_ = accept_;
    target->acceptCharSet_ = acceptCharSet_;
    target->acceptEncoding_ = acceptEncoding_;
    target->acceptLanguage_ = acceptLanguage_;
    target->from_ = from_;
    target->password_ = password_;
    target->referer_ = referer_;
    target->userAgent_ = userAgent_;
    target->username_ = username_;
    target->basicAuthentication_ = basicAuthentication_;
}

std::array<TTextField, 8> TIdRequestHeaderInfo::TextFields()
{
    return {{
        {"Host", &host_},
        {"Accept", &accept_},
        {"Accept-Charset", &acceptCharSet_},
        {"Accept-Encoding", &acceptEncoding_},
        {"Accept-Language", &acceptLanguage_},
        {"From", &from_},
        {"Referer", &referer_},
        {"User-Agent", &userAgent_},
    }};
}

void TIdRequestHeaderInfo::FieldsFromLines()
{
    const TIdHeaderList& lines = headerLines_;
    ReadTextFields(lines, TextFields());
    std::string range = lines.ValueOf("Range");
    if (!range.empty()) {
        CutToken(range, "=");
        contentRangeStart_ = RangeBound(CutToken(range, "-"));
        contentRangeEnd_ = RangeBound(CutToken(range, " "));
    }
    EntityFieldsFromLines();
}

void TIdRequestHeaderInfo::LinesFromFields()
{
    EntityLinesFromFields();
    TIdHeaderList& lines = headerLines_;
    if (!proxyConnection_.empty()) lines.SetValueOf("Proxy-Connection", proxyConnection_);
    WriteTextFields(lines, TextFields());
    if (lastModified_ > 0) lines.SetValueOf("If-Modified-Since", LocalToInternetDate(lastModified_));
    AddRange();
    AddAuthorization();
}

void TIdRequestHeaderInfo::AddRange()
{
    if (contentRangeStart_ == 0 && contentRangeEnd_ == 0) return;
    std::string value = "bytes=" + std::to_string(contentRangeStart_) + "-";
    if (contentRangeEnd_ != 0) value += std::to_string(contentRangeEnd_);
    headerLines_.SetValueOf("Range", value);
}

void TIdRequestHeaderInfo::AddAuthorization()
{
    PutAuthorization(headerLines_, "Authorization", authentication_, basicAuthentication_, username_, password_);
}

// ---- TIdResponseHeaderInfo -----------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo() { TIdResponseHeaderInfo::ClearFields(); }

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::ClearFields()
{
    TIdEntityHeaderInfo::ClearFields();
    location_.clear();
    server_.clear();
    wwwAuthenticate_.Clear();
    proxyAuthenticate_.Clear();
}

void TIdResponseHeaderInfo::FieldsFromLines()
{
    const TIdHeaderList& lines = headerLines_;
    location_ = lines.ValueOf("Location");
    server_ = lines.ValueOf("Server");
    proxyConnection_ = lines.ValueOf("Proxy-Connection");
    ReadContentRange();
    wwwAuthenticate_.Clear();
    lines.CollectValues("WWW-Authenticate", &wwwAuthenticate_);
    proxyAuthenticate_.Clear();
    lines.CollectValues("Proxy-Authenticate", &proxyAuthenticate_);
    EntityFieldsFromLines();
}

// "bytes 0-499/1234". A range the server garbled must not fail the whole
// document: anything but two numbers >= 0 leaves both bounds 0.
void TIdResponseHeaderInfo::ReadContentRange()
{
    std::string range = headerLines_.ValueOf("Content-Range");
    if (range.empty()) return;
    CutToken(range, " ");
    int32_t start = 0;
    int32_t end = 0;
    const bool good =
        TryStrToInt(CutToken(range, "-"), start) && TryStrToInt(CutToken(range, "/"), end) && start >= 0 && end >= 0;
    contentRangeStart_ = good ? uint32_t(start) : 0;
    contentRangeEnd_ = good ? uint32_t(end) : 0;
}

// ---- TIdProxyConnectionInfo ----------------------------------------------------

TIdProxyConnectionInfo::TIdProxyConnectionInfo() { ClearFields(); }

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::ClearFields()
{
    proxyServer_.clear();
    proxyUsername_.clear();
    proxyPassword_.clear();
    proxyPort_ = 0;
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& value)
{
    if (!SameText(value, proxyServer_)) authentication_.reset();
    proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int value)
{
    if (value != proxyPort_) authentication_.reset();
    proxyPort_ = value;
}

void TIdProxyConnectionInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> value)
{
    authentication_ = std::move(value);
}

void TIdProxyConnectionInfo::AssignTo(TIdPersistent& destination) const
{
    auto* target = dynamic_cast<TIdProxyConnectionInfo*>(&destination);
    if (target == nullptr) {
        TIdPersistent::AssignTo(destination);
        return;
    }
    target->proxyPassword_ = proxyPassword_;
    target->SetProxyPort(proxyPort_); // a new proxy must not inherit old credentials
    target->SetProxyServer(proxyServer_);
    target->proxyUsername_ = proxyUsername_;
    target->basicAuthentication_ = basicAuthentication_;
}

void TIdProxyConnectionInfo::LinesFromFields(TIdHeaderList& target)
{
    PutAuthorization(target, "Proxy-Authorization", authentication_, basicAuthentication_, proxyUsername_,
                     proxyPassword_);
}
