// https from a local nginx: the HTTP client over the TLS transport against curl, side by side in one run.
//
// nginx serves a 100 MB file and a small one over TLS 1.3 with a certificate of a test authority that both
// clients trust. The rows:
//   - 100 MB with Get into a memory stream (and, for reference, read by the bare connection), against curl
//     writing to /dev/null with the same protocol version and cipher (the cipher our handshake chose is
//     handed to curl);
//   - a fresh connection with its handshake plus one small GET, against one curl run (which includes starting
//     the process: curl is used that way);
//   - 1,000 small GETs on one kept-alive connection, against one curl run fetching the same URL 1,000 times
//     (curl keeps its connection between the URLs of one run).
// nginx runs on core 0, the clients (and curl, which inherits it) on core 1.
//
//   tls_bench [benchmark flags]

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "net/http/IdHTTP.h"
#include "net/tcp/IdTCPClient.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestCertificates.h"

namespace {

constexpr int64_t kBigSize = 100 * 1000 * 1000;
constexpr int kSmallGets = 1000;
const std::string kSmallBody = "a small document of a few dozen bytes\n";

struct TSetup {
    testsupport::TTestCertificates certificates;
    TTempDir documents;
    std::unique_ptr<testsupport::TRealPeer> server;
    std::string cipher;

    TSetup()
    {
        benchsupport::WriteFilledFile(documents.File("big.bin"), kBigSize, 'b');
        WriteTextFile(documents.File("small.txt"), kSmallBody);
        server = benchsupport::StartOnServerCore([this] {
            return testsupport::TRealPeer::NginxTls(documents.Path(), certificates.Cert("good"),
                                                    certificates.Key("good"),
                                                    "    ssl_protocols TLSv1.3;\n    keepalive_requests 100000;\n");
        });
    }
    std::string Url(const std::string& path) const
    {
        return "https://localhost:" + std::to_string(server->Port()) + path;
    }
};

TSetup& Setup()
{
    static TSetup setup;
    return setup;
}

// The handler lives as long as the run, as the program's does: its TLS context (trust store loaded) is made
// once, each connection makes only its session.
TIdSSLIOHandlerSocket& Handler()
{
    static TIdSSLIOHandlerSocket* handler = [] {
        auto* h = new TIdSSLIOHandlerSocket();
        h->SetCAFile(Setup().certificates.CAFile());
        return h;
    }();
    return *handler;
}

// A client connected over the handler.
struct TClient {
    TIdTCPClient client;
    TClient()
    {
        TIdSSLIOHandlerSocket& handler = Handler();
        client.SetIOHandler(&handler);
        client.SetHost("localhost");
        client.SetPort(Setup().server->Port());
        client.OpenConnection();
        Setup().cipher = handler.CipherName();
    }
};

// Sends a GET and reads the head; returns the Content-Length.
int64_t Get(TIdTCPClient& client, const std::string& path)
{
    client.WriteText("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    int64_t length = -1;
    for (std::string line = client.ReadLine(); !line.empty(); line = client.ReadLine()) {
        if (line.rfind("Content-Length: ", 0) == 0) length = std::stoll(line.substr(16));
    }
    return length;
}

bool RunCurl(const std::vector<std::string>& extra)
{
    // localhost may resolve to ::1 first, where nginx does not listen.
    const std::string resolve = "localhost:" + std::to_string(Setup().server->Port()) + ":127.0.0.1";
    std::vector<std::string> args = {"curl", "-s",        "--http1.1", "--tlsv1.3", "--noproxy",
                                     "*",    "--resolve", resolve,     "--cacert",  Setup().certificates.CAFile()};
    if (!Setup().cipher.empty()) {
        args.push_back("--tls13-ciphers");
        args.push_back(Setup().cipher);
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return benchsupport::RunProgram(args);
}

void BM_Https100MB(benchmark::State& state)
{
    {
        TClient warm;
    } // certificates, files, nginx and the trust store are made outside the timing
    TMemoryStream body;
    for (auto _ : state) {
        TIdHTTP http;
        http.SetIOHandler(&Handler());
        body.SetPosition(0);
        http.Get(Setup().Url("/big.bin"), body);
        if (body.Size() != kBigSize) state.SkipWithError("short body");
    }
    state.SetLabel(Setup().cipher);
    state.SetBytesProcessed(state.iterations() * kBigSize);
}

void BM_Connection100MB(benchmark::State& state)
{
    {
        TClient warm;
    }
    TMemoryStream body;
    for (auto _ : state) {
        TClient c;
        const int64_t length = Get(c.client, "/big.bin");
        body.SetPosition(0);
        c.client.ReadToStream(body, length);
        if (body.Size() != kBigSize) state.SkipWithError("short body");
        c.client.CloseConnection();
    }
    state.SetLabel(Setup().cipher);
    state.SetBytesProcessed(state.iterations() * kBigSize);
}

void BM_Curl100MB(benchmark::State& state)
{
    {
        TClient probe;
    } // learns the cipher to ask curl for
    for (auto _ : state) {
        if (!RunCurl({"-o", "/dev/null", Setup().Url("/big.bin")})) state.SkipWithError("curl failed");
    }
    state.SetLabel(Setup().cipher);
    state.SetBytesProcessed(state.iterations() * kBigSize);
}

void BM_HttpsHandshakeAndSmallGet(benchmark::State& state)
{
    {
        TClient warm;
    }
    for (auto _ : state) {
        TIdHTTP http;
        http.SetIOHandler(&Handler());
        TMemoryStream body;
        http.Get(Setup().Url("/small.txt"), body);
        if (body.Size() != static_cast<int64_t>(kSmallBody.size())) state.SkipWithError("wrong body");
        http.CloseConnection();
    }
}

void BM_CurlHandshakeAndSmallGet(benchmark::State& state)
{
    {
        TClient probe;
    }
    for (auto _ : state) {
        if (!RunCurl({"-o", "/dev/null", Setup().Url("/small.txt")})) state.SkipWithError("curl failed");
    }
}

void BM_Https1000SmallGetsKeptAlive(benchmark::State& state)
{
    {
        TClient warm;
    }
    const std::string url = Setup().Url("/small.txt");
    for (auto _ : state) {
        TIdHTTP http;
        http.SetIOHandler(&Handler());
        int connects = 0;
        http.OnConnected = [&connects](TIdBaseComponent*) { ++connects; };
        TMemoryStream body;
        for (int i = 0; i < kSmallGets; ++i) {
            body.SetPosition(0);
            http.Get(url, body);
        }
        if (connects != 1) state.SkipWithError("the connection was not kept");
        http.CloseConnection();
    }
    state.SetItemsProcessed(state.iterations() * kSmallGets);
}

void BM_Curl1000SmallGetsKeptAlive(benchmark::State& state)
{
    {
        TClient probe;
    }
    // One run with 1,000 URLs; curl reuses its connection between them.
    const std::string config = Setup().documents.File("curl-1000.conf");
    {
        std::ofstream out(config);
        for (int i = 0; i < kSmallGets; ++i)
            out << "url = \"" << Setup().Url("/small.txt") << "\"\noutput = \"/dev/null\"\n";
    }
    for (auto _ : state) {
        if (!RunCurl({"-K", config})) state.SkipWithError("curl failed");
    }
    state.SetItemsProcessed(state.iterations() * kSmallGets);
}

} // namespace

BENCHMARK(BM_Https100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Connection100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Curl100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_HttpsHandshakeAndSmallGet)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CurlHandshakeAndSmallGet)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Https1000SmallGetsKeptAlive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Curl1000SmallGetsKeptAlive)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
