#pragma once

// One HTTP exchange on a connection it is given: the request head out, then the response in. The response
// parser (IdHTTPResponseParser.h) decides everything about the bytes; the exchange only moves them from the
// connection into it and the body pieces out of it. It knows no client: the cycle (IdHTTP.h) asks the rules
// (IdHTTPRules.h) what a response means and acts on it.
//
// The connection is only referenced; its ReadTimeout bounds each wait for the document, a deadline given by
// the caller bounds a side body, and the connection's call deadline bounds both. One exchange at a time on the
// caller's thread; every read blocks. Failures are the connection's exceptions and the parser's.

#include <cstdint>
#include <string>

#include "net/http/IdHTTPResponseParser.h"
#include "net/http/IdHTTPRules.h"
#include "net/tcp/IdTCPConnection.h"
#include "platform/Classes.h"

class TIdHTTPExchange {
public:
    static constexpr int32_t kMaxHeaderBytes = 1024 * 1024;
    static constexpr int32_t kMaxHeaderLines = 10000;

    explicit TIdHTTPExchange(TIdTCPConnection& connection) : connection_(connection) {}

    // Writes the request line (none when empty) and the non-empty header lines in one send; a failure while
    // composing it sends nothing.
    void SendHead(const std::string& requestLine, const TStringList& lines);
    // Starts reading the response to a request of method.
    void Begin(TIdHTTPMethod method);
    // Reads the next head into statusLine and lines. True for an interim (1xx) head: another head follows.
    // A close before the first byte raises EIdConnClosedGracefully, one inside the head EIdHTTPClosedInHeader.
    [[nodiscard]] bool ReadHead(std::string& statusLine, TStringList& lines);
    // The parser of the response being read (framing, codings, whether it has ended).
    const TIdHTTPResponseParser& Parser() const { return parser_; }
    // Reads the body into stream at its position. maxBytes > 0 bounds it: a larger body raises EIdHTTPTooLarge
    // before its bytes past the limit reach the stream. A body in a coding this client does not decode raises
    // EIdHTTPBadResponse before any of it is read. A close before the announced end raises
    // EIdConnClosedGracefully after every byte that arrived has reached the stream.
    void ReadBody(TStream& stream, int64_t maxBytes);
    // Reads a body that is not the document (an error page, a redirect's) until by: at most maxBytes of it,
    // kept in kept. True when the body ended within that; false when it was larger, broke off or timed out, and
    // the connection (closed then) cannot carry another response. A call deadline that passes still raises.
    [[nodiscard]] bool ReadSideBody(int64_t maxBytes, const TIdDeadline& by, std::string* kept);
    // Whether the response was read to its end and its connection may carry another one.
    [[nodiscard]] bool LeftConnectionClean() const { return parser_.Ended() && parser_.ConnectionReusable(); }

private:
    // Feeds the queued bytes to the parser, receiving more (each wait until by, or ReadTimeout without it) when
    // it needs them, up to its next event. A Body piece stays valid until the next Step.
    TIdParsed Step(const TIdDeadline* by);
    // A body of known length straight from the connection into a memory stream, without passing the queue.
    void ReadLengthInPlace(TStream& stream);

    TIdTCPConnection& connection_;
    TIdHTTPResponseParser parser_;
    int64_t pendingDiscard_ = 0;
};
