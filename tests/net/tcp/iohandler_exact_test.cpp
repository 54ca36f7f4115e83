// The exact-length receive and the send-all of the transport interface: what handshakes below the input
// queue rest on.

#include <gtest/gtest.h>

#include <string>

#include "net/tcp/IdException.h"
#include "tests/net/tcp/connection_fixture.h"

namespace connection_test {
namespace {

TEST(TIdIOHandler, ReceiveExactlyTakesPiecesWholeAndRaisesForWhatCannotComplete)
{
    struct TCase {
        const char* name;
        TConnectionScript script;
        int32_t want;
        int32_t timeoutMs;
        int receiveCap;
        std::string expected; // the bytes, or the message of the exception
    };
    const std::string ten = "0123456789";
    TCase cases[] = {
        {"pieces of 3 with pauses", TConnectionScript().Send(ten, 3, 2).ReadToEnd(), 10, -2, 0, ten},
        {"receives capped at 4 bytes", TConnectionScript().Send(ten).ReadToEnd(), 10, -2, 4, ten},
        {"more arrive than wanted", TConnectionScript().Send(ten).ReadToEnd(), 4, -2, 0, "0123"},
        {"peer closes after part", TConnectionScript().Send("0123").Close(), 10, -2, 0,
         "Connection Closed Gracefully."},
        {"peer closes in time, limit set", TConnectionScript().Send("01").Close(), 10, 5000, 0,
         "Connection Closed Gracefully."},
        {"silence past the limit", TConnectionScript().Send("01").ReadToEnd(), 10, 50, 0, "Read Timeout"},
        {"reset by the peer", TConnectionScript().Reset(), 1, -2, 0,
         "Socket Error # 10054\r\nConnection reset by peer."},
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TLoopbackConnection lc(c.script);
        lc.handler->receiveCap = c.receiveCap;
        std::string buffer(static_cast<size_t>(c.want), '\0');
        const std::string failure = RaisedText<EIdException>(
            [&] { lc.handler->ReceiveExactly(buffer.data(), c.want, DeadlineAfter(c.timeoutMs)); });
        EXPECT_EQ(failure.empty() ? buffer : failure, c.expected);
    }
}

TEST(TIdIOHandler, SendAllSendsEveryByteThroughPartialSends)
{
    // More than the socket buffers hold, so the sends come back partial while the server reads slowly.
    std::string big(3 * 1024 * 1024, 'x');
    for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
    TLoopbackConnection lc(TConnectionScript().Pause(50).ReadCount(big.size()));
    lc.handler->SendAll(big.data(), static_cast<int32_t>(big.size()));
    lc.connection.reset();
    ASSERT_TRUE(lc.server.WaitDone());
    EXPECT_TRUE(lc.server.Received(0) == big);
}

TEST(TIdIOHandler, SendAllToAClosedPeerRaises)
{
    TLoopbackConnection lc(TConnectionScript().Reset());
    ASSERT_TRUE(lc.server.WaitDone());
    const std::string block(1 << 20, 'y');
    // The first send may still be taken by the system; a later one meets the reset.
    EXPECT_THROW(for (int i = 0; i < 8; ++i) lc.handler->SendAll(block.data(), int32_t(block.size())), EIdSocketError);
}

} // namespace
} // namespace connection_test
