#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/ExpectRaises.h"

using namespace std::string_literals;
using testsupport::ExpectRaises;

TEST(StrToInt, AcceptsDecimalAndHexadecimalForms)
{
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"0", 0},
        {"12", 12},
        {" +12", 12},
        {"   -7", -7},
        {"$1F", 31},
        {"0x1f", 31},
        {"0X1F", 31},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$FFFFFFFF", -1},
        {"0x80000000", -2147483647 - 1},
        {"007", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(c.text), c.value);
    }
}

TEST(StrToInt, RejectsEverythingElseWithTheTextInTheMessage)
{
    const char* bad[] = {"",   " ",          "12 ",         "1 2",        "abc", "ten", "+",     "-",   "$",
                         "0x", "2147483648", "-2147483649", "$100000000", "1e3", "\t5", "12abc", "0x1G"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        ExpectRaises<EConvertError>([&] { StrToInt(text); }, std::string("'") + text + "' は整数ではありません");
        EXPECT_EQ(StrToIntDef(text, 42), 42);
    }
}

// A NUL byte in the text (network text can carry one) stays in the message.
TEST(StrToInt, KeepsTheWholeTextInTheMessage)
{
    const std::string texts[] = {"1\0"s, "\0"s, "a\0b\0"s};
    for (const std::string& text : texts) {
        SCOPED_TRACE(testing::PrintToString(text));
        const std::string expected = "'" + text + "' は整数ではありません";
        try {
            StrToInt(text);
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& e) {
            EXPECT_EQ(ExceptionMessage(e), expected);
            EXPECT_EQ(std::string(e.what()), expected.substr(0, expected.find('\0')));
        }
    }
    EXPECT_EQ(ExceptionMessage(std::runtime_error("plain")), "plain");
}

TEST(Format, PadsAndCountsDigitsLikeTheClassicRuntime)
{
    EXPECT_EQ(Format("%4.4d * %s", 822, "T"), "0822 * T");
    EXPECT_EQ(Format("%4.4d", 12345), "12345");
    EXPECT_EQ(Format("%4.4d", -5), "-0005");
    EXPECT_EQ(Format("N%2.2d", 9), "N09");
    EXPECT_EQ(Format("N%2.2d", 100), "N100");
    EXPECT_EQ(Format("%d.%d.%d.%d", 1u, 1u, 0u, 65535u), "1.1.0.65535");
    EXPECT_EQ(Format("[%5s|%-5s]", "ab", "cd"), "[   ab|cd   ]");
    EXPECT_EQ(Format("%.2s", "abcdef"), "ab");
    EXPECT_EQ(Format("%x %X %.4x", 255, 255, 10), "ff FF 000a");
    EXPECT_EQ(Format("%u", -1), "4294967295");
    EXPECT_EQ(Format("100%%"), "100%");
    EXPECT_EQ(Format("%1:s %0:s", "a", "b"), "b a");
    EXPECT_EQ(Format("%*d", 4, 7), "   7");
    EXPECT_EQ(Format("%.3f", 2.5), "2.500");
    EXPECT_EQ(Format("Socket Error # %d\r\n%s", 10061, "Connection refused."),
              "Socket Error # 10061\r\nConnection refused.");
}

TEST(Format, KeepsUserTextOutOfTheCLibrary)
{
    // A URL format is user text: conversions the C library would act on
    // must be rejected, not interpreted.
    const char* bad[] = {"%n", "%p", "%c", "abc%", "%5", "%.d", "%ld", "%hs", "%q"};
    for (const char* fmt : bad) {
        SCOPED_TRACE(fmt);
        ExpectRaises<EConvertError>([&] { Format(fmt, "2223"); },
                                    std::string("書式文字列 '") + fmt + "' は正しくないか引数の型と一致しません");
    }
}

TEST(Format, ReportsTypeMismatchAndMissingArguments)
{
    const std::string url = "http://www.rfc-editor.org/rfc/rfc%d.txt";
    ExpectRaises<EConvertError>([&] { Format(url, std::string("2223")); },
                                "書式文字列 '" + url + "' は正しくないか引数の型と一致しません");
    const std::string two = "x%sy%s";
    ExpectRaises<EConvertError>([&] { Format(two, std::string("1")); }, "書式文字列 'x%sy%s' の引数が見つかりません");
    EXPECT_EQ(Format("no placeholder", std::string("1")), "no placeholder");
}

TEST(CaseHelpers, FoldOnlyAsciiLetters)
{
    EXPECT_TRUE(SameText("2223 : Title", "2223 : TITLE"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_EQ(UpperCase("aé z"), "Aé Z");
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_GT(CompareText("b", "A"), 0);
}
