#include "app/DocumentFetch.h"

#include <gtest/gtest.h>

TEST(TypedNumber, SkipsAnRfcPrefixAndReadsFullWidthDigits)
{
    const struct {
        const char* typed;
        const char* number;
    } rows[] = {
        {"2223 : Instructions", "2223"},
        {"RFC 2616", "2616"},
        {"  Rfc\t 42x", "42"},
        {"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93", "123"}, // full-width 123
        {"1\xEF\xBC\x99", "19"},                         // mixed
        {"-5", ""},
        {"abc", ""},
        {"", ""},
        {"RFC", ""},
        {"\xEF\xBC\x8A", ""}, // a full-width character that is no digit
    };
    for (const auto& row : rows) EXPECT_EQ(TypedNumber(row.typed), row.number) << row.typed;
}

// Every spelling of one number is one document, so one history entry and one URL.
TEST(DocumentNumber, DropsLeadingZerosOfTheTypedNumber)
{
    const struct {
        const char* typed;
        const char* number;
    } rows[] = {
        // The prefixes themselves are TypedNumber's table.
        {"822", "822"}, {"0822", "822"}, {"rfc 00822", "822"}, {"0", "0"}, {"000", "0"}, {"", ""}, {"10", "10"},
    };
    for (const auto& row : rows) EXPECT_EQ(DocumentNumber(row.typed), row.number) << row.typed;
}

TEST(CheckUrlFormat, WantsAConversionForTheNumberWithinTheLimit)
{
    const struct {
        std::string format;
        TUrlProblem problem;
    } rows[] = {
        {"https://h/rfc/rfc%s.txt", TUrlProblem::None},
        {"file:///rfcs/rfc%s.txt", TUrlProblem::None},
        // Another conversion is the formatter's to refuse, with its own message.
        {"https://h/rfc%d.txt", TUrlProblem::None},
        {"https://h/rfc/rfc1928.txt", TUrlProblem::NoNumber},
        {"https://h/rfc%%s.txt", TUrlProblem::NoNumber},
        {"https://h/rfc%", TUrlProblem::NoNumber},
        {"h/rfc%s.txt", TUrlProblem::NoScheme},
        {"https://h/%99999s", TUrlProblem::TooLong},
    };
    for (const auto& row : rows) EXPECT_EQ(CheckUrlFormat(row.format, 5), row.problem) << row.format;
}

TEST(CheckUrl, WantsHttpHttpsOrFileAndAHost)
{
    const struct {
        std::string url;
        TUrlProblem problem;
    } rows[] = {
        {"https://www.example/rfc/rfc%s.txt", TUrlProblem::None},
        {"HTTP://h:8080/x", TUrlProblem::None},
        {"file:///tmp/rfc%s.txt", TUrlProblem::None},
        {"htps://h/rfc%s.txt", TUrlProblem::BadScheme},
        {"File:///tmp/x", TUrlProblem::BadScheme},
        {"www.example/rfc%s.txt", TUrlProblem::NoScheme},
        {"://h/x", TUrlProblem::NoScheme},
        {"http:///x", TUrlProblem::NoHost},
        {"http://user:pw@/x", TUrlProblem::NoHost},
        {"http://h/" + std::string(kMaxUrlBytes - 9, 'a'), TUrlProblem::None},
        {"http://h/" + std::string(kMaxUrlBytes - 8, 'a'), TUrlProblem::TooLong},
    };
    for (const auto& row : rows) EXPECT_EQ(CheckUrl(row.url), row.problem) << row.url.substr(0, 40);
}

TEST(FormattedSizeBound, CountsWidthsWithoutBuilding)
{
    const struct {
        const char* format;
        std::size_t argBytes, bound;
    } rows[] = {
        {"http://h/rfc%s.txt", 4, 20},
        {"a%%b", 4, 3},
        {"%5s", 2, 5},
        {"%-5s", 7, 7},
        {"%0:8s", 2, 8},
        {"%.9s", 2, 9},
        {"%s%s", 3, 6},
        {"%99999s", 4, 99999},
        {"%99999999999999999999s", 1, std::size_t{1} << 40}, // saturates instead of wrapping
    };
    for (const auto& row : rows) EXPECT_EQ(FormattedSizeBound(row.format, row.argBytes), row.bound) << row.format;
}

TEST(UrlParts, PasswordDroppedAndAddressRead)
{
    const struct {
        const char *url, *shown, *host;
        int port;
    } rows[] = {
        {"http://user:secret@h/x:y@z", "http://user@h/x:y@z", "h", 80},
        {"https://:secret@h:8443/x", "https://h:8443/x", "h", 8443},
        {"http://user@h/x", "http://user@h/x", "h", 80},
        {"https://[::1]/x", "https://[::1]/x", "[::1]", 443},
        {"http://a:b@[::1]:81", "http://a@[::1]:81", "[::1]", 81},
        {"file:///tmp/a:b@c", "file:///tmp/a:b@c", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(WithoutPassword(row.url), row.shown);
        const TUrlAddress address = UrlAddress(row.url);
        EXPECT_EQ(address.Host, row.host);
        EXPECT_EQ(address.Port, row.port);
    }
}

TEST(TriedAddress, NamesTheHopThatFailed)
{
    const struct {
        TFetchRoute route;
        bool socksAnswered;
        const char* tried;
    } rows[] = {
        {{"http://h/x", "", 0, "", 0}, false, "h:80"},
        {{"https://h/x", "p", 3128, "", 0}, false, "p:3128"},
        {{"http://h:81/x", "", 0, "s", 1080}, false, "SOCKS s:1080"},
        {{"http://h:81/x", "", 0, "s", 1080}, true, "h:81 (SOCKS s:1080)"},
        {{"http://h/x", "p", 3128, "s", 1080}, true, "p:3128 (SOCKS s:1080)"},
    };
    for (const auto& row : rows) EXPECT_EQ(TriedAddress(row.route, row.socksAnswered), row.tried) << row.tried;
}

TEST(RedirectAllowed, SameHostOrSamePathOverHttps)
{
    const struct {
        const char *from, *to;
        bool allowed;
    } rows[] = {
        {"http://h/rfc/rfc1.txt", "https://h/rfc/rfc1.txt", true},
        {"http://h/rfc/rfc1.txt", "/other/rfc1.txt", true},
        {"http://h/rfc/rfc1.txt", "http://H:8080/other", true},
        {"http://h/rfc/rfc1.txt", "https://www.h/rfc/rfc1.txt", true},
        {"http://h/rfc/rfc1.txt", "http://www.h/rfc/rfc1.txt", false},
        {"http://h/rfc/rfc1.txt", "https://elsewhere/x", false},
        {"http://h/rfc/rfc1.txt", "//elsewhere/x", false},
        {"https://h/rfc/rfc1.txt", "http://h/rfc/rfc1.txt", false},
    };
    for (const auto& row : rows) EXPECT_EQ(RedirectAllowed(row.from, row.to), row.allowed) << row.from << " " << row.to;
}

TEST(DocumentBytes, NulMeansBinaryAndControlCharactersBecomeBlanks)
{
    EXPECT_TRUE(LooksLikeText("plain\ttext\r\n\f"));
    EXPECT_FALSE(LooksLikeText(std::string("\x7f"
                                           "ELF\0",
                                           5)));
    EXPECT_TRUE(LooksLikeText(std::string(8192, 'a') + std::string(1, '\0'))); // only the first 8 KB count
    EXPECT_EQ(WithoutControlCharacters(std::string("a\0b\tc\x7f\xC3\xA9", 8)), "a b c \xC3\xA9");
}
