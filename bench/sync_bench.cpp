// Taking documents offline against a local nginx serving 2,000 small RFC-like documents: the sync run (fetch
// over one kept-alive connection and store each with its full-text indexing) against curl fetching the same
// list over one connection into /dev/null. Goal: bounded by the server, at most 1.1 times curl's time.

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>

#include "bench/support/BenchSupport.h"
#include "library/DocumentCache.h"
#include "library/LibrarySync.h"
#include "net/fetch/Fetcher.h"
#include "net/http/IdHTTP.h"
#include "platform/Classes.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kDocuments = 2000;
constexpr size_t kDocumentBytes = 4 * 1024;

struct TServed {
    TTempDir root;
    std::unique_ptr<testsupport::TRealPeer> nginx;
    std::vector<TSyncItem> plan;
    std::string curlList;

    TServed()
    {
        for (int number = 1; number <= kDocuments; ++number)
            WriteTextFile(root.File("rfc" + std::to_string(number) + ".txt"),
                          benchsupport::MakeRfcLikeDocument(
                              kDocumentBytes, "Request for Comments: " + std::to_string(number) + "\n", 0));
        nginx = benchsupport::StartOnServerCore(
            [this] { return testsupport::TRealPeer::Nginx(root.Path(), "    keepalive_requests 100000;\n"); });
        const std::string base = "http://127.0.0.1:" + std::to_string(nginx->Port()) + "/rfc";
        std::ofstream list(root.File("curl.txt"));
        for (int number = 1; number <= kDocuments; ++number) {
            const std::string url = base + std::to_string(number) + ".txt";
            plan.push_back({number, "", url, url});
            list << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
        }
        curlList = root.File("curl.txt");
    }
};

TServed& Served()
{
    static TServed served;
    return served;
}

void BM_Sync2000(benchmark::State& state)
{
    TServed& served = Served();
    for (auto _ : state) {
        state.PauseTiming();
        auto library = std::make_unique<TTempDir>();
        TLibraryDatabase database({library->File("library.db")});
        TDocumentCache cache(database);
        TFetcher fetcher;
        TSyncControl control;
        state.ResumeTiming();
        const TSyncResult result = RunSync(fetcher, TFetchSettings(), cache, served.plan, control, nullptr);
        if (result.Stored != kDocuments) return state.SkipWithError("not every document was stored");
    }
}
BENCHMARK(BM_Sync2000)->Unit(benchmark::kMillisecond)->Iterations(5);

// The fetches alone, over the same connection, nothing stored: what the network part of a sync costs.
void BM_FetchOnly2000(benchmark::State& state)
{
    TServed& served = Served();
    for (auto _ : state) {
        TIdHTTP http;
        for (const TSyncItem& item : served.plan) {
            TMemoryStream body;
            http.Get(item.FetchUrl, body);
        }
    }
}
BENCHMARK(BM_FetchOnly2000)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Curl2000(benchmark::State& state)
{
    TServed& served = Served();
    for (auto _ : state)
        if (!benchsupport::RunCurl({"-K", served.curlList})) return state.SkipWithError("curl is missing or failed");
}
BENCHMARK(BM_Curl2000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
