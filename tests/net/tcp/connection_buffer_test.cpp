#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tcp/IdBuffer.h"
#include "net/tcp/IdException.h"
#include "tests/support/ExpectRaises.h"

namespace {

using testsupport::ExpectRaises;

std::string Content(TIdSimpleBuffer& b) { return std::string(b.DataStart(), static_cast<size_t>(b.Size())); }

TEST(TIdSimpleBuffer, TakeTextRemovesFromTheFrontAndReportsTheCount)
{
    struct TCase {
        int64_t n;
        std::string taken;
        std::string left;
    };
    const std::vector<TCase> cases = {{0, "", "abcdef"}, {1, "a", "bcdef"}, {5, "abcde", "f"}, {6, "abcdef", ""}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.n);
        TIdSimpleBuffer b;
        std::vector<int64_t> removed;
        b.BytesRemovedHook = [&](TIdSimpleBuffer& sender, int64_t count) {
            EXPECT_EQ(&sender, &b);
            removed.push_back(count);
        };
        b.Append("abcdef", 6);
        EXPECT_EQ(b.TakeText(c.n), c.taken);
        EXPECT_EQ(Content(b), c.left);
        EXPECT_EQ(removed, c.n > 0 ? std::vector<int64_t>{c.n} : std::vector<int64_t>{});
    }
}

TEST(TIdSimpleBuffer, TakingMoreThanHeldRaisesAndKeepsTheBytes)
{
    TIdSimpleBuffer b;
    b.Append("abc", 3);
    for (int64_t n : {4, 100}) {
        SCOPED_TRACE(n);
        ExpectRaises<EIdNotEnoughDataInBuffer>([&] { b.TakeText(n); }, "Not enough data in buffer.");
        EXPECT_THROW(b.Discard(n), EIdNotEnoughDataInBuffer);
        EXPECT_EQ(Content(b), "abc");
    }
}

TEST(TIdManagedBuffer, DiscardCountsTheConsumedPrefixUntilTheThreshold)
{
    TIdManagedBuffer q;
    q.SetCompactThreshold(8);
    std::vector<int64_t> removed;
    q.BytesRemovedHook = [&](TIdSimpleBuffer&, int64_t count) { removed.push_back(count); };
    q.Append("0123456789ABCDEF", 16);
    const char* front = q.Memory();

    q.Discard(3);
    EXPECT_EQ(q.ConsumedCount(), 3);
    EXPECT_EQ(q.Size(), 13);
    EXPECT_EQ(q.DataStart(), front + 3); // nothing moved
    EXPECT_EQ(Content(q), "3456789ABCDEF");

    q.Discard(4); // 7 consumed: still below the threshold
    EXPECT_EQ(q.ConsumedCount(), 7);
    EXPECT_EQ(std::string(q.Memory(), 3), "012");

    q.Discard(1); // 8 consumed: compacts
    EXPECT_EQ(q.ConsumedCount(), 0);
    EXPECT_EQ(q.DataStart(), q.Memory());
    EXPECT_EQ(Content(q), "89ABCDEF");

    EXPECT_EQ(q.TakeText(8), "89ABCDEF"); // empties
    EXPECT_EQ(q.Size(), 0);
    EXPECT_EQ(q.ConsumedCount(), 0);
    EXPECT_EQ(removed, (std::vector<int64_t>{3, 4, 1, 8}));
}

TEST(TIdManagedBuffer, DefaultThresholdCompactsOncePer32KiB)
{
    TIdManagedBuffer q;
    const std::string block(40000, 'q');
    q.Append(block.data(), static_cast<int64_t>(block.size()));
    for (int i = 0; i < 32767; ++i) q.Discard(1);
    EXPECT_EQ(q.ConsumedCount(), 32767);
    q.Discard(1);
    EXPECT_EQ(q.ConsumedCount(), 0);
    EXPECT_EQ(q.Size(), 40000 - 32768);
}

TEST(TIdManagedBuffer, AppendingNeverCompacts)
{
    TIdManagedBuffer q;
    q.SetCompactThreshold(4);
    q.Append("abc", 3);
    q.Discard(2);
    for (int i = 0; i < 100; ++i) q.Append("x", 1);
    EXPECT_EQ(q.ConsumedCount(), 2);
    EXPECT_EQ(Content(q), "c" + std::string(100, 'x'));
}

TEST(TIdManagedBuffer, StreamViewStartsAfterTheConsumedPrefix)
{
    TIdManagedBuffer q;
    q.Append("0123456789", 10);
    q.Discard(4);
    EXPECT_EQ(q.Seek(0, TSeekOrigin::soEnd), 6);
    EXPECT_EQ(q.Seek(2, TSeekOrigin::soBeginning), 2);
    char two[2];
    EXPECT_EQ(q.Read(two, 2), 2);
    EXPECT_EQ(std::string(two, 2), "67");
    EXPECT_EQ(q.Position(), 4);
    EXPECT_EQ(q.Seek(-100, TSeekOrigin::soCurrent), 0); // never before the first unconsumed byte
    q.SetSize(3);
    EXPECT_EQ(Content(q), "456");
    q.SetSize(0);
    EXPECT_EQ(q.ConsumedCount(), 0);
}

} // namespace
