// The HTTP client against a local nginx, side by side with the floors and with curl, in one run:
//   - a 100 MB document by length: TIdHTTP::Get into a memory stream, a plain POSIX recv loop into a
//     preallocated buffer (the floor of any reader), and curl to /dev/null;
//   - the same document chunked (nginx appends an empty addition, so it cannot announce a length);
//   - 1,000 Gets of a 16 KB document on one kept-alive connection, against curl fetching the same 1,000 URLs
//     in one run (which reuses its connection as well);
//   - peak memory of one Get into a fresh stream, as a multiple of the body size (counter peak_per_body).
// The memory stream is reused between iterations, as the recv loop reuses its buffer: the figures compare
// reading, not the kernel's page faults for a fresh 100 MB.
//
//   http_bench [benchmark flags]

#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "net/http/IdHTTP.h"
#include "platform/Classes.h"
#include "tests/support/Loopback.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int64_t kBigSize = 100 * 1000 * 1000;
constexpr int64_t kSmallSize = 16 * 1024;
constexpr int kSmallCalls = 1000;

struct TPeers {
    TTempDir root;
    std::unique_ptr<testsupport::TRealPeer> nginx;

    TPeers()
    {
        std::filesystem::create_directories(root.File("chunked"));
        benchsupport::WriteFilledFile(root.File("big.bin"), kBigSize, 'r');
        benchsupport::WriteFilledFile(root.File("chunked/big.bin"), kBigSize, 'r');
        benchsupport::WriteFilledFile(root.File("small.bin"), kSmallSize, 'r');
        WriteTextFile(root.File("empty.txt"), "");
        nginx = benchsupport::StartOnServerCore([this] {
            return testsupport::TRealPeer::Nginx(
                root.Path(), "    keepalive_requests 100000;\n"
                             "    location /chunked/ { addition_types *; add_after_body /empty.txt; }\n");
        });
    }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(nginx->Port()) + path;
    }
};

TPeers& Peers()
{
    static TPeers peers;
    return peers;
}

int64_t StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
    }
    return 0;
}

// Runs curl with args, waits for it, and returns the seconds it took.
double TimeCurl(const std::vector<std::string>& args)
{
    const auto start = std::chrono::steady_clock::now();
    if (!benchsupport::RunCurl(args)) throw std::runtime_error("curl is missing or failed");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_GetPeakMemory(benchmark::State& state)
{
    const std::string url = Peers().Url("/big.bin");
    double ratio = 0;
    for (auto _ : state) {
        const int64_t before = StatusKb("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5"; // restarts the peak (VmHWM) at the current size
        {
            TIdHTTP http;
            TMemoryStream body;
            http.Get(url, body);
            if (body.Size() != kBigSize) state.SkipWithError("short body");
        }
        ratio = static_cast<double>(StatusKb("VmHWM:") - before) * 1024 / static_cast<double>(kBigSize);
    }
    state.counters["peak_per_body"] = ratio;
}

void BM_PlainRecvLoop(benchmark::State& state)
{
    const std::string request = "GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::vector<char> buffer(static_cast<size_t>(kBigSize) + 4096);
    for (auto _ : state) {
        testsupport::TFd fd(testsupport::ConnectLoopback(Peers().nginx->Port()));
        ::send(fd, request.data(), request.size(), 0);
        size_t got = 0;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data() + got, std::min<size_t>(32768, buffer.size() - got), 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got < static_cast<size_t>(kBigSize)) state.SkipWithError("short body");
    }
    state.SetBytesProcessed(state.iterations() * kBigSize);
}

void GetBig(benchmark::State& state, const std::string& path)
{
    TIdHTTP http;
    TMemoryStream body;
    const std::string url = Peers().Url(path);
    for (auto _ : state) {
        body.SetSize(0);
        http.Get(url, body);
        if (body.Size() != kBigSize) state.SkipWithError("short body");
    }
    state.SetBytesProcessed(state.iterations() * kBigSize);
}

void BM_GetByLength(benchmark::State& state) { GetBig(state, "/big.bin"); }
void BM_GetChunked(benchmark::State& state) { GetBig(state, "/chunked/big.bin"); }

void BM_CurlByLength(benchmark::State& state)
{
    const std::string url = Peers().Url("/big.bin");
    for (auto _ : state) state.SetIterationTime(TimeCurl({"-o", "/dev/null", url}));
    state.SetBytesProcessed(state.iterations() * kBigSize);
}

void BM_Get16KBx1000(benchmark::State& state)
{
    TIdHTTP http;
    TMemoryStream body;
    const std::string url = Peers().Url("/small.bin");
    for (auto _ : state) {
        for (int i = 0; i < kSmallCalls; ++i) {
            body.SetSize(0);
            http.Get(url, body);
        }
        if (body.Size() != kSmallSize) state.SkipWithError("short body");
    }
}

void BM_Curl16KBx1000(benchmark::State& state)
{
    TTempDir folder;
    benchsupport::WriteCurlUrlList(folder.File("urls.cfg"), Peers().Url("/small.bin"), kSmallCalls);
    for (auto _ : state) state.SetIterationTime(TimeCurl({"-K", folder.File("urls.cfg")}));
}

BENCHMARK(BM_GetPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRecvLoop)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_GetByLength)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_GetChunked)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_CurlByLength)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Get16KBx1000)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Curl16KBx1000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

BENCHMARK_MAIN();
