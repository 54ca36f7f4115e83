// The HTTP client over the TLS transport against nginx: https directly and through a proxy's tunnel, the
// connection kept between calls, a redirect, a secure cookie that goes only over TLS, and a refused
// certificate that leaves the client usable.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/http/IdHTTP.h"
#include "net/tcp/IdException.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "tests/net/tls/TlsTestPeers.h"
#include "tests/support/RealPeers.h"

namespace {

using testsupport::TRealPeer;

// The body of one Get.
std::string Fetch(TIdHTTP& http, const std::string& url) {
    TMemoryStream body;
    http.Get(url, body);
    return std::string(body.Memory(), static_cast<size_t>(body.Size()));
}

class HttpsClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certificates_ = new tls_test::TTestCertificates();
        documents_ = new TTempDir();
        WriteTextFile(documents_->File("small.txt"), "small document\n");
        std::string text;
        for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\n";
        WriteTextFile(documents_->File("doc.txt"), text);
        document_ = text;
        const std::string config =
            "    ssl_protocols TLSv1.2 TLSv1.3;\n"
            "    location /chunked/ { alias " + documents_->Path() +
            "/; sub_filter_types *; sub_filter 'never-in-the-text' ''; }\n"
            "    location = /moved { return 301 /small.txt; }\n"
            "    location = /set-cookie { add_header Set-Cookie \"token=secret; path=/; secure\"; return 200 \"set\\n\"; }\n"
            "    location = /cookie { return 200 \"[$http_cookie]\\n\"; }\n";
        https_ = TRealPeer::NginxTls(documents_->Path(), certificates_->Cert("nameonly"),
                                     certificates_->Key("nameonly"), config)
                     .release();
        expired_ = TRealPeer::NginxTls(documents_->Path(), certificates_->Cert("expired"),
                                       certificates_->Key("expired"), config)
                       .release();
        plain_ = TRealPeer::Nginx(documents_->Path(), config).release();
    }
    static void TearDownTestSuite() {
        delete plain_;
        delete expired_;
        delete https_;
        delete documents_;
        delete certificates_;
    }

    void SetUp() override {
        handler_.SetCAFile(certificates_->CAFile());
        http_.SetIOHandler(&handler_);
        http_.OnConnected = [this](TIdBaseComponent*) { ++connects_; };
    }

    static std::string Https(const TRealPeer* server, const std::string& path) {
        return "https://localhost:" + std::to_string(server->Port()) + path;
    }

    static tls_test::TTestCertificates* certificates_;
    static TTempDir* documents_;
    static std::string document_;
    static TRealPeer* https_;
    static TRealPeer* expired_;
    static TRealPeer* plain_;

    TIdSSLIOHandlerSocket handler_;
    TIdHTTP http_;
    int connects_ = 0;
};

tls_test::TTestCertificates* HttpsClient::certificates_ = nullptr;
TTempDir* HttpsClient::documents_ = nullptr;
std::string HttpsClient::document_;
TRealPeer* HttpsClient::https_ = nullptr;
TRealPeer* HttpsClient::expired_ = nullptr;
TRealPeer* HttpsClient::plain_ = nullptr;

TEST_F(HttpsClient, FetchesByLengthChunkedAndAfterARedirectOnOneConnection) {
    EXPECT_EQ(Fetch(http_, Https(https_, "/doc.txt")), document_);
    EXPECT_EQ(Fetch(http_, Https(https_, "/chunked/doc.txt")), document_);
    http_.SetHandleRedirects(true);
    EXPECT_EQ(Fetch(http_, Https(https_, "/moved")), "small document\n");
    EXPECT_EQ(connects_, 1);
    EXPECT_EQ(handler_.ProtocolVersion(), "TLSv1.3");
}

TEST_F(HttpsClient, FetchesThroughAProxysTunnel) {
    auto proxy = TRealPeer::Tinyproxy();
    http_.ProxyParams().SetProxyServer("127.0.0.1");
    http_.ProxyParams().SetProxyPort(proxy->Port());
    // The certificate names localhost alone: it passes only when checked against the tunnel's target.
    EXPECT_EQ(Fetch(http_, Https(https_, "/small.txt")), "small document\n");
    EXPECT_EQ(handler_.ProtocolVersion(), "TLSv1.3");
    EXPECT_EQ(Fetch(http_, Https(https_, "/doc.txt")), document_);
}

TEST_F(HttpsClient, SendsASecureCookieOverTlsOnly) {
    EXPECT_EQ(Fetch(http_, Https(https_, "/set-cookie")), "set\n");
    EXPECT_EQ(Fetch(http_, Https(https_, "/cookie")), "[token=secret]\n");
    // The same host over plain http, through the same handler passing bytes through.
    EXPECT_EQ(Fetch(http_, "http://localhost:" + std::to_string(plain_->Port()) + "/cookie"), "[]\n");
    EXPECT_EQ(handler_.ProtocolVersion(), "");
}

TEST_F(HttpsClient, ARefusedCertificateClosesTheConnectionAndTheClientGoesOn) {
    try {
        Fetch(http_, Https(expired_, "/small.txt"));
        ADD_FAILURE() << "fetched";
    } catch (const EIdSSLProtocolReplyError& e) {
        EXPECT_EQ(e.Message(),
                  "TLS handshake with localhost failed: the server's certificate was refused: it has expired "
                  "(certificate has expired)");
    }
    EXPECT_FALSE(http_.IsConnected());
    EXPECT_EQ(Fetch(http_, Https(https_, "/small.txt")), "small document\n");
}

}  // namespace
