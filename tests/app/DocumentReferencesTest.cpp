#include "app/DocumentReferences.h"
#include "app/DocumentFind.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using K = TReferenceKind;

// An expected reference by the text it spans; the test finds where, each
// after the previous one.
struct TSpan {
    std::string_view text;
    TReferenceKind kind;
    int rfc;
    std::string section;
};

} // namespace

TEST(FindReferences, FindsRfcsSectionsAndAddressesInRealLines)
{
    struct Case {
        std::string_view line;
        std::vector<TSpan> spans;
    } cases[] = {
        {"   HTTP/1.1 [RFC2616] is a revision of RFC 2068, and RFC-1945.",
         {{"[RFC2616]", K::Rfc, 2616, ""}, {"RFC 2068", K::Rfc, 2068, ""}, {"RFC-1945", K::Rfc, 1945, ""}}},
        {"     This document revises the specifications  in  RFC  #733,  in", {{"RFC  #733", K::Rfc, 733, ""}}},
        {"   This document obsoletes RFC 793, as well as RFCs 879, 2873, 6093,",
         {{"RFC 793", K::Rfc, 793, ""},
          {"RFCs 879", K::Rfc, 879, ""},
          {"2873", K::Rfc, 2873, ""},
          {"6093", K::Rfc, 6093, ""}}},
        {"   This document obsoletes RFC 793 as well as RFCs 6093 and 6528, which",
         {{"RFC 793", K::Rfc, 793, ""}, {"RFCs 6093", K::Rfc, 6093, ""}, {"6528", K::Rfc, 6528, ""}}},
        {"   defined in section 3.6.1, and Section 14.41.  See Appendix B.",
         {{"section 3.6.1", K::Section, 0, "3.6.1"},
          {"Section 14.41", K::Section, 0, "14.41"},
          {"Appendix B", K::Section, 0, "B"}}},
        {"   described in Sections 6.2.2 and 6.2.3, is allowed (see appendix A.1)",
         {{"Sections 6.2.2", K::Section, 0, "6.2.2"},
          {"6.2.3", K::Section, 0, "6.2.3"},
          {"appendix A.1", K::Section, 0, "A.1"}}},
        {"   specified in Section 5.1.2 of [RFC2616] and section 3.1 of RFC 822.",
         {{"Section 5.1.2 of [RFC2616]", K::RfcSection, 2616, "5.1.2"},
          {"section 3.1 of RFC 822", K::RfcSection, 822, "3.1"}}},
        {"   syntax as defined in [RFC2616], Section 2.2 and RFC 7230, Section 4.",
         {{"[RFC2616], Section 2.2", K::RfcSection, 2616, "2.2"}, {"RFC 7230, Section 4", K::RfcSection, 7230, "4"}}},
        {"   content in Sections 1 and 2 of RFC 793.  Other documents",
         {{"Sections 1", K::RfcSection, 793, "1"}, {"2 of RFC 793", K::RfcSection, 793, "2"}}},
        // A section of a document named by a tag only, and words that merely contain the keywords.
        {"   transport protocols can be found in Section 3.1 of [52].  Further", {}},
        {"   RFCS 2616, XRFC 2616, RFC 0, RFC 123456, RFC2616bis, intersection 3, Section x.", {}},
        {"   <http://www.ietf.org/rfc/rfc2616.txt>, (see https://example.com/a_(b)), http://",
         {{"http://www.ietf.org/rfc/rfc2616.txt", K::Url, 0, ""}, {"https://example.com/a_(b)", K::Url, 0, ""}}},
        {"   \"http://a/b/c/g;x?y#s\".  Also https://www.rfc-editor.org/info/rfc9293.",
         {{"http://a/b/c/g;x?y#s", K::Url, 0, ""}, {"https://www.rfc-editor.org/info/rfc9293", K::Url, 0, ""}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<TReference> expected;
        std::size_t from = 0;
        for (const TSpan& span : c.spans) {
            std::size_t at = c.line.find(span.text, from);
            ASSERT_NE(at, std::string_view::npos) << span.text;
            expected.push_back(TReference{at, span.text.size(), span.kind, span.rfc, span.section});
            from = at + span.text.size();
        }
        EXPECT_EQ(FindReferences(c.line), expected);
    }
}

// Lines a hostile document could hold: each is read in one pass, and what
// it holds is still found (a quadratic scan would not finish here).
TEST(FindReferences, HostileLinesStayLinear)
{
    const std::size_t n = 200000;
    struct Case {
        std::string line;
        std::size_t count;
    } cases[] = {
        {"http://a" + std::string(n, ')'), 1},
        {std::string(n, '[') + "RFC1]", 1},
        {"Sections 1" +
             [] {
                 std::string list;
                 for (int k = 0; k < 20000; ++k) list += ", 2";
                 return list;
             }(),
         20001},
        {std::string(n, 'h') + " " + std::string(n, 'R'), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20));
        EXPECT_EQ(FindReferences(c.line).size(), c.count);
    }
}

TEST(FindAll, FindsEveryOccurrenceLineByLine)
{
    const std::vector<std::string_view> lines = {"3.6.1 Chunked Transfer Coding",
                                                 "   The chunked encoding modifies the body",
                                                 "CHUNKED",
                                                 "",
                                                 "aaaa",
                                                 "Grüße GRÜSSE"};
    struct Case {
        std::string_view needle;
        bool matchCase;
        std::vector<TFindMatch> matches;
    } cases[] = {
        {"chunked", false, {{0, 6, 7}, {1, 7, 7}, {2, 0, 7}}},
        {"chunked", true, {{1, 7, 7}}},
        {"CHUNKED TRANSFER", false, {{0, 6, 16}}},
        // Occurrences do not overlap.
        {"aa", false, {{4, 0, 2}, {4, 2, 2}}},
        // Only A-Z fold: "ü" does not find "Ü".
        {"grü", false, {{5, 0, 4}}},
        {"the chunked encoding modifies the body and more", false, {}},
        {"", false, {}},
        {"chunked\n", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.needle);
        EXPECT_EQ(FindAll(lines, c.needle, c.matchCase), c.matches);
    }
}
