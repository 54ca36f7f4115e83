// Opening client connections over loopback: the plain and the timed connect,
// their failures, the status reports and the socket transport's settings.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdTCPClient.h"
#include "stack_helpers.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/NetTestSupport.h"

namespace {

using testsupport::ExpectRaises;

using testsupport::ExpectSocketError;
using testsupport::TCountingAntiFreeze;

using testsupport::TConnectionScript;
using testsupport::TRawSocket;
using TScriptedServer = testsupport::TCheckedServer;
using Clock = std::chrono::steady_clock;

// The status reports a client (and its transport) gave, as "<status>:<text>".
struct TStatusLog {
    std::vector<std::string> lines;
    TIdStatusEvent Handler()
    {
        return [this](TIdComponent*, TIdStatus status, const std::string& text) {
            lines.push_back(std::to_string(status) + ":" + text);
        };
    }
};

TEST(TIdTCPClient, PlainConnectToARefusingPortRaisesTheSocketError)
{
    TRawSocket refusing; // bound, not listening
    for (int32_t timeout : {0, -1}) {
        SCOPED_TRACE(timeout);
        TIdTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(refusing.Port());
        ExpectSocketError([&] { client.OpenConnection(timeout); }, 10061,
                          "Socket Error # 10061\r\nConnection refused.");
        EXPECT_FALSE(client.IsConnected());
        // The handler made for the attempt stays assigned, closed.
        ASSERT_NE(client.IOHandler(), nullptr);
        EXPECT_FALSE(client.IOHandler()->IsOpen());
        EXPECT_TRUE(client.OwnsIOHandler());
    }
}

TEST(TIdTCPClient, TimedConnectToARefusingPortCarriesTheMessage)
{
    TRawSocket refusing;
    for (int32_t timeout : {1000, -2}) {
        SCOPED_TRACE(timeout);
        TIdTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(refusing.Port());
        ExpectRaises<EIdConnectException>([&] { client.OpenConnection(timeout); },
                                          "Socket Error # 10061\r\nConnection refused.");
        EXPECT_FALSE(client.IsConnected());
    }
}

TEST(TIdTCPClient, TimedConnectToAPeerThatNeverAnswersTimesOut)
{
    TRawSocket silent;
    ASSERT_TRUE(silent.FillBacklog()) << "the accept queue did not fill";
    struct Case {
        int32_t timeout;
        int minMs;
    };
    // 100 is below one step, 400 takes several.
    for (const Case& c : {Case{100, 90}, Case{400, 380}}) {
        SCOPED_TRACE(c.timeout);
        TIdTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(silent.Port());
        auto start = Clock::now();
        ExpectRaises<EIdConnectTimeout>([&] { client.OpenConnection(c.timeout); }, "Connect timed out.");
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LT(elapsed, c.timeout + 2000);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(client.IOHandler()->IsOpen());
    }
}

TEST(TIdTCPClient, YieldHookTurnsEveryConnectIntoAStepwiseWait)
{
    TCountingAntiFreeze hook;
    hook.SetIdleTimeOut(20);

    // The plain connect (time-out 0) waits in steps too, with no limit of its
    // own, so its failure stays the socket's error.
    TRawSocket refusing;
    TIdTCPClient refused;
    refused.SetHost("127.0.0.1");
    refused.SetPort(refusing.Port());
    EXPECT_THROW(refused.OpenConnection(0), EIdSocketError);

    // A wait of 200 ms in steps of 20 ms yields after every one of its ten steps.
    TRawSocket silent;
    ASSERT_TRUE(silent.FillBacklog());
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(silent.Port());
    hook.steps = 0;
    EXPECT_THROW(client.OpenConnection(200), EIdConnectTimeout);
    EXPECT_EQ(hook.steps, 10);
}

TEST(TIdTCPClient, UnresolvableNameRaisesHostNotFound)
{
    for (int32_t timeout : {0, 500}) {
        SCOPED_TRACE(timeout);
        TIdTCPClient client;
        client.SetHost("scrivlet-no-such-host.invalid");
        client.SetPort(80);
        ExpectSocketError([&] { client.OpenConnection(timeout); }, 11001, "Socket Error # 11001\r\nHost not found.");
    }
}

TEST(TIdTCPClient, StatusReportsFollowTheConnectAndTheClose)
{
    struct Case {
        const char* host;
        int32_t timeout;
        std::vector<std::string> opening;
    };
    const Case cases[] = {
        {"127.0.0.1", 0, {"1:Connecting to 127.0.0.1.", "2:Connected."}},
        {"localhost", -1, {"0:Resolving hostname localhost.", "1:Connecting to 127.0.0.1.", "2:Connected."}},
        {"LocalHost", 2000, {"0:Resolving hostname LocalHost.", "1:Connecting to 127.0.0.1.", "2:Connected."}},
        // Three parts are not a dotted quad: the resolver reads the short form.
        {"127.1", -2, {"0:Resolving hostname 127.1.", "1:Connecting to 127.0.0.1.", "2:Connected."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TScriptedServer server({TConnectionScript().ReadToEnd()});
        TIdTCPClient client;
        TStatusLog log;
        int connectedEvents = 0;
        client.OnStatus = log.Handler();
        client.OnConnected = [&](TIdBaseComponent* sender) {
            EXPECT_EQ(sender, &client);
            ++connectedEvents;
        };
        client.SetHost(c.host);
        client.SetPort(server.Port());
        client.OpenConnection(c.timeout);
        EXPECT_TRUE(client.IsConnected());
        EXPECT_EQ(connectedEvents, 1);
        EXPECT_EQ(log.lines, c.opening);

        log.lines.clear();
        client.CloseConnection();
        EXPECT_EQ(log.lines, (std::vector<std::string>{"3:Disconnecting.", "4:Disconnected."}));
        EXPECT_EQ(client.IOHandler(), nullptr);
        EXPECT_TRUE(server.WaitDone());
    }
}

TEST(TIdTCPClient, ConnectOnAnOpenConnectionIsRefusedAndKeepsIt)
{
    TScriptedServer server({TConnectionScript().ReadUntil("after").Send("ok")});
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.OpenConnection();
    ExpectRaises<EIdAlreadyConnected>([&] { client.OpenConnection(); }, "Already connected.");
    EXPECT_TRUE(client.IsConnected());
    client.WriteText("after");
    EXPECT_EQ(client.ReadAll(), "ok");
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.ConnectionsServed(), 1u);
}

TEST(TIdTCPClient, ConnectAndReadAllReadsToTheCloseAndCloses)
{
    TScriptedServer server({TConnectionScript().Send("first part, ", 4, 5).Send("last part")});
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    EXPECT_EQ(client.ConnectAndReadAll(), "first part, last part");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TIdTCPClient, ClientReconnectsAfterAClose)
{
    TScriptedServer server({TConnectionScript().Send("one"), TConnectionScript().Send("two")});
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    EXPECT_EQ(client.ConnectAndReadAll(), "one");
    EXPECT_EQ(client.ConnectAndReadAll(), "two");
}

TEST(TIdTCPClient, BoundPortRangeChoosesTheLocalPort)
{
    TScriptedServer server({TConnectionScript().ReadToEnd()});
    const int port = stacktest::FreePortPair();
    ASSERT_NE(port, 0);
    TRawSocket holder(port + 1); // the top of the range is busy
    ASSERT_TRUE(holder.Bound());

    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetBoundIP("127.0.0.1");
    client.SetBoundPortLow(port);
    client.SetBoundPortHigh(port + 1);
    client.OpenConnection();
    auto* socket = dynamic_cast<TIdIOHandlerSocket*>(client.IOHandler());
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->SocketHandle()->Port(), port);
    EXPECT_EQ(socket->SocketHandle()->RemotePort(), server.Port());
    client.CloseConnection();
}

TEST(TIdIOHandlerSocket, NagleSettingDecidesTheNoDelayOption)
{
    for (bool useNagle : {true, false}) {
        SCOPED_TRACE(useNagle);
        TScriptedServer server({TConnectionScript().ReadToEnd()});
        TIdTCPClient client;
        TIdIOHandlerSocket handler;
        handler.SetUseNagle(useNagle);
        client.SetIOHandler(&handler);
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        client.OpenConnection();
        int noDelay = -1;
        socklen_t length = sizeof(noDelay);
        ASSERT_EQ(getsockopt(handler.SocketHandle()->Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
        EXPECT_EQ(noDelay != 0, !useNagle);
        client.CloseConnection();
        // An assigned handler is not the client's to free.
        EXPECT_EQ(client.IOHandler(), &handler);
    }
}

TEST(TIdIOHandlerSocket, TransferWithoutASocketRaisesDisconnected)
{
    TIdIOHandlerSocket handler;
    char buffer[4];
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ExpectRaises<EIdClosedSocket>([&] { handler.ReceiveSome(buffer, sizeof(buffer)); }, "Disconnected.");
        EXPECT_THROW(handler.SendSome("x", 1), EIdClosedSocket);
        EXPECT_FALSE(handler.IsOpen());
        handler.PrepareTransport(); // a handle, but no socket yet
    }
}

TEST(TIdIOHandlerSocket, SocksSettingsAreOwnedCopiedOrReferenced)
{
    TIdIOHandlerSocket handler;
    TIdSocksInfo* own = handler.SocksInfo();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Version(), svNoSocks);
    EXPECT_EQ(own->Transport(), &handler);
    EXPECT_EQ(handler.SocksInfo(), own);

    // Ownerless settings are copied into the handler's own instance.
    TIdSocksInfo loose;
    loose.SetHost("proxy.test");
    loose.SetPort(1081);
    loose.SetVersion(svSocks5);
    handler.SetSocksInfo(&loose);
    EXPECT_EQ(handler.SocksInfo(), own);
    EXPECT_EQ(own->Host(), "proxy.test");
    EXPECT_EQ(own->Port(), 1081);
    EXPECT_EQ(own->Version(), svSocks5);

    // Settings with an owner are referenced until they go.
    TIdComponent owner;
    auto* shared = new TIdSocksInfo(&owner);
    handler.SetSocksInfo(shared);
    EXPECT_EQ(handler.SocksInfo(), shared);
    EXPECT_EQ(shared->Transport(), &handler);
    delete shared;
    TIdSocksInfo* fresh = handler.SocksInfo();
    EXPECT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Version(), svNoSocks);

    // Copying after a reference fills a fresh own instance.
    auto* another = new TIdSocksInfo(&owner);
    handler.SetSocksInfo(another);
    handler.SetSocksInfo(&loose);
    EXPECT_NE(handler.SocksInfo(), another);
    EXPECT_EQ(handler.SocksInfo()->Host(), "proxy.test");
    EXPECT_EQ(another->Host(), "");
    handler.SetSocksInfo(nullptr);
    EXPECT_EQ(handler.SocksInfo()->Host(), "");
}

TEST(TIdTCPClient, APortOutsideSixteenBitsRaisesBeforeConnecting)
{
    // Each port would wrap around to the listening one below (70000 - 65536 = 4464, and so on), so a connect
    // that got through would show as success rather than as the error.
    TScriptedServer server({TConnectionScript()});
    server.Uncheck();
    const int32_t wrapped = server.Port() + 65536;
    struct Case {
        const char* name;
        int32_t port;
        int32_t socksPort; // 0: no SOCKS
        int32_t boundPort;
        int32_t expected; // the port the message names
    };
    const Case cases[] = {
        {"target port", wrapped, 0, 0, wrapped},
        {"negative target port", -1, 0, 0, -1},
        {"SOCKS server port", 80, wrapped, 0, wrapped},
        {"local port", server.Port(), 0, 70000, 70000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIdTCPClient client;
        auto* handler = new TIdIOHandlerSocket(&client);
        client.SetIOHandler(handler);
        if (c.socksPort != 0) {
            handler->SocksInfo()->SetVersion(svSocks5);
            handler->SocksInfo()->SetHost("127.0.0.1");
            handler->SocksInfo()->SetPort(c.socksPort);
        }
        client.SetHost("127.0.0.1");
        client.SetPort(c.port);
        client.SetBoundPort(c.boundPort);
        ExpectRaises<EIdSocketHandleError>([&] { client.OpenConnection(); },
                                           "Port " + std::to_string(c.expected) + " is outside the range 0 to 65535.");
        EXPECT_FALSE(client.IsConnected());
    }
    EXPECT_EQ(server.ConnectionsServed(), 0u);
}

} // namespace

namespace {

TEST(TIdIOHandlerSocket, AddressesAreTriedInOrderAndTheFirstToConnectWins)
{
    // One port on both loopbacks: 127.0.0.1 accepts; on ::1 either nothing listens (refused at once) or the
    // accept queue is full (the connect hangs). On a third port both refuse.
    testsupport::TRawSocket live;
    live.Listen(8);
    testsupport::TRawSocket refusing6(live.Port(), true);
    ASSERT_TRUE(refusing6.Bound()) << "no ::1 on this machine";
    // Another test's socket may hold the IPv4 side of the first port ::1 gives: then another port.
    std::unique_ptr<testsupport::TRawSocket> hanging6Place, liveBesideHangingPlace;
    for (int attempt = 0; attempt < 20 && !(liveBesideHangingPlace && liveBesideHangingPlace->Bound()); ++attempt) {
        hanging6Place = std::make_unique<testsupport::TRawSocket>(0, true);
        liveBesideHangingPlace = std::make_unique<testsupport::TRawSocket>(hanging6Place->Port());
    }
    testsupport::TRawSocket& hanging6 = *hanging6Place;
    testsupport::TRawSocket& liveBesideHanging = *liveBesideHangingPlace;
    ASSERT_TRUE(liveBesideHanging.Bound());
    ASSERT_TRUE(hanging6.FillBacklog());
    liveBesideHanging.Listen(8);
    testsupport::TRawSocket refusing;
    testsupport::TRawSocket refusingBeside6(refusing.Port(), true);
    const struct {
        const char* name;
        std::vector<std::string> addresses;
        int port;
        const char* ended; // the address connected to, or the failure
        int waitMs = 1500; // 0: no limit
    } rows[] = {
        {"refused IPv6, live IPv4", {"::1", "127.0.0.1"}, live.Port(), "127.0.0.1"},
        {"hanging IPv6, live IPv4", {"::1", "127.0.0.1"}, hanging6.Port(), "127.0.0.1"},
        {"live IPv4 first", {"127.0.0.1", "::1"}, hanging6.Port(), "127.0.0.1"},
        {"hanging IPv6 alone", {"::1"}, hanging6.Port(), "timeout: Connect timed out."},
        // Every address refused: the last failure is raised.
        {"both refused",
         {"::1", "127.0.0.1"},
         refusing.Port(),
         "error: Socket Error # 10061\r\nConnection refused.",
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TIdIOHandlerSocket handler;
        handler.PrepareTransport();
        std::string ended;
        try {
            handler.ConnectToAddresses(row.addresses, row.port, "", 0, 0, 0,
                                       row.waitMs ? DeadlineAfter(row.waitMs) : TIdDeadline());
            EXPECT_EQ(handler.SocketHandle()->RemotePort(), row.port);
            ended = handler.SocketHandle()->RemoteIP();
        } catch (const EIdConnectTimeout& e) {
            ended = std::string("timeout: ") + e.what();
        } catch (const EIdSocketError& e) {
            ended = std::string("error: ") + e.what();
        }
        EXPECT_EQ(ended, row.ended);
        EXPECT_EQ(handler.IsOpen(), ended == "127.0.0.1");
    }
}

TEST(TIdDeadline, ACancelEndsAWaitAtOnceFromAnotherThread)
{
    testsupport::TRawSocket hanging;
    ASSERT_TRUE(hanging.FillBacklog());
    const auto cancel = std::make_shared<TIdCancel>();
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(hanging.Port());
    std::thread canceller([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancel->Cancel();
    });
    // Without the cancel this connect would wait for the system's own time-out.
    ExpectRaises<EIdConnectTimeout>([&] { client.OpenConnectionBy(TIdDeadline().WithCancel(cancel)); },
                                    "Connect timed out.");
    canceller.join();
    EXPECT_FALSE(client.IsConnected());
}

} // namespace
