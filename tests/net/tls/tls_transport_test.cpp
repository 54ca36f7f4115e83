// The TLS transport under a buffered client connection with raw request lines: documents by length and
// chunked over one kept-alive connection, time-outs, the end with and without close_notify, what it accepts,
// and the refusals, each with the message a user would read.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "net/tcp/IdException.h"
#include "net/tcp/IdTCPClient.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "tests/net/tls/TlsTestPeers.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/StreamText.h"

namespace {

using testsupport::ExpectRaises;
using testsupport::TConnectionScript;
using testsupport::TScriptedServer;
using tls_test::Peers;

struct TResponse {
    std::map<std::string, std::string> headers; // names as sent
    std::string body;
};

// Sends a GET and reads its response with the connection's line, block and stream reads.
TResponse Get(TIdTCPClient& client, const std::string& path, const std::string& extra = "")
{
    client.WriteText("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n");
    TResponse response;
    EXPECT_EQ(client.ReadLine(), "HTTP/1.1 200 OK");
    for (std::string line = client.ReadLine(); !line.empty(); line = client.ReadLine())
        response.headers[line.substr(0, line.find(':'))] = line.substr(line.find(':') + 2);
    if (response.headers.count("Content-Length")) {
        TMemoryStream stream;
        client.ReadToStream(stream, std::stoll(response.headers["Content-Length"]));
        response.body = testsupport::StreamText(stream);
        return response;
    }
    for (long long size; (size = std::stoll(client.ReadLine(), nullptr, 16)) > 0; client.ReadLine()) {
        std::string piece(static_cast<size_t>(size), '\0');
        client.ReadBytes(piece.data(), size);
        response.body += piece;
    }
    EXPECT_EQ(client.ReadLine(), "");
    return response;
}

// A client on localhost:port over handler, which trusts the tests' authority.
void Aim(TIdTCPClient& client, TIdSSLIOHandlerSocket& handler, int port, const std::string& host = "localhost")
{
    handler.SetCAFile(Peers().certificates.CAFile());
    client.SetIOHandler(&handler);
    client.SetHost(host);
    client.SetPort(port);
}

// A client connected to the good peer over its own transport.
struct TGoodPeerConnection {
    TGoodPeerConnection()
    {
        Aim(client, handler, Peers().good->Port());
        client.OpenConnection();
    }
    TIdSSLIOHandlerSocket handler;
    TIdTCPClient client;
};

TEST(TlsTransport, ReadsByLengthAndByChunksOnOneKeptAliveConnectionUntilThePeerCloses)
{
    TGoodPeerConnection peer;
    TIdTCPClient& client = peer.client;
    EXPECT_EQ(peer.handler.ProtocolVersion(), "TLSv1.3");
    EXPECT_EQ(Get(client, "/doc.txt").body, Peers().document);
    const TResponse chunked = Get(client, "/chunked/doc.txt");
    EXPECT_EQ(chunked.headers.at("Transfer-Encoding"), "chunked");
    EXPECT_EQ(chunked.body, Peers().document);
    EXPECT_EQ(Get(client, "/small.txt", "Connection: close\r\n").body, "small document\n");
    // The server's close_notify ends the stream like a plain close: nothing more, no failure.
    EXPECT_EQ(client.ReadAll(), "");
    EXPECT_FALSE(client.IsConnected());
}

TEST(TlsTransport, APeerClosingWithoutCloseNotifyEndsTheConnectionLikeAPlainClose)
{
    TGoodPeerConnection peer;
    TIdTCPClient& client = peer.client;
    client.WriteText("GET /drop HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
    EXPECT_FALSE(client.IsConnected());
}

TEST(TlsTransport, AReadTimeOutPassesWhileOnlyHandshakeRecordsArriveAndTheConnectionGoesOn)
{
    TGoodPeerConnection peer;
    TIdTCPClient& client = peer.client;
    // After a TLS 1.3 handshake the server sends session tickets: the socket turns readable, yet no byte of
    // the stream is there, and a receive would wait for good.
    EXPECT_EQ(client.ReadLine("\n", 300), "");
    EXPECT_TRUE(client.LineTimedOut());
    client.SetReadTimeout(300);
    EXPECT_THROW(client.ReadLine(), EIdReadTimeout);
    EXPECT_EQ(Get(client, "/small.txt").body, "small document\n");
}

TEST(TlsTransport, AcceptsTheServersItShould)
{
    const std::string folder = Peers().certificates.Dir() + "/cafolder";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(Peers().certificates.CAFile(), folder + "/ca.pem",
                               std::filesystem::copy_options::overwrite_existing);
    testsupport::RunOpenssl(Peers().certificates.Dir(), "rehash cafolder");
    struct TRow {
        const char* what;
        std::string host;
        int port;
        std::string caFile, caPath;
        bool verify;
    };
    const TRow rows[] = {
        {"a name checked", "localhost", Peers().good->Port(), Peers().certificates.CAFile(), "", true},
        {"an address checked", "127.0.0.1", Peers().good->Port(), Peers().certificates.CAFile(), "", true},
        {"the authority in a hashed folder", "localhost", Peers().good->Port(), "", folder, true},
        {"verification off on purpose", "localhost", Peers().selfSigned->Port(), "", "", false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        TIdSSLIOHandlerSocket handler;
        TIdTCPClient client;
        Aim(client, handler, row.port, row.host);
        handler.SetCAFile(row.caFile);
        handler.SetCAPath(row.caPath);
        handler.SetVerifyPeer(row.verify);
        client.OpenConnection();
        EXPECT_EQ(Get(client, "/small.txt").body, "small document\n");
    }
}

TEST(TlsTransport, RefusalsCloseTheConnectionAndSayWhy)
{
    TScriptedServer closing({TConnectionScript().ReadCount(5).Close()});
    TScriptedServer silent({TConnectionScript().ReadCount(5).Pause(5000)});
    const std::string authority = Peers().certificates.CAFile();
    const std::string missing = Peers().certificates.Dir() + "/missing.pem";
    const std::string handshake = "TLS handshake with localhost failed: ";
    const std::string refused = handshake + "the server's certificate was refused: ";
    // Only the silent server is meant to run out of time; the others answer at
    // once, but get time enough for a loaded machine or a sanitizer build.
    struct TRow {
        const char* what;
        int port;
        std::string caFile, message;
        int waitMs = 10000;
    };
    const TRow rows[] = {
        {"self-signed", Peers().selfSigned->Port(), authority,
         refused + "it is self-signed and not among the trusted certificates (self-signed certificate)"},
        {"unknown authority", Peers().good->Port(), "",
         refused + "it was issued by an authority that is not trusted here (unable to get local issuer certificate)"},
        {"another name", Peers().otherName->Port(), authority,
         refused + "it was issued for another name than localhost (hostname mismatch)"},
        {"expired", Peers().expired->Port(), authority, refused + "it has expired (certificate has expired)"},
        {"plain http", Peers().plain->Port(), authority,
         handshake +
             "the server does not speak TLS on this port; it may be a plain http server (wrong version number)"},
        {"closed in the handshake", closing.Port(), authority,
         handshake + "the server closed the connection during the handshake"},
        {"silent in the handshake", silent.Port(), authority,
         handshake + "the server did not complete the handshake within 500 ms", 500},
        {"trust file missing", Peers().good->Port(), missing,
         "TLS could not be set up: the trusted certificates of " + missing +
             " could not be loaded (No such file or directory)"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        TIdSSLIOHandlerSocket handler;
        TIdTCPClient client;
        Aim(client, handler, row.port);
        handler.SetCAFile(row.caFile);
        ExpectRaises<EIdSSLProtocolReplyError>([&] { client.OpenConnection(row.waitMs); }, row.message);
        EXPECT_FALSE(handler.IsOpen());
    }
}

TEST(TlsTransport, AServerDemandingAClientCertificateFailsTheFirstReadWithTheReason)
{
    const auto server =
        testsupport::TRealPeer::OpensslServer(Peers().certificates.Cert("good"), Peers().certificates.Key("good"));
    TIdSSLIOHandlerSocket handler;
    TIdTCPClient client;
    Aim(client, handler, server->Port());
    // In TLS 1.3 the client's part of the handshake is over before the server judges it, so the refusal
    // arrives with the first read; every read after it says the same rather than wait.
    client.OpenConnection();
    client.WriteText("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    for (int read = 0; read < 2; ++read) {
        ExpectRaises<EIdSSLProtocolReplyError>(
            [&] { client.ReadLine(); }, "TLS connection to localhost failed: the server demands a client "
                                        "certificate, and none is configured (tlsv13 alert certificate required)");
    }
}

} // namespace
