#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "net/tcp/IdException.h"
#include "tests/net/tcp/connection_fixture.h"
#include "tests/support/TempDir.h"

namespace connection_test {
namespace {

// Closes the client's side and returns everything the server received on its one connection.
std::string FinishAndCollect(TLoopbackConnection& lc)
{
    lc.connection->CloseConnection();
    EXPECT_TRUE(lc.server.WaitDone());
    return lc.server.Received(0);
}

TEST(TIdTCPConnectionWrite, TenBufferedLinesLeaveAsOneSend)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    std::string expected;
    lc.connection->StartWriteBuffering(-1);
    for (int i = 0; i < 10; ++i) {
        lc.connection->WriteLine("header line " + std::to_string(i));
        expected += "header line " + std::to_string(i) + "\r\n";
    }
    EXPECT_TRUE(lc.handler->sendSizes.empty());
    lc.connection->StopWriteBuffering();
    EXPECT_FALSE(lc.connection->WriteBuffering());
    EXPECT_EQ(lc.handler->sendSizes, std::vector<int32_t>{static_cast<int32_t>(expected.size())});
    EXPECT_EQ(FinishAndCollect(lc), expected);
    // The peer got it in one receive: the request head did not trickle in line by line.
    EXPECT_EQ(lc.server.ReceivedPieces(0), std::vector<std::string>{expected});
}

TEST(TIdTCPConnectionWrite, UnbufferedLinesLeaveOneSendEach)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    for (int i = 0; i < 10; ++i) lc.connection->WriteLine("x");
    EXPECT_EQ(lc.handler->sendSizes, std::vector<int32_t>(10, 3));
    EXPECT_EQ(FinishAndCollect(lc), "x\r\nx\r\nx\r\nx\r\nx\r\nx\r\nx\r\nx\r\nx\r\nx\r\n");
}

TEST(TIdTCPConnectionWrite, ThresholdFlushesItsShareAndKeepsTheRest)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    TIdTCPConnection& c = *lc.connection;
    c.StartWriteBuffering(10);
    c.WriteText("abcdefgh");
    EXPECT_TRUE(lc.handler->sendSizes.empty());
    c.WriteText("ijkl");
    EXPECT_EQ(lc.handler->sendSizes, std::vector<int32_t>{10});
    c.FlushWriteBuffering(5); // fewer pending than asked: all of them
    EXPECT_EQ(lc.handler->sendSizes, (std::vector<int32_t>{10, 2}));
    c.FlushWriteBuffering(); // nothing pending: no send
    c.WriteText("0123456789AB");
    c.FlushWriteBuffering(-1);
    c.StopWriteBuffering();
    EXPECT_EQ(lc.handler->sendSizes, (std::vector<int32_t>{10, 2, 10, 2}));
    EXPECT_EQ(FinishAndCollect(lc), "abcdefghijkl0123456789AB");
}

TEST(TIdTCPConnectionWrite, DiscardDropsPendingBytesAndNestedStartKeepsThem)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    TIdTCPConnection& c = *lc.connection;
    c.StartWriteBuffering(-1);
    c.WriteText("dropped");
    c.DiscardWriteBuffering();
    c.WriteText("kept ");
    c.StartWriteBuffering(-1);
    c.WriteText("and more");
    c.StopWriteBuffering();
    EXPECT_EQ(FinishAndCollect(lc), "kept and more");
}

TEST(TIdTCPConnectionWrite, WriteNowBypassesTheBuffer)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    TIdTCPConnection& c = *lc.connection;
    c.StartWriteBuffering(-1);
    c.WriteText("later");
    c.WriteBytes("now ", 4, true);
    c.StopWriteBuffering();
    EXPECT_EQ(FinishAndCollect(lc), "now later");
}

TEST(TIdTCPConnectionWrite, StopEndsBufferingEvenWhenTheFlushFails)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    TIdTCPConnection& c = *lc.connection;
    c.StartWriteBuffering(-1);
    c.WriteText("never sent");
    c.DropSocket();
    EXPECT_THROW(c.StopWriteBuffering(), EIdConnClosedGracefully);
    EXPECT_FALSE(c.WriteBuffering());
}

struct TStreamWriteCase {
    const char* name;
    int64_t startPosition;
    bool fromStart;
    bool withLengthPrefix;
    int64_t byteCount;
    std::string expected;
};

TEST(TIdTCPConnectionWrite, WriteFromStreamSendsTheChosenRangeInSendBufferPieces)
{
    const std::vector<TStreamWriteCase> cases = {
        {"whole stream from the start", 6, true, false, 0, "hello world"},
        {"from the position to the end", 6, false, false, 0, "world"},
        {"with length prefix", 0, true, true, 0, std::string("\0\0\0\x0bhello world", 15)},
        {"byte count", 0, true, false, 5, "hello"},
        {"position, count and prefix", 6, false, true, 3, std::string("\0\0\0\x03wor", 7)},
    };
    for (const TStreamWriteCase& t : cases) {
        SCOPED_TRACE(t.name);
        TLoopbackConnection lc(TConnectionScript().ReadToEnd());
        lc.connection->SetSendBufferSize(4);
        TMemoryStream stream;
        stream.WriteBuffer("hello world", 11);
        stream.SetPosition(t.startPosition);
        lc.connection->WriteFromStream(stream, t.fromStart, t.withLengthPrefix, t.byteCount);
        int32_t largest = 0;
        for (int32_t s : lc.handler->sendSizes) largest = std::max(largest, s);
        EXPECT_LE(largest, 4);
        EXPECT_EQ(FinishAndCollect(lc), t.expected);
    }
}

TEST(TIdTCPConnectionWrite, WriteFromStreamReportsWorkAndRunsOutOfData)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    std::vector<std::string> events;
    RecordWork(*lc.connection, events);
    lc.connection->SetSendBufferSize(4);
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    lc.connection->WriteFromStream(stream);
    EXPECT_EQ(events, (std::vector<std::string>{"begin 1 6", "4", "6", "end 1"}));
    events.clear();
    ExpectRaises<EIdNoDataToRead>([&] { lc.connection->WriteFromStream(stream, true, false, 9); }, "No data to read.");
    EXPECT_EQ(events, (std::vector<std::string>{"begin 1 9", "4", "6", "end 1"}));
}

class TIdTCPConnectionFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = folder_.File("file.bin");
        std::ofstream(path_, std::ios::binary) << content_;
    }
    TTempDir folder_;
    std::string path_;
    const std::string content_ = std::string("file body\r\nwith\0binary", 22);
};

TEST_F(TIdTCPConnectionFile, SendsTheFileAndReturnsItsSize)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    EXPECT_EQ(lc.connection->WriteFileContents(path_), 22);
    EXPECT_EQ(FinishAndCollect(lc), content_);
}

TEST_F(TIdTCPConnectionFile, KeepsItsPlaceAmongBufferedWrites)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    lc.connection->StartWriteBuffering(-1);
    lc.connection->WriteText("head|");
    lc.connection->WriteFileContents(path_);
    lc.connection->WriteText("|tail");
    lc.connection->StopWriteBuffering();
    EXPECT_EQ(lc.handler->sendSizes.size(), 1u);
    EXPECT_EQ(FinishAndCollect(lc), "head|" + content_ + "|tail");
}

TEST_F(TIdTCPConnectionFile, MissingFileRaisesWithItsName)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    ExpectRaises<EIdFileNotFound>([&] { lc.connection->WriteFileContents("/nonexistent/x.txt"); },
                                  "File \"/nonexistent/x.txt\" not found");
}

TEST(TIdTCPConnectionWrite, WriteInt32AndEmptyTexts)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    lc.connection->WriteInt32(258, true);
    lc.connection->WriteInt32(-2, true);
    lc.connection->WriteText("");
    lc.connection->WriteLine("");
    lc.connection->WriteBytes(nullptr, 5);
    EXPECT_EQ(lc.handler->sendSizes, (std::vector<int32_t>{4, 4, 2}));
    EXPECT_EQ(FinishAndCollect(lc), std::string("\0\0\x01\x02\xff\xff\xff\xfe\r\n", 10));
}

TEST(TIdTCPConnectionWrite, WritingAfterThePeerClosedRaisesEvenWithQueuedInput)
{
    TLoopbackConnection lc(TConnectionScript().Send("line\nleft").Close());
    EXPECT_EQ(lc.connection->ReadLine(), "line");
    EXPECT_EQ(lc.connection->ReadLine(), ""); // the close arrives behind "left"
    EXPECT_EQ(lc.connection->InputQueue().Size(), 4);
    EXPECT_THROW(lc.connection->WriteLine("x"), EIdConnClosedGracefully);

    TIdTCPConnection bare;
    EXPECT_THROW(bare.WriteLine("x"), EIdNotConnected);
}

TEST(TIdTCPConnectionWrite, SendOnAShutSocketDropsItAndRaisesSocketError)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    ::shutdown(lc.handler->Fd(), SHUT_WR);
    ExpectSocketError([&] { lc.connection->WriteText("x"); }, 10058,
                      "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
    EXPECT_EQ(lc.handler->closeCalls, 1);
    EXPECT_FALSE(lc.connection->IsConnected());
}

TEST(TIdTCPConnectionState, CloseConnectionReportsAndFreesTheOwnedHandler)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    std::vector<std::string> seen;
    lc.connection->OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) { seen.push_back(text); };
    lc.connection->OnDisconnected = [&](TIdBaseComponent*) { seen.push_back("OnDisconnected"); };
    lc.connection->CloseConnection();
    EXPECT_EQ(seen, (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_EQ(lc.connection->IOHandler(), nullptr);
    EXPECT_FALSE(lc.connection->OwnsIOHandler());
    EXPECT_FALSE(lc.connection->IsConnected());
}

TEST(TIdTCPConnectionState, PeerCloseIsReportedOnceWhenNoticed)
{
    TLoopbackConnection lc(TConnectionScript().Close());
    int disconnects = 0;
    std::vector<std::string> seen;
    lc.connection->OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) { seen.push_back(text); };
    lc.connection->OnDisconnected = [&](TIdBaseComponent*) { ++disconnects; };
    EXPECT_THROW(lc.connection->ReadLine(), EIdConnClosedGracefully);
    EXPECT_FALSE(lc.connection->IsConnected());
    EXPECT_FALSE(lc.connection->IsConnected());
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(seen, std::vector<std::string>{"Disconnected."});
    EXPECT_EQ(lc.handler->closeCalls, 1);
}

TEST(TIdTCPConnectionState, ResetReadStateForgetsQueueAndClose)
{
    TLoopbackConnection lc(TConnectionScript().Send("abc").Close());
    EXPECT_EQ(lc.connection->ReadLine(), "");
    EXPECT_EQ(lc.connection->InputQueue().Size(), 3);
    lc.connection->ResetReadState();
    EXPECT_EQ(lc.connection->InputQueue().Size(), 0);
    // The transport itself stays closed; only a new connect opens it again.
    EXPECT_FALSE(lc.connection->IsConnected());
}

TEST(TIdTCPConnectionState, ReferencedHandlerIsForgottenWhenDestroyedAndReplacedOwnedOneIsFreed)
{
    TScriptedServer server({TConnectionScript().ReadToEnd(), TConnectionScript().ReadToEnd()});
    TIdTCPConnection c;
    auto* external = new TLoopbackIOHandler(ConnectLoopback(server.Port()));
    c.SetIOHandler(external);
    EXPECT_TRUE(c.IsConnected());
    delete external;
    EXPECT_EQ(c.IOHandler(), nullptr);
    EXPECT_FALSE(c.IsConnected());

    auto* owned = new TLoopbackIOHandler(ConnectLoopback(server.Port()));
    c.SetIOHandler(owned);
    c.SetOwnsIOHandler(true);
    c.SetIOHandler(nullptr); // frees the owned handler, which closes its socket
    EXPECT_FALSE(c.OwnsIOHandler());
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.ConnectionsServed(), 2u);
}

} // namespace
} // namespace connection_test
