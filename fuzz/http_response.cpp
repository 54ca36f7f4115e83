// The HTTP client's response reader against arbitrary server answers.
//
// A stand-in transport plays the input as everything the server sends, in pieces of a size the input picks,
// and then reports the close; a second connect is refused. Two calls run on one client, so what the first
// response leaves behind meets the second. Each call must end with a body or an exception of the network
// tree; any other exception, a crash, a hang or runaway memory is a finding.
//
// Input layout: [options] [payload...]; options bit 0 follows redirects, bit 1 speaks HTTP/1.0, bit 2
// answers challenges in-process, bits 5-7 choose the piece size.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdHTTP.h"
#include "net/tcp/IdException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const uint8_t options = data[0];
    static const size_t kPieces[] = {1, 2, 3, 7, 64, 512, 4096, 65536};
    TPieceTransport transport(std::string(reinterpret_cast<const char*>(data + 1), size - 1), {kPieces[options >> 5]},
                              false);
    TIdHTTP http;
    http.SetIOHandler(&transport);
    http.SetHandleRedirects(options & 1);
    http.SetProtocolVersion(options & 2 ? pv1_0 : pv1_1);
    if (options & 4) {
        http.SetHTTPOptions({hoInProcessAuth});
        http.OnAuthorization = [](TIdCustomHTTP*, TIdAuthentication* authentication, bool& handled) {
            authentication->PutUserName("user");
            handled = true;
        };
    }
    for (int call = 0; call < 2; ++call) {
        TMemoryStream body;
        try {
            http.Get("http://fuzz.test/doc.txt", body);
        } catch (const EIdException&) {}
    }
    http.SetIOHandler(nullptr);
    return 0;
}
