// The buffered connection end to end: through the client's own connect and socket transport, against the
// scripted loopback server.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdIntercept.h"
#include "net/tcp/IdStack.h"
#include "net/tcp/IdTCPClient.h"
#include "tests/support/Loopback.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/StreamText.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::ExpectSocketError;
using testsupport::StreamText;
using testsupport::TCountingAntiFreeze;

using testsupport::TConnectionScript;
using TScriptedServer = testsupport::TCheckedServer;

void Connect(TIdTCPClient& client, const TScriptedServer& server)
{
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.OpenConnection();
}

TEST(TIdTCPConnectionOverClient, RequestHeadLeavesInOnePieceAndTheResponseReadsBack)
{
    const std::string head = "GET /rfc/rfc2616.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n"
                             "User-Agent: test\r\n\r\n";
    const std::string body(70000, 'r');
    TScriptedServer server({TConnectionScript()
                                .ReadHttpRequest()
                                .Send("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + body, 1500, 0)
                                .ReadHttpRequest()
                                .Send("HTTP/1.0 200 OK\r\n\r\nuntil the close", 4, 1)
                                .Close()});
    TIdTCPClient client;
    Connect(client, server);

    client.StartWriteBuffering(-1);
    for (const char* line :
         {"GET /rfc/rfc2616.txt HTTP/1.1", "Host: 127.0.0.1", "Accept: text/html, */*", "User-Agent: test", ""}) {
        client.WriteLine(line);
    }
    client.StopWriteBuffering();
    EXPECT_EQ(client.ReadLine(), "HTTP/1.1 200 OK");
    EXPECT_EQ(client.ReadLine(), "Content-Length: 70000");
    EXPECT_EQ(client.ReadLine(), "");
    TMemoryStream first;
    client.ReadToStream(first, 70000);
    EXPECT_EQ(StreamText(first), body);

    client.StartWriteBuffering(-1);
    client.WriteText(head);
    client.StopWriteBuffering();
    EXPECT_EQ(client.ReadLine(), "HTTP/1.0 200 OK");
    EXPECT_EQ(client.ReadLine(), "");
    TMemoryStream second;
    client.ReadToStream(second, -1, true);
    EXPECT_EQ(StreamText(second), "until the close");
    EXPECT_FALSE(client.IsConnected());

    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(0), head + head);
    // Each head arrived in one receive of the server.
    EXPECT_EQ(server.ReceivedPieces(0), (std::vector<std::string>{head, head}));
}

class TIdTCPConnectionFileOverClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = folder_.File("file.bin");
        content_.assign(100000, 'f');
        content_[0] = '<';
        content_.back() = '>';
        std::ofstream(path_, std::ios::binary) << content_;
    }
    TTempDir folder_;
    std::string path_;
    std::string content_;
};

TEST_F(TIdTCPConnectionFileOverClient, FileGoesThroughTheKernelFastPathOrTheStreamInOrder)
{
    struct TCase {
        const char* name;
        bool allowFastPath;
        bool buffered;
        bool withIntercept;
        int hookCalls;
    };
    const std::vector<TCase> cases = {
        {"fast path", true, false, false, 1},
        {"stream path", false, false, false, 0},
        {"buffered: the file keeps its place", true, true, false, 0},
        {"intercept sees the file bytes", true, false, true, 0},
    };
    // Count the uses of the kernel's file send without changing what it does.
    const TIdServeFile installed = ServeFileHook;
    ASSERT_TRUE(installed);
    int hookCalls = 0;
    testsupport::TScopedHook<TIdServeFile> counting(ServeFileHook,
                                                    [&](TIdStackSocketHandle socket, const std::string& fileName) {
                                                        ++hookCalls;
                                                        return installed(socket, fileName);
                                                    });
    for (const TCase& c : cases) {
        hookCalls = 0;
        SCOPED_TRACE(c.name);
        TScriptedServer server({TConnectionScript().ReadToEnd()});
        TIdTCPClient client;
        TIdConnectionIntercept intercept;
        int64_t interceptBytes = 0;
        intercept.OnSend = [&](TIdConnectionIntercept*, TStream& s) { interceptBytes += s.Size(); };
        if (c.withIntercept) client.SetIntercept(&intercept);
        Connect(client, server);
        if (c.buffered) client.StartWriteBuffering(-1);
        client.WriteText("head|");
        EXPECT_EQ(client.WriteFileContents(path_, c.allowFastPath), 100000);
        client.WriteText("|tail");
        if (c.buffered) client.StopWriteBuffering();
        client.CloseConnection();
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Received(0), "head|" + content_ + "|tail");
        EXPECT_EQ(interceptBytes, c.withIntercept ? 100010 : 0);
        EXPECT_EQ(hookCalls, c.hookCalls);
    }
}

TEST_F(TIdTCPConnectionFileOverClient, FailedFastPathRaisesInsteadOfReportingSuccess)
{
    TScriptedServer server({TConnectionScript().ReadToEnd()});
    TIdTCPClient client;
    Connect(client, server);
    // A hook whose send fails on a bad handle: it reports 0 and leaves the error code behind.
    testsupport::TScopedHook<TIdServeFile> failing(ServeFileHook, [](TIdStackSocketHandle, const std::string&) {
        GlobalStack->SockSend(-1, "x", 1, 0);
        return int64_t{0};
    });
    ExpectSocketError([&] { client.WriteFileContents(path_); }, 10009);
}

TEST(TIdTCPConnectionOverClient, WaitsForDataYieldWhileAHookIsActive)
{
    TScriptedServer server({TConnectionScript().Pause(120).Send("late line\r\n").ReadToEnd()});
    TIdTCPClient client;
    Connect(client, server);
    TCountingAntiFreeze antiFreeze;
    antiFreeze.SetIdleTimeOut(20);
    EXPECT_EQ(client.ReadLine(), "late line");
    // About 120 ms of waiting in 20 ms steps: several yields, and at least one.
    EXPECT_GE(antiFreeze.steps, 2);
}

TEST(TIdTCPConnectionOverClient, ReadTimeoutOfTheClientRaisesAndKeepsTheConnection)
{
    TScriptedServer server({TConnectionScript().Pause(300).Send("x\n").ReadToEnd()});
    TIdTCPClient client;
    client.SetReadTimeout(40);
    Connect(client, server);
    EXPECT_THROW(client.ReadLine(), EIdReadTimeout);
    EXPECT_TRUE(client.IsConnected());
    client.SetReadTimeout(0);
    EXPECT_EQ(client.ReadLine(), "x");
}

} // namespace
