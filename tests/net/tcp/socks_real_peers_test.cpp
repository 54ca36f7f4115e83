// SOCKS through real proxies started by the test: dante for SOCKS 4 and 5 without authentication, microsocks
// for SOCKS 5 with user name and password. Behind them a scripted server checks that the tunnel carries
// every byte value both ways unchanged.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdSocks.h"
#include "net/tcp/IdTCPClient.h"
#include "tests/net/tcp/socks_client.h"
#include "tests/support/Loopback.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/RealPeers.h"

namespace {

using socks_test::ThroughSocks;
using testsupport::TConnectionScript;
using testsupport::TRealPeer;
using TScriptedServer = testsupport::TCheckedServer;

std::string AllByteValues(bool reversed)
{
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(reversed ? 255 - i : i);
    return bytes;
}

struct TProxyRow {
    const char* name;
    TRealPeer* proxy;
    TSocksVersion version;
    const char* user;
    const char* password;
    const char* target;   // the host name the client asks the proxy for
    bool refusedTarget;   // a port where nothing listens
    std::string expected; // empty: the tunnel stands
};

TEST(TIdSocksInfo, RealProxiesCarryTheTunnelOrReportTheFailure)
{
    auto dante = TRealPeer::Dante();
    auto microsocks = TRealPeer::Microsocks("scrivlet", "s3cret");
    const TProxyRow rows[] = {
        {"dante, SOCKS 4", dante.get(), svSocks4, "", "", "127.0.0.1", false, ""},
        {"dante, SOCKS 4, a name resolved by the client", dante.get(), svSocks4, "someone", "", "localhost", false, ""},
        {"dante, SOCKS 5", dante.get(), svSocks5, "", "", "127.0.0.1", false, ""},
        {"dante, SOCKS 5, a name resolved by the proxy", dante.get(), svSocks5, "", "", "localhost", false, ""},
        {"dante, SOCKS 4, refused target", dante.get(), svSocks4, "", "", "127.0.0.1", true,
         "Request rejected or failed."},
        {"dante, SOCKS 5, refused target", dante.get(), svSocks5, "", "", "127.0.0.1", true, "Connection refused."},
        {"dante, SOCKS 5, a target its rules keep out", dante.get(), svSocks5, "", "", "192.0.2.1", true,
         "Connection not allowed by ruleset."},
        {"microsocks, right password", microsocks.get(), svSocks5, "scrivlet", "s3cret", "127.0.0.1", false, ""},
        // The target on ::1, named by its literal: it has to go as an IPv6 address, not as a name.
        {"microsocks, IPv6 literal", microsocks.get(), svSocks5, "scrivlet", "s3cret", "[::1]", false, ""},
        {"microsocks, wrong password", microsocks.get(), svSocks5, "scrivlet", "wrong", "127.0.0.1", false,
         "Authentication error to socks server."},
        {"microsocks, no password offered", microsocks.get(), svSocks5, "", "", "127.0.0.1", false,
         "Invalid socks authentication method."},
    };
    const std::string up = AllByteValues(false);
    const std::string down = AllByteValues(true);
    for (const TProxyRow& row : rows) {
        SCOPED_TRACE(row.name);
        const bool tunnel = row.expected.empty();
        std::unique_ptr<TScriptedServer> target;
        testsupport::TRawSocket refusing; // bound, never listening
        const bool ipv6 = std::string(row.target) == "[::1]";
        if (tunnel) {
            target = std::make_unique<TScriptedServer>(
                std::vector<TConnectionScript>{TConnectionScript().ReadCount(up.size()).Send(down)}, false, ipv6);
        }
        TIdTCPClient client;
        ThroughSocks(client,
                     {.port = row.proxy->Port(), .version = row.version, .user = row.user, .password = row.password},
                     row.target, tunnel ? target->Port() : refusing.Port());
        try {
            client.OpenConnection(10000);
            ASSERT_TRUE(tunnel) << "connected where it should fail";
            client.WriteText(up);
            std::string received(down.size(), '\0');
            client.ReadBytes(received.data(), int64_t(received.size()));
            EXPECT_TRUE(received == down);
            client.CloseConnection();
            ASSERT_TRUE(target->WaitDone());
            EXPECT_TRUE(target->Received(0) == up);
        } catch (const EIdException& e) {
            EXPECT_EQ(e.what(), row.expected) << row.proxy->Logs();
            EXPECT_FALSE(client.IsConnected());
        }
    }
}

} // namespace
