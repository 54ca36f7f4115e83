#pragma once

// The decisions of the HTTP client that need no connection: reading the status line, the keep-alive rule,
// the chunk-size line, merging a request URL into the previous one, and the request line. The client
// (IdHTTP.h) calls them; tests call them directly.

#include <cstdint>
#include <string>

#include "net/http/IdURI.h"
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

// "1.0" or "1.1".
const char* ProtocolVersionText(TIdHTTPProtocolVersion version);

// The status code of a status line: the second word read by the integer conversion, -1 when it is missing
// or not a number. Example: "HTTP/1.1 404 Not Found" -> 404; "HTTP/1.0 200" -> 200; "" -> -1.
int32_t StatusCodeOf(const std::string& statusLine);

// The version a status line names (characters 6 to 8, letter case ignored). False when it names neither
// 1.0 nor 1.1; version is then untouched.
bool StatusVersionOf(const std::string& statusLine, TIdHTTPProtocolVersion& version);

// Whether a connection may stay open after a response, judged by the client's own version: at 1.1 unless
// Connection or Proxy-Connection says close, at 1.0 only when one of them says keep-alive (both trimmed,
// letter case ignored).
bool KeepAliveAllowed(TIdHTTPProtocolVersion clientVersion, const std::string& connection,
                      const std::string& proxyConnection);

// The size a chunk-size line announces: the hexadecimal digits before ";" or a blank (leading blanks are
// skipped). Raises EIdHTTPBadResponse for a line without a hexadecimal number before them, with anything
// else in the number, or with more than 15 significant digits. Examples: "1A" -> 26, "1a;x=y" -> 26, "1A ext" -> 26,
// "0" -> 0.
int64_t ChunkSizeOf(const std::string& line);

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
