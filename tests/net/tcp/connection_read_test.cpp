#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/tcp/IdException.h"
#include "tests/net/tcp/connection_fixture.h"
#include "tests/support/TempDir.h"

namespace connection_test {
namespace {

struct TStreamCase {
    const char* name;
    TConnectionScript script;
    std::string queuedBefore; // read with ReadLine first, so the rest of that receive is already queued
    int32_t recvBufferSize;
    std::string streamBefore; // content of the target stream; the read starts at its end
    int64_t count;
    bool untilClosed;
    std::string expectedStream;
    bool expectClosedGracefully;
    std::string expectedRest; // what a ReadAll gets afterwards: queued bytes and those still to come
};

TEST(TIdTCPConnectionReadToStream, CopiesCountsLengthPrefixesAndUntilClosed)
{
    const std::string big(100000, 'b');
    std::vector<TStreamCase> cases = {
        {"count in small pieces", TConnectionScript().Send("0123456789", 3, 5).Close(), "", 32768, "", 10, false,
         "0123456789", false, ""},
        {"bytes behind the count stay for later reads", TConnectionScript().Send("0123456789rest").Close(), "", 32768,
         "", 10, false, "0123456789", false, "rest"},
        {"peer closes after 6 of 10 bytes", TConnectionScript().Send("abcdef").Close(), "", 32768, "", 10, false, "",
         true, "abcdef"},
        {"pre-sizing undone behind existing content", TConnectionScript().Send("abcdef").Close(), "", 32768, "XY", 10,
         false, "XY", true, "abcdef"},
        {"4-byte big-endian length prefix", TConnectionScript().Send(std::string("\0\0\0\5hello!", 10)).Close(), "",
         32768, "", -1, false, "hello", false, "!"},
        {"count 0 reads nothing", TConnectionScript().Send("abc").Close(), "", 32768, "", 0, false, "", false, "abc"},
        {"complete pieces stay, the broken one is queued", TConnectionScript().Send("abcdefg").Close(), "", 4, "", 10,
         false, "abcd", true, "efg"},
        {"queued bytes come first", TConnectionScript().Send("head\nbody-bytes").Close(), "head", 32768, "", 10, false,
         "body-bytes", false, ""},
        {"until closed with a short last piece", TConnectionScript().Send(std::string(29, 'u'), 8, 2).Close(), "", 8,
         "", -1, true, std::string(29, 'u'), false, ""},
        {"until closed takes what was queued", TConnectionScript().Send("head\nrest of it").Close(), "head", 32768, "",
         -1, true, "rest of it", false, ""},
        {"until closed larger than the transfer buffer", TConnectionScript().Send(big, 7000).Close(), "", 4096, "", -1,
         true, big, false, ""},
        {"until closed with a count still reads to the end", TConnectionScript().Send("0123456789").Close(), "", 32768,
         "", 4, true, "0123456789", false, ""},
    };
    // A memory stream has room the receives can land in directly; a file stream takes the bytes through the
    // queue. Both must behave the same.
    TTempDir folder;
    const std::string path = folder.File("stream.bin");
    for (bool toFile : {false, true}) {
        for (TStreamCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (toFile ? " (file stream)" : " (memory stream)"));
            TLoopbackConnection lc(c.script);
            TIdTCPConnection& conn = *lc.connection;
            conn.SetRecvBufferSize(c.recvBufferSize);
            if (!c.queuedBefore.empty()) {
                ASSERT_EQ(conn.ReadLine(), c.queuedBefore);
            }
            std::unique_ptr<TStream> stream;
            if (toFile) {
                stream = std::make_unique<TFileStream>(path, fmCreate);
            } else {
                stream = std::make_unique<TMemoryStream>();
            }
            stream->WriteBuffer(c.streamBefore.data(), static_cast<int64_t>(c.streamBefore.size()));
            bool closedGracefully = false;
            try {
                conn.ReadToStream(*stream, c.count, c.untilClosed);
            } catch (const EIdConnClosedGracefully&) {
                closedGracefully = true;
            }
            EXPECT_EQ(closedGracefully, c.expectClosedGracefully);
            if (closedGracefully) {
                EXPECT_EQ(conn.InputQueue().Size(), static_cast<int64_t>(c.expectedRest.size()));
            }
            EXPECT_EQ(stream->Position(), stream->Size());
            EXPECT_EQ(StreamText(*stream), c.expectedStream);
            EXPECT_EQ(conn.ReadAll(), c.expectedRest);
        }
    }
}

TEST(TIdTCPConnectionReadToStream, APeersLengthClaimReservesOnlyWhatArrivesAndAnInvalidPrefixRaises)
{
    const std::string body(3000000, 'm');
    struct TCase {
        const char* name;
        std::string sent;
        int64_t count;
        std::string expected; // the exception's message; empty: the body arrives whole
        int64_t maxReserve;
    };
    const TCase cases[] = {
        {"prefix 2^31-1, then 10 bytes and a close", std::string("\x7f\xff\xff\xff") + "0123456789", -1,
         "Connection Closed Gracefully.", 1 << 20},
        {"a stated count of 3 GB, then 10 bytes", "0123456789", 3000000000LL, "Connection Closed Gracefully.", 1 << 20},
        {"prefix 2^31", std::string("\x80\0\0\0abc", 7), -1, "Length prefix 2147483648 is not a valid length.", 0},
        {"prefix 2^32-1", std::string("\xff\xff\xff\xff", 4), -1, "Length prefix 4294967295 is not a valid length.", 0},
        {"a true prefix of 3 MB arrives whole, the room growing by half again at most",
         std::string("\0\x2d\xc6\xc0", 4) + body, -1, "", 3000000 * 3 / 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TLoopbackConnection lc(TConnectionScript().Send(c.sent).Close());
        TMemoryStream stream;
        EXPECT_EQ(RaisedText([&] { lc.connection->ReadToStream(stream, c.count); }), c.expected);
        EXPECT_LE(stream.Capacity(), c.maxReserve);
        if (c.expected.empty()) {
            EXPECT_TRUE(StreamText(stream) == body);
        }
    }
}

TEST(TIdTCPConnectionReadToStream, ReportsReadWorkOnceAroundTheTransfer)
{
    TLoopbackConnection lc(TConnectionScript().Send("0123456789", 4, 5).ReadToEnd());
    std::vector<std::string> events;
    RecordWork(*lc.connection, events);
    lc.connection->SetRecvBufferSize(5);
    TMemoryStream stream;
    lc.connection->ReadToStream(stream, 10);
    // Progress is the running total, reported as each 5-byte piece leaves the queue.
    EXPECT_EQ(events, (std::vector<std::string>{"begin 0 10", "5", "10", "end 0"}));
}

TEST(TIdTCPConnectionRead, ReadBytesLeavesPartialBytesQueuedWhenThePeerCloses)
{
    TLoopbackConnection lc(TConnectionScript().Send("abc").Close());
    char buf[8] = {};
    EXPECT_THROW(lc.connection->ReadBytes(buf, 5), EIdConnClosedGracefully);
    EXPECT_EQ(lc.connection->InputQueue().Size(), 3);
    lc.connection->ReadBytes(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    lc.connection->ReadBytes(nullptr, 3); // no buffer: nothing happens
    lc.connection->ReadBytes(buf, 0);
}

TEST(TIdTCPConnectionRead, ReadInt32ConvertsFromNetworkOrderOnRequest)
{
    TLoopbackConnection lc(
        TConnectionScript().Send(std::string("\x00\x00\x01\x02\x00\x00\x01\x02\xff\xff\xff\xfe", 12)).Close());
    EXPECT_EQ(lc.connection->ReadInt32(true), 258);
    EXPECT_EQ(lc.connection->ReadInt32(false), 0x02010000); // memory order of this little-endian host
    EXPECT_EQ(lc.connection->ReadInt32(true), -2);
}

TEST(TIdTCPConnectionRead, ReadAllGathersEverythingUntilTheClose)
{
    TLoopbackConnection lc(
        TConnectionScript().Send("first piece, ").Pause(20).Send("second, ", 3, 2).Send("end").Close());
    EXPECT_EQ(lc.connection->ReadAll(), "first piece, second, end");
    EXPECT_FALSE(lc.connection->IsConnected());
    EXPECT_EQ(lc.connection->WorkLevel(wmRead), 0);
}

TEST(TIdTCPConnectionRead, ReadAvailableReturnsOneReceiveAndThenTheQueue)
{
    TLoopbackConnection lc(TConnectionScript().Send("abc").Pause(200).Send("def").Close());
    EXPECT_EQ(lc.connection->ReadAvailable(), "abc");
    EXPECT_EQ(lc.connection->ReadLine(), ""); // "def" then the close
    EXPECT_TRUE(lc.connection->LineTimedOut());
    EXPECT_EQ(lc.connection->ReadAvailable(), "def");
    EXPECT_EQ(lc.connection->ReadAvailable(), "");
}

TEST(TIdTCPConnectionRead, ASCIIFilterClearsTheTopBit)
{
    TLoopbackConnection lc(TConnectionScript().Send("\xC1\x80Z\xFF\n").Close());
    lc.connection->SetASCIIFilter(true);
    EXPECT_EQ(lc.connection->ReadLine(), std::string("A\0Z\x7F", 4));
}

TEST(TIdTCPConnectionRead, FillInputBufferReportsTimeoutAndMissingTransport)
{
    TLoopbackConnection lc(TConnectionScript().ReadToEnd());
    EXPECT_EQ(lc.connection->FillInputBuffer(true, 30, false), -1);
    EXPECT_THROW(lc.connection->FillInputBuffer(true, 30, true), EIdReadTimeout);

    TIdTCPConnection bare;
    EXPECT_EQ(bare.FillInputBuffer(false, 30, true), 0);
    ExpectRaises<EIdNotConnected>([&] { bare.FillInputBuffer(true, 30, true); }, "Not Connected");
    EXPECT_FALSE(bare.IsConnected());
    EXPECT_THROW(bare.ReadLine(), EIdNotConnected);
}

TEST(TIdTCPConnectionRead, ProbeDisconnectNoticesTheCloseWithoutWaiting)
{
    TLoopbackConnection lc(TConnectionScript().Send("x").Close());
    ASSERT_TRUE(lc.server.WaitDone());
    lc.connection->ProbeDisconnect(false); // picks up "x"
    lc.connection->ProbeDisconnect(false); // picks up the close
    EXPECT_FALSE(lc.connection->IsConnected());
    EXPECT_EQ(lc.connection->ReadAvailable(), "x");
}

TEST(TIdTCPConnectionRead, ResetByPeerRaisesSocketError)
{
    TLoopbackConnection lc(TConnectionScript().Reset());
    ExpectSocketError([&] { lc.connection->ReadLine(); }, 10054, "Socket Error # 10054\r\nConnection reset by peer.");
}

// A transport whose receive fails once with the "shut down" code (10058), produced through the stack's own
// send on a socket whose sending side is shut.
class TShutdownOnReceive : public TLoopbackIOHandler {
public:
    using TLoopbackIOHandler::TLoopbackIOHandler;
    int32_t ReceiveSome(void* buffer, int32_t length) override
    {
        if (++calls != failOnCall) return TLoopbackIOHandler::ReceiveSome(buffer, length);
        ::shutdown(Fd(), SHUT_WR);
        return GlobalStack->SockSend(Fd(), "x", 1, 0);
    }
    int calls = 0;
    int failOnCall = 0; // the receive (counted from 1) that fails
};
using TShutdownConnection = TLoopbackConnectionThrough<TShutdownOnReceive>;

TEST(TIdTCPConnectionRead, ShutdownWhileReceivingClosesQuietlyWhileDataIsQueued)
{
    TShutdownConnection lc(TConnectionScript().Send("abc").ReadToEnd());
    TIdTCPConnection& conn = *lc.connection;
    lc.handler->failOnCall = 2;
    EXPECT_EQ(conn.FillInputBuffer(true, -1, true), 3);
    ::shutdown(lc.handler->Fd(), SHUT_RD); // the wait needs something readable before the receive is tried
    EXPECT_EQ(conn.ReadLine(), "");
    EXPECT_TRUE(conn.LineTimedOut());
    EXPECT_EQ(lc.handler->closeCalls, 1);
    EXPECT_THROW(conn.ReadLine(), EIdConnClosedGracefully);
    EXPECT_EQ(conn.ReadAll(), "abc");
}

TEST(TIdTCPConnectionRead, ShutdownWhileReceivingRaisesWithAnEmptyQueue)
{
    TShutdownConnection lc(TConnectionScript().ReadToEnd());
    TIdTCPConnection& conn = *lc.connection;
    lc.handler->failOnCall = 1;
    // The wait needs something readable before the receive is tried.
    ::shutdown(lc.handler->Fd(), SHUT_RD);
    ExpectSocketError([&] { conn.ReadLine(); }, 10058);
    EXPECT_FALSE(conn.IsConnected());
}

TEST(TIdTCPConnectionRead, ShutdownDuringAStreamReadKeepsThePartialPieceQueued)
{
    TTempDir folder;
    const std::string path = folder.File("stream.bin");
    for (bool toFile : {false, true}) {
        SCOPED_TRACE(toFile ? "file stream" : "memory stream");
        TShutdownConnection lc(TConnectionScript().Send("abc").ReadToEnd());
        TIdTCPConnection& conn = *lc.connection;
        lc.handler->failOnCall = 2;
        std::unique_ptr<TStream> stream;
        if (toFile) {
            stream = std::make_unique<TFileStream>(path, fmCreate);
        } else {
            stream = std::make_unique<TMemoryStream>();
        }
        // The failure after "abc" closes quietly because bytes are pending; the read then ends as a close.
        EXPECT_THROW(conn.ReadToStream(*stream, 10), EIdConnClosedGracefully);
        EXPECT_EQ(stream->Size(), 0);
        EXPECT_EQ(conn.ReadAll(), "abc");
    }
}

} // namespace
} // namespace connection_test
