// The HTTP client over the TLS transport: https directly and through a proxy's tunnel, the connection kept
// between calls, a redirect, a secure cookie that goes only over TLS, and a refused certificate that leaves
// the client usable.

#include <gtest/gtest.h>

#include <string>

#include "net/http/IdHTTP.h"
#include "net/tcp/IdException.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "tests/net/tls/TlsTestPeers.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/StreamText.h"

namespace {

using tls_test::Peers;
using tls_test::TRealPeer;

class HttpsClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        handler_.SetCAFile(Peers().certificates.CAFile());
        http_.SetIOHandler(&handler_);
        http_.OnConnected = [this](TIdBaseComponent*) { ++connects_; };
    }
    std::string Fetch(const std::string& url)
    {
        TMemoryStream body;
        http_.Get(url, body);
        return testsupport::StreamText(body);
    }
    static std::string Url(const std::unique_ptr<TRealPeer>& server, const std::string& path,
                           const std::string& scheme = "https")
    {
        return scheme + "://localhost:" + std::to_string(server->Port()) + path;
    }

    TIdSSLIOHandlerSocket handler_;
    TIdHTTP http_;
    int connects_ = 0;
};

TEST_F(HttpsClient, FetchesByLengthChunkedAndAfterARedirectOnOneConnection)
{
    EXPECT_EQ(Fetch(Url(Peers().good, "/doc.txt")), Peers().document);
    EXPECT_EQ(Fetch(Url(Peers().good, "/chunked/doc.txt")), Peers().document);
    http_.SetHandleRedirects(true);
    EXPECT_EQ(Fetch(Url(Peers().good, "/moved")), "small document\n");
    EXPECT_EQ(connects_, 1);
}

TEST_F(HttpsClient, RelativeRedirectStaysOnHttpsAndLiteralsAreVerified)
{
    http_.SetHandleRedirects(true);
    // A relative Location used to send the next request in plain text to the https port.
    EXPECT_EQ(Fetch(Url(Peers().good, "/relative")), "small document\n");
    EXPECT_EQ(Fetch(Url(Peers().good, "/relative-name")), "small document\n");
    // An IPv6 literal is checked against the certificate's IP address, not its bracketed text.
    EXPECT_EQ(Fetch("https://[::1]:" + std::to_string(Peers().good->Port()) + "/small.txt"), "small document\n");
    EXPECT_EQ(Fetch("https://127.0.0.1:" + std::to_string(Peers().good->Port()) + "/small.txt"), "small document\n");
}

TEST_F(HttpsClient, FetchesThroughAProxysTunnel)
{
    auto proxy = TRealPeer::Tinyproxy();
    http_.ProxyParams().SetProxyServer("127.0.0.1");
    http_.ProxyParams().SetProxyPort(proxy->Port());
    // The certificate names localhost alone, not the proxy's 127.0.0.1: it passes only when checked against
    // the tunnel's target. A second call to the same server goes through the same tunnel and TLS session.
    EXPECT_EQ(Fetch(Url(Peers().nameOnly, "/small.txt")), "small document\n");
    EXPECT_EQ(handler_.ProtocolVersion(), "TLSv1.3");
    EXPECT_EQ(Fetch(Url(Peers().nameOnly, "/doc.txt")), Peers().document);
    EXPECT_EQ(connects_, 1);
}

TEST_F(HttpsClient, SendsASecureCookieOverTlsOnly)
{
    EXPECT_EQ(Fetch(Url(Peers().good, "/set-cookie")), "set\n");
    EXPECT_EQ(Fetch(Url(Peers().good, "/cookie")), "[token=secret]\n");
    // The same host in plain http, through the same handler passing bytes through.
    EXPECT_EQ(Fetch(Url(Peers().plain, "/cookie", "http")), "[]\n");
}

TEST_F(HttpsClient, ARefusedCertificateClosesTheConnectionAndTheClientGoesOn)
{
    testsupport::ExpectRaises<EIdSSLProtocolReplyError>([&] { Fetch(Url(Peers().expired, "/small.txt")); },
                                                        "TLS handshake with localhost failed: the server's certificate "
                                                        "was refused: it has expired (certificate has expired)");
    EXPECT_FALSE(http_.IsConnected());
    EXPECT_EQ(Fetch(Url(Peers().good, "/small.txt")), "small document\n");
}

} // namespace
