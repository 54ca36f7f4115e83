// Which RFC a header or a URL names: the usual header, the old forms of the first RFCs, and the URL format.

#include <gtest/gtest.h>

#include "library/RfcHeader.h"
#include "tests/library/LibraryTestSupport.h"

TEST(RfcHeader, ReadsTheUsualAndTheOldHeaders)
{
    struct TCase {
        const char* text;
        int expected;
    } cases[] = {
        {"Network Working Group                                      R. Fielding\n"
         "Request for Comments: 2616                                   UC Irvine\n",
         2616},
        {"\n \n     RFC #  822\n\n     Obsoletes:  RFC #733  (NIC #41952)\n", 822},
        {"                                                               RFC:  793\n", 793},
        {"RFC 791\n", 791},
        {"RFC# 345                                              NIC# 10740\n", 345},
        {"RFC:  791\r\nRequest for Comments: 9999\r\n", 9999},
        {"     Obsoletes:  RFC #733  (NIC #41952)\n     NIC: 41952\n", 0},
        {"RFC822 defines the format\nRFC 2119 keywords are used here\n", 0},
        {"Request for Comments: \n", 0},
        {"Request for Comments: 99999999999\n", 0},
        {"", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HeaderRfcNumber(c.text), c.expected);
    }
}

TEST(RfcHeader, EveryRealRfcNamesItselfInItsHeader)
{
    if (!SharedFilesPresent()) GTEST_SKIP() << "no shared folder";
    for (const auto& entry : std::filesystem::directory_iterator(SCRIVLET_RFC_DIR)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("rfc") || !name.ends_with(".txt")) continue;
        SCOPED_TRACE(name);
        EXPECT_EQ(HeaderRfcNumber(ReadTextFile(entry.path().string())), std::stoi(name.substr(3)));
    }
}

TEST(RfcHeader, NumberInTheUrlFormatsHole)
{
    struct TCase {
        const char* format;
        const char* url;
        int expected;
    } cases[] = {
        {"http://h/rfc%s.txt", "http://h/rfc822.txt", 822},   {"http://h/rfc/rfc%s", "http://h/rfc/rfc9293", 9293},
        {"http://h/rfc%s.txt", "http://h/rfc.txt", 0},        {"http://h/rfc%s.txt", "http://h/rfc82a.txt", 0},
        {"http://h/rfc%s.txt", "http://other/rfc822.txt", 0}, {"http://h/%s/%s.txt", "http://h/1/1.txt", 0},
        {"http://h/fixed.txt", "http://h/fixed.txt", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(NumberFromUrl(c.format, c.url), c.expected);
    }
}
