// One socket: binding with ports and port ranges, readiness waits, select's
// set limit and the kernel file send.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdComponent.h"
#include "net/tcp/IdException.h"
#include "net/tcp/IdSocketHandle.h"
#include "net/tcp/IdStackPosix.h"
#include "stack_helpers.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::ExpectRaises;

using testsupport::TCountingAntiFreeze;

using testsupport::TRawSocket;

// Keeps GlobalStack alive for a test.
class TSocketTest : public ::testing::Test {
protected:
    TIdComponent stackUser_;
};

// Opens a stream socket on handle, bound to a free port, and connects it to port on loopback; returns what
// ConnectPeer returned.
int ConnectToLoopback(TIdSocketHandle& handle, int32_t port)
{
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.BindLocal();
    handle.SetRemote("127.0.0.1", port);
    return handle.ConnectPeer(Id_PF_INET);
}

// Records the ports the handle tries to bind.
class TBindRecordingStack : public TIdStackPosix {
public:
    std::vector<int32_t> tried;
    int SockBind(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip) override
    {
        tried.push_back(port);
        return TIdStackPosix::SockBind(socket, family, port, ip);
    }
};

class TBindTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = StackClass;
        StackClass = [] { return static_cast<TIdStack*>(new TBindRecordingStack()); };
        user_ = std::make_unique<TIdComponent>();
        ASSERT_NE(dynamic_cast<TBindRecordingStack*>(GlobalStack), nullptr) << "a stack was already running";
    }
    void TearDown() override
    {
        user_.reset();
        StackClass = saved_;
    }
    std::vector<int32_t>& Tried() { return static_cast<TBindRecordingStack*>(GlobalStack)->tried; }

private:
    TIdStackClass saved_;
    std::unique_ptr<TIdComponent> user_;
};

TEST_F(TBindTest, NoPortAndNoRangeTakesASystemPortOnTheAnyAddress)
{
    TIdSocketHandle handle;
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.BindLocal();
    EXPECT_EQ(Tried(), std::vector<int32_t>{0});
    EXPECT_GT(handle.Port(), 0);
    EXPECT_EQ(handle.IP(), "0.0.0.0");
}

TEST_F(TBindTest, ReversedRangeIsRejectedBeforeAnyBind)
{
    TIdSocketHandle handle;
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.SetClientPortMin(5000);
    handle.SetClientPortMax(4999);
    ExpectRaises<EIdInvalidPortRange>([&] { handle.BindLocal(); }, "Invalid Port Range (5000 - 4999)");
    EXPECT_TRUE(Tried().empty());
}

TEST_F(TBindTest, RangeWithOnlyOneBoundIsIgnored)
{
    struct Case {
        int32_t min;
        int32_t max;
    };
    for (const Case& c : {Case{0, 4999}, Case{5000, 0}}) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max);
        Tried().clear();
        TIdSocketHandle handle;
        handle.AllocateHandle(Id_SOCK_STREAM, 0);
        handle.SetIP("127.0.0.1");
        handle.SetClientPortMin(c.min);
        handle.SetClientPortMax(c.max);
        handle.BindLocal();
        EXPECT_EQ(Tried(), std::vector<int32_t>{0});
    }
}

TEST_F(TBindTest, RangeBindsTheHighestFreePort)
{
    int low = stacktest::FreePortPair();
    ASSERT_NE(low, 0);
    TRawSocket holder(low + 1); // the top of the range is taken
    ASSERT_TRUE(holder.Bound());
    TIdSocketHandle handle;
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.SetIP("127.0.0.1");
    handle.SetClientPortMin(low);
    handle.SetClientPortMax(low + 1);
    handle.BindLocal();
    EXPECT_EQ(handle.Port(), low);
    EXPECT_EQ(handle.IP(), "127.0.0.1");
    EXPECT_EQ(Tried(), (std::vector<int32_t>{low + 1, low}));
}

TEST_F(TBindTest, ExhaustedRangeTriesEveryPortFromTheTop)
{
    TRawSocket first;
    ASSERT_TRUE(first.Bound());
    const int low = first.Port();
    // Every port of the range is in use: by us, or by someone else already.
    TRawSocket second(low + 1);
    TRawSocket third(low + 2);
    TIdSocketHandle handle;
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.SetIP("127.0.0.1");
    handle.SetClientPortMin(low);
    handle.SetClientPortMax(low + 2);
    char expected[80];
    std::snprintf(expected, sizeof(expected), "Can not bind in port range (%d - %d)", low, low + 2);
    ExpectRaises<EIdCanNotBindPortInRange>([&] { handle.BindLocal(); }, expected);
    EXPECT_EQ(Tried(), (std::vector<int32_t>{low + 2, low + 1, low}));
}

TEST_F(TBindTest, PortInUseCannotBeBound)
{
    TRawSocket holder;
    TIdSocketHandle handle;
    handle.AllocateHandle(Id_SOCK_STREAM, 0);
    handle.SetIP("127.0.0.1");
    handle.SetPort(holder.Port());
    ExpectRaises<EIdCouldNotBindSocket>([&] { handle.BindLocal(); },
                                        "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(GlobalStack->LastErrorCode(), 10048);
}

TEST_F(TSocketTest, ConnectFillsBothAddressesAndReleaseKeepsThem)
{
    TRawSocket listener;
    listener.Listen(1);
    TIdSocketHandle handle;
    ASSERT_EQ(ConnectToLoopback(handle, listener.Port()), 0);
    EXPECT_EQ(handle.IP(), "127.0.0.1");
    EXPECT_GT(handle.Port(), 0);
    EXPECT_EQ(handle.RemoteIP(), "127.0.0.1");
    EXPECT_EQ(handle.RemotePort(), listener.Port());

    handle.ReleaseHandle();
    EXPECT_FALSE(handle.HasHandle());
    EXPECT_EQ(handle.RemotePort(), listener.Port());
    handle.ClearHandle(false);
    EXPECT_EQ(handle.Handle(), -1);
    EXPECT_EQ(handle.RemoteIP(), "");
    EXPECT_EQ(handle.IP(), "127.0.0.1");
}

TEST_F(TSocketTest, AcceptFromTakesTheWaitingPeer)
{
    TIdSocketHandle server;
    server.AllocateHandle(Id_SOCK_STREAM, 0);
    server.SetIP("127.0.0.1");
    server.BindLocal();
    ASSERT_EQ(GlobalStack->SockListen(server.Handle(), 1), 0);
    TIdSocketHandle client;
    ASSERT_EQ(ConnectToLoopback(client, server.Port()), 0);

    TIdSocketHandle accepted;
    ASSERT_TRUE(accepted.AcceptFrom(server.Handle()));
    EXPECT_EQ(accepted.RemotePort(), client.Port());
    ASSERT_EQ(client.SendBytes("ping", 4, 0), 4);
    char buffer[8] = {};
    EXPECT_EQ(accepted.ReceiveBytes(buffer, sizeof(buffer), 0), 4);
    EXPECT_STREQ(buffer, "ping");
}

TEST_F(TSocketTest, IsReadableWaitsAsLongAsAsked)
{
    TIdSocketHandle handle;
    TRawSocket listener;
    listener.Listen(1);
    ASSERT_EQ(ConnectToLoopback(handle, listener.Port()), 0);
    int server = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_NE(server, -1);

    EXPECT_FALSE(handle.IsReadable(DeadlineAfter(0))); // polls once
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(handle.IsReadable(DeadlineAfter(60)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    // -2: no limit; the peer writes after a while.
    std::thread writer([server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        EXPECT_EQ(write(server, "x", 1), 1);
    });
    EXPECT_TRUE(handle.IsReadable(DeadlineAfter(-2)));
    writer.join();

    // The end of the stream is readable too.
    char byte;
    EXPECT_EQ(handle.ReceiveBytes(&byte, 1, 0), 1);
    close(server);
    EXPECT_TRUE(handle.IsReadable(DeadlineAfter(1000)));
    EXPECT_EQ(handle.ReceiveBytes(&byte, 1, 0), 0);

    handle.ReleaseHandle();
    EXPECT_THROW(handle.IsReadable(DeadlineAfter(0)), EIdConnClosedGracefully);
}

TEST_F(TSocketTest, IsReadableYieldsBetweenIdleSizedWaits)
{
    TRawSocket listener;
    listener.Listen(1);
    TIdSocketHandle handle;
    ASSERT_EQ(ConnectToLoopback(handle, listener.Port()), 0);

    TCountingAntiFreeze hook;
    hook.SetIdleTimeOut(30);
    // 100 ms waits as 10 + 30 + 30 + 30, yielding after each piece.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(handle.IsReadable(DeadlineAfter(100)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
    EXPECT_EQ(hook.steps, 4);

    // Without limit it keeps yielding until data comes.
    int server = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    hook.steps = 0;
    std::thread writer([server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(write(server, "x", 1), 1);
    });
    EXPECT_TRUE(handle.IsReadable(DeadlineAfter(-2)));
    writer.join();
    EXPECT_GE(hook.steps, 2);
    close(server);
}

TEST_F(TSocketTest, YieldingWaitWithTheShortestSliceNeitherOverflowsNorEndsEarly)
{
    TRawSocket listener;
    listener.Listen(1);
    TIdSocketHandle handle;
    ASSERT_EQ(ConnectToLoopback(handle, listener.Port()), 0);
    TCountingAntiFreeze hook;
    hook.SetIdleTimeOut(0); // taken as 1 ms slices
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(handle.IsReadable(DeadlineAfter(100)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    // Two hours in 1 ms slices: a wait that called itself per slice would overflow the stack long before data.
    int server = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    std::thread writer([server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(write(server, "x", 1), 1);
    });
    EXPECT_TRUE(handle.IsReadable(DeadlineAfter(7200000)));
    writer.join();
    close(server);
}

TEST_F(TSocketTest, SelectAcceptsAtMostSixtyFourHandlesPerList)
{
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < 65; ++i) {
        pairs.push_back(testsupport::ConnectedPair());
    }
    // Only the third connection has data waiting.
    ASSERT_EQ(write(pairs[2].first, "x", 1), 1);

    struct Case {
        std::size_t count;
        bool raises;
    };
    for (const Case& c : {Case{1, false}, Case{64, false}, Case{65, true}}) {
        SCOPED_TRACE(c.count);
        TIdSocketList readList;
        for (std::size_t i = 0; i < c.count; ++i) {
            readList.push_back(pairs[i].second);
        }
        if (c.raises) {
            ExpectRaises<EIdStackSetSizeExceeded>(
                [&] { GlobalStack->SockSelect(&readList, nullptr, nullptr, DeadlineAfter(0)); }, "Set Size Exceeded.");
            continue;
        }
        int result = GlobalStack->SockSelect(&readList, nullptr, nullptr, DeadlineAfter(100));
        if (c.count > 2) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(readList, TIdSocketList{pairs[2].second});
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(readList.empty());
        }
    }
    // The limit holds for each list on its own.
    TIdSocketList readList, writeList;
    for (int i = 0; i < 64; ++i) {
        readList.push_back(pairs[i].second);
        writeList.push_back(pairs[i].second);
    }
    EXPECT_EQ(GlobalStack->SockSelect(&readList, &writeList, nullptr, DeadlineAfter(100)), 65);
    EXPECT_EQ(writeList.size(), 64u);
    for (auto [a, b] : pairs) {
        close(a);
        close(b);
    }
}

TEST_F(TSocketTest, SelectOnAClosedHandleFails)
{
    auto [a, b] = testsupport::ConnectedPair();
    close(a);
    close(b);
    TIdSocketList readList{b};
    EXPECT_EQ(GlobalStack->SockSelect(&readList, nullptr, nullptr, DeadlineAfter(0)), -1);
    EXPECT_EQ(GlobalStack->LastSocketError(), 10038);
}

class TServeFileTest : public TSocketTest {
protected:
    void SetUp() override
    {
        path_ = folder_.File("serve.bin");
        std::ofstream out(path_, std::ios::binary);
        // More than one socket buffer, so the send needs several rounds.
        for (int i = 0; i < 300000; ++i) {
            content_.push_back(static_cast<char>(i * 7 + i / 251));
        }
        out.write(content_.data(), static_cast<std::streamsize>(content_.size()));
    }
    TTempDir folder_;
    std::string path_;
    std::string content_;
};

TEST_F(TServeFileTest, SendsTheWholeFileAndReturnsItsSize)
{
    ASSERT_TRUE(static_cast<bool>(ServeFileHook));
    auto [receiver, sender] = testsupport::ConnectedPair();
    std::string received;
    std::thread reader([&received, fd = receiver] { received = stacktest::ReadAllFrom(fd); });
    int64_t sent = ServeFileHook(sender, path_);
    shutdown(sender, SHUT_WR);
    reader.join();
    EXPECT_EQ(sent, static_cast<int64_t>(content_.size()));
    EXPECT_TRUE(received == content_) << "received " << received.size() << " bytes";
    close(receiver);
    close(sender);
}

TEST_F(TServeFileTest, FailureGivesZero)
{
    auto [receiver, sender] = testsupport::ConnectedPair();
    EXPECT_EQ(ServeFileHook(sender, path_ + ".missing"), 0);
    // A peer that has gone: the send fails with a code instead of a signal.
    close(receiver);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ServeFileHook(sender, path_), 0);
    close(sender);
}

} // namespace
