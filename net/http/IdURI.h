#pragma once

// TIdURI splits a URL into its parts and puts them back together.
//
// No percent-encoding or decoding happens: every part keeps its bytes as
// they stand in the URL (after backslashes became slashes), and the request
// is sent with them. A plain value object; callers may set the fields.

#include <string>

#include "net/tcp/IdException.h"

// ComposeUrl without a protocol or a host.
class EIdURIException : public EIdException {
public:
    using EIdException::EIdException;
};

class TIdURI {
public:
    TIdURI() = default;
    // Splits url at once unless it is empty.
    explicit TIdURI(const std::string& url);

    // x://user:pw@host:8080/a/b.cgi?x=1#top gives Protocol x, Username user,
    // Password pw, Host host, Port 8080, Path /a/, Resource b.cgi, Query ?x=1,
    // Fragment top. Without "://" the text is a relative reference: only
    // Path (as written, no leading "/" added), Resource and Query are set.
    void SetUrl(const std::string& url);

    // Joins the fields again, with the user information and the fragment
    // when asked. Throws EIdURIException "Protocol field is empty" or
    // "Host field is empty".
    std::string ComposeUrl(bool withUserInfo, bool withFragment) const;

    // Sets UriText to the full URL and returns it without user information
    // and fragment: the form a proxy request line carries.
    std::string RequestUri();

    std::string UriText;
    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;     // text; empty when the URL names none
    std::string Path;     // up to and including the last "/" before the query
    std::string Resource; // the last path segment
    std::string Query;    // keeps its leading "?"
    std::string Fragment; // without the "#"
};
