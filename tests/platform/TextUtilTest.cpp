#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(TrimBlanks, RemovesEveryByteUpToSpaceAndNothingElse)
{
    struct Case {
        std::string text, both, left, right;
    } cases[] = {
        {"", "", "", ""},
        {" \t\r\n", "", "", ""},
        {"\0\x1F a b \x20"s, "a b", "a b \x20", "\0\x1F a b"s},
        {"x", "x", "x", "x"},
        // DEL and bytes above 127 are not blanks.
        {"\x7F"
         " y \xA0",
         "\x7F y \xA0", "\x7F y \xA0", "\x7F y \xA0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(TrimBlanks(c.text), c.both);
        EXPECT_EQ(TrimLeftBlanks(c.text), c.left);
        EXPECT_EQ(TrimRightBlanks(c.text), c.right);
    }
}

TEST(SplitLines, EachKindOfLineEndEndsOneLine)
{
    struct Case {
        std::string text;
        std::vector<std::string_view> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\n", {"a", "b"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"\n\r", {"", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\0b\fc"s, {"a\0b\fc"sv}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(SplitLines(c.text), c.lines);
    }
}

TEST(Utf8SequenceLength, MeasuresOnlyWholeValidSequences)
{
    struct Case {
        std::string text;
        std::size_t pos, length;
        char32_t codePoint;
    } cases[] = {
        {"a", 0, 1, U'a'},
        {"\0"s, 0, 1, 0},
        {"x\xC3\xA9", 1, 2, U'\u00E9'},
        {"\xE3\x81\x82", 0, 3, U'\u3042'},
        {"\xF0\x9F\x98\x80", 0, 4, U'\U0001F600'},
        {"\xF4\x8F\xBF\xBF", 0, 4, U'\U0010FFFF'},
        {"\xEF\xBB\xBF", 0, 3, U'\uFEFF'},
        {"\xC3\xA9", 1, 0, 0},         // continuation byte
        {"\xC0\x80", 0, 0, 0},         // overlong NUL
        {"\xE0\x9F\xBF", 0, 0, 0},     // overlong three-byte form
        {"\xED\xA0\x80", 0, 0, 0},     // surrogate
        {"\xF4\x90\x80\x80", 0, 0, 0}, // past U+10FFFF
        {"\xE3\x81", 0, 0, 0},         // cut off by the end
        {"\xE3\x41\x82", 0, 0, 0},     // broken by an ASCII byte
        {"\xFF", 0, 0, 0},
        {"a", 1, 0, 0}, // past the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " at " + std::to_string(c.pos));
        char32_t cp = 0;
        EXPECT_EQ(Utf8SequenceLength(c.text, c.pos, cp), c.length);
        EXPECT_EQ(Utf8SequenceLength(c.text, c.pos), c.length);
        if (c.length != 0) {
            EXPECT_EQ(cp, c.codePoint);
        }
    }
}

} // namespace
