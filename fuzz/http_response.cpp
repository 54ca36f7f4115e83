// The HTTP response reading (exchange and rules) against arbitrary server answers, without a client or a
// socket around it.
//
// An in-memory transport plays the input as everything the server sends, in pieces of a size the input
// picks, and then reports the close. Two responses are read from one connection, as the cycle reads them:
// status line, header blocks of interim responses up to the final one, the decision, then the body as the
// document or as a side body. Each response must end with its body or an exception of the network tree; any
// other exception, a crash, a hang, runaway memory or a body past its bound is a finding.
//
// Input layout: [options] [payload...]; options bit 0 bounds the document to 4096 bytes (bit 1 is unused),
// bit 2 reads the body as a side body, bit 3 sends HEAD, bits 5-7 choose the piece size.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdHTTP.h"
#include "net/http/IdHTTPExchange.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdTCPConnection.h"

namespace {

constexpr int64_t kDocumentLimit = 4096;
constexpr int64_t kSideLimit = 65536;

void ReadOneResponse(TIdHTTPExchange& exchange, uint8_t options)
{
    const TIdHTTPMethod method = options & 8 ? hmHead : hmGet;
    TIdHTTPResponse response;
    response.SetStatusLine(exchange.ReadLine());
    bool whole = false;
    for (int32_t interim = 0;; ++interim) {
        whole = exchange.ReadHeaderBlock(response.HeaderLines(), static_cast<int64_t>(response.StatusLine().size()));
        response.FieldsFromLines();
        if (!whole || !IsInterimStatus(response.StatusCode())) break;
        if (interim == TIdCustomHTTP::kMaxInterim) return;
        response.SetStatusLine(exchange.ReadLine());
    }
    const int32_t code = response.StatusCode();
    Check(code == -1 || (code >= 0 && code <= 999));
    DecideAfterResponse({code, !response.Location().empty(), true, 1, 15, 0, 3});
    if (!whole) return;
    TStringList codings;
    response.HeaderLines().CollectValues("Transfer-Encoding", &codings);
    std::string joined;
    for (const std::string& coding : codings) joined += coding + ",";
    const TIdBodyFraming framing =
        BodyFramingOf(code, method, joined, response.HeaderLines().ValueOf("Content-Length"));
    if (options & 4) {
        std::string kept;
        exchange.ReadSideBody(framing, kSideLimit, 0, &kept);
        Check(static_cast<int64_t>(kept.size()) <= kSideLimit);
        return;
    }
    TMemoryStream body;
    const int64_t limit = options & 1 ? kDocumentLimit : 0;
    exchange.ReadBody(framing, body, limit);
    Check(limit == 0 || body.Size() <= limit);
    Check(framing.kind != TIdBodyKind::Length || body.Size() == framing.length);
    Check(framing.kind != TIdBodyKind::None || body.Size() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const uint8_t options = data[0];
    static const size_t kPieces[] = {1, 2, 3, 7, 64, 512, 4096, 65536};
    TPieceTransport transport(std::string(reinterpret_cast<const char*>(data + 1), size - 1), {kPieces[options >> 5]});
    TIdTCPConnection connection;
    connection.SetIOHandler(&transport);
    TIdHTTPExchange exchange(connection);
    for (int response = 0; response < 2; ++response) {
        try {
            ReadOneResponse(exchange, options);
        } catch (const EIdException&) {}
    }
    connection.SetIOHandler(nullptr);
    return 0;
}
