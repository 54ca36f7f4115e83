// The response parser alone, and the connect to a name whose IPv6 address is dead, in one run:
//   - 100 MB of chunked body (8 KB chunks) fed to TIdHTTPResponseParser in 8 KB pieces, no I/O (bytes/s);
//   - a connect to ::1 (its accept queue full, so the attempt hangs) and 127.0.0.1 on one port, in the
//     resolver's order: the time until the IPv4 address is connected.
//
//   http_parser_bench [benchmark flags]

#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>

#include <string>
#include <vector>

#include "net/http/IdHTTPResponseParser.h"
#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdTCPClient.h"
#include "tests/support/Loopback.h"

namespace {

constexpr size_t kPiece = 8 * 1024;
// 100 MB in whole chunks of kPiece.
constexpr size_t kBody = (100 * 1000 * 1000 / kPiece) * kPiece;

std::string ChunkedResponse()
{
    std::string bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    bytes.reserve(kBody + kBody / 8);
    const std::string chunk(kPiece, 'x');
    for (size_t sent = 0; sent < kBody; sent += kPiece) bytes += "2000\r\n" + chunk + "\r\n";
    return bytes + "0\r\n\r\n";
}

void ParserChunked(benchmark::State& state)
{
    const std::string bytes = ChunkedResponse();
    for (auto _ : state) {
        TIdHTTPResponseParser parser;
        size_t body = 0;
        for (size_t offset = 0; offset < bytes.size(); offset += kPiece) {
            const size_t n = std::min(kPiece, bytes.size() - offset);
            for (size_t at = 0; at < n;) {
                size_t used = 0;
                if (parser.Feed(bytes.data() + offset + at, n - at, used) == TIdParsed::Body) {
                    body += parser.Piece().size();
                }
                at += used;
                if (used == 0) break;
            }
        }
        if (body != kBody) state.SkipWithError("body lost");
        benchmark::DoNotOptimize(body);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(ParserChunked)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void DeadIPv6LiveIPv4(benchmark::State& state)
{
    testsupport::TRawSocket dead(0, true);
    if (!dead.FillBacklog()) state.SkipWithError("the ::1 accept queue did not fill");
    testsupport::TRawSocket live(dead.Port());
    live.Listen(64);
    TIdTCPClient keeper; // keeps the stack alive
    for (auto _ : state) {
        TIdIOHandlerSocket handler;
        handler.PrepareTransport();
        handler.ConnectToAddresses({"::1", "127.0.0.1"}, dead.Port(), "", 0, 0, 0, DeadlineAfter(5000));
        if (handler.SocketHandle()->RemoteIP() != "127.0.0.1") state.SkipWithError("wrong address");
        state.PauseTiming();
        handler.CloseTransport();
        // The listener's queue holds the accepted connection; take it off so the next one is not refused.
        const int accepted = ::accept(live.Fd(), nullptr, nullptr);
        if (accepted >= 0) ::close(accepted);
        state.ResumeTiming();
    }
}
BENCHMARK(DeadIPv6LiveIPv4)->Unit(benchmark::kMillisecond)->Iterations(10)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

BENCHMARK_MAIN();
