#pragma once

// Header records: the fields of an HTTP header block that the client
// understands, filled from a TIdHeaderList (a response) or composed into one
// (a request), plus the HTTP proxy settings.
//
// Every record owns its header lists and its authentication object. Dates are
// TDateTime in local time (days since 1899-12-30); 0 means "not set". Header
// values are bytes and pass through untouched. Not thread-safe: a record
// belongs to one client and is used on that client's thread.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "net/http/IdDate.h"
#include "net/http/IdHeaderList.h"

class TIdAuthentication;

// Base of the records that can be copied into one another. Assign asks the
// source to copy itself into this object; a source that does not know this
// object's class throws EConvertError "Cannot assign a <source> to a <dest>".
class TIdPersistent {
public:
    virtual ~TIdPersistent() = default;
    void Assign(const TIdPersistent& source) { source.AssignTo(*this); }
    virtual const char* ClassName() const = 0;

protected:
    TIdPersistent() = default;
    TIdPersistent(const TIdPersistent&) = default;
    TIdPersistent& operator=(const TIdPersistent&) = default;
    virtual void AssignTo(TIdPersistent& destination) const;
};

// The entity part shared by requests and responses.
class TIdEntityHeaderInfo : public TIdPersistent {
public:
    TIdEntityHeaderInfo();
    ~TIdEntityHeaderInfo() override;
    const char* ClassName() const override { return "TIdEntityHeaderInfo"; }

    // Parses HeaderLines into the fields.
    virtual void FieldsFromLines();
    // Composes HeaderLines from the fields.
    virtual void LinesFromFields();
    // Defaults; keeps CacheControl, CustomHeaders, Pragma and ContentLengthGiven.
    virtual void ClearFields();

    // The raw lines (fold width 1024, so ordinary headers stay on one line).
    TIdHeaderList& HeaderLines() { return headerLines_; }
    const TIdHeaderList& HeaderLines() const { return headerLines_; }
    // Appended to a composed request as they stand (fold width 78).
    TIdHeaderList& CustomHeaders() { return customHeaders_; }
    const TIdHeaderList& CustomHeaders() const { return customHeaders_; }
    void SetCustomHeaders(const TStringList& lines) { customHeaders_.AssignLines(lines); }

    const std::string& CacheControl() const { return cacheControl_; }
    void SetCacheControl(const std::string& value) { cacheControl_ = value; }
    const std::string& Connection() const { return connection_; }
    void SetConnection(const std::string& value) { connection_ = value; }
    const std::string& ContentEncoding() const { return contentEncoding_; }
    void SetContentEncoding(const std::string& value) { contentEncoding_ = value; }
    const std::string& ContentLanguage() const { return contentLanguage_; }
    void SetContentLanguage(const std::string& value) { contentLanguage_ = value; }
    // -1 when unknown. Setting it also sets ContentLengthGiven to (value >= 0).
    int32_t ContentLength() const { return contentLength_; }
    void SetContentLength(int32_t value);
    bool ContentLengthGiven() const { return contentLengthGiven_; }
    void SetContentLengthGiven(bool value) { contentLengthGiven_ = value; }
    uint32_t ContentRangeStart() const { return contentRangeStart_; }
    void SetContentRangeStart(uint32_t value) { contentRangeStart_ = value; }
    uint32_t ContentRangeEnd() const { return contentRangeEnd_; }
    void SetContentRangeEnd(uint32_t value) { contentRangeEnd_ = value; }
    const std::string& ContentType() const { return contentType_; }
    void SetContentType(const std::string& value) { contentType_ = value; }
    const std::string& ContentVersion() const { return contentVersion_; }
    void SetContentVersion(const std::string& value) { contentVersion_ = value; }
    TDateTime Date() const { return date_; }
    void SetDate(TDateTime value) { date_ = value; }
    TDateTime Expires() const { return expires_; }
    void SetExpires(TDateTime value) { expires_ = value; }
    TDateTime LastModified() const { return lastModified_; }
    void SetLastModified(TDateTime value) { lastModified_ = value; }
    const std::string& Pragma() const { return pragma_; }
    void SetPragma(const std::string& value) { pragma_ = value; }

protected:
    TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
    TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;
    // Copies the lines and the content fields, not CacheControl, Connection,
    // CustomHeaders, Pragma or ContentLengthGiven.
    void AssignTo(TIdPersistent& destination) const override;
    // Steps shared by requests and responses.
    void EntityFieldsFromLines();
    void EntityLinesFromFields();
    // A text field and the header line that carries it.
    using TTextField = std::pair<const char*, std::string*>;

    TIdHeaderList headerLines_{1024};
    TIdHeaderList customHeaders_{78};
    std::string cacheControl_;
    std::string connection_;
    std::string contentEncoding_;
    std::string contentLanguage_;
    int32_t contentLength_ = -1;
    bool contentLengthGiven_ = false;
    uint32_t contentRangeStart_ = 0;
    uint32_t contentRangeEnd_ = 0;
    std::string contentType_;
    std::string contentVersion_;
    TDateTime date_ = 0;
    TDateTime expires_ = 0;
    TDateTime lastModified_ = 0;
    std::string pragma_;

private:
    // The plain text fields among the entity's, in the order their lines are written.
    std::array<TTextField, 5> EntityTextFields();
};

// A request: composes the header lines the client sends.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdRequestHeaderInfo();
    ~TIdRequestHeaderInfo() override;
    const char* ClassName() const override { return "TIdRequestHeaderInfo"; }

    // Reads a request's lines (the client never parses requests; kept for
    // symmetry and tests).
    void FieldsFromLines() override;
    // The request's header lines in their fixed order; every line goes
    // through SetValueOf, so a custom header of the same name is replaced at
    // its place. Example, defaults plus Host "h": Content-Type: text/html,
    // Host: h, Accept: text/html, */*, User-Agent: Mozilla/3.0 (compatible; Scrivlet).
    void LinesFromFields() override;
    // Resets Accept, AcceptCharSet, UserAgent and BasicAuthentication, then
    // the entity fields; the other request fields stay.
    void ClearFields() override;

    const std::string& Accept() const { return accept_; }
    void SetAccept(const std::string& value) { accept_ = value; }
    const std::string& AcceptCharSet() const { return acceptCharSet_; }
    void SetAcceptCharSet(const std::string& value) { acceptCharSet_ = value; }
    const std::string& AcceptEncoding() const { return acceptEncoding_; }
    void SetAcceptEncoding(const std::string& value) { acceptEncoding_ = value; }
    const std::string& AcceptLanguage() const { return acceptLanguage_; }
    void SetAcceptLanguage(const std::string& value) { acceptLanguage_ = value; }
    const std::string& From() const { return from_; }
    void SetFrom(const std::string& value) { from_ = value; }
    const std::string& Referer() const { return referer_; }
    void SetReferer(const std::string& value) { referer_ = value; }
    const std::string& UserAgent() const { return userAgent_; }
    void SetUserAgent(const std::string& value) { userAgent_ = value; }
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& value) { host_ = value; }
    const std::string& Username() const { return username_; }
    void SetUsername(const std::string& value) { username_ = value; }
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& value) { password_ = value; }
    bool BasicAuthentication() const { return basicAuthentication_; }
    void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }
    const std::string& ProxyConnection() const { return proxyConnection_; }
    void SetProxyConnection(const std::string& value) { proxyConnection_ = value; }

    // The current authentication object, owned; null at first.
    TIdAuthentication* Authentication() const { return authentication_.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> value);

protected:
    // Into another request: only Accept*, From, Password, Referer, UserAgent,
    // Username and BasicAuthentication. Into any other entity record: as an
    // entity record.
    void AssignTo(TIdPersistent& destination) const override;

private:
    // The plain text fields among the request's, in the order their lines are written.
    std::array<TTextField, 8> TextFields();
    void AddRange();
    void AddAuthorization();

    std::string accept_;
    std::string acceptCharSet_;
    std::string acceptEncoding_;
    std::string acceptLanguage_;
    std::string from_;
    std::string referer_;
    std::string userAgent_;
    std::string host_;
    std::string username_;
    std::string password_;
    bool basicAuthentication_ = false;
    std::string proxyConnection_;
    std::unique_ptr<TIdAuthentication> authentication_;
};

// A response: parses the header lines the server sent.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo();
    ~TIdResponseHeaderInfo() override;
    const char* ClassName() const override { return "TIdResponseHeaderInfo"; }

    // Reads every field by its first header line of that name in any letter
    // case. Never throws for a bad value: a malformed "Content-Range" gives
    // 0 and 0, a bad "Content-Length" -1, a bad date what the date reader
    // gives; a whole-number "Expires" N (not -1) means N seconds from now.
    void FieldsFromLines() override;
    // Clears the entity fields, Location, Server and both challenge lists;
    // ProxyConnection stays.
    void ClearFields() override;

    const std::string& Location() const { return location_; }
    void SetLocation(const std::string& value) { location_ = value; }
    const std::string& Server() const { return server_; }
    void SetServer(const std::string& value) { server_ = value; }
    const std::string& ProxyConnection() const { return proxyConnection_; }
    void SetProxyConnection(const std::string& value) { proxyConnection_ = value; }
    // One challenge per line.
    TIdHeaderList& WWWAuthenticate() { return wwwAuthenticate_; }
    const TIdHeaderList& WWWAuthenticate() const { return wwwAuthenticate_; }
    void SetWWWAuthenticate(const TStringList& lines) { wwwAuthenticate_.AssignLines(lines); }
    TIdHeaderList& ProxyAuthenticate() { return proxyAuthenticate_; }
    const TIdHeaderList& ProxyAuthenticate() const { return proxyAuthenticate_; }
    void SetProxyAuthenticate(const TStringList& lines) { proxyAuthenticate_.AssignLines(lines); }

private:
    void ReadContentRange();

    std::string location_;
    std::string server_;
    std::string proxyConnection_;
    TIdHeaderList wwwAuthenticate_;
    TIdHeaderList proxyAuthenticate_;
};

// The HTTP proxy settings of a client. An empty ProxyServer means no proxy.
class TIdProxyConnectionInfo : public TIdPersistent {
public:
    TIdProxyConnectionInfo();
    ~TIdProxyConnectionInfo() override;
    const char* ClassName() const override { return "TIdProxyConnectionInfo"; }

    // Sets "Proxy-Authorization" in target (not owned) from the
    // authentication object, creating a Basic one first when
    // BasicAuthentication is on. Runs for every request, proxy or not.
    void LinesFromFields(TIdHeaderList& target);
    // Empties server, user name and password; port 0.
    void ClearFields();

    const std::string& ProxyServer() const { return proxyServer_; }
    // A different server (letter case ignored) frees the authentication object.
    void SetProxyServer(const std::string& value);
    int ProxyPort() const { return proxyPort_; }
    // A different port frees the authentication object.
    void SetProxyPort(int value);
    const std::string& ProxyUsername() const { return proxyUsername_; }
    void SetProxyUsername(const std::string& value) { proxyUsername_ = value; }
    const std::string& ProxyPassword() const { return proxyPassword_; }
    void SetProxyPassword(const std::string& value) { proxyPassword_ = value; }
    bool BasicAuthentication() const { return basicAuthentication_; }
    void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }

    TIdAuthentication* Authentication() const { return authentication_.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> value);

protected:
    // Copies server, port, user name, password and BasicAuthentication into
    // another proxy record.
    void AssignTo(TIdPersistent& destination) const override;

private:
    std::string proxyServer_;
    int proxyPort_ = 0;
    std::string proxyUsername_;
    std::string proxyPassword_;
    bool basicAuthentication_ = false;
    std::unique_ptr<TIdAuthentication> authentication_;
};
