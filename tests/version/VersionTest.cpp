#include "version/verInfo.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& b, std::size_t offset, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i) b[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void Append(Bytes& b, uint64_t value, int width)
{
    b.resize(b.size() + width);
    Put(b, b.size() - width, value, width);
}

void Pad4(Bytes& b)
{
    while (b.size() % 4 != 0) b.push_back(0);
}

struct CraftedNote {
    std::string owner = "Scrivlet";
    uint32_t type = 1;
    Bytes desc;
};

Bytes VersionDesc(uint32_t mostSignificant, uint32_t leastSignificant)
{
    Bytes d;
    Append(d, mostSignificant, 4);
    Append(d, leastSignificant, 4);
    return d;
}

// A minimal 64-bit little-endian ELF file: header, section name table, one
// note section, then the section header table (null, names, notes) at the
// very end, where linkers put it too.
struct CraftedElf {
    std::string sectionName = ".note.scrivlet.version";
    std::vector<CraftedNote> notes{CraftedNote{"Scrivlet", 1, VersionDesc(0x00010002, 0x00030004)}};

    // Filled in by Build().
    std::size_t namesOffset = 0, noteOffset = 0, tableOffset = 0;

    Bytes Build()
    {
        Bytes f(64, 0);
        f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = 2, f[5] = 1, f[6] = 1;
        Put(f, 16, 2, 2);  // executable
        Put(f, 18, 62, 2); // x86-64
        Put(f, 20, 1, 4);
        Put(f, 52, 64, 2);

        namesOffset = f.size();
        const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
        f.insert(f.end(), names.begin(), names.end());
        Pad4(f);

        noteOffset = f.size();
        for (const CraftedNote& n : notes) {
            Append(f, n.owner.size() + 1, 4);
            Append(f, n.desc.size(), 4);
            Append(f, n.type, 4);
            f.insert(f.end(), n.owner.begin(), n.owner.end());
            f.push_back(0);
            Pad4(f);
            f.insert(f.end(), n.desc.begin(), n.desc.end());
            Pad4(f);
        }
        const std::size_t noteSize = f.size() - noteOffset;
        while (f.size() % 8 != 0) f.push_back(0);

        tableOffset = f.size();
        Put(f, 0x28, tableOffset, 8);
        Put(f, 0x3A, 64, 2);
        Put(f, 0x3C, 3, 2);
        Put(f, 0x3E, 1, 2);
        f.resize(f.size() + 3 * 64, 0);
        SetSection(f, 1, 1, 3, namesOffset, names.size());
        SetSection(f, 2, 11, 7, noteOffset, noteSize);
        return f;
    }

    std::size_t Section(int index) const { return tableOffset + 64 * index; }

private:
    void SetSection(Bytes& f, int index, uint32_t name, uint32_t type, uint64_t offset, uint64_t size)
    {
        Put(f, Section(index), name, 4);
        Put(f, Section(index) + 4, type, 4);
        Put(f, Section(index) + 24, offset, 8);
        Put(f, Section(index) + 32, size, 8);
    }
};

class VersionFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "scrivlet-version-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string WriteFile(const Bytes& bytes, const std::string& name = "file")
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string dir_;
};

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(TversionInfo, ProgramWithTheRecordShowsItsVersion)
{
    const TversionInfo version(true);
    EXPECT_TRUE(version.Valid);
    EXPECT_EQ(version.GetVersionText(), "1.1.0.15");
    EXPECT_EQ(version.Major, 1);
    EXPECT_EQ(version.Minor, 1);
    EXPECT_EQ(version.Release, 0);
    EXPECT_EQ(version.Build, 15);
    EXPECT_EQ(std::filesystem::path(version.FileName).filename(), "version_tests");
    // Reading again gives the same.
    EXPECT_EQ(version.GetVersionText(), "1.1.0.15");
}

TEST(TversionInfo, WithoutOwnerThereIsNoFileAndNoVersion)
{
    const TversionInfo version(false);
    EXPECT_EQ(version.FileName, "");
    EXPECT_FALSE(version.Valid);
    EXPECT_EQ(version.GetVersionText(), "-");
}

TEST(TversionInfo, BuiltExecutables)
{
    const struct {
        const char* name;
        const char* path;
        const char* expected;
    } cases[] = {
        {"without a record", PLAIN_PROBE, "-"},
        {"large numbers", LARGE_PROBE, "65535.65534.65533.65532"},
        {"large numbers, stripped", STRIPPED_PROBE, "65535.65534.65533.65532"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TversionInfo version = TversionInfo::FromFile(c.path);
        EXPECT_EQ(version.GetVersionText(), c.expected);
    }
}

TEST(TversionInfo, ClearVersionZeroesEverything)
{
    TversionInfo version = TversionInfo::FromFile(LARGE_PROBE);
    ASSERT_TRUE(version.Valid);
    version.ClearVersion();
    EXPECT_FALSE(version.Valid);
    EXPECT_EQ(version.Major + version.Minor + version.Release + version.Build, 0);
    EXPECT_EQ(version.GetVersionText(), "-");
}

TEST_F(VersionFileTest, CraftedRecordsGiveTheirNumbers)
{
    const struct {
        const char* name;
        uint32_t mostSignificant, leastSignificant;
        const char* expected;
    } cases[] = {
        {"each half in its place", 0x00010002, 0x00030004, "1.2.3.4"},
        {"major 65535", 0xFFFF0000, 0x00000000, "65535.0.0.0"},
        {"minor 65535", 0x0000FFFF, 0x00000000, "0.65535.0.0"},
        {"release 65535", 0x00000000, 0xFFFF0000, "0.0.65535.0"},
        {"build 65535", 0x00000000, 0x0000FFFF, "0.0.0.65535"},
        {"all zero is still a version", 0, 0, "0.0.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CraftedElf elf;
        elf.notes = {CraftedNote{"Scrivlet", 1, VersionDesc(c.mostSignificant, c.leastSignificant)}};
        const TversionInfo version = TversionInfo::FromFile(WriteFile(elf.Build()));
        EXPECT_TRUE(version.Valid);
        EXPECT_EQ(version.GetVersionText(), c.expected);
    }
}

TEST_F(VersionFileTest, FindsTheRecordAmongOtherNotes)
{
    CraftedElf elf;
    elf.notes = {
        CraftedNote{"GNU", 3, Bytes(20, 0xAB)},
        CraftedNote{"Scrivlet", 2, VersionDesc(9, 9)},
        CraftedNote{"Scrivlex", 1, VersionDesc(8, 8)},
        CraftedNote{"Scrivlet", 1, VersionDesc(0x00050006, 0x00070008)},
    };
    EXPECT_EQ(TversionInfo::FromFile(WriteFile(elf.Build())).GetVersionText(), "5.6.7.8");
}

TEST_F(VersionFileTest, ManySectionsNumberingInSectionZero)
{
    CraftedElf elf;
    Bytes f = elf.Build();
    Put(f, 0x3C, 0, 2);      // count lives in section 0's size
    Put(f, 0x3E, 0xFFFF, 2); // name table index in section 0's link
    Put(f, elf.Section(0) + 32, 3, 8);
    Put(f, elf.Section(0) + 40, 1, 4);
    EXPECT_EQ(TversionInfo::FromFile(WriteFile(f)).GetVersionText(), "1.2.3.4");
}

TEST_F(VersionFileTest, DamagedOrForeignFilesHaveNoVersion)
{
    struct Case {
        const char* name;
        std::function<void(CraftedElf&)> craft;
        std::function<void(CraftedElf&, Bytes&)> damage;
    };
    const auto none = [](CraftedElf&) {};
    const auto intact = [](CraftedElf&, Bytes&) {};
    const Case cases[] = {
        {"bad magic", none, [](CraftedElf&, Bytes& f) { f[1] = 'X'; }},
        {"32-bit class", none, [](CraftedElf&, Bytes& f) { f[4] = 1; }},
        {"big-endian", none, [](CraftedElf&, Bytes& f) { f[5] = 2; }},
        {"no section table", none, [](CraftedElf&, Bytes& f) { Put(f, 0x28, 0, 8); }},
        {"section table past the end", none, [](CraftedElf&, Bytes& f) { Put(f, 0x28, f.size(), 8); }},
        {"section table offset wraps", none, [](CraftedElf&, Bytes& f) { Put(f, 0x28, ~uint64_t{0} - 8, 8); }},
        {"too many sections", none, [](CraftedElf&, Bytes& f) { Put(f, 0x3C, 0xFFFE, 2); }},
        {"short section entries", none, [](CraftedElf&, Bytes& f) { Put(f, 0x3A, 40, 2); }},
        {"name table index out of range", none, [](CraftedElf&, Bytes& f) { Put(f, 0x3E, 3, 2); }},
        {"name table past the end", none, [](CraftedElf& e, Bytes& f) { Put(f, e.Section(1) + 24, f.size() + 10, 8); }},
        {"name table size huge", none, [](CraftedElf& e, Bytes& f) { Put(f, e.Section(1) + 32, ~uint64_t{0}, 8); }},
        {"section name offset outside the table", none,
         [](CraftedElf& e, Bytes& f) { Put(f, e.Section(2), 0xFFFFFFF0, 4); }},
        {"other section name", [](CraftedElf& e) { e.sectionName = ".note.other.version"; }, intact},
        {"longer section name", [](CraftedElf& e) { e.sectionName = ".note.scrivlet.versions"; }, intact},
        {"note section without data", none, [](CraftedElf& e, Bytes& f) { Put(f, e.Section(2) + 4, 8, 4); }},
        {"note section past the end", none,
         [](CraftedElf& e, Bytes& f) { Put(f, e.Section(2) + 24, f.size() - 4, 8); }},
        {"note section size huge", none,
         [](CraftedElf& e, Bytes& f) { Put(f, e.Section(2) + 32, ~uint64_t{0} / 2, 8); }},
        {"note section cut before the words", none, [](CraftedElf& e, Bytes& f) { Put(f, e.Section(2) + 32, 24, 8); }},
        {"owner differs", [](CraftedElf& e) { e.notes[0].owner = "Scrivle"; }, intact},
        {"type differs", [](CraftedElf& e) { e.notes[0].type = 2; }, intact},
        {"descriptor too short", [](CraftedElf& e) { e.notes[0].desc.resize(4); }, intact},
        {"no notes", [](CraftedElf& e) { e.notes.clear(); }, intact},
        {"owner size huge", none, [](CraftedElf& e, Bytes& f) { Put(f, e.noteOffset, 0xFFFFFFFF, 4); }},
        {"descriptor size huge", none, [](CraftedElf& e, Bytes& f) { Put(f, e.noteOffset + 4, 0xFFFFFFFF, 4); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CraftedElf elf;
        c.craft(elf);
        Bytes f = elf.Build();
        c.damage(elf, f);
        const TversionInfo version = TversionInfo::FromFile(WriteFile(f));
        EXPECT_FALSE(version.Valid);
        EXPECT_EQ(version.GetVersionText(), "-");
        EXPECT_EQ(version.Major + version.Minor + version.Release + version.Build, 0);
    }
}

TEST_F(VersionFileTest, EveryTruncationOfACraftedFileHasNoVersion)
{
    CraftedElf elf;
    const Bytes whole = elf.Build();
    ASSERT_EQ(TversionInfo::FromFile(WriteFile(whole)).GetVersionText(), "1.2.3.4");
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(TversionInfo::FromFile(WriteFile(cut)).GetVersionText(), "-");
    }
}

TEST_F(VersionFileTest, TruncatedExecutablesAndOtherFilesHaveNoVersion)
{
    const Bytes large = ReadFile(LARGE_PROBE);
    ASSERT_GT(large.size(), 4096u);
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"empty", WriteFile({}, "empty")},
        {"first 4 bytes", WriteFile(Bytes(large.begin(), large.begin() + 4), "four")},
        {"header only", WriteFile(Bytes(large.begin(), large.begin() + 64), "header")},
        {"half", WriteFile(Bytes(large.begin(), large.begin() + large.size() / 2), "half")},
        {"all but the last byte", WriteFile(Bytes(large.begin(), large.end() - 1), "short")},
        {"text file", WriteFile(Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "text")},
        {"garbage", WriteFile(Bytes(4096, 0xA5), "garbage")},
        {"missing file", dir_ + "/missing"},
        {"directory", dir_},
        {"character device", "/dev/zero"},
        {"empty name", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TversionInfo version = TversionInfo::FromFile(c.path);
        EXPECT_FALSE(version.Valid);
        EXPECT_EQ(version.GetVersionText(), "-");
    }
}

} // namespace
