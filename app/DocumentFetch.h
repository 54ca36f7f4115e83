// The fetch command's decisions that need no window: reading the number the
// user typed, checking a URL before it is sent or stored, which redirects are
// followed, and what may go into the history. Plain code over bytes (UTF-8).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A longer URL is refused before it is built or sent: no document address
// comes near it, and a format with huge field widths would otherwise build
// megabytes.
constexpr std::size_t kMaxUrlBytes = 8192;

// The document number in what was typed: leading blanks and an "RFC" prefix
// (any case, blanks after it) are skipped, then the run of digits is taken;
// full-width digits count as digits. "" when no digit comes there.
// Examples: "RFC 2616" -> "2616", "１２３" -> "123", "2223 : T" -> "2223", "-5" -> "".
[[nodiscard]] std::string TypedNumber(std::string_view typed);

// The document number as it is fetched and filed: TypedNumber without leading
// zeros, so "0822", "RFC 822" and " 822 " are one document. "0" stays "0".
// Examples: "0822" -> "822", "rfc0000" -> "0", "x" -> "".
[[nodiscard]] std::string DocumentNumber(std::string_view typed);

enum class TUrlProblem {
    None,
    NoScheme,  // no "scheme://" at the start
    BadScheme, // a scheme other than http, https (any case) or file (lower case)
    NoHost,    // http or https without a host
    TooLong,   // more than kMaxUrlBytes
    NoNumber   // a URL format without the "%s" that takes the number
};

// Checks a URL, or a URL format before its number is filled in.
[[nodiscard]] TUrlProblem CheckUrl(std::string_view url);

// Checks a URL format: a URL holding a conversion for the number ("%s") that
// stays within kMaxUrlBytes with a number of numberBytes bytes. Without one
// every number would fetch one and the same document ("%%" is no conversion).
[[nodiscard]] TUrlProblem CheckUrlFormat(std::string_view format, std::size_t numberBytes);

// The most bytes the format can give with an argument of argBytes bytes:
// the text outside the conversions plus, for each conversion, the larger of
// its field width and the argument. Lets a huge width be refused unbuilt.
std::size_t FormattedSizeBound(std::string_view format, std::size_t argBytes);

// The URL without the password of its user information, which must never be
// shown or stored: "http://u:secret@h/x" -> "http://u@h/x".
[[nodiscard]] std::string WithoutPassword(std::string_view url);

// Host and port a URL names (default ports 80 and 443; bracketed IPv6 kept
// as written). Port 0 when the scheme has no default and none is given.
struct TUrlAddress {
    std::string Host;
    int Port = 0;
};
TUrlAddress UrlAddress(std::string_view url);

// The way a fetch goes out: the document's URL, the HTTP proxy (empty host:
// none) and the SOCKS hop below it (empty host: none).
struct TFetchRoute {
    std::string Url;
    std::string ProxyHost;
    int ProxyPort = 0;
    std::string SocksHost;
    int SocksPort = 0;
};

// The address a failed fetch tried, as "host:port": the SOCKS hop when the
// failure came before it answered; otherwise what lies beyond it, the proxy
// if any, else the document's server, with "(SOCKS host:port)" after it when
// the hop answered. Example: "127.0.0.1:8080 (SOCKS 127.0.0.1:1080)".
[[nodiscard]] std::string TriedAddress(const TFetchRoute& route, bool socksAnswered);

// Whether a redirect from url to location is followed: a location on the
// same host (a relative one included) over http or https, never from https
// down to http, or the same path over https on any host.
[[nodiscard]] bool RedirectAllowed(std::string_view url, std::string_view location);

// A document is text when its first 8 KB hold no NUL byte.
[[nodiscard]] bool LooksLikeText(std::string_view bytes);

// The text with every control character (below 32, and 127) made a blank:
// a history entry carries none into the settings file.
[[nodiscard]] std::string WithoutControlCharacters(std::string text);
// Whether text holds any control character.
[[nodiscard]] bool HasControlCharacter(std::string_view text);
