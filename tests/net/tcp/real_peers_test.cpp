// The real peers the network tests lean on start here from their written configurations and do their one job:
// a broken configuration or a missing program shows up as one failing row here, not as puzzles elsewhere.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/support/Loopback.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestCertificates.h"

namespace {

using testsupport::TFd;
using testsupport::TRealPeer;

TFd Connect(int port) { return TFd(testsupport::ConnectLoopback(port)); }

// Sends request, then collects what comes back until the peer closes or falls silent for a second.
std::string Exchange(int fd, const std::string& request, std::size_t until = 0)
{
    if (!request.empty()) {
        EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    }
    std::string reply;
    char buffer[4096];
    pollfd watch{fd, POLLIN, 0};
    while ((until == 0 || reply.size() < until) && ::poll(&watch, 1, 1000) == 1) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply;
}

const std::string kGet = "GET /hello.txt HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";

std::string Port2(int port) { return {char(port >> 8), char(port & 0xFF)}; }

TEST(RealPeers, EachPeerStartsAndDoesItsJob)
{
    TTempDir root;
    WriteTextFile(root.File("hello.txt"), "hello from nginx\n");
    auto web = TRealPeer::Nginx(root.Path());
    const std::string webPort = std::to_string(web->Port());
    const std::string target = std::string("\x7f\0\0\x01", 4) + Port2(web->Port());

    // After the greeting: the SOCKS 5 connect to the web peer, then the GET through the tunnel.
    const auto socks5ConnectAndGet = [&](int fd) {
        EXPECT_EQ(Exchange(fd, std::string("\x05\x01\x00\x01", 4) + target, 10).substr(0, 2),
                  std::string("\x05\x00", 2));
        return Exchange(fd, kGet);
    };

    struct TRow {
        const char* name;
        std::function<std::string()> run;
        std::string expected;
    };
    const TRow rows[] = {
        {"nginx", [&] { return Exchange(Connect(web->Port()), kGet); }, "hello from nginx"},
        {"tinyproxy with Basic proxy authentication",
         [&] {
             auto proxy = TRealPeer::Tinyproxy("user", "secret");
             const std::string head = "GET http://127.0.0.1:" + webPort + "/hello.txt HTTP/1.0\r\n";
             const std::string refused = Exchange(Connect(proxy->Port()), head + "\r\n");
             EXPECT_NE(refused.find(" 407 "), std::string::npos) << refused;
             return Exchange(Connect(proxy->Port()), head + "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n\r\n");
         },
         "hello from nginx"},
        {"dante, SOCKS 4",
         [&] {
             auto socks = TRealPeer::Dante();
             const TFd fd = Connect(socks->Port());
             EXPECT_EQ(Exchange(fd, "\x04\x01" + target.substr(4) + target.substr(0, 4) + std::string(1, '\0'), 8)
                           .substr(0, 2),
                       std::string("\0\x5a", 2));
             return Exchange(fd, kGet);
         },
         "hello from nginx"},
        {"dante, SOCKS 5",
         [&] {
             auto socks = TRealPeer::Dante();
             const TFd fd = Connect(socks->Port());
             EXPECT_EQ(Exchange(fd, std::string("\x05\x01\x00", 3), 2), std::string("\x05\x00", 2));
             return socks5ConnectAndGet(fd);
         },
         "hello from nginx"},
        {"microsocks, SOCKS 5 with user name and password",
         [&] {
             auto socks = TRealPeer::Microsocks("user", "secret");
             const TFd fd = Connect(socks->Port());
             EXPECT_EQ(Exchange(fd, std::string("\x05\x01\x02", 3), 2), std::string("\x05\x02", 2));
             EXPECT_EQ(Exchange(fd, "\x01\x04user\x06secret", 2), std::string("\x01\x00", 2));
             return socks5ConnectAndGet(fd);
         },
         "hello from nginx"},
        {"nginx over TLS accepts connections",
         [&] {
             const testsupport::TTestCertificates certificates;
             auto tls =
                 TRealPeer::NginxTls(root.Path(), certificates.Cert("selfsigned"), certificates.Key("selfsigned"));
             // A plain request to a TLS port gets nginx's own complaint: the server is up and speaks TLS.
             return Exchange(Connect(tls->Port()), kGet);
         },
         "400 The plain HTTP request was sent to HTTPS port"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string reply = row.run();
        EXPECT_NE(reply.find(row.expected), std::string::npos) << reply;
    }
}

} // namespace
