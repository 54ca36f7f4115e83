// The response parser alone: its framing decisions as a table, each row fed whole and byte by byte.

#include <gtest/gtest.h>

#include <string>

#include "net/http/IdHTTPResponseParser.h"
#include "tests/support/ExpectRaises.h"

namespace {

const char* KindName(TIdBodyKind kind)
{
    switch (kind) {
    case TIdBodyKind::None: return "none";
    case TIdBodyKind::Length: return "length";
    case TIdBodyKind::Chunked: return "chunked";
    case TIdBodyKind::UntilClose: return "until close";
    }
    return "?";
}

// Feeds bytes in pieces of piece bytes (then the close when closeAtEnd) and describes what the parser made of
// them: "<interims>, <code> <framing> [codings] [no reuse] body <body> [trailer <n>] [rest <bytes>]", or the
// exception.
std::string Parse(const std::string& bytes, size_t piece, TIdHTTPMethod method = hmGet, bool closeAtEnd = true)
{
    TIdHTTPResponseParser parser(method, {4096, 20, 256});
    std::string interims;
    std::string body;
    std::string ended;
    const auto take = [&](TIdParsed what) {
        if (what == TIdParsed::Interim) interims += std::to_string(parser.StatusCode()) + " ";
        if (what == TIdParsed::Body) body += parser.Piece();
        if (what == TIdParsed::End) ended = "end";
    };
    try {
        size_t offset = 0;
        while (offset < bytes.size() && ended.empty()) {
            const size_t n = std::min(piece, bytes.size() - offset);
            size_t at = 0;
            while (at < n && ended.empty()) {
                size_t used = 0;
                take(parser.Feed(bytes.data() + offset + at, n - at, used));
                at += used;
            }
            offset += at;
        }
        if (ended.empty() && closeAtEnd) take(parser.Close());
        std::string codings;
        for (const std::string& coding : parser.Codings()) codings += " " + coding;
        std::string text = interims + std::to_string(parser.StatusCode()) + " " + KindName(parser.Framing().kind) +
                           codings + (parser.ConnectionReusable() ? "" : " no reuse") + " body '" + body + "'";
        if (!parser.Trailer().empty()) text += " trailer " + std::to_string(parser.Trailer().size());
        if (offset < bytes.size()) text += " rest '" + bytes.substr(offset) + "'";
        return text + (ended.empty() ? " open" : "");
    } catch (const EIdHTTPClosedInHeader&) {
        return "closed in header";
    } catch (const EIdConnClosedGracefully&) {
        return "closed, body '" + body + "'";
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        return "line too long";
    } catch (const EIdHTTPBadResponse& e) {
        return std::string("bad: ") + e.what();
    }
}

TEST(TIdHTTPResponseParser, FramingDecisionsWholeAndByteByByte)
{
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const struct {
        const char* name;
        std::string bytes;
        std::string expected;
        TIdHTTPMethod method = hmGet;
    } rows[] = {
        {"length", ok + "Content-Length: 5\r\n\r\nhello", "200 length body 'hello'"},
        {"length, next response kept", ok + "Content-Length: 2\r\n\r\nokHTTP/1.1",
         "200 length body 'ok' rest 'HTTP/1.1'"},
        {"length 0", ok + "Content-Length: 0\r\n\r\nX", "200 none body '' rest 'X'"},
        {"large length", ok + "Content-Length:  4294967296 \r\n\r\nab", "closed, body 'ab'"},
        {"no length: until close", ok + "\r\nall of it", "200 until close body 'all of it'"},
        {"LF line ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "200 length body 'ok'"},
        {"HEAD ignores the fields", ok + "Content-Length: 5\r\n\r\n", "200 none body ''", hmHead},
        {"204 with chunked", "HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\n\r\n", "204 none body ''"},
        {"2xx to CONNECT", ok + "Content-Length: 9\r\n\r\n", "200 none body ''", hmConnect},
        {"interim then final",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: x\r\n\r\n" + ok + "Content-Length: 1\r\n\r\nx",
         "100 103 200 length body 'x'"},
        // A 1xx announcing a body used to be read on as the next status line.
        {"interim with a body", "HTTP/1.1 100 Continue\r\nContent-Length: 5\r\n\r\nhello" + ok + "\r\n",
         "bad: Interim response announces a body"},
        {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n3\r\nfgh\r\n0\r\n\r\n",
         "200 chunked body 'abcdefgh'"},
        {"chunked with trailer", ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nA: 1\r\nB: 2\r\n\r\nN",
         "200 chunked body 'abc' trailer 2 rest 'N'"},
        {"close inside the trailer", ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nA: 1",
         "200 chunked body 'abc'"},
        {"chunk longer than its size", ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabcd\r\n0\r\n\r\n",
         "bad: Chunk data not followed by a line end"},
        {"short chunk", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nab", "closed, body 'ab'"},
        {"long chunk-size line", ok + "Transfer-Encoding: chunked\r\n\r\n1" + std::string(300, '0') + "\r\n",
         "line too long"},
        {"chunked wins over a length, but ends the connection",
         ok + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         "200 chunked no reuse body 'abc'"},
        // Differing lengths used to let the first win; the rest of the body then read as the next response.
        {"two different lengths", ok + "Content-Length: 5\r\nContent-Length: 60\r\n\r\nhello",
         "bad: Differing Content-Length values: 5, 60"},
        {"a list of different lengths", ok + "Content-Length: 5, 6\r\n\r\nhello",
         "bad: Differing Content-Length values: 5, 6"},
        {"the same length repeated", ok + "Content-Length: 5\r\nContent-Length: 5, 5\r\n\r\nhello",
         "200 length body 'hello'"},
        {"length with a sign", ok + "Content-Length: +5\r\n\r\n", "bad: Invalid Content-Length: +5"},
        {"negative length", ok + "Content-Length: -1\r\n\r\n", "bad: Invalid Content-Length: -1"},
        {"length of two numbers", ok + "Content-Length: 1 2\r\n\r\n", "bad: Invalid Content-Length: 1 2"},
        {"length past 63 bits", ok + "Content-Length: 12345678901234567890\r\n\r\n",
         "bad: Invalid Content-Length: 12345678901234567890"},
        {"error status framed by its length", "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nnoX",
         "404 length body 'no' rest 'X'"},
        // Codings the client does not undo used to reach the document as they came.
        {"gzip, chunked", ok + "Transfer-Encoding: gzip, chunked\r\n\r\n2\r\n\x1f\x8b\r\n0\r\n\r\n",
         "200 chunked gzip body '\x1f\x8b'"},
        {"chunked, gzip", ok + "Transfer-Encoding: chunked, gzip\r\n\r\nxy",
         "bad: Transfer coding chunked applied before another one"},
        {"content coding", ok + "Content-Encoding: gzip\r\nContent-Length: 2\r\n\r\nxy", "200 length gzip body 'xy'"},
        // "identity" used to stand for an unknown coding, so a length beside it waited for the close.
        {"identity with a length", ok + "Transfer-Encoding: identity\r\nContent-Length: 2\r\n\r\nxyN",
         "200 length body 'xy' rest 'N'"},
        {"close inside the head", ok + "Content-Le", "closed in header"},
        {"close inside the status line", "HTTP/1.1 2", "closed in header"},
        {"head too large",
         ok +
             [] {
                 std::string lines;
                 for (int i = 0; i < 17; ++i) lines += "X: " + std::string(240, 'x') + "\r\n";
                 return lines;
             }() +
             "\r\n",
         "bad: Response header block larger than 4096 bytes"},
        {"line too long", ok + "X: " + std::string(300, 'x') + "\r\n\r\n", "line too long"},
        {"too many lines",
         ok +
             [] {
                 std::string lines;
                 for (int i = 0; i < 21; ++i) lines += "X: y\r\n";
                 return lines;
             }() +
             "\r\n",
         "bad: Response header block longer than 20 lines"},
    };
    for (const auto& row : rows) {
        for (const size_t piece : {row.bytes.size() + 1, size_t{1}}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            EXPECT_EQ(Parse(row.bytes, piece, row.method), row.expected);
        }
    }
}

TEST(TIdHTTPResponseParser, BodyTakenPastTheParserCountsAsRead)
{
    TIdHTTPResponseParser parser;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc";
    size_t used = 0;
    ASSERT_EQ(parser.Feed(head.data(), head.size(), used), TIdParsed::Head);
    ASSERT_EQ(parser.Feed(head.data() + used, head.size() - used, used), TIdParsed::Body);
    EXPECT_EQ(parser.Piece(), "abc");
    EXPECT_EQ(parser.BodyLeft(), 7);
    parser.SkipBody(7);
    EXPECT_TRUE(parser.Ended());
    EXPECT_EQ(parser.Feed("HTTP", 4, used), TIdParsed::End);
    EXPECT_EQ(used, 0u);
}

TEST(TIdHTTPResponseParser, ChunkSizeReadsHexDigitsUpToSemicolonOrBlank)
{
    const struct {
        const char* line;
        int64_t size;
    } rows[] = {
        {"1A", 26},
        {"1a", 26},
        {"1a;name=value", 26},
        {"1A ;ext", 26},
        {"1A\text", 26},
        {"0", 0},
        {"000", 0},
        {" 5", 5},
        {"0000000000000000001", 1},
        {"fffffffffffffff", 0xfffffffffffffff},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(ChunkSizeOf(row.line), row.size);
    }
}

TEST(TIdHTTPResponseParser, ChunkSizeLineWithoutANumberRaises)
{
    const struct {
        const char* line;
        const char* message;
    } rows[] = {
        {"", "Invalid chunk size line"},    {";ext", "Invalid chunk size line"},
        {"xyz", "Invalid chunk size line"}, {"1G", "Invalid chunk size line"},
        {"-5", "Invalid chunk size line"},  {"1000000000000000", "Chunk size too large"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        testsupport::ExpectRaises<EIdHTTPBadResponse>([&] { (void)ChunkSizeOf(row.line); }, row.message);
    }
}

} // namespace
