#include "settings/SettingsStore.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/HistoryList.h"
#include "settings/IniFile.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<THistoryItem> Items(const std::string& spec)
{
    // "a5 b3": entry a, URL u-a, last used at 5.
    std::vector<THistoryItem> items;
    std::istringstream in(spec);
    for (std::string word; in >> word;)
        items.push_back({word.substr(0, 1), "u-" + word.substr(0, 1), std::stoll(word.substr(1))});
    return items;
}

std::string Names(const std::vector<THistoryItem>& items)
{
    std::string names;
    for (const THistoryItem& item : items) names += item.Entry;
    return names;
}

TEST(MergeHistory, UnionNewestFirstOnePerDocumentCapped)
{
    const struct {
        const char *name, *start, *mine, *theirs;
        std::size_t cap;
        std::string merged;
    } rows[] = {
        {"each run added its own", "a1", "b5 a1", "c4 a1", 20, "bca"},
        {"their addition is newer", "a1", "b5 a1", "c6 a1", 20, "cba"},
        {"tie: this run first", "", "b5", "c5", 20, "bc"},
        {"same document in both: the later use", "a1 b1", "a7 b1", "b8 a1", 20, "ba"},
        {"old file without times keeps each list's order", "a0 b0", "c3 a0 b0", "a0 b0 d0", 20, "cabd"},
        {"removed here, not used there: gone", "a1 b1", "b1", "a1 b1", 20, "b"},
        {"removed here, used there since: kept", "a1 b1", "b1", "a9 b1", 20, "ab"},
        {"removed there, not used here: gone", "a1 b1", "a1 b1", "b1", 20, "b"},
        {"capped", "", "a9 b7 c5", "d8 e6", 3, "adb"},
        {"cap 0", "", "a9", "b8", 0, ""},
        {"one list empty", "", "", "a2 b1", 20, "ab"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Names(MergeHistory(Items(row.start), Items(row.mine), Items(row.theirs), row.cap)), row.merged);
    }
}

class SettingsStoreTest : public ::testing::Test {
protected:
    // The run's writer: its font and history (newest first, entry, URL, time).
    static TSettingsStore::TWriter Writer(const std::string& font, const std::string& history)
    {
        return [font, history](TIniFile& ini) {
            ini.WriteString("font", "Name", font);
            WriteHistory(ini, Items(history));
        };
    }

    TTempDir dir_;
    const std::string path_ = dir_.File("Scrivlet.ini");
    TSettingsStore store_{{path_, path_, "", false}};
};

// Another run saved between this run's start and its end.
TEST_F(SettingsStoreTest, SaveMergesIntoWhatAnotherRunSavedMeanwhile)
{
    const std::string unknown = "; kept\r\n[newer]\r\nKey = \"spaced\"  \r\n\r\n";
    const struct {
        const char* name;
        std::string start, meanwhile, font, history, saved;
    } rows[] = {
        {"unchanged font keeps theirs; history joined", "[font]\nName=A\n",
         "[font]\nName=B\n[rfcs]\nN01=c\nU01=u-c\nT01=4\n", "A", "b5",
         "[font]\nName=B\n[rfcs]\nN01=b\nN02=c\nU01=u-b\nU02=u-c\nT01=5\nT02=4\n"},
        {"changed by neither: this run's form of it", "[font]\nName=AA\n",
         "[font]\nName=AA\n[rfcs]\nN01=c\nU01=u-c\nT01=4\n", "A", "b5",
         "[font]\nName=A\n[rfcs]\nN01=b\nN02=c\nU01=u-b\nU02=u-c\nT01=5\nT02=4\n"},
        {"changed font wins", "[font]\nName=A\n", "[font]\nName=B\n", "Z", "", "[font]\nName=Z\n"},
        {"unknown lines byte for byte", "[font]\nName=A\n", unknown + "[font]\nName=A\n", "Z", "",
         unknown + "[font]\nName=Z\n"},
        {"unknown keys of the history kept", "", "[rfcs]\nN01=c\nP01=x\nU01=u-c\n", "A", "b5",
         "[rfcs]\nP01=x\nN01=b\nN02=c\nU01=u-b\nU02=u-c\nT01=5\n[font]\nName=A\n"},
        {"file removed meanwhile: written whole", "[font]\nName=A\n", "", "A", "b5",
         "[font]\nName=A\n[rfcs]\nN01=b\nU01=u-b\nT01=5\n"},
        {"history length of the result caps", "[conf]\nHistCount=5\n",
         "[conf]\nHistCount=1\n[rfcs]\nN01=c\nU01=u-c\nT01=4\n", "A", "b5",
         "[conf]\nHistCount=1\n[rfcs]\nN01=b\nU01=u-b\nT01=5\n[font]\nName=A\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteTextFile(path_, row.start);
        TSettingsStore store({path_, path_, "", false});
        store.KeepBaseline(Writer("A", ""));
        if (row.meanwhile.empty())
            std::filesystem::remove(path_);
        else
            WriteTextFile(path_, row.meanwhile);
        const TSettingsStore::TSaveResult saved = store.Save(Writer(row.font, row.history));
        EXPECT_EQ(saved.Path, path_);
        EXPECT_FALSE(saved.FellBack);
        EXPECT_EQ(ReadTextFile(path_), row.saved);
    }
}

// Each process is a run of its own: it reads the file, adds one entry and saves, many times over, while
// the other does the same; every entry of both survives.
TEST_F(SettingsStoreTest, TwoProcessesSavingAtOnceLoseNothing)
{
    WriteTextFile(path_, "[conf]\nHistCount=200\n");
    const int kRuns = 40;
    const auto runs = [&](const std::string& name) {
        for (int i = 0; i < kRuns; ++i) {
            TSettingsStore store({path_, path_, "", false});
            std::vector<THistoryItem> history = ReadHistory(TIniFile(path_)).Items;
            store.KeepBaseline([&](TIniFile& ini) { WriteHistory(ini, history); });
            history.insert(history.begin(), {name + std::to_string(i), name + std::to_string(i), HistoryNow()});
            (void)store.Save([&](TIniFile& ini) { WriteHistory(ini, history); });
        }
    };
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        char go = 0;
        if (::read(ready[0], &go, 1) != 1) ::_exit(2);
        runs("child-");
        ::_exit(0);
    }
    // Both start together.
    ASSERT_EQ(::write(ready[1], "g", 1), 1);
    runs("parent-");
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::set<std::string> urls;
    for (const THistoryItem& item : ReadHistory(TIniFile(path_)).Items) urls.insert(item.Url);
    EXPECT_EQ(urls.size(), std::size_t(2 * kRuns));
    for (const char* name : {"child-", "parent-"})
        for (int i = 0; i < kRuns; ++i) EXPECT_EQ(urls.count(name + std::to_string(i)), 1u) << name << i;
}

// A FIFO in the settings file's place is neither waited on (taking the lock) nor replaced.
TEST_F(SettingsStoreTest, FifoIsNeitherWaitedOnNorReplaced)
{
    ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
    EXPECT_THROW((void)store_.Save(Writer("A", "b5")), EIniFileException);
    EXPECT_EQ(std::filesystem::status(path_).type(), std::filesystem::file_type::fifo);
}

TEST_F(SettingsStoreTest, FileWithAPasswordIsReadableByItsOwnerOnly)
{
    const struct {
        const char* name;
        std::string conf; // written by the run
        mode_t before;    // 0: no file yet
        mode_t after;
        bool toldAtStart; // ProtectSecrets tightened the existing file
    } rows[] = {
        {"SOCKS password, new file", "SocksPassword=s3cret", 0, 0600, false},
        {"SOCKS password, open file tightened", "SocksPassword=s3cret", 0644, 0600, true},
        {"password in the URL format", "URLbase=http://u:pw@h/rfc%s.txt", 0664, 0600, true},
        {"user name alone keeps the mode", "URLbase=http://u@h/rfc%s.txt", 0644, 0644, false},
        {"no password keeps the mode", "SocksUser=u", 0664, 0664, false},
        {"private already", "SocksPassword=s3cret", 0600, 0600, false},
    };
    const mode_t mask = ::umask(022);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(path_);
        if (row.before != 0) {
            WriteTextFile(path_, "[conf]\n");
            ::chmod(path_.c_str(), row.before);
        }
        const std::string key = row.conf.substr(0, row.conf.find('=')), value = row.conf.substr(key.size() + 1);
        const TSettingsStore::TWriter write = [&](TIniFile& ini) { ini.WriteString("conf", key, value); };
        EXPECT_EQ(store_.ProtectSecrets(write), row.toldAtStart);
        EXPECT_FALSE(store_.ProtectSecrets(write)); // told once
        (void)store_.Save(write);
        struct stat st {};
        ASSERT_EQ(::stat(path_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, row.after);
    }
    ::umask(mask);
}

// Runs body in a child process under an ordinary user's identity ("nobody" when the test runs as
// root, as CI does), with XDG_CONFIG_HOME set; its exit code.
int RunAsOrdinaryUser(const std::string& configHome, const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                                 ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(90);
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// The user's own folders and files, as the ordinary user of RunAsOrdinaryUser owns them.
void OwnedByOrdinaryUser(const std::string& path, mode_t mode)
{
    if (!std::filesystem::exists(path)) std::filesystem::create_directories(path);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    ::chmod(path.c_str(), mode);
}

// The run's changes reach the user's file whether the start folder refuses from the start (said at once)
// or only at the end (a file made read-only meanwhile).
TEST_F(SettingsStoreTest, StartFolderOrFileNotWritableSendsTheChangesToTheUsersFile)
{
    const struct {
        const char* name;
        std::string local;    // the start folder's file; "" for none
        mode_t folder, file;  // modes of the start folder and its file
        std::string userFile; // "" for none
        bool refusesAtEnd;    // the file is made read-only after the start
        std::string read;     // the start value of font/Name the run sees
        std::string kept;     // what the user's file keeps of the start folder's besides the run's changes
    } rows[] = {
        {"folder read-only, no file", "", 0555, 0, "", false, "", ""},
        {"file read-only: read, then copied with the changes", "[x]\nk=1\n[font]\nName=A\n", 0755, 0444, "", false, "A",
         "[x]\nk=1\n"},
        {"file writable, folder read-only: no file can be renamed over it", "[font]\nName=A\n", 0555, 0644, "", false,
         "A", ""},
        {"file read-only, user's file there: that one", "[font]\nName=A\n", 0755, 0444, "[font]\nName=B\n", false, "B",
         ""},
        {"file refuses at the end only", "[font]\nName=A\n", 0755, 0644, "", true, "A", ""},
    };
    ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string start = dir_.File("start" + std::to_string(n)),
                          config = dir_.File("config" + std::to_string(n));
        ++n;
        OwnedByOrdinaryUser(start, 0755);
        OwnedByOrdinaryUser(config, 0755);
        const std::string local = start + "/Scrivlet.ini", user = config + "/scrivlet/Scrivlet.ini";
        if (!row.local.empty()) {
            WriteTextFile(local, row.local);
            OwnedByOrdinaryUser(local, row.file);
        }
        if (!row.userFile.empty()) {
            OwnedByOrdinaryUser(config + "/scrivlet", 0700);
            WriteTextFile(user, row.userFile);
            OwnedByOrdinaryUser(user, 0600);
        }
        ::chmod(start.c_str(), row.folder);
        const int code = RunAsOrdinaryUser(config, [&] {
            const TSettingsPlace place = ChooseSettingsPlace(false, local, UserSettingsPath());
            const std::string expected = row.refusesAtEnd ? place.FallbackPath : place.WritePath;
            if (place.Redirected == row.refusesAtEnd || expected != user) return 10;
            if (TIniFile(place.ReadPath).ReadString("font", "Name", "") != row.read) return 11;
            TSettingsStore store(place);
            store.KeepBaseline(Writer(row.read, ""));
            if (row.refusesAtEnd) ::chmod(local.c_str(), 0444);
            const TSettingsStore::TSaveResult saved = store.Save(Writer("Z", "b5"));
            return saved.Path == user && saved.FellBack == row.refusesAtEnd ? 0 : 12;
        });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(ReadTextFile(user), row.kept + "[font]\nName=Z\n[rfcs]\nN01=b\nU01=u-b\nT01=5\n");
        EXPECT_EQ(ReadTextFile(local), row.local);
        EXPECT_EQ(std::filesystem::exists(local), !row.local.empty());
        ::chmod(start.c_str(), 0755);
    }
}

TEST(SettingsPlace, UsersFileFollowsXdgConfigHome)
{
    const struct {
        const char* config;
        std::string path;
    } rows[] = {
        {"relative", "/home/u/.config/scrivlet/Scrivlet.ini"},
        {nullptr, "/home/u/.config/scrivlet/Scrivlet.ini"},
    };
    ::setenv("HOME", "/home/u", 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.config ? row.config : "unset");
        if (row.config)
            ::setenv("XDG_CONFIG_HOME", row.config, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(UserSettingsPath(), row.path);
    }
}

} // namespace
