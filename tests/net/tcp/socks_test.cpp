// SOCKS 4, 4A and 5 through the client's connect, against a scripted proxy that checks every request byte
// and answers with canned replies (tests/data/socks holds the longer exchanges).

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdSocks.h"
#include "net/tcp/IdTCPClient.h"
#include "tests/net/tcp/socks_client.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/GoldenExchange.h"
#include "tests/support/NetTestSupport.h"

namespace {

using socks_test::ThroughSocks;
using testsupport::TGoldenExchange;
using TScriptedServer = testsupport::TCheckedServer;

struct TSocksRow {
    std::string name;
    std::string exchange; // a file under tests/data/socks, or the exchange itself
    TSocksVersion version;
    std::string host;
    int32_t port;
    std::string expected;                 // empty: the tunnel stands (ping, pong); else the message
    const std::type_info* type = nullptr; // the exception's class
    std::string user = "";
    std::string password = ""; // not empty: user name and password authentication
    std::size_t pieceSize = 0; // the proxy's replies in pieces of this size
    int32_t timeout = -1;
};

const std::string kOffer = "> \\x05\\x01\\x00\n< \\x05\\x00\n";
// Fifteen zero bytes, as an exchange file writes them: ::1 is fifteen of them and a one.
const std::string kZero15 = "\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00";
const std::string kConnect80 = "> \\x05\\x01\\x00\\x03\\x09127.0.0.1\\x00\\x50\n";

// A SOCKS 5 exchange whose connect reply carries code (and address type 1).
std::string V5Reply(int code)
{
    const char hex[] = "0123456789abcdef";
    return kOffer + kConnect80 + "< \\x05\\x0" + hex[code & 15] + "\\x00\\x01\\x00\\x00\\x00\\x00\\x00\\x00\n";
}

// A SOCKS 5 exchange to host:80 with the name escaped as it goes, for long names.
std::string V5ToHost(const std::string& host)
{
    const char hex[] = "0123456789abcdef";
    const std::string length = std::string("\\x") + hex[host.size() >> 4] + hex[host.size() & 15];
    return kOffer + "> \\x05\\x01\\x00\\x03" + length + host + "\\x00\\x50\n" +
           "< \\x05\\x00\\x00\\x01\\x00\\x00\\x00\\x00\\x00\\x00\n> ping\n< pong\n";
}

std::vector<TSocksRow> Rows()
{
    const std::string name255(255, 'n');
    const std::string name256(256, 'n');
    std::vector<TSocksRow> rows = {
        {"4: empty user id", "socks4_empty_user.txt", svSocks4, "127.0.0.1", 80, ""},
        {"4: user id, name resolved here, reply in pieces", "socks4_user_resolved.txt", svSocks4, "localhost", 8080, "",
         nullptr, "alice", "", 1},
        {"4A: user id and host name", "socks4a_user_and_host.txt", svSocks4A, "h.example", 443, "", nullptr, "u"},
        {"4: code 91", "> \\x04\\x01\\x00\\x50\\x7f\\x00\\x00\\x01\\x00\n< \\x00\\x5b\\x00\\x00\\x00\\x00\\x00\\x00\n",
         svSocks4, "127.0.0.1", 80, "Request rejected or failed.", &typeid(EIdSocksRequestFailed)},
        {"4: code 92", "> \\x04\\x01\\x00\\x50\\x7f\\x00\\x00\\x01\\x00\n< \\x00\\x5c\\x00\\x00\\x00\\x00\\x00\\x00\n",
         svSocks4, "127.0.0.1", 80, "Request rejected because SOCKS server cannot connect.",
         &typeid(EIdSocksRequestServerFailed)},
        {"4: code 93", "> \\x04\\x01\\x00\\x50\\x7f\\x00\\x00\\x01\\x00\n< \\x00\\x5d\\x00\\x00\\x00\\x00\\x00\\x00\n",
         svSocks4, "127.0.0.1", 80, "Request rejected because the client program and identd report different user-ids.",
         &typeid(EIdSocksRequestIdentFailed)},
        {"4: unknown code",
         "> \\x04\\x01\\x00\\x50\\x7f\\x00\\x00\\x01\\x00\n< \\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\n", svSocks4,
         "127.0.0.1", 80, "Unknown socks error.", &typeid(EIdSocksUnknownError)},
        {"4: reply cut short by a close", "> \\x04\\x01\\x00\\x50\\x7f\\x00\\x00\\x01\\x00\n< \\x00\\x5a\\x00\n",
         svSocks4, "127.0.0.1", 80, "Connection Closed Gracefully.", &typeid(EIdConnClosedGracefully)},
        {"4: a name that does not resolve sends nothing", "", svSocks4, "scrivlet-no-such-host.invalid", 80,
         "Socket Error # 11001\r\nHost not found.", &typeid(EIdSocketError)},
        {"4A: host name with a NUL sends nothing", "", svSocks4A, std::string("a\0b", 3), 80,
         "SOCKS host name holds a NUL byte.", &typeid(EIdSocksError)},
        {"4: user id of 256 bytes sends nothing", "", svSocks4, "127.0.0.1", 80,
         "SOCKS user id is longer than 255 bytes.", &typeid(EIdSocksError), name256},
        {"5: dotted quad goes as a name", "socks5_no_auth_dotted_quad.txt", svSocks5, "127.0.0.1", 80, ""},
        {"5: password, bound address as a name", "socks5_password_reply_name.txt", svSocks5, "example.org", 21, "",
         nullptr, "user", "secret"},
        {"5: every reply in one-byte pieces", "socks5_password_reply_name.txt", svSocks5, "example.org", 21, "",
         nullptr, "user", "secret", 1},
        {"5: bound address IPv6", "socks5_reply_ipv6.txt", svSocks5, "localhost", 80, ""},
        // IPv6 literals used to go as a name with their brackets (5, 4A) or raise a conversion error (4).
        {"5: IPv6 literal goes as an address",
         kOffer + "> \\x05\\x01\\x00\\x04" + kZero15 + "\\x01\\x00\\x50\n" +
             "< \\x05\\x00\\x00\\x01\\x00\\x00\\x00\\x00\\x00\\x00\n> ping\n< pong\n",
         svSocks5, "[::1]", 80, ""},
        {"4: IPv6 literal sends nothing", "", svSocks4, "[::1]", 80, "SOCKS 4 cannot carry an IPv6 address.",
         &typeid(EIdSocksError)},
        {"4A: IPv6 literal sends nothing", "", svSocks4A, "::1", 80, "SOCKS 4 cannot carry an IPv6 address.",
         &typeid(EIdSocksError)},
        {"5: host name of 255 bytes", V5ToHost(name255), svSocks5, name255, 80, ""},
        {"5: host name of 256 bytes sends nothing", "", svSocks5, name256, 80,
         "SOCKS host name is longer than 255 bytes.", &typeid(EIdSocksError)},
        {"5: password of 256 bytes sends nothing", "", svSocks5, "127.0.0.1", 80,
         "SOCKS password is longer than 255 bytes.", &typeid(EIdSocksError), "user", name256},
        {"5: method 255", "> \\x05\\x01\\x00\n< \\x05\\xff\n", svSocks5, "127.0.0.1", 80,
         "Invalid socks authentication method.", &typeid(EIdSocksAuthMethodError)},
        {"5: password offered, none chosen", "> \\x05\\x01\\x02\n< \\x05\\x00\n", svSocks5, "127.0.0.1", 80,
         "Invalid socks authentication method.", &typeid(EIdSocksAuthMethodError), "user", "secret"},
        {"5: wrong password", "> \\x05\\x01\\x02\n< \\x05\\x02\n> \\x01\\x04user\\x05wrong\n< \\x01\\x01\n", svSocks5,
         "127.0.0.1", 80, "Authentication error to socks server.", &typeid(EIdSocksAuthError), "user", "wrong"},
        {"5: close after the method offer", "> \\x05\\x01\\x00\n! close\n", svSocks5, "127.0.0.1", 80,
         "Socks server did not respond.", &typeid(EIdSocksServerRespondError)},
        {"5: close inside the bound address", kOffer + kConnect80 + "< \\x05\\x00\\x00\\x01\\x0a\\x00\n", svSocks5,
         "127.0.0.1", 80, "Socks server did not respond.", &typeid(EIdSocksServerRespondError)},
        {"5: unknown address type in a success", kOffer + kConnect80 + "< \\x05\\x00\\x00\\x07\\x00\\x00\n", svSocks5,
         "127.0.0.1", 80, "Unknown socks error.", &typeid(EIdSocksUnknownError)},
        {"5: a silent proxy meets the connect's limit", "> \\x05\\x01\\x00\n! read-to-end\n", svSocks5, "127.0.0.1", 80,
         "Connect timed out.", &typeid(EIdConnectTimeout), "", "", 0, 300},
    };
    const std::vector<std::pair<std::string, const std::type_info*>> codes = {
        {"General SOCKS server failure.", &typeid(EIdSocksServerGeneralError)},
        {"Connection not allowed by ruleset.", &typeid(EIdSocksServerPermissionError)},
        {"Network unreachable.", &typeid(EIdSocksServerNetUnreachableError)},
        {"Host unreachable.", &typeid(EIdSocksServerHostUnreachableError)},
        {"Connection refused.", &typeid(EIdSocksServerConnectionRefusedError)},
        {"TTL expired.", &typeid(EIdSocksServerTTLExpiredError)},
        {"Command not supported.", &typeid(EIdSocksServerCommandError)},
        {"Address type not supported.", &typeid(EIdSocksServerAddressError)},
        {"Unknown socks error.", &typeid(EIdSocksUnknownError)},
    };
    static std::vector<std::string> names;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        names.push_back("5: reply code " + std::to_string(i + 1));
        rows.push_back(
            {names.back().c_str(), V5Reply(int(i + 1)), svSocks5, "127.0.0.1", 80, codes[i].first, codes[i].second});
    }
    return rows;
}

TEST(TIdSocksInfo, NegotiatesByteForByteAndRaisesEachFailureWithItsClass)
{
    for (const TSocksRow& row : Rows()) {
        SCOPED_TRACE(row.name);
        const TGoldenExchange exchange = row.exchange.ends_with(".txt") ? TGoldenExchange::Load("socks/" + row.exchange)
                                                                        : TGoldenExchange::Parse(row.exchange);
        TScriptedServer server(exchange.Script(row.pieceSize, row.pieceSize > 0 ? 1 : 0));
        TIdTCPClient client;
        ThroughSocks(client,
                     {.port = server.Port(), .version = row.version, .user = row.user, .password = row.password},
                     row.host, row.port);

        // The exception's message and class, or empty ones.
        const std::type_info* type = nullptr;
        EXPECT_EQ(testsupport::HowItEnded([&] { client.OpenConnection(row.timeout); },
                                          [&type](const std::exception& e) {
                                              type = &typeid(e);
                                              return std::string(e.what());
                                          }),
                  row.expected);
        if (row.expected.empty()) {
            client.WriteText("ping");
            char reply[4];
            client.ReadBytes(reply, 4);
            EXPECT_EQ(std::string(reply, 4), "pong");
        } else {
            ASSERT_NE(type, nullptr);
            EXPECT_STREQ(type->name(), row.type->name());
            EXPECT_FALSE(client.IsConnected()); // the connect's clean-up dropped the proxy connection
        }
        client.CloseConnection();
        ASSERT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Received(0), exchange.Request());
    }
}

TEST(TIdTCPClient, ThroughSocksTheStatusNamesTheProxy)
{
    TScriptedServer server(TGoldenExchange::Load("socks/socks5_no_auth_dotted_quad.txt").Script());
    TIdTCPClient client;
    TIdIOHandlerSocket& handler =
        ThroughSocks(client, {.port = server.Port(), .version = svSocks5, .host = "localhost"}, "127.0.0.1", 80);
    std::vector<std::string> log;
    client.OnStatus = handler.OnStatus = [&log](TIdComponent*, TIdStatus status, const std::string& text) {
        log.push_back(std::to_string(status) + ":" + text);
    };
    client.OpenConnection(2000);
    EXPECT_EQ(log, (std::vector<std::string>{"0:Resolving hostname localhost.", "1:Connecting to 127.0.0.1.",
                                             "2:Connected."}));
    client.WriteText("ping");
    EXPECT_EQ(client.ReadLine("g"), "pon");
}

} // namespace
