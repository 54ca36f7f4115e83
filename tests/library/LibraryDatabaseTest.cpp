// Opening the library's database in the states a real cache folder can be in, and two processes at once.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <thread>

#include "library/DocumentCache.h"
#include "library/LibraryDatabase.h"
#include "library/LibrarySearch.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

TCachedDocument Document(const std::string& url, const std::string& body)
{
    TCachedDocument document;
    document.Url = url;
    document.Number = 2616;
    document.Title = "Hypertext Transfer Protocol";
    document.ETag = "\"abc\"";
    document.FetchedAt = 1000;
    document.Body = body;
    return document;
}

// A raw connection: another process's view of the file.
struct TRawConnection {
    sqlite3* db = nullptr;
    explicit TRawConnection(const std::string& path) { sqlite3_open(path.c_str(), &db); }
    ~TRawConnection() { sqlite3_close(db); }
    int Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
};

void MakeStoredLibrary(const std::string& path)
{
    TLibraryDatabase database({path});
    ASSERT_TRUE(TDocumentCache(database).Store(Document("http://h/a.txt", "kept text")));
}

// Root writes through any file mode, so under root the body runs on a thread whose file-system identity
// is an ordinary user's: the file modes then hold as they would for any user.
void AsOrdinaryUser(const std::function<void()>& body)
{
    std::thread worker([&] {
        if (::geteuid() == 0) ::setfsuid(65534);
        body();
    });
    worker.join();
}

} // namespace

TEST(TLibraryDatabase, MakesItsFolderWritesAheadAndKeepsDocumentsAcrossOpenings)
{
    TTempDir temp;
    const std::string path = temp.File("cache/scrivlet/library.db");
    MakeStoredLibrary(path);
    TLibraryDatabase again({path});
    ASSERT_TRUE(again.Usable());
    const std::optional<TCachedDocument> found = TDocumentCache(again).Find("http://h/a.txt");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Body, "kept text");
    EXPECT_EQ(found->Length, 9);
    EXPECT_EQ(found->ETag, "\"abc\"");
    EXPECT_EQ(again.TakeFaultMessage(), "");

    TRawConnection raw(path);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(raw.db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal");
    sqlite3_finalize(mode);
}

TEST(TLibraryDatabase, DefaultPathFollowsTheCacheFolderVariables)
{
    struct TCase {
        const char* xdg;
        const char* home;
        std::string expected;
    } cases[] = {
        {"/x/cache", "/home/u", "/x/cache/scrivlet/library.db"},
        {"relative", "/home/u", "/home/u/.cache/scrivlet/library.db"},
        {nullptr, "/home/u", "/home/u/.cache/scrivlet/library.db"},
        {nullptr, nullptr, ""},
    };
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.expected);
        c.xdg ? ::setenv("XDG_CACHE_HOME", c.xdg, 1) : ::unsetenv("XDG_CACHE_HOME");
        c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
        EXPECT_EQ(DefaultLibraryPath(), c.expected);
    }
    ::unsetenv("XDG_CACHE_HOME");
    ::setenv("HOME", savedHome.c_str(), 1);
}

// Each state a file can be in: whether the library opens on it, the fault it notes once, and that the file
// of a newer program is left as it was while an older layout is rebuilt.
TEST(TLibraryDatabase, DamagedLockedReadOnlyOrForeignFilesNeverStopTheProgram)
{
    struct TCase {
        const char* name;
        std::function<void(const std::string& path)> prepare;
        bool usable;
        bool storable;
        TLibraryFault fault;
    };
    const std::vector<TCase> cases = {
        {"not a database", [](const std::string& path) { WriteTextFile(path, std::string(8192, 'x')); }, false, false,
         TLibraryFault::lfCorrupt},
        {"damaged pages",
         [](const std::string& path) {
             MakeStoredLibrary(path);
             std::string bytes = ReadTextFile(path);
             for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = char(0xA5);
             WriteTextFile(path, bytes);
         },
         true, false, TLibraryFault::lfCorrupt},
        {"newer program's layout",
         [](const std::string& path) {
             TRawConnection raw(path);
             raw.Exec("CREATE TABLE future(x); INSERT INTO future VALUES (1); PRAGMA user_version = 99;");
         },
         false, false, TLibraryFault::lfNewerSchema},
        {"older layout",
         [](const std::string& path) {
             TRawConnection raw(path);
             raw.Exec("CREATE TABLE document(url); INSERT INTO document VALUES ('old');");
         },
         true, true, TLibraryFault::lfNone},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTempDir temp;
        const std::string path = temp.File("library.db");
        c.prepare(path);
        {
            TLibraryDatabase database({path, 100});
            TDocumentCache cache(database);
            EXPECT_EQ(database.Usable(), c.usable);
            EXPECT_FALSE(cache.Find("http://h/a.txt"));
            EXPECT_EQ(cache.Store(Document("http://h/b.txt", "new")), c.storable);
            EXPECT_EQ(database.Fault(), c.fault);
            EXPECT_EQ(database.TakeFaultMessage().empty(), c.fault == TLibraryFault::lfNone);
            EXPECT_EQ(database.TakeFaultMessage(), "");
        }
        // Only the newer program's file still has its own table once the library let go of it.
        EXPECT_EQ(TRawConnection(path).Exec("SELECT x FROM future") == SQLITE_OK,
                  c.fault == TLibraryFault::lfNewerSchema);
    }
}

int64_t UserVersion(const std::string& path)
{
    TRawConnection raw(path);
    sqlite3_stmt* read = nullptr;
    sqlite3_prepare_v2(raw.db, "PRAGMA user_version", -1, &read, nullptr);
    const int64_t version = sqlite3_step(read) == SQLITE_ROW ? sqlite3_column_int64(read, 0) : -1;
    sqlite3_finalize(read);
    return version;
}

// A file the first version wrote climbs to the current layout with everything in it: documents (the one an
// old header left unnumbered now filed as 822), their text searchable, the index with its subseries and year.
TEST(TLibraryDatabase, VersionOneFileClimbsTheLadderKeepingItsRows)
{
    TTempDir temp;
    const std::string path = temp.File("library.db");
    ASSERT_EQ(TRawConnection(path).Exec(ReadTextFile(LibraryDataPath("version1.sql")).c_str()), SQLITE_OK);
    {
        TLibraryDatabase database({path});
        ASSERT_TRUE(database.Usable()) << database.TakeFaultMessage();
        TDocumentCache cache(database);
        const std::optional<TCachedDocument> old = cache.Find("http://h/rfc822.txt");
        ASSERT_TRUE(old);
        EXPECT_EQ(old->Number, 822);
        EXPECT_EQ(old->FetchedAt, 1000);
        EXPECT_EQ(old->FreshUntil, 0);
        EXPECT_EQ(cache.Find("http://h/rfc2616.txt")->ETag, "\"e\"");
        EXPECT_EQ(cache.LastShown(), "http://h/rfc822.txt");
        const std::vector<TLibraryHit> text = SearchLibrary(database, "chunked");
        ASSERT_EQ(text.size(), 1u);
        EXPECT_EQ(text[0].Number, 2616);
        EXPECT_EQ(SubseriesMembers(database, "STD 11"), std::vector<int>{822});
        EXPECT_EQ(BrowseIndex(database, {"", "", 1982, false}), std::vector<int>{822});
        // One row per RFC: the refiled copy joins its index entry.
        const std::vector<TLibraryHit> number = SearchLibrary(database, "822");
        ASSERT_EQ(number.size(), 1u);
        EXPECT_EQ(number[0].Url, "http://h/rfc822.txt");
    }
    EXPECT_EQ(UserVersion(path), TLibraryDatabase::kSchemaVersion);
}

// A step that fails is undone whole: the file stays at its version with its rows, and the next start tries again.
TEST(TLibraryDatabase, FailedStepLeavesTheOlderVersionWhole)
{
    TTempDir temp;
    const std::string path = temp.File("library.db");
    {
        TRawConnection raw(path);
        ASSERT_EQ(raw.Exec(ReadTextFile(LibraryDataPath("version1.sql")).c_str()), SQLITE_OK);
        // A table in the way of the step's own.
        ASSERT_EQ(raw.Exec("CREATE TABLE subseries(x)"), SQLITE_OK);
    }
    {
        TLibraryDatabase database({path});
        EXPECT_FALSE(database.Usable());
    }
    EXPECT_EQ(UserVersion(path), 1);
    TRawConnection raw(path);
    EXPECT_EQ(raw.Exec("SELECT body FROM document WHERE number = 0 AND fetched = 1000"), SQLITE_OK);
    EXPECT_EQ(raw.Exec("SELECT count(*) FROM document_text"), SQLITE_OK);
    EXPECT_NE(raw.Exec("SELECT fresh_until FROM document"), SQLITE_OK);
}

TEST(TLibraryDatabase, WriteLockHeldElsewhereFailsTheStoreButNotTheRead)
{
    TTempDir temp;
    const std::string path = temp.File("library.db");
    MakeStoredLibrary(path);
    TLibraryDatabase database({path, 100});
    TDocumentCache cache(database);
    TRawConnection other(path);
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);

    EXPECT_FALSE(cache.Store(Document("http://h/b.txt", "new")));
    EXPECT_EQ(database.Fault(), TLibraryFault::lfLocked);
    ASSERT_TRUE(cache.Find("http://h/a.txt"));
    other.Exec("ROLLBACK");
    EXPECT_TRUE(cache.Store(Document("http://h/b.txt", "new")));
}

TEST(TLibraryDatabase, ReadOnlyFileIsReadButNotWritten)
{
    TTempDir temp;
    const std::string path = temp.File("library.db");
    MakeStoredLibrary(path);
    ::chmod(path.c_str(), 0444);
    ::chmod(temp.Path().c_str(), 0555);
    AsOrdinaryUser([&] {
        TLibraryDatabase database({path, 100});
        TDocumentCache cache(database);
        EXPECT_FALSE(cache.Store(Document("http://h/b.txt", "new")));
        EXPECT_NE(database.Fault(), TLibraryFault::lfNone);
        EXPECT_NE(database.TakeFaultMessage(), "");
        EXPECT_EQ(database.TakeFaultMessage(), "");
    });
    ::chmod(temp.Path().c_str(), 0700);
}

// Two processes store into one file at the same time: the busy time-out makes each wait for the other's
// lock instead of failing, and nothing is lost.
TEST(TLibraryDatabase, TwoProcessesStoreIntoOneFileWithoutLoss)
{
    TTempDir temp;
    const std::string path = temp.File("library.db");
    {
        TLibraryDatabase created({path});
    }
    const auto storeMany = [&](const std::string& prefix) {
        TLibraryDatabase database({path});
        TDocumentCache cache(database);
        int stored = 0;
        for (int i = 0; i < 40; ++i)
            stored += cache.Store(Document(prefix + std::to_string(i), std::string(20000, char('a' + i % 26))));
        return stored;
    };
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) ::_exit(storeMany("http://child/") == 40 ? 0 : 1);
    EXPECT_EQ(storeMany("http://parent/"), 40);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    TLibraryDatabase database({path});
    TDocumentCache cache(database);
    for (const char* prefix : {"http://child/", "http://parent/"})
        for (int i = 0; i < 40; ++i) EXPECT_TRUE(cache.Contains(prefix + std::to_string(i))) << prefix << i;
}
