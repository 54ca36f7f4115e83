// Settings files the program did not write itself: other encodings, binary
// bytes, special files, and the leftovers of killed saves.
#include "settings/IniFile.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace {

class IniFileHostileTest : public ::testing::Test {
protected:
    TTempDir dir_;
    const std::string path_ = dir_.File("Scrivlet.ini");
};

std::string Utf16(const std::u16string& text, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : text) {
        const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

TEST_F(IniFileHostileTest, Utf16FileIsReadAndWrittenBackInUtf16)
{
    // U+1D11E is a pair of surrogates; a lone surrogate and an odd last byte
    // are kept as they are.
    const std::u16string before =
        u"; \u30B3\u30E1\u30F3\u30C8 \U0001D11E\r\n[font]\r\nName=\uFF2D\uFF33 \u660E\u671D\r\n"
        u"odd=\xD800x\r\n[conf]\r\nHistCount=5\r\n";
    const std::u16string after =
        u"; \u30B3\u30E1\u30F3\u30C8 \U0001D11E\r\n[font]\r\nName=\uFF2D\uFF33 \u660E\u671D\r\n"
        u"odd=\xD800x\r\n[conf]\r\nHistCount=7\r\nUseProxy=1\r\n[window]\r\nwidth=640\r\n";
    for (bool bigEndian : {false, true}) {
        for (const std::string tail : {"", "\x01"}) {
            SCOPED_TRACE(std::string(bigEndian ? "big" : "little") + " endian" + (tail.empty() ? "" : ", odd byte"));
            WriteTextFile(path_, Utf16(before, bigEndian) + tail);
            {
                TIniFile ini(path_);
                EXPECT_EQ(ini.ReadString("font", "Name", ""), "\xEF\xBC\xAD\xEF\xBC\xB3 \xE6\x98\x8E\xE6\x9C\x9D");
                EXPECT_EQ(ini.ReadInteger("conf", "HistCount", 0), 5);
                ini.WriteInteger("conf", "HistCount", 7);
                ini.WriteBool("conf", "UseProxy", true);
                ini.WriteInteger("window", "width", 640);
                ini.UpdateFile();
            }
            EXPECT_EQ(ReadTextFile(path_), Utf16(after, bigEndian) + tail);
        }
    }
}

TEST_F(IniFileHostileTest, ValuesComeBackAsWrittenFromAUtf16File)
{
    const std::string cases[] = {
        "\x83\x65\x83\x58\x83\x67", // Shift-JIS
        "\xED\xA0\x80"
        "\xED\xB0\x80", // two surrogate forms in a row
        "a\xED\xA0\x80"
        "b",                             // one alone
        "\xF4\x8F\xBE\x80\xC3",          // a reserved code point, a cut sequence
        "\xE6\x98\x8E \xF0\x9D\x84\x9E", // valid UTF-8
    };
    for (const std::string& value : cases) {
        SCOPED_TRACE(value);
        WriteTextFile(path_, Utf16(u"[s]\r\n", false));
        {
            TIniFile ini(path_);
            ini.WriteString("s", "k", value);
            ini.UpdateFile();
        }
        EXPECT_EQ(ReadTextFile(path_).substr(0, 2), "\xFF\xFE");
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("s", "k", ""), value);
    }
}

TEST_F(IniFileHostileTest, LinesNotWrittenKeepTheirBytesAndLineEnds)
{
    const struct {
        const char* name;
        std::string before, after;
    } cases[] = {
        {"mixed line ends", "[a]\r\nx=1\ry=2\n\r\n[b]\rk=old\r\n", "[a]\r\nx=1\ry=2\n\r\n[b]\rk=new\r\n"},
        {"binary bytes around", std::string("\x89PNG\r\n\x1A\n\0\0\r\r\n[b]\nk=old\n\xFF\xFE\r", 23),
         std::string("\x89PNG\r\n\x1A\n\0\0\r\r\n[b]\nk=new\n\xFF\xFE\r", 23)},
        {"no line end at the end", "[b]\nk=old\n; last", "[b]\nk=new\n; last"},
        {"new key after a last line without end", "[b]\r\nj=1", "[b]\r\nj=1\r\nk=new\r\n"},
        {"invalid UTF-8 kept", "[b]\nName=\x82\x6C\x82\x72\nk=old\n", "[b]\nName=\x82\x6C\x82\x72\nk=new\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(path_, c.before);
        {
            TIniFile ini(path_);
            ini.WriteString("b", "k", "new");
            ini.UpdateFile();
        }
        EXPECT_EQ(ReadTextFile(path_), c.after);
    }
}

TEST_F(IniFileHostileTest, KeysOfRepeatedSectionsAndKeys)
{
    WriteTextFile(path_, "[a]\nk=1\nk=dup\n\n[b]\nk=b\n[A]\nk=2\nj=3\n");
    {
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("a", "k", ""), "1");
        EXPECT_EQ(ini.ReadString("a", "j", ""), "3");
        EXPECT_EQ(ini.ReadString("b", "k", ""), "b");
        ini.WriteString("a", "j", "4"); // where it stands, in the second copy
        ini.WriteString("a", "n", "5"); // to the first copy
        ini.WriteString("A", "N", "6"); // the key just added
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadTextFile(path_), "[a]\nk=1\nk=dup\nn=6\n\n[b]\nk=b\n[A]\nk=2\nj=4\n");
}

TEST_F(IniFileHostileTest, SpecialOrHugeFileIsUnreadableAndNeverReplaced)
{
    const std::string fifo = dir_.File("fifo.ini"), zero = dir_.File("zero.ini"), huge = dir_.File("huge.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", zero);
    // Sparse: 64 MiB and one byte of "[conf]\nHistCount=5\n" and zeros.
    WriteTextFile(huge, "[conf]\nHistCount=5\n");
    std::filesystem::resize_file(huge, (64u << 20) + 1);
    const struct {
        const char* name;
        std::string path;
        std::filesystem::file_type type;
    } cases[] = {
        {"FIFO without a writer", fifo, std::filesystem::file_type::fifo},
        {"link to /dev/zero", zero, std::filesystem::file_type::character},
        {"larger than 64 MiB", huge, std::filesystem::file_type::regular},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIniFile ini(c.path); // returns at once: reads nothing
        EXPECT_EQ(ini.ReadInteger("conf", "HistCount", 20), 20);
        ini.WriteInteger("conf", "HistCount", 7);
        EXPECT_THROW(ini.UpdateFile(), EIniFileException);
        EXPECT_EQ(std::filesystem::status(c.path).type(), c.type);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(zero));
    EXPECT_EQ(std::filesystem::file_size(huge), (64u << 20) + 1);
}

// The id of a process that has ended.
pid_t EndedProcess()
{
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST_F(IniFileHostileTest, SaveRemovesTemporaryFilesOfKilledSaves)
{
    const std::string dead = std::to_string(EndedProcess()), alive = std::to_string(::getppid());
    const struct {
        std::string name;
        bool removed;
    } cases[] = {
        {"Scrivlet.ini." + dead + ".0.tmp", true},   {"Scrivlet.ini." + dead + ".17.tmp", true},
        {"Scrivlet.ini." + alive + ".0.tmp", false}, // a save that may still finish
        {"Other.ini." + dead + ".0.tmp", false},     {"Scrivlet.ini." + dead + ".tmp", false},
        {"Scrivlet.ini.x" + dead + ".0.tmp", false},
    };
    for (const auto& c : cases) WriteTextFile(dir_.File(c.name), std::string(1000, 'x'));
    {
        TIniFile ini(path_);
        ini.WriteInteger("conf", "HistCount", 7);
        ini.UpdateFile();
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::filesystem::exists(dir_.File(c.name)), !c.removed);
    }
    EXPECT_EQ(ReadTextFile(path_), "[conf]\nHistCount=7\n");
}

} // namespace
