// The response parser against arbitrary server answers: the bytes go straight into it, with no connection,
// exchange or client around it.
//
// The payload is everything the server sends, fed in pieces of a size the input picks, then the close. Up to
// two responses are read from it, as from one kept connection. Each must end with its body or an exception of
// the network tree; any other exception, a crash, a hang, a body that does not match its framing or a head
// past its bounds is a finding.
//
// Input layout: [options] [payload...]; bit 3 answers a HEAD request, bits 5-7 choose the piece size.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdHTTPResponseParser.h"
#include "net/tcp/IdException.h"

namespace {

constexpr TIdHTTPParserLimits kLimits{64 * 1024, 200, 4096};

// Reads one response from the payload at offset; the offset after it, or the payload's size when the close
// ended it.
size_t ReadOneResponse(const std::string& payload, size_t offset, size_t piece, TIdHTTPMethod method)
{
    TIdHTTPResponseParser parser(method, kLimits);
    int64_t body = 0;
    bool headSeen = false;
    const auto take = [&](TIdParsed what) {
        switch (what) {
        case TIdParsed::Head:
            headSeen = true;
            Check(parser.StatusCode() == -1 || (parser.StatusCode() >= 0 && parser.StatusCode() <= 999));
            Check(static_cast<int32_t>(parser.HeaderLines().size()) <= kLimits.maxHeadLines);
            break;
        case TIdParsed::Body:
            Check(headSeen && !parser.Piece().empty());
            body += static_cast<int64_t>(parser.Piece().size());
            break;
        case TIdParsed::End:
            Check(parser.Framing().kind != TIdBodyKind::Length || body == parser.Framing().length);
            Check(parser.Framing().kind != TIdBodyKind::None || body == 0);
            Check(parser.Framing().kind == TIdBodyKind::UntilClose || body == parser.BodyAnnounced());
            break;
        default: break;
        }
    };
    while (offset < payload.size()) {
        const size_t n = std::min(piece, payload.size() - offset);
        size_t at = 0;
        while (at < n) {
            size_t used = 0;
            const TIdParsed what = parser.Feed(payload.data() + offset + at, n - at, used);
            Check(used <= n - at);
            at += used;
            take(what);
            if (what == TIdParsed::End) return offset + at;
            Check(used > 0 || what != TIdParsed::NeedMore);
        }
        offset += n;
    }
    take(parser.Close());
    return payload.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const uint8_t options = data[0];
    static const size_t kPieces[] = {1, 2, 3, 7, 64, 512, 4096, 65536};
    const std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
    const TIdHTTPMethod method = options & 8 ? hmHead : hmGet;
    size_t offset = 0;
    for (int response = 0; response < 2 && offset < payload.size(); ++response) {
        try {
            offset = ReadOneResponse(payload, offset, kPieces[options >> 5], method);
        } catch (const EIdException&) {
            return 0;
        }
    }
    return 0;
}
