#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/tcp/IdIntercept.h"
#include "tests/net/tcp/connection_fixture.h"

namespace connection_test {
namespace {

void ReplaceStream(TStream& s, const std::string& text)
{
    s.SetSize(0);
    s.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

// An intercept that logs every event under its name and rewrites the bytes by wrapping them in its name, so
// the order of the chain shows in the bytes as well as in the log.
std::unique_ptr<TIdConnectionIntercept> Wrapper(const std::string& name, std::vector<std::string>& log)
{
    auto i = std::make_unique<TIdConnectionIntercept>();
    i->OnConnect = [&log, name](TIdConnectionIntercept*) { log.push_back(name + " connect"); };
    i->OnDisconnect = [&log, name](TIdConnectionIntercept*) { log.push_back(name + " disconnect"); };
    i->OnReceive = [&log, name](TIdConnectionIntercept*, TStream& s) {
        const std::string text = StreamText(s);
        log.push_back(name + " receive " + text);
        ReplaceStream(s, name + "(" + text + ")");
    };
    i->OnSend = [&log, name](TIdConnectionIntercept*, TStream& s) {
        const std::string text = StreamText(s);
        log.push_back(name + " send " + text);
        ReplaceStream(s, name + "[" + text + "]");
    };
    return i;
}

TEST(TIdConnectionIntercept, ChainFiltersReceivedInnermostFirstAndOutgoingOutermostFirst)
{
    std::vector<std::string> log;
    auto outer = Wrapper("A", log);
    auto inner = Wrapper("B", log);
    outer->SetNextIntercept(inner.get());

    TLoopbackConnection lc(TConnectionScript().Send("hi\n").ReadToEnd());
    lc.connection->SetIntercept(outer.get());
    outer->AttachConnection(lc.connection.get());
    EXPECT_EQ(outer->Connection(), lc.connection.get());
    EXPECT_EQ(inner->Connection(), lc.connection.get());

    // B sees the raw bytes, A sees what B made of them; the line reader sees A's result.
    EXPECT_EQ(lc.connection->ReadLine("\n", -1, 0), "A(B(hi");
    EXPECT_EQ(lc.connection->InputQueue().Size(), 2); // ")" and ")" behind the line end
    lc.connection->WriteText("x");
    lc.connection->DropSocket();
    ASSERT_TRUE(lc.server.WaitDone());
    EXPECT_EQ(lc.server.Received(0), "B[A[x]]");
    EXPECT_EQ(log, (std::vector<std::string>{"A connect", "B connect", "B receive hi\n", "A receive B(hi\n)",
                                             "A send x", "B send A[x]", "B disconnect", "A disconnect"}));
    EXPECT_EQ(outer->Connection(), nullptr);
}

TEST(TIdConnectionIntercept, RewrittenSizeIsWhatTheConnectionUses)
{
    std::vector<std::string> log;
    auto shrink = std::make_unique<TIdConnectionIntercept>();
    shrink->OnReceive = [](TIdConnectionIntercept*, TStream& s) { ReplaceStream(s, "short\n"); };
    shrink->OnSend = [](TIdConnectionIntercept*, TStream& s) { ReplaceStream(s, "a much longer replacement"); };
    TLoopbackConnection lc(TConnectionScript().Send("a long line that shrinks\n").ReadToEnd());
    lc.connection->SetIntercept(shrink.get());
    EXPECT_EQ(lc.connection->ReadLine(), "short");
    EXPECT_EQ(lc.connection->InputQueue().Size(), 0);
    lc.connection->WriteText("x");
    EXPECT_EQ(lc.handler->sendSizes, std::vector<int32_t>{25});
    lc.connection->DropSocket();
    ASSERT_TRUE(lc.server.WaitDone());
    EXPECT_EQ(lc.server.Received(0), "a much longer replacement");
}

TEST(TIdConnectionIntercept, DestroyedInterceptsAreForgotten)
{
    std::vector<std::string> log;
    auto outer = Wrapper("A", log);
    auto inner = Wrapper("B", log);
    outer->SetNextIntercept(inner.get());
    TIdTCPConnection connection;
    connection.SetIntercept(outer.get());
    inner.reset();
    EXPECT_EQ(outer->NextIntercept(), nullptr);
    outer.reset();
    EXPECT_EQ(connection.Intercept(), nullptr);
}

} // namespace
} // namespace connection_test
