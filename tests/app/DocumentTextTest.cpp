#include "app/DocumentText.h"

#include "print/PrintLayout.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TStringLines Lines(std::vector<std::string> lines) { return TStringLines(std::move(lines)); }

} // namespace

TEST(ExtractTitle, TakesTheFirstLineAfterTheGapBelowTheHeader)
{
    struct Case {
        std::vector<std::string> lines;
        const char* title;
    } cases[] = {
        {{"", "Network Working Group", "Request for Comments: 2223", "", "", "   T   ", ""}, "T"},
        {{"Header", "", "\t Title with tab \t"}, "Title with tab"},
        // A title line of blanks only gives the empty title.
        {{"Header", "", "     "}, ""},
        // A single block with no gap after it, an empty text, only empty lines.
        {{"one", "paragraph"}, ""},
        {{}, ""},
        {{"", "", ""}, ""},
        {{"Header", "", ""}, ""},
        // A line of one blank is not empty: it belongs to the header block.
        {{"RFC #  822", " ", "", "STANDARD"}, "STANDARD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(ExtractTitle(Lines(c.lines)), c.title);
    }
}

TEST(ExtractNumber, ReadsTheDigitsAfterTheMarkerTolerantly)
{
    struct Case {
        std::vector<std::string> lines;
        int number;
    } cases[] = {
        {{"x", "Request for Comments: 2223"}, 2223},
        // The usual two-column header: blanks, number, blanks, an author.
        {{"Request for Comments: 2616                                  UC Irvine"}, 2616},
        {{"Request for Comments:   791"}, 791},
        {{"Request for Comments:12345 x"}, 12345},
        // No marker, a marker in lower case or indented, a marker without digits.
        {{"RFC #  822"}, 0},
        {{"request for comments: 2223"}, 0},
        {{" Request for Comments: 2223"}, 0},
        {{"Request for Comments:"}, 0},
        {{"Request for Comments: none"}, 0},
        {{"Request for Comment: 12"}, 0},
        // Only the first marker line counts.
        {{"Request for Comments: abc", "Request for Comments: 5"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        EXPECT_EQ(ExtractNumber(Lines(c.lines)), c.number);
    }
}

TEST(FileLines, EachKindOfLineEndEndsOneLine)
{
    struct {
        std::string text;
        std::vector<std::string> lines;
    } const cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n\r\nb", {"a", "", "b"}},
        {"a\r\r\n", {"a", ""}},
        {"\r\n", {""}},
        {"\n\n", {"", ""}},
        {"a\fb\r\n\fc", {"a\fb", "\fc"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(FileLines(c.text), c.lines);
    }
}

TEST(LocalFilePath, DropsTheFirstEightCharactersWhateverTheyAre)
{
    const std::string deep = "/" + std::string(300, 'd') + "/x.txt";
    const struct {
        std::string url, path;
    } cases[] = {
        // The history stores "file:///" followed by the whole path.
        {"file:////tmp/a.txt", "/tmp/a.txt"},
        {"FILE:////tmp/a.txt", "/tmp/a.txt"},
        {"file:///a.txt", "a.txt"},
        {"file:///", ""},
        {"file", ""},
        {"file:///" + deep, deep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 40));
        EXPECT_EQ(LocalFilePath(c.url), c.path);
    }
}

TEST(Utf16Column, CountsThePaneCharactersBeforeAByteOffset)
{
    struct Case {
        std::string_view line;
        std::size_t offset;
        std::size_t column;
    } cases[] = {
        {"RFC 2616", 4, 4},
        {"Gr\xC3\xBC\xC3\x9F"
         "e x",
         7, 5},
        // Above U+FFFF: a surrogate pair. Inside a sequence: the sequence counts.
        {"\xF0\x9F\x98\x80!", 4, 2},
        {"\xC3\xBC!", 1, 1},
        // A byte that is not UTF-8 is one character; offsets past the end stop at the end.
        {"\xFF\xFEx", 2, 2},
        {"ab", 9, 2},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(Utf16Column(c.line, c.offset), c.column);
    }
}
