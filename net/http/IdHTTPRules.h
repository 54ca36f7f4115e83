#pragma once

// The decisions of the HTTP client that need no connection: reading the status line, the keep-alive rule,
// how a body is framed, the chunk-size line, what to do after a response, where a redirect may go, merging a
// request URL into the previous one, and the request line. The client (IdHTTP.h) calls them; tests call them
// directly.

#include <cstdint>
#include <string>

#include <memory>

#include "net/http/IdURI.h"
#include "net/tcp/IdDeadline.h"
#include "net/tcp/IdException.h"

enum TIdHTTPProtocolVersion {
    pv1_0, // "1.0"
    pv1_1  // "1.1"
};

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };

// How a request reaches its server.
enum TIdHTTPConnectionKind {
    ckDirect,    // plain http to the server
    ckTLSDirect, // TLS to the server from the first byte
    ckProxy,     // plain http through an HTTP proxy (absolute URL on the request line)
    ckTLSTunnel  // a CONNECT tunnel through an HTTP proxy, then TLS inside it
};

// A URL whose protocol is neither http nor https and that names no port. The message is empty.
class EIdUnknownProtocol : public EIdException {
public:
    EIdUnknownProtocol() : EIdException("") {}
};

// A response the client refuses to read on: a header block or chunk framing that is malformed or larger than
// the client holds in memory.
class EIdHTTPBadResponse : public EIdException {
public:
    using EIdException::EIdException;
};

// A fetch whose connection closed inside a response's header block, so what the server meant is unknown. The
// text is the client's long-standing one; the class says that the server closed the connection.
class EIdHTTPClosedInHeader : public EIdException {
public:
    EIdHTTPClosedInHeader() : EIdException("Undefined situation") {}
};

// A document larger than the client's MaxBodySize; nothing past the limit was read.
class EIdHTTPTooLarge : public EIdHTTPBadResponse {
public:
    explicit EIdHTTPTooLarge(int64_t limit)
        : EIdHTTPBadResponse("The document exceeds the size limit of " + std::to_string(limit) + " bytes.")
    {}
};

// A fetch that did not end within the client's TotalTimeout (connect, redirects and every read together).
class EIdHTTPTimeLimit : public EIdReadTimeout {
public:
    explicit EIdHTTPTimeLimit(int32_t limitMs)
        : EIdReadTimeout("The document did not arrive within the time limit of " + std::to_string(limitMs) + " ms.")
    {}
};

// A fetch ended by the client's Cancel before it finished.
class EIdHTTPCancelled : public EIdException {
public:
    EIdHTTPCancelled() : EIdException("The fetch was cancelled.") {}
};

// The deadlines of one call, converted once from the client's time properties (milliseconds). The call's own
// deadline is TotalTimeout (none for 0) and carries the call's cancel; a connect's and a side body's start
// when asked for and never end after it. Example: {read 5000, connect 0, total 0}: a connect gets 5 s.
class TIdHTTPDeadlines {
public:
    TIdHTTPDeadlines() = default;
    TIdHTTPDeadlines(int32_t readTimeoutMs, int32_t connectTimeoutMs, int32_t totalTimeoutMs,
                     std::shared_ptr<const TIdCancel> cancel);
    const TIdDeadline& Call() const { return call_; }
    // ConnectTimeout from now, or ReadTimeout when it is 0; with both 0 only the call's deadline.
    TIdDeadline Connect() const;
    // waitMs from now, for a body that is not the document (an error page, a redirect's).
    TIdDeadline SideBody(int32_t waitMs) const;

private:
    int32_t connectMs_ = 0;
    TIdDeadline call_;
};

// "1.0" or "1.1".
const char* ProtocolVersionText(TIdHTTPProtocolVersion version);

// The status code of a status line: the second word when it is three decimal digits (RFC 9112 section 4), else
// -1. Example: "HTTP/1.1 404 Not Found" -> 404; "HTTP/1.0 200" -> 200; "HTTP/1.1 +200 OK" -> -1; "" -> -1.
int32_t StatusCodeOf(const std::string& statusLine);

// The version a status line names (characters 6 to 8, letter case ignored). False when it names neither
// 1.0 nor 1.1; version is then untouched.
bool StatusVersionOf(const std::string& statusLine, TIdHTTPProtocolVersion& version);

// Whether a connection may stay open after a response, judged by the client's own version: at 1.1 unless
// Connection or Proxy-Connection says close, at 1.0 only when one of them says keep-alive (both trimmed,
// letter case ignored).
bool KeepAliveAllowed(TIdHTTPProtocolVersion clientVersion, const std::string& connection,
                      const std::string& proxyConnection);

// Whether the status line of code is followed by the real response on the same connection: every 1xx but
// 101 (RFC 9110 section 15.2).
bool IsInterimStatus(int32_t code);

// What the cycle does after a response's head.
enum class TIdHTTPAction {
    Done,                  // the final response: its body is the document
    Redirect,              // follow Location, when the redirect event agrees
    AskRedirect,           // redirects are not followed: the redirect event may still accept Location
    TooManyRedirects,      // the redirect limit is reached: raise
    AnswerServerChallenge, // a 401 with tries left: answer it and send again
    AnswerProxyChallenge,  // a 407 with tries left
    Fail                   // raise EIdHTTPProtocolException for the status
};
struct TIdHTTPResponseFacts {
    int32_t code = 0;
    bool hasLocation = false;
    bool handleRedirects = false;
    int32_t passes = 0;          // requests of this call so far, this one included
    int32_t redirectMaximum = 0; // passes a call may make before a redirect raises
    int32_t challengeTries = 0;  // challenges of this kind (401 or 407) answered in this call
    int32_t authRetries = 0;
};
// Example: {code 302, location, handleRedirects, passes 1, maximum 15} -> Redirect; passes 15 -> TooManyRedirects.
TIdHTTPAction DecideAfterResponse(const TIdHTTPResponseFacts& facts);

// Why a redirect may not be followed from a URL of currentProtocol to location: "" when it may. A location
// may name no protocol (it is then relative), http or https, but not another one ("file:", "ftp:",
// "javascript:"), and never lead from https to http.
std::string RedirectRefusal(const std::string& currentProtocol, const std::string& location);

// A redirect's Location resolved against the URL it came from (RFC 3986 section 5.2), as one absolute URL in
// the form the URL parser reads back unchanged, so the redirect event and the connection judge the same URL:
// scheme, host and port come from base unless the reference names them ("//host/path" names a host), the
// fragment is dropped, and a backslash reads as a slash, as the URL parser reads it. A reference with a scheme
// other than http or https, or without "//", comes back as it is. Example: (https://h/a/b.txt, "c.txt") ->
// "https://h:443/a/c.txt".
std::string ResolveReference(const TIdURI& base, const std::string& reference);

// Whether a host name may go into a request: no control byte, blank or DEL, which would split or extend the
// Host line or a proxy's CONNECT line.
bool HostIsClean(const std::string& host);

// A request target with every byte that may not stand in one (controls, blanks, bytes above 126 and
// "\"<>^`{|}) percent-encoded; "%" and everything else is kept. Example: "/a b" -> "/a%20b".
std::string EncodeRequestTarget(const std::string& target);

// Merges the URL `next` into `current` (the previous request's URL): path resolved against the previous
// path, resource and query taken over, host kept when the URL names none, protocol "http" when it names
// none, and the port: the URL's own, else 80 or 443 by protocol while the current port is 0, 80 or 443,
// else the current one. User name and password are set by the caller. Raises EIdUnknownProtocol for
// another protocol without a port.
void MergeRequestUri(TIdURI& current, const TIdURI& next);

// The text of a "Host" header for a URL: host, plus ":" and the port unless the port text is exactly "80".
std::string HostHeaderOf(const TIdURI& uri);

// Where a URL's requests go, for telling a change of server: protocol, host (letter case ignored) and port.
std::string TargetKeyOf(const TIdURI& uri);

// The request line without its line end, or "" for hmDelete (which has none).
// Example: (hmGet, "/a b", pv1_1) -> "GET /a b HTTP/1.1".
std::string RequestLineOf(TIdHTTPMethod method, const std::string& url, TIdHTTPProtocolVersion version);
