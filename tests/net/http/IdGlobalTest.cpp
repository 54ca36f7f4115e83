#include "net/http/IdGlobal.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using namespace std::string_literals;

TEST(CutToken, CutsAtTheDelimiterAndLeavesTheRest)
{
    struct Case {
        std::string input;
        std::string delimiter;
        bool remove;
        bool caseSensitive;
        std::string result;
        std::string rest;
    } cases[] = {
        {"HTTP/1.1 200 OK", " ", true, true, "HTTP/1.1", "200 OK"},
        {"abc", " ", true, true, "abc", ""},
        {"abc", " ", false, true, "abc", "abc"},
        {"a b", " ", false, true, "a", "a b"},
        {"", " ", true, true, "", ""},
        {" ab", " ", true, true, "", "ab"},
        {"ab ", " ", true, true, "ab", ""},
        {"a::b::c", "::", true, true, "a", "b::c"},
        {"aXbxc", "x", true, true, "aXb", "c"},
        {"aXbxc", "x", true, false, "a", "bxc"},
        {"a\0b\0c"s, "\0"s, true, true, "a", "b\0c"s},
        {"a\0b"s, "\0"s, true, false, "a", "b"},
        // An empty delimiter is never found, so the input is consumed whole.
        {"abc", "", true, true, "abc", ""},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.input + " / " + c.delimiter);
        std::string input = c.input;
        EXPECT_EQ(CutToken(input, c.delimiter, c.remove, c.caseSensitive), c.result);
        EXPECT_EQ(input, c.rest);
    }
}

TEST(FindSubText, ReturnsOneBasedPositionOrZero)
{
    struct Case {
        const char* sub;
        const char* text;
        int position;
    } cases[] = {
        {"a", "abc", 1},
        {"c", "abc", 3},
        {"bc", "abcbc", 2},
        {"x", "abc", 0},
        {"abcd", "abc", 0},
        {"", "abc", 0},
        {"a", "", 0},
        {"B", "abc", 0},
        // Positions count bytes.
        {"\xC3\xA9", "caf\xC3\xA9!", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sub) + " in " + c.text);
        EXPECT_EQ(FindSubText(c.sub, c.text), c.position);
    }
}

TEST(LastPosBefore, SearchesBackwardsFromStartIgnoringCase)
{
    struct Case {
        const char* sub;
        const char* text;
        int start;
        int position;
    } cases[] = {
        {"/", "a/b/c", -1, 4},   {"/", "a/b/c", 3, 2}, {"/", "a/b/c", 2, 2}, // a match at start counts
        {"/", "a/b/c", 1, 0},    {"/", "a/b/c", 0, 0}, {"/", "a/b/c", 99, 4},
        {"AB", "xabyab", -1, 5}, {"ab", "xaby", 4, 2}, // start lowered so the match fits
        {"abc", "ab", -1, 0},    {"/", "", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sub) + " in " + c.text + " from " + std::to_string(c.start));
        EXPECT_EQ(LastPosBefore(c.sub, c.text, c.start), c.position);
    }
}

TEST(IndexInList, FindsTheFirstMatch)
{
    const std::vector<std::string> list = {"a", "B", "b"};
    EXPECT_EQ(IndexInList("b", list, true), 2);
    EXPECT_EQ(IndexInList("b", list, false), 1);
    EXPECT_EQ(IndexInList("A", list, true), -1);
    EXPECT_EQ(IndexInList("A", list, false), 0);
    EXPECT_EQ(IndexInList("z", list, false), -1);
    EXPECT_EQ(IndexInList("", std::vector<std::string>{}, false), -1);

    TStringList strings;
    strings.Add("Basic");
    strings.Add("basic");
    EXPECT_EQ(IndexInList("basic", strings, true), 1);
    EXPECT_EQ(IndexInList("BASIC", strings, false), 0);
    EXPECT_EQ(IndexInList("Digest", strings, false), -1);
}

TEST(ResolvePath, JoinsCollapsesAndClimbs)
{
    struct Case {
        const char* base;
        const char* path;
        const char* result;
    } cases[] = {
        {"/a/b/", "../e.txt", "/a/e.txt"},
        {"/a/b/", "/z/", "/z/"},
        {"/a/b/", "/z", "/z"},
        {"/a/b", "d", "/a/b/d"},
        {"/a//b/", "", "/a/b/"},
        {"/a/b/", "c/", "/a/b/c/"},
        {"/a/b/", "c//", "/a/b/c/"},
        {"/a/b/", "c//d", "/a/b/c/d"},
        {"/a/b/", "..", "/a"},
        {"/a/b/", "../", "/a/"},
        {"/a/b/", "../../c", "/c"},
        // Climbing above the root empties the result and the walk goes on.
        {"/a/b/", "../../../x", "/x"},
        // A single dot stays where it is.
        {"/a/", "./b", "/a/./b"},
        {"/a/b/", "x..y", "/a/b/x..y"},
        {"", "", ""},
        {"/", "", "/"},
        {"//", "", "/"},
        {"", "x/", "x/"},
        {"a", "b", "a/b"},
        {"", "../x", "../x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " + " + c.path);
        EXPECT_EQ(ResolvePath(c.base, c.path), c.result);
    }
    EXPECT_EQ(ResolvePath("C:\\a\\b\\", "..\\c", '\\'), "C:\\a\\c");
}

TEST(ForwardSlashes, TurnsEveryBackslash)
{
    std::string text = "a\\b\\\\c/d";
    ForwardSlashes(text);
    EXPECT_EQ(text, "a/b//c/d");
}

TEST(LooksLikeIPv4, ChecksOnlyTheFirstFourParts)
{
    struct Case {
        const char* text;
        bool result;
    } cases[] = {
        {"1.2.3.4", true},  {"1.2.3.4.5", true},  {"0.0.0.0", true},    {"255.255.255.255", true}, {" 10.0.0.1 ", true},
        {"1.2.3", false},   {"256.1.1.1", false}, {"1.2.3.256", false}, {"1.2.3.-1", false},       {"1..2.3", false},
        {"a.b.c.d", false}, {"1.2.3.4x", false},  {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LooksLikeIPv4(c.text), c.result);
    }
}

TEST(LooksLikeHostName, RejectsLeadingDotsAndAddresses)
{
    struct Case {
        const char* text;
        bool result;
    } cases[] = {
        {"www.example.org", true}, {"localhost", true}, {"a.", true},       {"", true},
        {".example.org", false},   {".", false},        {"1.2.3.4", false}, {"1.2.3.4.5", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LooksLikeHostName(c.text), c.result);
    }
}

TEST(DomainPart, StartsAtTheFirstDot)
{
    EXPECT_EQ(DomainPart("www.example.org"), ".example.org");
    EXPECT_EQ(DomainPart(".org"), ".org");
    EXPECT_EQ(DomainPart("localhost"), "localhost");
    EXPECT_EQ(DomainPart(""), "");
}

TEST(FindInMemory, SearchesOnlyTheGivenBytes)
{
    const std::string memory = "a\0b\r\n\r\nz"s;
    struct Case {
        std::string sub;
        int64_t size;
        int64_t position;
    } cases[] = {
        {"a", 8, 1},        {"\0b"s, 8, 2}, {"\r\n\r\n", 8, 4}, {"\r\n\r\n", 7, 4}, // ends exactly at the limit
        {"\r\n\r\n", 6, 0},                                                         // one byte short
        {"z", 8, 8},        {"z", 7, 0},    {"", 8, 0},         {"abc", 2, 0},      {"q", 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + ": " + c.sub);
        EXPECT_EQ(FindInMemory(c.sub, memory.data(), c.size), c.position);
    }
}

} // namespace
