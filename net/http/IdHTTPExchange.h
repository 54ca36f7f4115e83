#pragma once

// One HTTP exchange on a connection it is given: the request head out, then the status line, the header block
// and the body in. It decides nothing and knows no client: the cycle (IdHTTP.h) asks the rules (IdHTTPRules.h)
// what a response means and acts on it.
//
// The connection is only referenced; its time-outs and call deadline bound every read. One exchange at a time
// on the caller's thread; every read blocks. Failures are the connection's exceptions, EIdHTTPBadResponse for
// a header block or chunk framing the exchange refuses, and EIdHTTPTooLarge for a body past its limit.

#include <cstdint>
#include <string>

#include "net/http/IdHTTPRules.h"
#include "net/http/IdHeaderList.h"
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
    // One line of the status or header block, never longer than the header limit. A close before it raises
    // EIdConnClosedGracefully.
    std::string ReadLine();
    // Reads the header block after a status line of statusBytes bytes into lines. False when the connection
    // closed inside the block: what arrived is kept, and the connection is closed. Raises EIdHTTPBadResponse
    // past 1 MiB or 10,000 lines.
    bool ReadHeaderBlock(TIdHeaderList& lines, int64_t statusBytes);
    // Reads a body framed so into stream at its position. maxBytes > 0 bounds it: a body that is larger raises
    // EIdHTTPTooLarge before its bytes past the limit are read. A server that closes before the announced end
    // raises EIdConnClosedGracefully after every byte that arrived has reached the stream.
    void ReadBody(const TIdBodyFraming& framing, TStream& stream, int64_t maxBytes);
    // Reads a body that is not the document (an error page, a redirect's): at most maxBytes of it, the first
    // maxBytes kept in kept, each wait at most waitMs. True when the body ended within that; false when it was
    // larger, broke off or timed out, and the connection (closed then) cannot carry another response. A call
    // deadline that passes still raises.
    bool ReadSideBody(const TIdBodyFraming& framing, int64_t maxBytes, int32_t waitMs, std::string* kept);

private:
    // Up to n bytes into stream; fewer only when the server closed first.
    int64_t ReadUpTo(TStream& stream, int64_t n);
    void ReadChunked(TStream& stream, int64_t maxBytes);
    int64_t ReadChunkSize();

    TIdTCPConnection& connection_;
};
