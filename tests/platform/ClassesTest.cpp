#include "platform/Classes.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

TEST(TStringList, InsertsDeletesAndFindsIgnoringCase)
{
    TStringList list;
    list.Add("b");
    list.Insert(0, "a");
    list.Insert(2, "C");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("c"), 2);
    EXPECT_EQ(list.IndexOf("d"), -1);
    list.Delete(1);
    EXPECT_EQ(list.Text(), "a\r\nC\r\n");
    EXPECT_THROW(list.Delete(5), std::out_of_range);
    EXPECT_THROW(list.Insert(4, "x"), std::out_of_range);
}

TEST(TStringList, SplitsOnEveryLineEndStyle)
{
    for (const char* text : {"x\ny\n\nz", "x\ry\r\rz", "x\r\ny\r\n\r\nz", "x\ny\r\rz\n"}) {
        SCOPED_TRACE(text);
        TStringList list;
        list.SetText(text);
        ASSERT_EQ(list.Count(), 4);
        EXPECT_EQ(list[0], "x");
        EXPECT_EQ(list[2], "");
        EXPECT_EQ(list[3], "z");
    }
}

TEST(TMemoryStream, GrowsTruncatesAndKeepsPositionInside)
{
    TMemoryStream s;
    s.WriteBuffer("hello world", 11);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Position(), 11);
    s.SetSize(5);
    EXPECT_EQ(s.Position(), 5);
    EXPECT_EQ(std::string(s.Memory(), 5), "hello");
    s.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 5);
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
    s.SetSize(8); // grows with zeros, position unchanged
    EXPECT_EQ(s.Position(), 5);
    EXPECT_EQ(s.Memory()[7], '\0');
    // Writing past the end after a seek fills the gap.
    s.Seek(2, TSeekOrigin::soEnd);
    s.WriteBuffer("!", 1);
    EXPECT_EQ(s.Size(), 11);
}

TEST(TMemoryStream, KeepsItsBytesWhileGrowingFromTheHeapIntoMappedPages)
{
    // Pieces of odd sizes cross the heap block, the first mapping and several remappings; a gap left by a
    // seek past the end reads as zeros, whether written or reserved and committed.
    TMemoryStream s;
    std::string expected;
    for (int i = 0; s.Size() < 3 * 1024 * 1024; ++i) {
        const std::string piece(size_t(1000 + i * 37), char('a' + i % 26));
        if (i % 2 == 0) {
            s.WriteBuffer(piece.data(), int64_t(piece.size()));
        } else {
            s.Reserve(s.Position() + int64_t(piece.size()));
            std::memcpy(s.Memory() + s.Position(), piece.data(), piece.size());
            s.Commit(int64_t(piece.size()));
        }
        expected += piece;
    }
    s.Seek(3, TSeekOrigin::soEnd);
    s.Reserve(s.Position() + 1);
    s.Memory()[s.Position()] = 'z';
    s.Commit(1);
    expected += std::string(3, '\0') + "z";
    EXPECT_EQ(s.Size(), int64_t(expected.size()));
    EXPECT_TRUE(std::string(s.Memory(), size_t(s.Size())) == expected);
}

TEST(TMemoryStream, CopyFromWholeSourceOrCount)
{
    TMemoryStream a, b, c;
    a.WriteBuffer("abcdef", 6);
    EXPECT_EQ(b.CopyFrom(a, 0), 6);
    EXPECT_EQ(std::string(b.Memory(), 6), "abcdef");
    a.SetPosition(2);
    EXPECT_EQ(c.CopyFrom(a, 3), 3);
    EXPECT_EQ(std::string(c.Memory(), size_t(c.Size())), "cde");
    a.SetPosition(5);
    EXPECT_THROW(c.CopyFrom(a, 3), EReadError);
}

TEST(TFileStream, RoundTripsBytesAndReportsMissingFiles)
{
    char dir[] = "/tmp/scrivlet-rt-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/f.bin";
    {
        TMemoryStream m;
        m.WriteBuffer("a\0b\r\n", 5);
        m.SaveToFile(path);
    }
    TMemoryStream back;
    back.LoadFromFile(path);
    ASSERT_EQ(back.Size(), 5);
    EXPECT_EQ(std::string(back.Memory(), 5), std::string("a\0b\r\n", 5));
    {
        TFileStream f(path, fmOpenReadWrite);
        f.SetSize(2);
        EXPECT_EQ(f.Size(), 2);
    }
    EXPECT_THROW(TFileStream(std::string(dir) + "/missing", fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir, fmOpenRead), EFOpenError);
    unlink(path.c_str());
    rmdir(dir);
}
