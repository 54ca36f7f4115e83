// The socket stack's hot paths over loopback: sending a file with the
// kernel's file send against a read-and-send loop of 32 KB pieces, and one
// readiness wait over a full select set of 64 idle sockets.
//
// Each file benchmark sends a 16 MB file to a reader thread that drains the
// socket; the throughput is reported as bytes per second.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "net/tcp/IdComponent.h"
#include "net/tcp/IdStack.h"
#include "tests/support/Loopback.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int64_t kFileSize = 16 << 20;

std::string MakeFile()
{
    static const TTempDir folder;
    std::string path = folder.File("serve.bin");
    benchsupport::WriteFilledFile(path, kFileSize, 'r');
    return path;
}

// Drains one socket until the sender closes it.
std::thread Drain(int fd)
{
    return std::thread([fd] {
        std::vector<char> buffer(1 << 16);
        while (read(fd, buffer.data(), buffer.size()) > 0) {}
    });
}

// Serves the test file over a fresh loopback connection each iteration while
// a thread drains the other end; serve writes the file into the sending socket.
template <typename Serve>
void ServeFileEachIteration(benchmark::State& state, Serve serve)
{
    TIdComponent stackUser;
    std::string path = MakeFile();
    for (auto _ : state) {
        auto [receiver, sender] = testsupport::ConnectedPair();
        std::thread reader = Drain(receiver);
        serve(sender, path);
        close(sender);
        reader.join();
        close(receiver);
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
    std::remove(path.c_str());
}

void BM_ServeFileKernelSend(benchmark::State& state)
{
    ServeFileEachIteration(
        state, [](int sender, const std::string& path) { benchmark::DoNotOptimize(ServeFileHook(sender, path)); });
}
BENCHMARK(BM_ServeFileKernelSend)->Unit(benchmark::kMillisecond);

void BM_ServeFileReadAndSend(benchmark::State& state)
{
    std::vector<char> block(32768);
    ServeFileEachIteration(state, [&](int sender, const std::string& path) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t n;
        while ((n = read(fd, block.data(), block.size())) > 0) {
            for (ssize_t offset = 0; offset < n;) {
                int sent = GlobalStack->SockSend(sender, block.data() + offset, static_cast<int32_t>(n - offset), 0);
                if (sent <= 0) {
                    state.SkipWithError("send failed");
                    break;
                }
                offset += sent;
            }
        }
        close(fd);
    });
}
BENCHMARK(BM_ServeFileReadAndSend)->Unit(benchmark::kMillisecond);

void BM_SelectFullSetIdle(benchmark::State& state)
{
    TIdComponent stackUser;
    std::vector<std::pair<int, int>> pairs;
    for (std::size_t i = 0; i < kIdSelectSetSize; ++i) {
        pairs.push_back(testsupport::ConnectedPair());
    }
    TIdSocketList list;
    for (auto _ : state) {
        list.clear();
        for (auto& pair : pairs) {
            list.push_back(pair.second);
        }
        benchmark::DoNotOptimize(GlobalStack->SockSelect(&list, nullptr, nullptr, DeadlineAfter(0)));
    }
    for (auto [a, b] : pairs) {
        close(a);
        close(b);
    }
}
BENCHMARK(BM_SelectFullSetIdle);

} // namespace

BENCHMARK_MAIN();
