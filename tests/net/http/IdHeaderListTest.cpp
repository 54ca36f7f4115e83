#include "net/http/IdHeaderList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TIdHeaderList ListOf(const Lines& lines)
{
    TIdHeaderList list;
    for (const std::string& line : lines) list.Add(line);
    return list;
}

Lines LinesOf(const TStringList& list) { return Lines(list.begin(), list.end()); }

TEST(TIdHeaderList, ReadsNamesAndValues)
{
    struct Case {
        Lines lines;
        int index;
        bool caseSensitive;
        bool unfold;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {{"Content-Type: text/html"}, 0, false, true, "CONTENT-TYPE", "text/html"},
        {{"Content-Type: text/html"}, 0, true, true, "Content-Type", "text/html"},
        // A blank before the colon stays in the name.
        {{"Content-Type : x"}, 0, false, true, "CONTENT-TYPE ", "x"},
        // Without a colon the name is empty and the value loses one byte.
        {{"no colon"}, 0, false, true, "", "o colon"},
        {{"A:"}, 0, false, true, "A", ""},
        {{"A:  \t spaced \t "}, 0, false, true, "A", "spaced"},
        // Only the first colon separates.
        {{"Location: http://h:81/"}, 0, false, true, "LOCATION", "http://h:81/"},
        // Continuations with a blank and a tab, joined by single spaces.
        {{"X-A: one  ", "   two", "\tthree\t", "Next: v"}, 0, false, true, "X-A", "one two three"},
        {{"X-A: one  ", "   two", "\tthree\t", "Next: v"}, 0, false, false, "X-A", "one"},
        // An empty line ends the joining.
        {{"A: 1", "", " 2"}, 0, false, true, "A", "1"},
        // Bytes above 127 pass untouched, also through upper-casing.
        {{"X-\xC3\xA9: \xE3\x81\x82"}, 0, false, true, "X-\xC3\xA9", "\xE3\x81\x82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        TIdHeaderList list = ListOf(c.lines);
        list.SetNamesCaseSensitive(c.caseSensitive);
        list.SetUnfoldOnRead(c.unfold);
        EXPECT_EQ(list.NameAt(c.index), c.name);
        EXPECT_EQ(list.ValueAt(c.index), c.value);
    }
    const TIdHeaderList list = ListOf({"A: 1"});
    EXPECT_EQ(list.ValueAt(-1), "");
    EXPECT_EQ(list.ValueAt(1), "");
}

TEST(TIdHeaderList, FindsTheFirstLineOfANameInAnyCase)
{
    TIdHeaderList list = ListOf({"Set-Cookie: a=1", "Content-Type : x", "no colon", "set-cookie: b=2", "Host: h"});
    struct Case {
        const char* name;
        int index;
        const char* value;
        Lines collected;
    };
    const Case cases[] = {
        {"Set-cookie", 0, "a=1", {"a=1", "b=2"}},
        {"HOST", 4, "h", {"h"}},
        {"Content-Type", -1, "", {}},
        {"Content-Type ", 1, "x", {"x"}},
        {"Missing", -1, "", {}},
        // The empty name is the name of a line without a colon.
        {"", 2, "o colon", {"o colon"}},
    };
    for (const bool caseSensitive : {false, true}) {
        list.SetNamesCaseSensitive(caseSensitive);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (caseSensitive ? " (case-sensitive names)" : ""));
            EXPECT_EQ(list.IndexOfHeader(c.name), c.index);
            EXPECT_EQ(list.ValueOf(c.name), c.value);
            TStringList collected;
            collected.Add("kept");
            list.CollectValues(c.name, &collected);
            Lines expected{"kept"};
            expected.insert(expected.end(), c.collected.begin(), c.collected.end());
            EXPECT_EQ(LinesOf(collected), expected);
        }
    }
    list.CollectValues("Host", nullptr);
}

TEST(TIdHeaderList, SetsReplacesAndRemovesHeaders)
{
    struct Case {
        const char* what;
        Lines before;
        bool foldOnWrite;
        const char* name;
        const char* value;
        Lines after;
    };
    const Case cases[] = {
        {"replaces at its place with the caller's spelling",
         {"A: 1", "host: x", "B: 2"},
         true,
         "Host",
         "y",
         {"A: 1", "Host: y", "B: 2"}},
        {"appends a new header", {"A: 1"}, true, "Host", "h", {"A: 1", "Host: h"}},
        {"replaces only the first of duplicates", {"H: 1", "H: 2"}, true, "h", "3", {"h: 3", "H: 2"}},
        {"drops continuations of the replaced line",
         {"Host: x", " cont", "\tmore", "B: 2"},
         true,
         "Host",
         "y",
         {"Host: y", "B: 2"}},
        {"keeps them without folding", {"Host: x", " cont", "B: 2"}, false, "Host", "y", {"Host: y", " cont", "B: 2"}},
        {"removes with continuations", {"Host: x", " cont", "\tmore", "B: 2"}, true, "Host", "", {"B: 2"}},
        {"removes only the line without folding", {"Host: x", " cont"}, false, "Host", "", {" cont"}},
        {"removing an absent header changes nothing", {"A: 1"}, true, "Host", "", {"A: 1"}},
        {"folds a long value in place",
         {"A: 1", "X: old", "B: 2"},
         true,
         "X",
         "aaa bbb ccc ddd eee fff",
         {"A: 1", "X: aaa bbb ccc ddd", " eee fff", "B: 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIdHeaderList list = ListOf(c.before);
        list.SetFoldOnWrite(c.foldOnWrite);
        list.SetFoldWidth(20);
        list.SetValueOf(c.name, c.value);
        EXPECT_EQ(LinesOf(list), c.after);
    }

    TIdHeaderList list;
    list.SetSeparator("=");
    list.SetValueOf("realm", "x");
    EXPECT_EQ(LinesOf(list), Lines{"realm=x"});
    EXPECT_EQ(list.ValueOf("REALM"), "x");
}

TEST(TIdHeaderList, FoldsAtBreakPointsOutsideQuotes)
{
    struct Case {
        int width;
        const char* text;
        Lines pieces;
    };
    const Case cases[] = {
        {10, "a: bbb ccc ddd", {"a: bbb ccc", " ddd"}},
        {78, "a: bbb ccc ddd", {"a: bbb ccc ddd"}},
        // No break inside quotes: the break goes before the quoted stretch.
        {10, "a: \"b c d e f\" g", {"a:", " \"b c d e f\"", " g"}},
        // A comma stays with its line, which must not outgrow the width.
        {10, "a: b,c,d,e,f,g", {"a: b,c,d,", " e,f,g"}},
        // Blanks and commas after a break point are skipped.
        {6, "abc ,  \tdef", {"abc ,", " def"}},
        // Nothing to break at: the line stays long.
        {5, "abcdefghij", {"abcdefghij"}},
        // Only blanks after the last break point: no empty piece.
        {5, "abc d     ", {"abc d"}},
        // A line end already present ends the line.
        {78, "a: x\r\n y", {"a: x", " y"}},
        {6, "ab \xE3\x81\x82\xE3\x81\x84 c", {"ab", " \xE3\x81\x82\xE3\x81\x84", " c"}},
        // A continuation of control bytes alone still continues the header.
        {5, "abcd \x01\x02", {"abcd", " "}},
        {78, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TIdHeaderList list;
        list.SetFoldWidth(c.width);
        EXPECT_EQ(LinesOf(list.FoldText(c.text)), c.pieces);
    }
}

TEST(TIdHeaderList, LongValuesFoldAt78AndNotAt1024)
{
    std::string value;
    while (value.size() < 200) value += "word" + std::to_string(value.size()) + ' ';
    value.pop_back();

    for (const int width : {78, 1024}) {
        SCOPED_TRACE(width);
        TIdHeaderList list(width);
        list.Add("First: 1");
        list.SetValueOf("X-Long", value);
        list.Add("Last: 2");
        if (width == 1024) {
            EXPECT_EQ(LinesOf(list), (Lines{"First: 1", "X-Long: " + value, "Last: 2"}));
            continue;
        }
        ASSERT_GE(list.Count(), 5);
        EXPECT_EQ(list[list.Count() - 1], "Last: 2");
        for (int i = 1; i < list.Count() - 1; ++i) {
            EXPECT_LE(list[i].size(), 78u) << list[i];
            if (i > 1) {
                EXPECT_TRUE(list[i].starts_with(" ") && !list[i].starts_with("  ")) << list[i];
            }
        }
        // Unfolding gives the value back: it has single blanks only.
        EXPECT_EQ(list.ValueOf("x-long"), value);
    }
}

} // namespace
