#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tcp/IdException.h"
#include "net/tcp/IdRFCReply.h"
#include "tests/net/tcp/connection_fixture.h"

namespace connection_test {
namespace {

TEST(TIdRFCReply, TextCodeAndNumericCodeMirrorEachOther)
{
    TIdRFCReply r;
    r.SetTextCode("250");
    EXPECT_EQ(r.NumericCode(), 250);
    r.SetTextCode("abc");
    EXPECT_EQ(r.NumericCode(), 0);
    r.SetNumericCode(421);
    EXPECT_EQ(r.TextCode(), "421");
    r.SetTextCode(""); // empty text leaves the number alone
    EXPECT_EQ(r.NumericCode(), 421);
    r.SetNumericCode(0); // 0 leaves the text alone
    EXPECT_EQ(r.TextCode(), "");
    r.SetTextCode("xyz");
    r.SetNumericCode(-5);
    EXPECT_EQ(r.TextCode(), "xyz");
}

struct TReplyCase {
    const char* name;
    std::string sent;
    int32_t code;
    std::string textCode;
    std::vector<std::string> text;
};

TEST(TIdTCPConnectionReply, ReadReplyCollectsSingleAndMultiLineReplies)
{
    const std::vector<TReplyCase> cases = {
        {"single line", "220 ready\r\n", 220, "220", {"ready"}},
        {"blank lines before the reply are skipped", "\r\n  \r\n220 ready\r\n", 220, "220", {"ready"}},
        {"multi-line", "250-first\r\n250-second\r\n250 last\r\n", 250, "250", {"first", "second", "last"}},
        {"other codes inside do not end it",
         "250-first\r\n251 inner\r\n250 last\r\n",
         250,
         "250",
         {"first", "inner", "last"}},
        {"end line compared without letter case", "abc-x\r\nABC y\r\n", 0, "abc", {"x", "y"}},
        {"a short line ends it", "250-a\r\nxy\r\n", 250, "250", {"a", ""}},
        {"code only", "354\r\n", 354, "354", {""}},
    };
    for (const TReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        TLoopbackConnection lc(TConnectionScript().Send(c.sent).ReadToEnd());
        EXPECT_EQ(lc.connection->ReadReply(), c.code);
        EXPECT_EQ(lc.connection->LastReply().TextCode(), c.textCode);
        const TStringList& text = lc.connection->LastReply().Text();
        EXPECT_EQ(std::vector<std::string>(text.begin(), text.end()), c.text);
    }
}

TEST(TIdTCPConnectionReply, SendCommandWritesTheLineAndChecksTheReply)
{
    TLoopbackConnection lc(TConnectionScript()
                               .ReadUntil("\r\n")
                               .Send("250 OK\r\n")
                               .ReadUntil("\r\n")
                               .Send("550-No such\r\n550 mailbox\r\n")
                               .ReadToEnd());
    EXPECT_EQ(lc.connection->SendCommand("NOOP", {250, 251}), 250);
    try {
        lc.connection->SendCommand("RCPT TO:<x>", {250});
        FAIL() << "no exception";
    } catch (const EIdProtocolReplyError& e) {
        EXPECT_EQ(e.ReplyErrorCode(), 550);
        EXPECT_STREQ(e.what(), "No such\r\nmailbox");
    }
    lc.connection->DropSocket();
    ASSERT_TRUE(lc.server.WaitDone());
    EXPECT_EQ(lc.server.Received(0), "NOOP\r\nRCPT TO:<x>\r\n");
}

TEST(TIdTCPConnectionReply, EmptyAllowedListAcceptsAnyCodeAndFactoryChoosesTheException)
{
    TLoopbackConnection lc(TConnectionScript().Send("599 odd\r\n").ReadToEnd());
    EXPECT_EQ(lc.connection->ExpectReply({}), 599);
    EXPECT_THROW(lc.connection->RaiseReplyError(
                     [](int32_t code, const std::string& text) { throw EIdHTTPProtocolException(code, text, ""); }),
                 EIdHTTPProtocolException);
    // A factory that does not throw still ends in the reply error.
    EXPECT_THROW(lc.connection->RaiseReplyError([](int32_t, const std::string&) {}), EIdProtocolReplyError);
}

} // namespace
} // namespace connection_test
