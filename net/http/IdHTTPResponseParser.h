#pragma once

// TIdHTTPResponseParser reads one HTTP/1.x response from bytes handed to it, without any I/O: the status line,
// the header block (and those of interim 1xx responses before it), the body pieces and the trailer. It alone
// decides how the body is framed (RFC 9112 section 6.3); the exchange (IdHTTPExchange.h) only moves bytes from
// the connection into it, and the fuzz target feeds it directly.
//
// A plain value object for one thread. Body pieces point into the caller's bytes and stay valid only until the
// caller changes them. Framing faults raise EIdHTTPBadResponse with a message naming the fault; a line past the
// line limit raises EIdReadLnMaxLineLengthExceeded; a close before the response ended raises through Close.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/http/IdHTTPRules.h"

// How a response's body ends.
enum class TIdBodyKind {
    None,      // no body: HEAD, 1xx, 204, 304, or a length of 0
    Length,    // exactly length bytes
    Chunked,   // chunks up to the last one and its trailer
    UntilClose // everything until the server closes
};
struct TIdBodyFraming {
    TIdBodyKind kind = TIdBodyKind::None;
    int64_t length = 0;
    bool operator==(const TIdBodyFraming&) const = default;
};

// What one Feed found.
enum class TIdParsed {
    NeedMore, // every byte given was taken; feed more, or Close when the peer has closed
    Interim,  // a 1xx head ended; its lines are readable until the next Feed, the real response follows
    Head,     // the final response's head ended: StatusLine, HeaderLines, Framing, Codings are set
    Body,     // Piece() holds the next bytes of the body
    End       // the response ended; Trailer() holds the trailer lines
};

struct TIdHTTPParserLimits {
    int64_t maxHeadBytes = 1024 * 1024; // status line and header block together, also the trailer
    int32_t maxHeadLines = 10000;
    int32_t maxLineBytes = 16384; // one line of the head, of the trailer, or one chunk-size line
};

class TIdHTTPResponseParser {
public:
    // method: the request's, since a response to HEAD has no body whatever its fields say.
    explicit TIdHTTPResponseParser(TIdHTTPMethod method = hmGet, const TIdHTTPParserLimits& limits = {});

    // Takes bytes from data up to the next event and reports it; consumed says how many were taken (all of them
    // with NeedMore). After End it takes nothing and reports End again.
    // Example: Feed("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok") -> Head (consumed 38), then Body "ok",
    // then End.
    [[nodiscard]] TIdParsed Feed(const char* data, size_t size, size_t& consumed);
    // The peer closed. Returns End when that ends the response (a body that runs until the close, or a close
    // inside the trailer). Raises EIdConnClosedGracefully before the first byte and inside a body that was
    // announced longer, EIdHTTPClosedInHeader inside a head.
    [[nodiscard]] TIdParsed Close();
    // Body bytes the caller took past the parser (straight from the connection into a stream); only while a
    // body of known length is being read, and never more than BodyLeft.
    void SkipBody(int64_t n);

    const std::string& StatusLine() const { return statusLine_; }
    int32_t StatusCode() const { return statusCode_; }
    // The head's lines as they came (continuation lines included), without their line ends.
    const std::vector<std::string>& HeaderLines() const { return headerLines_; }
    const std::vector<std::string>& Trailer() const { return trailer_; }
    const TIdBodyFraming& Framing() const { return framing_; }
    // Transfer and content codings other than chunked that the body carries, in the order the server applied
    // them, lower-cased.
    const std::vector<std::string>& Codings() const { return codings_; }
    // False when the response carried both a transfer coding and a length: the body is read by the coding, but
    // the connection must not carry another response (RFC 9112 section 6.1).
    bool ConnectionReusable() const { return reusable_; }
    std::string_view Piece() const { return piece_; }
    // Bytes of a body of known length (or of the current chunk) that have not arrived; -1 for a body that runs
    // until the close.
    int64_t BodyLeft() const;
    // The body bytes announced so far: the length, or the sizes of the chunks seen so far, or what arrived.
    int64_t BodyAnnounced() const { return announced_; }
    bool Ended() const { return state_ == TState::Done; }

private:
    // One value per state: what the parser waits for, and where it goes next.
    enum class TState {
        StatusLine, // the first line; then HeaderLine
        HeaderLine, // a header line, or the empty line that ends the block; then StatusLine (1xx) or the body
        Length,     // the rest of a body of known length; then Done
        ChunkSize,  // a chunk-size line; then ChunkData, or Trailer after the last chunk
        ChunkData,  // the rest of one chunk; then ChunkEnd
        ChunkEnd,   // the line end after a chunk's data; then ChunkSize
        Trailer,    // a trailer line or the empty line that ends it; then Done
        UntilClose, // everything until the close; then Done
        Done        // the response has ended
    };

    // Collects one line into line_; true once it is whole (its LF taken, a CR before it removed).
    bool TakeLine(const char* data, size_t size, size_t& used);
    TIdParsed EndOfHead();
    void DecideFraming();
    // The one place the state changes.
    void Enter(TState next);

    TIdHTTPMethod method_;
    TIdHTTPParserLimits limits_;
    TState state_ = TState::StatusLine;
    std::string line_;
    bool sawByte_ = false;
    bool resetHead_ = false;
    int64_t headBytes_ = 0;
    std::string statusLine_;
    int32_t statusCode_ = -1;
    std::vector<std::string> headerLines_;
    std::vector<std::string> trailer_;
    std::vector<std::string> codings_;
    TIdBodyFraming framing_;
    bool reusable_ = true;
    int64_t left_ = 0;
    int64_t announced_ = 0;
    std::string_view piece_;
};

// The size a chunk-size line announces: the hexadecimal digits before ";" or a blank (leading blanks are
// skipped). Raises EIdHTTPBadResponse for a line without a hexadecimal number before them, with anything
// else in the number, or with more than 15 significant digits. Examples: "1A" -> 26, "1a;x=y" -> 26,
// "1A ext" -> 26, "0" -> 0.
[[nodiscard]] int64_t ChunkSizeOf(const std::string& line);

// A Content-Length value: decimal digits only, blanks around them ignored (RFC 9110 section 8.6); -1 for
// anything else, and for a length of 19 digits or more. Example: "42" -> 42; "0x10" -> -1; "+5" -> -1.
[[nodiscard]] int64_t ContentLengthOf(const std::string& value);
