// Throughput of the buffered connection over loopback.
//
// One scripted server, started once, answers every connection with an HTTP response of a 100 MB body. In the
// same run three clients download it:
//   - ReadToStream of the connection (through the client's own connect and socket transport), into a memory
//     stream, and into /dev/null;
//   - a plain POSIX recv loop straight into a preallocated buffer (the floor of what any reader can do);
//   - curl, writing to /dev/null (a separate process per download, as it is used).
// A second server sends a million short lines for the line reader, at two sizes to show that the time per
// line does not grow with the amount already read.
//
//   connection_bench [benchmark flags]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "net/tcp/IdTCPClient.h"
#include "platform/Classes.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedServer.h"

namespace {

using benchsupport::StartOnServerCore;
using testsupport::ConnectLoopback;
using testsupport::TConnectionScript;
using testsupport::TScriptedServer;

constexpr int64_t kBodySize = 100 * 1000 * 1000;
const std::string kRequest = "GET /body HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

std::string BodyHead()
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBodySize) + "\r\nConnection: close\r\n\r\n";
}

TScriptedServer& BodyServer()
{
    static std::unique_ptr<TScriptedServer> server = StartOnServerCore([] {
        return std::make_unique<TScriptedServer>(
            std::vector<TConnectionScript>{TConnectionScript()
                                               .ReadHttpRequest()
                                               .Send(BodyHead())
                                               .SendRepeated(std::string(1 << 20, 'b'), kBodySize)},
            true);
    });
    return *server;
}

// Connects, asks for the body and reads the header block, leaving the body queued or on the wire.
void StartDownload(TIdTCPClient& client, int port, int64_t recvBufferSize)
{
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.SetRecvBufferSize(static_cast<int32_t>(recvBufferSize));
    client.OpenConnection();
    client.WriteText(kRequest);
    while (!client.ReadLine().empty()) {}
}

void BM_ReadToStream(benchmark::State& state)
{
    TScriptedServer& server = BodyServer();
    TMemoryStream body;
    for (auto _ : state) {
        TIdTCPClient client;
        StartDownload(client, server.Port(), state.range(0));
        body.SetPosition(0);
        client.ReadToStream(body, kBodySize);
        if (body.Size() != kBodySize) state.SkipWithError("short body");
        client.CloseConnection();
    }
    state.SetBytesProcessed(state.iterations() * kBodySize);
}

// The same download written to /dev/null, the target curl writes to. A character device cannot be pre-sized,
// so the body is read until the server closes, which it does right after the last byte.
void BM_ReadToStreamToDevNull(benchmark::State& state)
{
    TScriptedServer& server = BodyServer();
    TFileStream devNull("/dev/null", fmOpenWrite);
    for (auto _ : state) {
        TIdTCPClient client;
        StartDownload(client, server.Port(), state.range(0));
        int64_t received = 0;
        client.OnWork = [&received](TIdComponent*, TWorkMode, int64_t count) { received = count; };
        client.ReadToStream(devNull, -1, true);
        if (received != kBodySize) state.SkipWithError("short body");
        client.CloseConnection();
    }
    state.SetBytesProcessed(state.iterations() * kBodySize);
}

void BM_PlainRecvLoop(benchmark::State& state)
{
    TScriptedServer& server = BodyServer();
    const std::string head = BodyHead();
    std::vector<char> body(static_cast<size_t>(kBodySize) + head.size());
    for (auto _ : state) {
        const int fd = ConnectLoopback(server.Port());
        ::send(fd, kRequest.data(), kRequest.size(), 0);
        const size_t receiveSize = static_cast<size_t>(state.range(0));
        size_t got = 0;
        const size_t total = body.size();
        while (got < total) {
            const ssize_t n = ::recv(fd, body.data() + got, std::min(receiveSize, total - got), 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got != total) state.SkipWithError("short body");
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * kBodySize);
}

void BM_Curl(benchmark::State& state)
{
    TScriptedServer& server = BodyServer();
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/body";
    const std::vector<std::string> args = {"curl", "-s", "-o", "/dev/null", "--noproxy", "*", url};
    for (auto _ : state) {
        if (!benchsupport::RunProgram(args)) {
            state.SkipWithError("curl is missing or failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBodySize);
}

// Short lines of 16 bytes with CR LF, the shape of a header block or a listing.
std::string LineBlock()
{
    std::string block;
    for (int i = 0; i < 1000; ++i) {
        char line[32];
        std::snprintf(line, sizeof(line), "line %06d ok\r\n", i);
        block += line;
    }
    return block;
}

void BM_ReadLineShortLines(benchmark::State& state)
{
    const int64_t lines = state.range(0);
    const std::string block = LineBlock();
    const int64_t bytes = lines / 1000 * static_cast<int64_t>(block.size());
    auto server = StartOnServerCore([&] {
        return std::make_unique<TScriptedServer>(
            std::vector<TConnectionScript>{
                TConnectionScript().SendRepeated(block, static_cast<uint64_t>(bytes)).Close()},
            true);
    });
    for (auto _ : state) {
        TIdTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(server->Port());
        client.OpenConnection();
        for (int64_t i = 0; i < lines; ++i) {
            benchmark::DoNotOptimize(client.ReadLine());
        }
        client.CloseConnection();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetItemsProcessed(state.iterations() * lines);
}

// The argument is the size of one receive: the connection's default RecvBufferSize, and the 100 KiB curl asks
// for per receive.
BENCHMARK(BM_ReadToStream)->Arg(32768)->Arg(102400)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_ReadToStreamToDevNull)->Arg(32768)->Arg(102400)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_PlainRecvLoop)->Arg(32768)->Arg(102400)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_Curl)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_ReadLineShortLines)->Arg(250000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
