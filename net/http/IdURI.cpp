#include "net/http/IdURI.h"

#include "net/http/IdGlobal.h"

namespace {

// Where the query starts (1-based, 0 for none) and where the last "/" before
// it lies. Without a "?", a "=" marks the query, as in old CGI links such as
// /cgi-bin/prog=value.
void FindQueryStart(const std::string& rest, int& queryStart, int& lastSlash)
{
    queryStart = FindSubText("?", rest);
    if (queryStart == 0) queryStart = FindSubText("=", rest);
    lastSlash = LastPosBefore("/", rest, queryStart > 0 ? queryStart : -1);
}

// Splits rest into Resource and Query around the query start; Resource
// loses the directory part.
void SplitResource(std::string rest, int queryStart, int lastSlash, std::string& resource, std::string& query)
{
    if (queryStart > 0) {
        resource = rest.substr(0, queryStart - 1);
        query = rest.substr(queryStart - 1);
    } else {
        resource = rest;
    }
    resource.erase(0, lastSlash);
}

} // namespace

TIdURI::TIdURI(const std::string& url)
{
    if (!url.empty()) SetUrl(url);
}

void TIdURI::SetUrl(const std::string& url)
{
    UriText = url;
    ForwardSlashes(UriText);
    std::string rest = UriText;
    Protocol.clear();
    Username.clear();
    Password.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    Resource.clear();
    Query.clear();
    Fragment.clear();

    int queryStart = 0;
    int lastSlash = 0;
    const int schemeEnd = FindSubText("://", rest);
    if (schemeEnd > 0) {
        Protocol = rest.substr(0, schemeEnd - 1);
        rest.erase(0, schemeEnd - 1 + 3);

        std::string authority = CutToken(rest, "/");
        const int at = FindSubText("@", authority);
        if (at > 0) {
            Password = authority.substr(0, at - 1);
            authority.erase(0, at);
        }
        Username = CutToken(Password, ":");
        // ":pw@host" names no user, so the password goes too.
        if (Username.empty()) Password.clear();
        // An IPv6 literal stands in brackets (RFC 3986, 3.2.2), its colons not a port's; Host keeps the
        // brackets, as the Host header and a CONNECT target carry them, and the stack takes them off.
        const size_t close = authority.find(']');
        if (!authority.empty() && authority.front() == '[' && close != std::string::npos) {
            Host = authority.substr(0, close + 1);
            authority.erase(0, close + 1);
            if (!authority.empty() && authority.front() == ':') authority.erase(0, 1);
        } else {
            Host = CutToken(authority, ":");
        }
        Port = authority;

        FindQueryStart(rest, queryStart, lastSlash);
        Path = "/" + rest.substr(0, lastSlash);
        SplitResource(rest, queryStart, lastSlash, Resource, Query);
        Fragment = Resource;
        Resource = CutToken(Fragment, "#");
    } else {
        FindQueryStart(rest, queryStart, lastSlash);
        Path = rest.substr(0, lastSlash);
        SplitResource(rest, queryStart, lastSlash, Resource, Query);
    }

    if (Fragment.empty()) {
        Fragment = Query;
        Query = CutToken(Fragment, "#");
    }
}

std::string TIdURI::ComposeUrl(bool withUserInfo, bool withFragment) const
{
    if (Protocol.empty()) throw EIdURIException("Protocol field is empty");
    std::string url = Protocol + "://";
    if (!Username.empty() && withUserInfo) {
        url += Username;
        if (!Password.empty()) url += ":" + Password;
        url += "@";
    }
    if (Host.empty()) throw EIdURIException("Host field is empty");
    url += Host;
    if (!Port.empty()) url += ":" + Port;
    url += Path + Resource + Query;
    if (!Fragment.empty() && withFragment) url += "#" + Fragment;
    return url;
}

std::string TIdURI::RequestUri()
{
    UriText = ComposeUrl(true, true);
    return ComposeUrl(false, false);
}
