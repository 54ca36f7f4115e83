#include "app/DocumentHistory.h"

#include "settings/IniFile.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

class HistoryTest : public ::testing::Test {
protected:
    void WriteFile(const std::string& text) { WriteTextFile(path_, text); }
    std::string ReadFile() { return ReadTextFile(path_); }
    // A history with entries e0..e(n-1) and URLs u0..u(n-1), index 0 first.
    TDocumentHistory Filled(int n)
    {
        std::string text = "[rfcs]\n";
        for (int i = 0; i < n; ++i) text += "N" + Two(i + 1) + "=e" + std::to_string(i) + "\n";
        for (int i = 0; i < n; ++i) text += "U" + Two(i + 1) + "=u" + std::to_string(i) + "\n";
        WriteFile(text);
        TIniFile ini(path_);
        TDocumentHistory history;
        EXPECT_FALSE(history.Load(ini).Damaged);
        EXPECT_EQ(history.Count(), n);
        return history;
    }
    static std::string Two(int k) { return k < 10 ? "0" + std::to_string(k) : std::to_string(k); }

    TTempDir dir_;
    std::string path_ = dir_.File("Scrivlet.ini");
};

} // namespace

TEST_F(HistoryTest, LoadsUpToTheFirstGapOrSentinel)
{
    struct Case {
        const char* file;
        int count;
        const char* first;
        bool damaged;
    } cases[] = {
        {"[rfcs]\nN01=a\nN02=b\nN03=c\nU01=x\nU02=y\nU03=z\n", 3, "a", false},
        // A gap at 3: the fourth keys are ignored.
        {"[rfcs]\nN01=a\nN02=b\nN04=d\nU01=x\nU02=y\nU04=w\n", 2, "a", false},
        // The sentinel in the middle ends the run like a missing key.
        {"[rfcs]\nN01=a\nN02=INVAL\nN03=c\nU01=x\nU02=INVAL\n", 1, "a", false},
        // Lists of different lengths: discarded, but the first entry is still reported.
        {"[rfcs]\nN01=a\nN02=b\nN03=c\nU01=x\nU02=y\n", 0, "a", true},
        {"[rfcs]\nN01=a\nN02=INVAL\nU01=x\nU02=y\n", 0, "a", true},
        // An empty value is an entry; "inval" in lower case is an entry too.
        {"[RFCS]\nn01=\nN02=inval\nu01=x\nU02=y\n", 2, "", false},
        {"", 0, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(c.file);
        TIniFile ini(path_);
        TDocumentHistory history;
        TDocumentHistory::TLoadResult result = history.Load(ini);
        EXPECT_EQ(history.Count(), c.count);
        EXPECT_EQ(history.Urls().Count(), c.count);
        EXPECT_EQ(result.FirstEntry, c.first);
        EXPECT_EQ(result.Damaged, c.damaged);
    }
}

TEST_F(HistoryTest, SaveRewritesTheSectionWithAllNKeysFirst)
{
    WriteFile("[rfcs]\nN01=a\nN02=b\nN04=stale\nU01=x\nU02=y\nU04=stale\n[window]\nwidth=700\n");
    TDocumentHistory history;
    {
        TIniFile ini(path_);
        EXPECT_FALSE(history.Load(ini).Damaged);
    }
    history.AddOpenedFile(822, "T", "/tmp/r.txt");
    {
        TIniFile ini(path_);
        history.Save(ini);
        ini.UpdateFile();
    }
    std::string text = ReadFile();
    EXPECT_EQ(text.find("stale"), std::string::npos);
    size_t n3 = text.find("N03=b"), u1 = text.find("U01=file:////tmp/r.txt");
    ASSERT_NE(n3, std::string::npos);
    ASSERT_NE(u1, std::string::npos);
    EXPECT_LT(n3, u1);
    EXPECT_NE(text.find("N01=0822 * T"), std::string::npos);
    EXPECT_NE(text.find("width=700"), std::string::npos);

    TIniFile again(path_);
    TDocumentHistory reloaded;
    EXPECT_FALSE(reloaded.Load(again).Damaged);
    ASSERT_EQ(reloaded.Count(), 3);
    EXPECT_EQ(reloaded.Entries()[0], "0822 * T");
    EXPECT_EQ(reloaded.Urls()[2], "y");
}

TEST_F(HistoryTest, AddFetchedRemovesOnlyTheEntryJustBeyondTheLimit)
{
    // 19 entries, limit 20: grows to 20, then stays at 20.
    TDocumentHistory h = Filled(19);
    EXPECT_EQ(h.AddFetched("2223", "T", "http://x/2223", [] { return 20; }), "2223 : T");
    EXPECT_EQ(h.Count(), 20);
    h.AddFetched("1", "A", "http://x/1", [] { return 20; });
    EXPECT_EQ(h.Count(), 20);
    EXPECT_EQ(h.Entries()[19], "e17"); // e18 was at index 20 and went
    EXPECT_EQ(h.Urls()[19], "u17");

    // 25 entries from the file, limit 20: stays at 25, losing what sat at index 20.
    TDocumentHistory big = Filled(25);
    big.AddFetched("9", "N", "http://x/9", [] { return 20; });
    EXPECT_EQ(big.Count(), 25);
    EXPECT_EQ(big.Entries()[20], "e20");
    EXPECT_EQ(big.Entries()[0], "9 : N");
    EXPECT_EQ(big.LookUp("e19"), -1);

    // The same number fetched again from the same address leaves one entry, at the top.
    TDocumentHistory twice = Filled(2);
    twice.AddFetched("5", "F", "http://x/5", [] { return 20; });
    twice.AddFetched("5", "F", "http://x/6", [] { return 20; });
    twice.AddFetched("5", "f", "http://x/5", [] { return 20; });
    EXPECT_EQ(twice.Count(), 4);
    EXPECT_EQ(twice.Urls()[0], "http://x/5");
    EXPECT_EQ(twice.Urls()[1], "http://x/6");

    // Limit 0 and a negative limit remove the new entry again.
    for (int limit : {0, -3}) {
        SCOPED_TRACE(limit);
        TDocumentHistory h2 = Filled(2);
        h2.AddFetched("5", "F", "http://x/5", [limit] { return limit; });
        EXPECT_EQ(h2.Count(), 2);
        EXPECT_EQ(h2.Entries()[0], "e0");
    }
}

TEST_F(HistoryTest, AddFetchedKeepsTheEntryWhenTheLimitCannotBeRead)
{
    TDocumentHistory h = Filled(3);
    EXPECT_THROW(
        h.AddFetched("5", "F", "http://x/5", []() -> int { throw std::runtime_error("'ten' は整数ではありません"); }),
        std::runtime_error);
    EXPECT_EQ(h.Count(), 4);
    EXPECT_EQ(h.Entries()[0], "5 : F");
    EXPECT_EQ(h.Urls()[0], "http://x/5");
}

TEST_F(HistoryTest, ReusedEntryMovesToTopSpeltAsTypedWithItsUrl)
{
    TDocumentHistory h = Filled(8);
    int i = h.LookUp("E5");
    ASSERT_EQ(i, 5);
    h.MoveToTop(i, "E5");
    EXPECT_EQ(h.Count(), 8);
    EXPECT_EQ(h.Entries()[0], "E5");
    EXPECT_EQ(h.Urls()[0], "u5");
    for (int k = 1; k <= 5; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(h.Entries()[k], "e" + std::to_string(k - 1));
        EXPECT_EQ(h.Urls()[k], "u" + std::to_string(k - 1));
    }
    EXPECT_EQ(h.Entries()[6], "e6");
    // A typed number alone is not an entry of the form "number : title".
    h.AddFetched("2223", "T", "http://x", [] { return 20; });
    EXPECT_EQ(h.LookUp("2223"), -1);
    EXPECT_EQ(h.LookUp("2223 : t"), 0);
}

TEST_F(HistoryTest, OpenedFilesAreNeitherLookedUpNorCapped)
{
    TDocumentHistory h = Filled(20);
    h.AddOpenedFile(0, "", "/a.txt");
    h.AddOpenedFile(0, "", "/a.txt");
    EXPECT_EQ(h.Count(), 22);
    EXPECT_EQ(h.Entries()[0], "0000 * ");
    EXPECT_EQ(h.Entries()[1], "0000 * ");
    EXPECT_EQ(h.Urls()[0], "file:////a.txt");
    h.AddOpenedFile(12345, "Big", "/b");
    EXPECT_EQ(h.Entries()[0], "12345 * Big");
}

TEST_F(HistoryTest, SavedHistoryNeverNamesAnotherFile)
{
    struct Case {
        const char* name;
        std::string path;
        bool saved;
        std::string title = "T";
        std::string entry = "0822 * T";
    } cases[] = {
        {"plain path", "/tmp/rfc822.txt", true},
        {"line feed", "/tmp/a\nb.txt", false},
        {"carriage return", "/tmp/a\rb.txt", false},
        {"NUL", std::string("/tmp/a\0b", 8), false},
        {"blank", "/tmp/a b.txt", true},
        {"control characters in the title", "/tmp/t.txt", true, std::string("T\0\x01x", 4), "0822 * T  x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDocumentHistory h = Filled(2);
        h.AddOpenedFile(822, c.title, c.path);
        {
            TIniFile ini(path_);
            h.Save(ini);
            ini.UpdateFile();
        }
        TIniFile ini(path_);
        TDocumentHistory loaded;
        EXPECT_FALSE(loaded.Load(ini).Damaged);
        ASSERT_EQ(loaded.Count(), c.saved ? 3 : 2);
        EXPECT_EQ(loaded.Urls()[0], c.saved ? "file:///" + c.path : "u0");
        if (c.saved) {
            EXPECT_EQ(loaded.Entries()[0], c.entry);
        }
        EXPECT_EQ(loaded.Entries()[loaded.Count() - 1], "e1");
    }
}
