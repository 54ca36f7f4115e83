#include "settings/IniFile.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/ExpectRaises.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::ExpectRaises;

class IniFileTest : public ::testing::Test {
protected:
    TTempDir dir_;
    const std::string path_ = dir_.File("Scrivlet.ini");
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndIsNotCreated)
{
    {
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("font", "Name", "Courier New"), "Courier New");
        EXPECT_EQ(ini.ReadInteger("font", "size", 10), 10);
        EXPECT_TRUE(ini.ReadBool("conf", "UseProxy", true));
        EXPECT_FALSE(ini.SectionExists("font"));
        ini.UpdateFile();
    }
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(IniFileTest, SectionAndKeyNamesIgnoreCase)
{
    WriteTextFile(path_, "[Conf]\nURLbase=u\n");
    const struct {
        const char* section;
        const char* key;
    } cases[] = {{"Conf", "URLbase"}, {"conf", "urlbase"}, {"CONF", "URLBASE"}, {"cOnF", "UrlBase"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString(c.section, c.key, "default"), "u");
        EXPECT_TRUE(ini.ValueExists(c.section, c.key));
    }
    // A write under another spelling replaces the key instead of adding one.
    {
        TIniFile ini(path_);
        ini.WriteString("CONF", "urlBASE", "v");
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadTextFile(path_), "[Conf]\nURLbase=v\n");
}

TEST_F(IniFileTest, ReadStringReturnsAtMost2047Characters)
{
    const std::string kana = "\xE3\x81\x82"; // one three-byte character
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const struct {
        const char* name;
        std::string stored;
        std::string expected;
    } cases[] = {
        {"empty", "", ""},
        {"one", "a", "a"},
        {"2046 ascii", std::string(2046, 'a'), std::string(2046, 'a')},
        {"2047 ascii", std::string(2047, 'a'), std::string(2047, 'a')},
        {"2048 ascii", std::string(2048, 'a'), std::string(2047, 'a')},
        {"5000 ascii", std::string(5000, 'b'), std::string(2047, 'b')},
        {"2047 kana", repeat(kana, 2047), repeat(kana, 2047)},
        {"2048 kana", repeat(kana, 2048), repeat(kana, 2047)},
        {"ascii then kana at the limit", std::string(2046, 'a') + kana + kana, std::string(2046, 'a') + kana},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(path_, "[s]\nk=" + c.stored + "\n");
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("s", "k", "default"), c.expected);
    }
}

TEST_F(IniFileTest, PresentEmptyValueIsNotTheDefault)
{
    WriteTextFile(path_, "[rfcs]\nN01=\nN02 =  \n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("rfcs", "N01", "INVAL"), "");
    EXPECT_EQ(ini.ReadString("rfcs", "N02", "INVAL"), "");
    EXPECT_EQ(ini.ReadString("rfcs", "N03", "INVAL"), "INVAL");
}

TEST_F(IniFileTest, ReadIntegerAcceptsDecimalAndHexadecimalElseDefault)
{
    const struct {
        const char* stored; // nullptr: key absent
        int32_t expected;
    } cases[] = {
        {"12", 12},         {"-7", -7},      {"+5", 5},     {"0x1F90", 8080},
        {"0X1f", 31},       {"$1F90", 8080}, {" 12", 12},   {"2147483647", 2147483647},
        {"2147483648", 99}, {"abc", 99},     {"12abc", 99}, {"", 99},
        {"0x", 99},         {"1 2", 99},     {nullptr, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(absent)");
        WriteTextFile(path_, c.stored ? std::string("[s]\nk=") + c.stored + "\n" : "[s]\n");
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadInteger("s", "k", 99), c.expected);
    }
}

TEST_F(IniFileTest, ReadBoolIsNonZeroIntegerElseDefault)
{
    const struct {
        const char* stored;
        bool defaultValue;
        bool expected;
    } cases[] = {
        {"0", true, false},   {"1", false, true},  {"2", false, true},    {"-1", false, true},    {"0x0", true, false},
        {"$10", false, true}, {"abc", true, true}, {"abc", false, false}, {"true", false, false}, {"", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + (c.defaultValue ? " default true" : " default false"));
        WriteTextFile(path_, std::string("[s]\nk=") + c.stored + "\n");
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadBool("s", "k", c.defaultValue), c.expected);
    }
}

TEST_F(IniFileTest, WritesIntegersInDecimalAndBooleansAsDigits)
{
    {
        TIniFile ini(path_);
        ini.WriteInteger("conf", "HistCount", 31);
        ini.WriteInteger("conf", "Negative", -2147483647 - 1);
        ini.WriteBool("conf", "UseProxy", true);
        ini.WriteBool("conf", "Other", false);
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadTextFile(path_), "[conf]\nHistCount=31\nNegative=-2147483648\nUseProxy=1\nOther=0\n");
}

TEST_F(IniFileTest, RewriteKeepsUnknownLinesAndTheirOrder)
{
    WriteTextFile(path_, "; written by hand\r\n"
                         "[extra]\r\n"
                         "keep=me\r\n"
                         "\r\n"
                         "[conf]\r\n"
                         "# a comment\r\n"
                         "URLbase = old\r\n"
                         "Unknown=x\r\n"
                         "no equals sign\r\n"
                         "\r\n"
                         "[window]\r\n"
                         "width=640\r\n");
    {
        TIniFile ini(path_);
        ini.WriteString("conf", "URLbase", "new");
        ini.WriteString("conf", "ProxyServer", "proxy");
        ini.WriteString("font", "Name", "Mono");
        ini.UpdateFile();
    }
    // New lines end like the file's own lines.
    EXPECT_EQ(ReadTextFile(path_), "; written by hand\r\n"
                                   "[extra]\r\n"
                                   "keep=me\r\n"
                                   "\r\n"
                                   "[conf]\r\n"
                                   "# a comment\r\n"
                                   "URLbase=new\r\n"
                                   "Unknown=x\r\n"
                                   "no equals sign\r\n"
                                   "ProxyServer=proxy\r\n"
                                   "\r\n"
                                   "[window]\r\n"
                                   "width=640\r\n"
                                   "[font]\r\n"
                                   "Name=Mono\r\n");
}

TEST_F(IniFileTest, ReadsLoneCarriageReturnsAndByteOrderMark)
{
    WriteTextFile(path_, "\xEF\xBB\xBF[a]\rk=1\r[b]\rk=2");
    {
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("a", "k", ""), "1");
        EXPECT_EQ(ini.ReadString("b", "k", ""), "2");
        ini.WriteString("b", "k", "3");
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadTextFile(path_), "\xEF\xBB\xBF[a]\rk=1\r[b]\rk=3");
}

TEST_F(IniFileTest, EraseSectionRemovesEveryCopyAndKeepsTheRest)
{
    WriteTextFile(path_, "[font]\nName=A\n[rfcs]\nN01=x\nN02=y\n; note\n[window]\nwidth=1\n[RFCS]\nU01=z\n");
    {
        TIniFile ini(path_);
        ini.EraseSection("rfcs");
        EXPECT_FALSE(ini.SectionExists("rfcs"));
        EXPECT_EQ(ini.ReadString("rfcs", "N01", "INVAL"), "INVAL");
        EXPECT_EQ(ini.ReadString("rfcs", "U01", "INVAL"), "INVAL");
        ini.EraseSection("missing");
        ini.WriteString("rfcs", "N01", "new");
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadTextFile(path_), "[font]\nName=A\n[window]\nwidth=1\n[rfcs]\nN01=new\n");
}

TEST_F(IniFileTest, ValuesComeBackAsWritten)
{
    const std::string cases[] = {
        "",
        "plain",
        "http://www.example.org/rfc/rfc%s.txt",
        "a=b=c",
        "; not a comment",
        "[not a section]",
        "  leading blanks",
        "trailing blanks\t ",
        "\"quoted\"",
        "'single'",
        "\"",
        "\" lone quote",
        "2223 : \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88", // Japanese text
    };
    for (const std::string& value : cases) {
        SCOPED_TRACE(value);
        {
            TIniFile ini(path_);
            ini.WriteString("s", "k", value);
            ini.WriteString("s", "after", "x");
            ini.UpdateFile();
        }
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("s", "k", "default"), value);
        EXPECT_EQ(ini.ReadString("s", "after", "default"), "x");
    }
}

TEST_F(IniFileTest, LineBreaksInAValueCannotInjectLines)
{
    {
        TIniFile ini(path_);
        ini.WriteString("rfcs", "N01", "title\r\n[conf]\nUseProxy=1");
        ini.UpdateFile();
    }
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("rfcs", "N01", ""), "title  [conf] UseProxy=1");
    EXPECT_FALSE(ini.SectionExists("conf"));
}

TEST_F(IniFileTest, HandWrittenBlanksAndQuotesAreNotPartOfTheValue)
{
    WriteTextFile(path_, "  [ conf ]  \n  URLbase  =  http://h/%s  \nProxyServer=\"  spaced  \"\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("conf", "URLbase", ""), "http://h/%s");
    EXPECT_EQ(ini.ReadString("conf", "ProxyServer", ""), "  spaced  ");
}

TEST_F(IniFileTest, RefusedWriteRaisesAndKeepsTheOldFile)
{
    struct Case {
        std::string name;
        std::string path;
    };
    std::vector<Case> cases = {
        {"missing directory", dir_.File("no-such-dir/Scrivlet.ini")},
        {"path is a directory", dir_.File("a-directory")},
    };
    std::filesystem::create_directory(dir_.File("a-directory"));
    // Permission bits do not stop the superuser.
    if (::geteuid() != 0) {
        WriteTextFile(dir_.File("read-only.ini"), "[conf]\nURLbase=old\n");
        ::chmod(dir_.File("read-only.ini").c_str(), 0444);
        cases.push_back({"read-only file", dir_.File("read-only.ini")});
        WriteTextFile(dir_.File("unreadable.ini"), "[conf]\nURLbase=old\n");
        ::chmod(dir_.File("unreadable.ini").c_str(), 0200);
        cases.push_back({"unreadable file", dir_.File("unreadable.ini")});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIniFile ini(c.path);
        ini.WriteString("conf", "URLbase", "new");
        ExpectRaises<EIniFileException>([&] { ini.UpdateFile(); }, c.path + " に書き込めません");
    }
    if (::geteuid() != 0) {
        ::chmod(dir_.File("unreadable.ini").c_str(), 0600);
        EXPECT_EQ(ReadTextFile(dir_.File("read-only.ini")), "[conf]\nURLbase=old\n");
        EXPECT_EQ(ReadTextFile(dir_.File("unreadable.ini")), "[conf]\nURLbase=old\n");
    }
    // No temporary file is left behind by a failed save.
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        EXPECT_EQ(entry.path().extension(), entry.is_directory() ? "" : ".ini") << entry.path();
}

TEST_F(IniFileTest, ExceptionPastTheAccessorKeepsWhatWasWrittenBeforeIt)
{
    WriteTextFile(path_, "[conf]\nURLbase=old\nHistCount=20\n[rfcs]\nN01=a\n");
    try {
        TIniFile ini(path_);
        ini.WriteString("font", "Name", "Mono");
        ini.WriteString("conf", "URLbase", "new");
        throw std::runtime_error("conversion failed");
    } catch (const std::runtime_error&) {}
    EXPECT_EQ(ReadTextFile(path_), "[conf]\nURLbase=new\nHistCount=20\n[rfcs]\nN01=a\n[font]\nName=Mono\n");
}

TEST_F(IniFileTest, DestructorSwallowsARefusedWrite)
{
    EXPECT_NO_THROW({
        TIniFile ini(dir_.File("no-such-dir/Scrivlet.ini"));
        ini.WriteString("conf", "URLbase", "new");
    });
}

TEST_F(IniFileTest, KeepsTheFileModeOnRewrite)
{
    WriteTextFile(path_, "[s]\nk=1\n");
    ::chmod(path_.c_str(), 0640);
    {
        TIniFile ini(path_);
        ini.WriteString("s", "k", "2");
        ini.UpdateFile();
    }
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFileTest, WritesThroughASymbolicLinkToItsTarget)
{
    const std::string target = dir_.File("real.ini");
    WriteTextFile(target, "[s]\nk=1\n");
    std::filesystem::create_symlink(target, path_);
    {
        TIniFile ini(path_);
        ini.WriteString("s", "k", "2");
        ini.UpdateFile();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(ReadTextFile(target), "[s]\nk=2\n");
}

// The writer rewrites a file of many keys, all carrying the same generation
// number, with an end marker last; a torn file lacks keys or mixes numbers.
constexpr int kKeys = 16; // of 64 KiB each: long enough a save to be hit

void SaveGeneration(const std::string& path, int generation)
{
    TIniFile ini(path);
    const std::string value = std::to_string(generation) + std::string(64 * 1024, '.');
    for (int k = 0; k < kKeys; ++k) ini.WriteString("data", "K" + std::to_string(k), value);
    ini.WriteString("data", "End", value);
    ini.UpdateFile();
}

// Returns the generation of a whole file, or -1 for a torn one.
int WholeGeneration(const std::string& path)
{
    TIniFile ini(path);
    const std::string end = ini.ReadString("data", "End", "missing");
    for (int k = 0; k < kKeys; ++k)
        if (ini.ReadString("data", "K" + std::to_string(k), "missing") != end) return -1;
    return end == "missing" ? -1 : std::stoi(end);
}

TEST_F(IniFileTest, WriterKilledMidSaveLeavesAWholeFile)
{
    const auto started = std::chrono::steady_clock::now();
    SaveGeneration(path_, 0);
    const auto saveTime = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(WholeGeneration(path_), 0);
    int changes = 0;
    int last = 0;
    for (int round = 0; round < 32; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            try {
                for (int generation = 1000 * (round + 1);; ++generation) SaveGeneration(path_, generation);
            } catch (...) {}
            ::_exit(1);
        }
        // Delays from half a save to eight saves, so kills land at
        // different moments of a save and some saves complete.
        std::this_thread::sleep_for(saveTime * (1 + round % 16) / 2);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own";
        const int generation = WholeGeneration(path_);
        ASSERT_NE(generation, -1) << "torn settings file";
        if (generation != last) ++changes;
        last = generation;
    }
    // Otherwise the kills only ever hit before the first save and proved nothing.
    EXPECT_GT(changes, 0);
    // The next save clears what the killed ones left behind.
    SaveGeneration(path_, 1);
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        EXPECT_EQ(entry.path().filename(), "Scrivlet.ini");
}

} // namespace
