#include "app/DocumentOutline.h"

#include "platform/TextUtil.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kRfcDir = SCRIVLET_RFC_DIR;

} // namespace

void PrintTo(const THeading& h, std::ostream* out)
{
    *out << h.Level << " '" << h.Number << "' '" << h.Title << "' @" << h.Line;
}

TEST(DocumentOutline, FindsHeadingsAndSkipsWhatOnlyLooksLikeThem)
{
    struct Case {
        const char* what;
        std::vector<std::string_view> lines;
        std::vector<THeading> headings;
    } cases[] = {
        {"new style, deep, appendix",
         {"", "1.  Purpose and Scope", "", "3.10.7.4.  Other States", "", "Appendix A.  Other Implementation Notes", "",
          "A.1.1.  Precedence", ""},
         {{1, "1", "Purpose and Scope", 1},
          {4, "3.10.7.4", "Other States", 3},
          {1, "A", "Other Implementation Notes", 5},
          {3, "A.1.1", "Precedence", 7}}},
        {"old styles: no period, capitals, letter appendix without period",
         {"", "2.1 Basic Rules", "", "1.  ABSTRACT", "", "C.1  Conversion to Canonical Form", "", "APPENDIX B", ""},
         {{2, "2.1", "Basic Rules", 1},
          {1, "1", "ABSTRACT", 3},
          {2, "C.1", "Conversion to Canonical Form", 5},
          {1, "B", "", 7}}},
        {"a title ending in a version number is not a contents line",
         {"", "19.6.1 Changes from HTTP/1.0", ""},
         {{3, "19.6.1", "Changes from HTTP/1.0", 1}}},
        {"consecutive headings, then a title wrapped onto an indented line",
         {"", "1.  Introduction", "1.1.  SCOPE", "",
          "3.9.1.9.  Set Differentiated Services Field (IPv4 TOS or IPv6 Traffic", "          Class)", ""},
         {{1, "1", "Introduction", 1},
          {2, "1.1", "SCOPE", 2},
          {4, "3.9.1.9", "Set Differentiated Services Field (IPv4 TOS or IPv6 Traffic Class)", 4}}},
        {"unnumbered: top-level matter, and a subheading inside a section",
         {"", "Status of This Memo", "", "6.  Replies", "", "CONNECT", "", "Authors' Addresses", ""},
         {{1, "", "Status of This Memo", 1},
          {1, "6", "Replies", 3},
          {2, "", "CONNECT", 5},
          {1, "", "Authors' Addresses", 7}}},
        {"the document's own contents",
         {"", "1.1    Purpose......................................................7", "", "1.1  Purpose    7", "",
          "2.  NOTATIONAL CONVENTIONS .................................    3", "",
          "PREFACE ....................................................   ii", ""},
         {}},
        {"page footer and header around a form feed",
         {"", "Fielding, et al.            Standards Track                    [Page 12]", "\f",
          "RFC 2616                        HTTP/1.1                       June 1999", "", "", "Index", ""},
         {{1, "", "Index", 6}}},
        {"an indented old page: its running header is not a heading, its sections are",
         {"     RFC #  822", "     Text.", "\f", "", " ", "     Standard for ARPA Internet Text Messages", "", "",
          "     4.3.2.  RECEIVED", ""},
         {{3, "4.3.2", "RECEIVED", 8}}},
        {"numbered items of body text",
         {"", "1. The client sends a request and waits for the whole of the",
          "   response before it sends the next one.", "", "The time is given as local time, with a",
          "12 hours earlier than the time zone.", "", "   1.  Indented item", "", "1. Send the request.",
          "2. Wait for the response;", ""},
         {}},
        {"code and labels at column 0",
         {"", "#define HASHLEN 16", "", "typedef char HASH[HASHLEN];", "", "File \"digcalc.c\":", "", "Note:", "",
          "IESG Note:", "", "Figure 1", ""},
         {}},
        {"the header block, behind a byte-order mark",
         {"\xEF\xBB\xBF", "", "Internet Engineering Task Force (IETF)", "Abstract", "", "Abstract", ""},
         {{1, "", "Abstract", 5}}},
        {"an old page: centred headings, a header of three lines and one of two, a footer of two",
         {"",
          "                            1.  INTRODUCTION",
          "",
          "  The Transmission Control Protocol is intended for use as a highly",
          "",
          "1.1.  Motivation",
          "",
          "  Text.",
          "",
          "Postel",
          "                                                                [Page 1]",
          "\f",
          "                                                          September 1981",
          "Transmission Control Protocol",
          "Introduction",
          "",
          "1.2.  Scope",
          "",
          "                              2.  PHILOSOPHY",
          "",
          "  Text.",
          "",
          "\f",
          "RFC 793",
          "Transmission Control Protocol",
          "",
          "                                GLOSSARY",
          "",
          "  Text.",
          "",
          "                                Postmaster",
          ""},
         {{1, "1", "INTRODUCTION", 1},
          {2, "1.1", "Motivation", 5},
          {2, "1.2", "Scope", 16},
          {1, "2", "PHILOSOPHY", 18},
          {2, "", "GLOSSARY", 26}}},
        {"headings indented throughout, numbered items below them",
         {"Network Working Group", "Request for Comments: 959", "", "   1.  INTRODUCTION", "", "      Text.", "",
          "   1.1.  Scope", "", "      1. Send the request.", "", "   2.  TERMS", "", "      2. Wait", ""},
         {{1, "1", "INTRODUCTION", 3}, {2, "1.1", "Scope", 7}, {1, "2", "TERMS", 11}}},
        {"Roman appendices",
         {"", "APPENDIX I - PAGE STRUCTURE", "", "   Text.", "", "APPENDIX II -  DIRECTORY COMMANDS", "",
          "Appendix III.  RFCs on FTP", ""},
         {{1, "I", "PAGE STRUCTURE", 1}, {1, "II", "DIRECTORY COMMANDS", 5}, {1, "III", "RFCs on FTP", 7}}},
        {"the table of contents vouches for a title that reads like a sentence, and is no outline itself",
         {"Table of Contents", "", "   1.  Introduction ....... 2", "   2.  Send the request. ..... 3", "",
          "1.  Introduction", "", "Text.", "", "2.  Send the Request.", "", "3. Wait;", ""},
         {{1, "", "Table of Contents", 0}, {1, "1", "Introduction", 5}, {1, "2", "Send the Request.", 9}}},
        {"a table of contents without leaders or page numbers",
         {"Contents", "", "1. Scope", "2. Terms", "", "1. Scope", "", "2. Terms", ""},
         {{1, "", "Contents", 0}, {1, "1", "Scope", 5}, {1, "2", "Terms", 7}}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DocumentOutline(c.lines), c.headings);
    }
}

// The headings listed by reading each file (level, number, title per line in
// tests/data/outline), compared whole, each at a line that holds its title.
TEST(DocumentOutline, MatchesTheHeadingsListedForRealRfcs)
{
    for (const char* name : {"rfc822", "rfc1928", "rfc2109", "rfc6265", "rfc9293"}) {
        SCOPED_TRACE(name);
        const std::string path = kRfcDir + "/" + name + ".txt";
        if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not present";
        const std::string text = ReadTextFile(path);
        const std::vector<std::string_view> lines = SplitLines(text);

        std::vector<THeading> expected;
        std::istringstream listed(ReadTextFile(std::string(SCRIVLET_TEST_DATA_DIR) + "/outline/" + name + ".headings"));
        for (std::string row; std::getline(listed, row);) {
            std::istringstream fields(row);
            THeading heading;
            std::string level;
            std::getline(fields, level, '\t');
            std::getline(fields, heading.Number, '\t');
            std::getline(fields, heading.Title);
            heading.Level = std::stoi(level);
            expected.push_back(heading);
        }
        ASSERT_FALSE(expected.empty());

        std::vector<THeading> found = DocumentOutline(lines);
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t k = 0; k < found.size(); ++k) {
            SCOPED_TRACE(expected[k].Number + " " + expected[k].Title);
            EXPECT_EQ(found[k].Level, expected[k].Level);
            EXPECT_EQ(found[k].Number, expected[k].Number);
            EXPECT_EQ(found[k].Title, expected[k].Title);
            ASSERT_LT(found[k].Line, int(lines.size()));
            EXPECT_NE(lines[found[k].Line].find(expected[k].Title.substr(0, 12)), std::string_view::npos);
        }
    }
}

namespace {

// "3.2" -> {"3", "2"}.
std::vector<std::string> Parts(const std::string& number)
{
    std::vector<std::string> parts;
    std::istringstream in(number);
    for (std::string part; std::getline(in, part, '.');) parts.push_back(part);
    return parts;
}

std::string Successor(const std::string& part)
{
    if (part[0] >= 'A' && part[0] <= 'Z') return std::string(1, char(part[0] + 1));
    return std::to_string(std::stoi(part) + 1);
}

// A section number can follow another as its first subsection (RFC 2616
// skips from 13 to 13.1.1), its next sibling, or the next sibling of an
// enclosing section; the appendices start again at A.
bool CanFollow(const std::string& previous, const std::string& next)
{
    std::vector<std::string> p = Parts(previous), n = Parts(next);
    if (previous.empty()) return next == "1" || next == "A";
    if (next == "A") return true;
    if (n.size() > p.size() && std::equal(p.begin(), p.end(), n.begin()))
        return std::all_of(n.begin() + std::ptrdiff_t(p.size()), n.end(),
                           [](const std::string& x) { return x == "1"; });
    if (n.size() > p.size()) return false;
    return std::equal(n.begin(), n.end() - 1, p.begin()) && n.back() == Successor(p[n.size() - 1]);
}

} // namespace

// Every shared RFC: the numbered headings form one unbroken sequence (a
// numbered list item or a contents line taken for a heading breaks it).
TEST(DocumentOutline, EveryRealRfcGivesAnUnbrokenSequence)
{
    if (!std::filesystem::exists(kRfcDir)) GTEST_SKIP() << kRfcDir << " is not present";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kRfcDir)) {
        if (entry.path().extension() != ".txt") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const std::string text = ReadTextFile(entry.path().string());
        const std::vector<std::string_view> lines = SplitLines(text);
        std::string previous;
        int numbered = 0;
        for (const THeading& heading : DocumentOutline(lines)) {
            if (heading.Number.empty()) continue;
            EXPECT_TRUE(CanFollow(previous, heading.Number)) << previous << " -> " << heading.Number;
            previous = heading.Number;
            ++numbered;
        }
        EXPECT_GT(numbered, 3);
    }
    EXPECT_GE(files, 4);
}
