// SOCKS over loopback: what the proxy hop costs against a direct connection.
//
// A scripted server sends 100 MB to every connection once it receives a go byte; the client reads them with
// ReadToStream into a memory stream, directly and through dante (SOCKS 5 and SOCKS 4), which copies every
// byte once more. A second pair times one connect plus the negotiation, against a plain connect.
//
//   socks_bench [benchmark flags]     (dante must be installed: scripts/test installs it)

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdSocks.h"
#include "net/tcp/IdTCPClient.h"
#include "platform/Classes.h"
#include "tests/support/RealPeers.h"
#include "tests/support/ScriptedServer.h"

namespace {

using testsupport::TConnectionScript;
using testsupport::TRealPeer;
using testsupport::TScriptedServer;

constexpr int64_t kBodySize = 100 * 1000 * 1000;

TRealPeer& Dante()
{
    static std::unique_ptr<TRealPeer> dante = TRealPeer::Dante();
    return *dante;
}

TScriptedServer& BodyServer()
{
    static TScriptedServer server({TConnectionScript().ReadCount(1).SendRepeated(std::string(1 << 20, 'b'), kBodySize)},
                                  true);
    return server;
}

TScriptedServer& AcceptingServer()
{
    static TScriptedServer server({TConnectionScript().ReadToEnd()}, true);
    return server;
}

// The client for target port, through dante with version (svNoSocks: directly).
void Prepare(TIdTCPClient& client, int port, TSocksVersion version)
{
    auto* handler = new TIdIOHandlerSocket(&client);
    client.SetIOHandler(handler);
    client.SetOwnsIOHandler(true);
    if (version != svNoSocks) {
        handler->SocksInfo()->SetHost("127.0.0.1");
        handler->SocksInfo()->SetPort(Dante().Port());
        handler->SocksInfo()->SetVersion(version);
    }
    client.SetHost("127.0.0.1");
    client.SetPort(port);
}

const char* Label(int64_t version)
{
    return version == svSocks5 ? "through dante, SOCKS 5" : version == svSocks4 ? "through dante, SOCKS 4" : "direct";
}

void BM_Download100MB(benchmark::State& state)
{
    const auto version = static_cast<TSocksVersion>(state.range(0));
    TIdComponent stackUser;
    TMemoryStream body;
    for (auto _ : state) {
        TIdTCPClient client;
        Prepare(client, BodyServer().Port(), version);
        client.OpenConnection();
        client.WriteText("g");
        body.SetPosition(0);
        client.ReadToStream(body, kBodySize);
        if (body.Size() != kBodySize) state.SkipWithError("short body");
        client.CloseConnection();
    }
    state.SetLabel(Label(state.range(0)));
    state.SetBytesProcessed(state.iterations() * kBodySize);
}

void BM_ConnectAndNegotiate(benchmark::State& state)
{
    const auto version = static_cast<TSocksVersion>(state.range(0));
    // Keeps the socket stack alive between clients, so its start-up is not timed with every connect.
    TIdComponent stackUser;
    for (auto _ : state) {
        TIdTCPClient client;
        Prepare(client, AcceptingServer().Port(), version);
        client.OpenConnection();
        state.PauseTiming();
        client.CloseConnection();
        state.ResumeTiming();
    }
    state.SetLabel(Label(state.range(0)));
}

BENCHMARK(BM_Download100MB)
    ->Arg(svNoSocks)
    ->Arg(svSocks5)
    ->Arg(svSocks4)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3)
    ->UseRealTime();
BENCHMARK(BM_ConnectAndNegotiate)
    ->Arg(svNoSocks)
    ->Arg(svSocks5)
    ->Arg(svSocks4)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
