// The line reader against arbitrary receive boundaries.
//
// The input describes a terminator, a line limit and its action, a receive size and a list of piece sizes,
// followed by the bytes the peer sends; a stand-in transport serves those bytes in exactly those pieces and
// then reports the peer's close. However the bytes are cut, the reader must give the same results as a plain
// model that sees all bytes at once; a difference aborts.
//
// Input layout: [terminator] [limit] [action | receive size] [piece count k] [k piece sizes] [payload...]

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdTCPConnection.h"

namespace {

const char* const kTerminators[] = {"\n", "\r\n", ".", "--END--", "aa"};

// What the reader must return when all bytes are there at once: "line:", "split:", "timedout" and a final
// "raise:max" or "raise:closed". A terminator still incomplete at the end of the bytes does not count toward
// the limit, since more bytes could have completed it.
std::vector<std::string> Model(const std::string& data, const std::string& term, int32_t maximum, bool split)
{
    std::vector<std::string> out;
    size_t pos = 0;
    bool closedSeen = false;
    for (;;) {
        const size_t at = data.find(term, pos);
        const size_t length = at == std::string::npos ? 0 : at - pos;
        const size_t rest = data.size() - pos;
        const size_t searched = rest >= term.size() - 1 ? rest - (term.size() - 1) : 0;
        const bool tooLong = maximum != 0 && (at != std::string::npos ? length > static_cast<size_t>(maximum)
                                                                      : searched > static_cast<size_t>(maximum));
        if (tooLong) {
            if (!split) {
                out.push_back("raise:max");
                return out;
            }
            out.push_back("split:" + data.substr(pos, static_cast<size_t>(maximum)));
            pos += static_cast<size_t>(maximum);
            continue;
        }
        if (at == std::string::npos) {
            if (rest == 0 || closedSeen) {
                out.push_back("raise:closed");
                return out;
            }
            out.push_back("timedout");
            closedSeen = true;
            continue;
        }
        std::string line = data.substr(pos, length);
        if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
        out.push_back("line:" + line);
        pos = at + term.size();
    }
}

std::vector<std::string> Run(TIdTCPConnection& c, const std::string& term, size_t limit)
{
    std::vector<std::string> out;
    while (out.size() < limit) {
        try {
            const std::string line = c.ReadLine(term);
            if (c.LineTimedOut()) {
                out.push_back(line.empty() ? "timedout" : "timedout with text");
            } else {
                out.push_back((c.LineWasSplit() ? "split:" : "line:") + line);
            }
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            out.push_back("raise:max");
            break;
        } catch (const EIdConnClosedGracefully&) {
            out.push_back("raise:closed");
            break;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    const std::string term = kTerminators[data[0] % (sizeof(kTerminators) / sizeof(kTerminators[0]))];
    const int32_t maximum = data[1] < 32 ? data[1] : -1; // -1: the default limit
    const bool split = (data[2] & 1) != 0;
    const int32_t recvSize = (data[2] >> 1) + 1;
    const size_t pieceCount = data[3];
    if (size < 4 + pieceCount) return 0;
    std::vector<size_t> pieces;
    for (size_t i = 0; i < pieceCount; ++i) pieces.push_back(static_cast<size_t>(data[4 + i]) + 1);
    const std::string payload(reinterpret_cast<const char*>(data) + 4 + pieceCount, size - 4 - pieceCount);

    TIdTCPConnection connection;
    connection.SetIOHandler(new TPieceTransport(payload, pieces));
    connection.SetOwnsIOHandler(true);
    connection.SetRecvBufferSize(recvSize);
    connection.SetMaxLineAction(split ? maSplit : maException);
    if (maximum != -1) connection.SetMaxLineLength(maximum);

    const std::vector<std::string> expected =
        Model(payload, term, maximum == -1 ? TIdTCPConnection::kDefaultMaxLineLength : maximum, split);
    const std::vector<std::string> got = Run(connection, term, expected.size() + 1);
    if (got != expected) {
        std::fprintf(stderr, "line reader and model differ after %zu results\n", got.size());
        for (size_t i = 0; i < std::max(got.size(), expected.size()); ++i) {
            std::fprintf(stderr, "  got [%s]  expected [%s]\n", i < got.size() ? got[i].c_str() : "-",
                         i < expected.size() ? expected[i].c_str() : "-");
        }
        std::abort();
    }
    return 0;
}
