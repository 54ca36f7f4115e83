#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tcp/IdException.h"
#include "tests/net/tcp/connection_fixture.h"

namespace connection_test {
namespace {

// What one ReadLine call gave: "line:<text>", "split:<text>", "timedout", or "raise:<kind>".
std::string ReadLineOutcome(TIdTCPConnection& c, const std::string& terminator)
{
    try {
        const std::string line = c.ReadLine(terminator);
        if (c.LineTimedOut()) return "timedout" + std::string(line.empty() ? "" : ":" + line);
        return (c.LineWasSplit() ? "split:" : "line:") + line;
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        return "raise:max";
    } catch (const EIdConnClosedGracefully&) {
        return "raise:closed";
    }
}

struct TLineCase {
    const char* name;
    std::string sent; // everything the server sends before it closes
    int receiveCap;   // largest receive of the client (0: unlimited), to force receive boundaries
    std::string terminator;
    int32_t maxLength;
    TIdMaxLineAction action;
    std::vector<std::string> expected; // ReadLine outcomes until the first exception
};

TEST(TIdTCPConnectionReadLine, ReturnsLinesTerminatorsLimitsAndCloseAsExpected)
{
    const std::string longLine(100000, 'x');
    const std::string atLimit(16384, 'y');
    const std::vector<TLineCase> cases = {
        {"CR LF and LF both end a line",
         "abc\r\nabc\ndef\n",
         0,
         "\n",
         -1,
         maException,
         {"line:abc", "line:abc", "line:def", "raise:closed"}},
        {"a lone CR stays inside the line", "abc\rdef\n", 0, "\n", -1, maException, {"line:abc\rdef", "raise:closed"}},
        {"empty lines", "\n\r\n", 0, "\n", -1, maException, {"line:", "line:", "raise:closed"}},
        {"one byte per receive, CR and LF apart",
         "first line\r\nsecond\nthird\r\n",
         1,
         "\n",
         -1,
         maException,
         {"line:first line", "line:second", "line:third", "raise:closed"}},
        {"three bytes per receive",
         "first line\r\nsecond\nthird\r\n",
         3,
         "\n",
         -1,
         maException,
         {"line:first line", "line:second", "line:third", "raise:closed"}},
        {"CR LF terminator", "a\r\n", 0, "\r\n", -1, maException, {"line:a", "raise:closed"}},
        {"CR LF terminator keeps a bare LF", "a\nb\r\n", 0, "\r\n", -1, maException, {"line:a\nb", "raise:closed"}},
        {"CR LF terminator split across receives",
         "ab\r\ncd\r\n",
         1,
         "\r\n",
         -1,
         maException,
         {"line:ab", "line:cd", "raise:closed"}},
        {"full stop terminator", "x.y.", 0, ".", -1, maException, {"line:x", "line:y", "raise:closed"}},
        {"other terminators remove only themselves",
         "a\r.b\n.",
         0,
         ".",
         -1,
         maException,
         {"line:a\r", "line:b\n", "raise:closed"}},
        {"long terminator in pieces",
         "one--END--two--END--",
         3,
         "--END--",
         -1,
         maException,
         {"line:one", "line:two", "raise:closed"}},
        {"split at the maximum", "abcdefg\n", 0, "\n", 4, maSplit, {"split:abcd", "line:efg", "raise:closed"}},
        {"split while the line is still arriving",
         "abcdefg\n",
         2,
         "\n",
         4,
         maSplit,
         {"split:abcd", "line:efg", "raise:closed"}},
        {"line of exactly the maximum", "abcd\nabcde\n", 0, "\n", 4, maException, {"line:abcd", "raise:max"}},
        {"over-long line raises", "abcdefg\n", 0, "\n", 4, maException, {"raise:max"}},
        {"maximum 0 accepts any length",
         longLine + "\n",
         0,
         "\n",
         0,
         maException,
         {"line:" + longLine, "raise:closed"}},
        {"default maximum accepted", atLimit + "\n", 0, "\n", -1, maException, {"line:" + atLimit, "raise:closed"}},
        {"default maximum plus one raises", atLimit + "y\n", 0, "\n", -1, maException, {"raise:max"}},
        {"partial line then close", "partial", 0, "\n", -1, maException, {"timedout", "raise:closed"}},
        {"a line, then a partial one", "a\nb", 0, "\n", -1, maException, {"line:a", "timedout", "raise:closed"}},
        {"nothing at all", "", 0, "\n", -1, maException, {"raise:closed"}},
    };
    for (const TLineCase& c : cases) {
        SCOPED_TRACE(c.name);
        TLoopbackConnection lc(TConnectionScript().Send(c.sent).Close());
        lc.handler->receiveCap = c.receiveCap;
        lc.connection->SetMaxLineAction(c.action);
        if (c.maxLength != -1) lc.connection->SetMaxLineLength(c.maxLength);
        std::vector<std::string> outcomes;
        while (outcomes.size() < c.expected.size() + 1) {
            outcomes.push_back(ReadLineOutcome(*lc.connection, c.terminator));
            if (outcomes.back().rfind("raise:", 0) == 0) break;
        }
        EXPECT_EQ(outcomes, c.expected);
    }
}

TEST(TIdTCPConnectionReadLine, OverLongPartialLineRaisesBeforeItsEndArrives)
{
    // The server keeps the line open: the raise must come from the bytes already queued, not from a close.
    TLoopbackConnection lc(TConnectionScript().Send("abcdef").ReadToEnd());
    lc.connection->SetMaxLineLength(4);
    ExpectRaises<EIdReadLnMaxLineLengthExceeded>([&] { lc.connection->ReadLine(); }, "Max line length exceeded.");
    EXPECT_EQ(lc.connection->InputQueue().Size(), 6);
}

TEST(TIdTCPConnectionReadLine, PartialLineStaysQueuedForOtherReads)
{
    TLoopbackConnection lc(TConnectionScript().Send("partial").Close());
    EXPECT_EQ(lc.connection->ReadLine(), "");
    EXPECT_TRUE(lc.connection->LineTimedOut());
    EXPECT_FALSE(lc.connection->IsConnected());
    EXPECT_EQ(lc.connection->ReadAll(), "partial");
}

TEST(TIdTCPConnectionReadLine, ClosedGracefullyCarriesItsText)
{
    TLoopbackConnection lc(TConnectionScript().Close());
    ExpectRaises<EIdConnClosedGracefully>([&] { lc.connection->ReadLine(); }, "Connection Closed Gracefully.");
}

TEST(TIdTCPConnectionReadLine, ReadTimeoutRaisesAndLeavesTheConnectionUsable)
{
    TLoopbackConnection lc(TConnectionScript().Send("abc").Pause(400).Send("def\n"));
    lc.connection->SetReadTimeout(50);
    ExpectRaises<EIdReadTimeout>([&] { lc.connection->ReadLine(); }, "Read Timeout");
    lc.connection->SetReadTimeout(0); // 0 waits without limit
    EXPECT_EQ(lc.connection->ReadLine(), "abcdef");
}

TEST(TIdTCPConnectionReadLine, ExplicitTimeoutEndsTheReadWithLineTimedOut)
{
    TLoopbackConnection lc(TConnectionScript().Send("ab").ReadToEnd());
    EXPECT_EQ(lc.connection->ReadLine("\n", 50), "");
    EXPECT_TRUE(lc.connection->LineTimedOut());
    EXPECT_TRUE(lc.connection->IsConnected());
    EXPECT_EQ(lc.connection->InputQueue().Size(), 2);
}

TEST(TIdTCPConnectionReadLine, ReadNonEmptyLineSkipsBlankLinesAndTrims)
{
    TLoopbackConnection lc(TConnectionScript().Send("\r\n  \t\r\n  value  \r\n\r\nlast\n").Close());
    EXPECT_EQ(lc.connection->ReadNonEmptyLine(5), "value");
    EXPECT_EQ(lc.connection->ReadNonEmptyLine(1), ""); // the one try met a blank line
    EXPECT_EQ(lc.connection->ReadNonEmptyLine(1), "last");
}

} // namespace
} // namespace connection_test
