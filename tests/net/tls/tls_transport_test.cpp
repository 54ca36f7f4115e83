// The TLS transport under a buffered client connection, against real servers on loopback: documents by
// length and chunked over one kept-alive connection, time-outs, the end of a connection with and without
// close_notify, pass-through and the switch to TLS inside a proxy's tunnel, and the refusals, each with the
// message a user would read.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "net/tcp/IdException.h"
#include "net/tcp/IdTCPClient.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "tests/net/tcp/support/ScriptedServer.h"
#include "tests/net/tls/TlsTestPeers.h"
#include "tests/support/RealPeers.h"

namespace {

using testsupport::TConnectionScript;
using testsupport::TRealPeer;
using testsupport::TScriptedServer;
using tls_test::TTestCertificates;

struct TResponse {
    std::string status;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// One response read with the connection's own line, block and stream reads, framed by length or by chunks.
TResponse ReadResponse(TIdTCPClient& client) {
    TResponse response;
    response.status = client.ReadLine();
    for (std::string line = client.ReadLine(); !line.empty(); line = client.ReadLine()) {
        const size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        response.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    if (response.headers.count("content-length")) {
        TMemoryStream stream;
        client.ReadToStream(stream, std::stoll(response.headers["content-length"]));
        response.body.assign(stream.Memory(), static_cast<size_t>(stream.Size()));
    } else if (response.headers["transfer-encoding"] == "chunked") {
        for (;;) {
            const long long size = std::stoll(client.ReadLine(), nullptr, 16);
            if (size == 0) break;
            std::string piece(static_cast<size_t>(size), '\0');
            client.ReadBytes(piece.data(), size);
            response.body += piece;
            client.ReadLine();
        }
        while (!client.ReadLine().empty()) {
        }
    }
    return response;
}

void SendGet(TIdTCPClient& client, const std::string& path, const std::string& extra = "") {
    client.WriteText("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n");
}

class TlsTransport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certificates_ = new TTestCertificates();
        documents_ = new TTempDir();
        // Enough lines to span many TLS records and several receive buffers.
        std::string text;
        for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i) + " of the test document\n";
        document_ = new std::string(text);
        WriteTextFile(documents_->File("doc.txt"), text);
        WriteTextFile(documents_->File("small.txt"), "small document\n");
        // The substitution filter drops the length, so nginx sends the same file in chunks; 444 closes the
        // connection without a response and without close_notify.
        const std::string locations = "    location /chunked/ { alias " + documents_->Path() +
                                      "/; sub_filter_types *; sub_filter 'never-in-the-text' ''; }\n"
                                      "    location = /drop { return 444; }\n"
                                      "    ssl_protocols TLSv1.2 TLSv1.3;\n";
        const auto tlsServer = [&](const std::string& name) {
            return TRealPeer::NginxTls(documents_->Path(), certificates_->Cert(name), certificates_->Key(name),
                                       locations)
                .release();
        };
        good_ = tlsServer("good");
        otherName_ = tlsServer("othername");
        expired_ = tlsServer("expired");
        selfSigned_ = tlsServer("selfsigned");
        plain_ = TRealPeer::Nginx(documents_->Path(), locations).release();
    }
    static void TearDownTestSuite() {
        for (TRealPeer* peer : {good_, otherName_, expired_, selfSigned_, plain_}) delete peer;
        delete document_;
        delete documents_;
        delete certificates_;
    }

    // A client on host:port through handler (not owned, so the test can look at it afterwards).
    static void Aim(TIdTCPClient& client, TIdSSLIOHandlerSocket& handler, const std::string& host, int port) {
        client.SetIOHandler(&handler);
        client.SetHost(host);
        client.SetPort(port);
    }

    static TTestCertificates* certificates_;
    static TTempDir* documents_;
    static std::string* document_;
    static TRealPeer* good_;
    static TRealPeer* otherName_;
    static TRealPeer* expired_;
    static TRealPeer* selfSigned_;
    static TRealPeer* plain_;
};

TTestCertificates* TlsTransport::certificates_ = nullptr;
TTempDir* TlsTransport::documents_ = nullptr;
std::string* TlsTransport::document_ = nullptr;
TRealPeer* TlsTransport::good_ = nullptr;
TRealPeer* TlsTransport::otherName_ = nullptr;
TRealPeer* TlsTransport::expired_ = nullptr;
TRealPeer* TlsTransport::selfSigned_ = nullptr;
TRealPeer* TlsTransport::plain_ = nullptr;

TEST_F(TlsTransport, ReadsByLengthAndByChunksOnOneKeptAliveConnectionUntilThePeerCloses) {
    TIdSSLIOHandlerSocket handler;
    handler.SetCAFile(certificates_->CAFile());
    TIdTCPClient client;
    Aim(client, handler, "localhost", good_->Port());
    int connects = 0;
    client.OnConnected = [&](TIdBaseComponent*) { ++connects; };
    client.OpenConnection();
    EXPECT_EQ(handler.ProtocolVersion(), "TLSv1.3");

    SendGet(client, "/doc.txt");
    TResponse byLength = ReadResponse(client);
    EXPECT_EQ(byLength.status, "HTTP/1.1 200 OK");
    EXPECT_EQ(byLength.body, *document_);

    SendGet(client, "/chunked/doc.txt");
    TResponse chunked = ReadResponse(client);
    EXPECT_EQ(chunked.headers["transfer-encoding"], "chunked");
    EXPECT_EQ(chunked.body, *document_);

    SendGet(client, "/small.txt", "Connection: close\r\n");
    EXPECT_EQ(ReadResponse(client).body, "small document\n");
    // The server's close_notify ends the stream like a plain close: nothing more, no failure.
    EXPECT_EQ(client.ReadAll(), "");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(connects, 1);
}

TEST_F(TlsTransport, APeerClosingWithoutCloseNotifyEndsTheConnectionLikeAPlainClose) {
    TIdSSLIOHandlerSocket handler;
    handler.SetCAFile(certificates_->CAFile());
    TIdTCPClient client;
    Aim(client, handler, "localhost", good_->Port());
    client.OpenConnection();
    SendGet(client, "/drop");
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(TlsTransport, AReadTimeOutPassesWhileOnlyHandshakeRecordsArriveAndTheConnectionGoesOn) {
    TIdSSLIOHandlerSocket handler;
    handler.SetCAFile(certificates_->CAFile());
    TIdTCPClient client;
    Aim(client, handler, "localhost", good_->Port());
    client.OpenConnection();
    // After a TLS 1.3 handshake the server sends session tickets: the socket turns readable, yet no byte of
    // the stream is there, and a receive would wait for good.
    EXPECT_EQ(client.ReadLine("\n", 300), "");
    EXPECT_TRUE(client.LineTimedOut());
    client.SetReadTimeout(300);
    EXPECT_THROW(client.ReadLine(), EIdReadTimeout);

    SendGet(client, "/small.txt");
    EXPECT_EQ(ReadResponse(client).body, "small document\n");
}

TEST_F(TlsTransport, AcceptsTheServersItShould) {
    const std::string caFolder = certificates_->Dir() + "/cafolder";
    std::filesystem::create_directories(caFolder);
    std::filesystem::copy_file(certificates_->CAFile(), caFolder + "/ca.pem",
                               std::filesystem::copy_options::overwrite_existing);
    tls_test::RunOpenssl(certificates_->Dir(), "rehash cafolder");
    struct TRow {
        const char* what;
        std::string host;
        TRealPeer* server;
        std::string caFile;
        std::string caPath;
        bool verify;
    };
    const TRow rows[] = {
        {"a name checked against the certificate", "localhost", good_, certificates_->CAFile(), "", true},
        {"an address checked against the certificate", "127.0.0.1", good_, certificates_->CAFile(), "", true},
        {"the authority found in a hashed folder", "localhost", good_, "", caFolder, true},
        {"verification switched off explicitly", "localhost", selfSigned_, "", "", false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        TIdSSLIOHandlerSocket handler;
        handler.SetCAFile(row.caFile);
        handler.SetCAPath(row.caPath);
        handler.SetVerifyPeer(row.verify);
        TIdTCPClient client;
        Aim(client, handler, row.host, row.server->Port());
        client.OpenConnection();
        SendGet(client, "/small.txt");
        EXPECT_EQ(ReadResponse(client).body, "small document\n");
    }
}

TEST_F(TlsTransport, PassThroughSpeaksPlainHttp) {
    TIdSSLIOHandlerSocket handler;
    handler.SetPassThrough(true);
    TIdTCPClient client;
    Aim(client, handler, "localhost", plain_->Port());
    client.OpenConnection();
    SendGet(client, "/small.txt");
    EXPECT_EQ(ReadResponse(client).body, "small document\n");
    EXPECT_EQ(handler.ProtocolVersion(), "");
}

TEST_F(TlsTransport, SwitchingPassThroughOffInsideAProxyTunnelStartsTlsWithTheTunnelsTarget) {
    auto proxy = TRealPeer::Tinyproxy();
    auto server = TRealPeer::NginxTls(documents_->Path(), certificates_->Cert("nameonly"),
                                      certificates_->Key("nameonly"), "    ssl_protocols TLSv1.2 TLSv1.3;\n");
    TIdSSLIOHandlerSocket handler;
    handler.SetCAFile(certificates_->CAFile());
    handler.SetPassThrough(true);
    TIdTCPClient client;
    Aim(client, handler, "127.0.0.1", proxy->Port());
    client.OpenConnection();
    const std::string target = "localhost:" + std::to_string(server->Port());
    client.WriteText("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
    EXPECT_NE(client.ReadLine().find(" 200 "), std::string::npos);
    while (!client.ReadLine().empty()) {
    }
    // The certificate names localhost alone, not the proxy's 127.0.0.1: the check passes only with the target.
    handler.SetPassThrough(false);
    EXPECT_EQ(handler.ProtocolVersion(), "TLSv1.3");
    SendGet(client, "/small.txt");
    EXPECT_EQ(ReadResponse(client).body, "small document\n");
}

TEST_F(TlsTransport, RefusalsCloseTheConnectionAndSayWhy) {
    // Servers of our own for the handshake's end: one closes after the first bytes of the client's hello,
    // one goes silent.
    TScriptedServer closing({TConnectionScript().ReadCount(5).Close()});
    TScriptedServer silent({TConnectionScript().ReadCount(5).Pause(5000)});
    struct TRow {
        const char* what;
        int port;
        bool trustTestAuthority;
        std::string message;
    };
    const TRow rows[] = {
        {"self-signed", selfSigned_->Port(), true,
         "TLS handshake with localhost failed: the server's certificate was refused: it is self-signed and not "
         "among the trusted certificates (self-signed certificate)"},
        {"issued by an unknown authority", good_->Port(), false,
         "TLS handshake with localhost failed: the server's certificate was refused: it was issued by an "
         "authority that is not trusted here (unable to get local issuer certificate)"},
        {"for another name", otherName_->Port(), true,
         "TLS handshake with localhost failed: the server's certificate was refused: it was issued for another "
         "name than localhost (hostname mismatch)"},
        {"expired", expired_->Port(), true,
         "TLS handshake with localhost failed: the server's certificate was refused: it has expired (certificate "
         "has expired)"},
        {"plain http", plain_->Port(), true,
         "TLS handshake with localhost failed: the server does not speak TLS on this port; it may be a plain "
         "http server (wrong version number)"},
        {"closed during the handshake", closing.Port(), true,
         "TLS handshake with localhost failed: the server closed the connection during the handshake"},
        {"silent during the handshake", silent.Port(), true,
         "TLS handshake with localhost failed: the server did not complete the handshake within 500 ms"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        TIdSSLIOHandlerSocket handler;
        if (row.trustTestAuthority) handler.SetCAFile(certificates_->CAFile());
        TIdTCPClient client;
        Aim(client, handler, "localhost", row.port);
        try {
            client.OpenConnection(500);
            ADD_FAILURE() << "connected";
        } catch (const EIdSSLProtocolReplyError& e) {
            EXPECT_EQ(e.Message(), row.message);
        }
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(handler.IsOpen());
    }
}

TEST_F(TlsTransport, AServerDemandingAClientCertificateFailsTheFirstReadWithTheReason) {
    tls_test::TClientCertificateServer server(certificates_->Cert("good"), certificates_->Key("good"));
    TIdSSLIOHandlerSocket handler;
    handler.SetCAFile(certificates_->CAFile());
    TIdTCPClient client;
    Aim(client, handler, "localhost", server.Port());
    // In TLS 1.3 the client's part of the handshake is over before the server judges it, so the refusal
    // arrives with the first read.
    client.OpenConnection();
    SendGet(client, "/");
    const std::string expected =
        "TLS connection to localhost failed: the server demands a client certificate, and none is configured "
        "(tlsv13 alert certificate required)";
    try {
        client.ReadLine();
        ADD_FAILURE() << "read a line";
    } catch (const EIdSSLProtocolReplyError& e) {
        EXPECT_EQ(e.Message(), expected);
    }
    // The session is broken for good: the next read says the same, it does not hang.
    try {
        client.ReadLine();
        ADD_FAILURE() << "read a line";
    } catch (const EIdSSLProtocolReplyError& e) {
        EXPECT_EQ(e.Message(), expected);
    }
}

}  // namespace
