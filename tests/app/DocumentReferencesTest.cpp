#include "app/DocumentReferences.h"
#include "app/DocumentFind.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

void PrintTo(const TReference& r, std::ostream* out)
{
    *out << r.Offset << "+" << r.Length << " kind " << int(r.Kind) << " rfc " << r.Rfc << " '" << r.Section << "' '"
         << r.Tag << "' entry " << r.EntryLine;
}
void PrintTo(const TDocumentLink& l, std::ostream* out)
{
    *out << "line " << l.Line << ": ";
    PrintTo(l.Reference, out);
}

namespace {

using K = TReferenceKind;

// An expected reference by the text it spans; the test finds where, each
// after the previous one.
struct TSpan {
    std::string_view text;
    TReferenceKind kind;
    int rfc;
    std::string section;
    std::string tag = "";
};

// The references of spans found one after the other in line.
std::vector<TReference> Expected(std::string_view line, const std::vector<TSpan>& spans)
{
    std::vector<TReference> expected;
    std::size_t from = 0;
    for (const TSpan& span : spans) {
        std::size_t at = line.find(span.text, from);
        EXPECT_NE(at, std::string_view::npos) << span.text;
        if (at == std::string_view::npos) break;
        expected.push_back(TReference{at, span.text.size(), span.kind, span.rfc, span.section, span.tag, -1});
        from = at + span.text.size();
    }
    return expected;
}

} // namespace

TEST(FindReferences, FindsRfcsSectionsAndAddressesInRealLines)
{
    struct Case {
        std::string_view line;
        std::vector<TSpan> spans;
    } cases[] = {
        {"   HTTP/1.1 [RFC2616] is a revision of RFC 2068, and RFC-1945.",
         {{"[RFC2616]", K::Citation, 2616, "", "RFC2616"},
          {"RFC 2068", K::Rfc, 2068, ""},
          {"RFC-1945", K::Rfc, 1945, ""}}},
        {"   as in [33] and [HTTP], [I-D.ietf-tls]; not a[1], [ x ], [-], [Page 4]",
         {{"[33]", K::Citation, 0, "", "33"},
          {"[HTTP]", K::Citation, 0, "", "HTTP"},
          {"[I-D.ietf-tls]", K::Citation, 0, "", "I-D.ietf-tls"}}},
        {"   placeholders such as Section X.Y and Appendix N.M; RFC 740 Appendix C and RFC 822, section 5.",
         {{"RFC 740 Appendix C", K::RfcSection, 740, "C"}, {"RFC 822, section 5", K::RfcSection, 822, "5"}}},
        {"Obsoletes: 2068, 2069 and 2070                            R. Fielding 1234",
         {{"2068", K::Rfc, 2068, ""}, {"2069", K::Rfc, 2069, ""}, {"2070", K::Rfc, 2070, ""}}},
        {"Updates: 1738                                     T. Berners-Lee", {{"1738", K::Rfc, 1738, ""}}},
        {"     Obsoletes:  RFC #733  (NIC #41952)", {{"RFC #733", K::Rfc, 733, ""}}},
        {"   Updates to 2068 are not a header line.", {}},
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
        {"   as given in Section 5.1.2 of [RFC2616] and section 3.1 of RFC 822.",
         {{"Section 5.1.2 of [RFC2616]", K::RfcSection, 2616, "5.1.2"},
          {"section 3.1 of RFC 822", K::RfcSection, 822, "3.1"}}},
        {"   syntax as defined in [RFC2616], Section 2.2 and RFC 7230, Section 4.",
         {{"[RFC2616], Section 2.2", K::RfcSection, 2616, "2.2"}, {"RFC 7230, Section 4", K::RfcSection, 7230, "4"}}},
        {"   content in Sections 1 and 2 of RFC 793.  Other documents",
         {{"Sections 1", K::RfcSection, 793, "1"}, {"2 of RFC 793", K::RfcSection, 793, "2"}}},
        // A section of a document named by a tag only is no link (its citation is), nor are words that merely
        // contain the keywords.
        {"   transport protocols can be found in Section 3.1 of [52].  Further", {{"[52]", K::Citation, 0, "", "52"}}},
        {"   RFCS 2616, XRFC 2616, RFC 0, RFC 123456, RFC2616bis, intersection 3, Section x.", {}},
        {"   <http://www.ietf.org/rfc/rfc2616.txt>, (see https://example.com/a_(b)), http://",
         {{"http://www.ietf.org/rfc/rfc2616.txt", K::Url, 0, ""}, {"https://example.com/a_(b)", K::Url, 0, ""}}},
        {"   \"http://a/b/c/g;x?y#s\".  Also https://www.rfc-editor.org/info/rfc9293.",
         {{"http://a/b/c/g;x?y#s", K::Url, 0, ""}, {"https://www.rfc-editor.org/info/rfc9293", K::Url, 0, ""}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(FindReferences(c.line), Expected(c.line, c.spans));
    }
}

// A document's links: its table of contents, citations resolved to their
// entries (or to the RFC they name), its header numbers, and no link to
// itself in the running header.
TEST(DocumentLinks, ResolvesContentsLinesAndCitations)
{
    const std::vector<std::string_view> lines = {
        "Request for Comments: 9999",
        "Obsoletes: 2068",
        "",
        "Table of Contents",
        "",
        "   1.  Introduction ....... 2",
        "   2.  References ......... 3",
        "",
        "1.  Introduction",
        "",
        "   As [RFC2119] and [33] say, and [RFC7230] and [Other].",
        "\f",
        "RFC 9999      Test      May 2024",
        "",
        "2.  References",
        "",
        "   [RFC2119]  Bradner, S., \"Key words\", RFC 2119, March 1997.",
        "   [33]       Postel, J., \"Sample\".",
    };
    struct TRow {
        int line;
        TSpan span;
        int entry = -1;
    } rows[] = {
        {1, {"2068", K::Rfc, 2068, ""}},
        {5, {"1.  Introduction ....... 2", K::Section, 0, "1"}},
        {6, {"2.  References ......... 3", K::Section, 0, "2"}},
        {10, {"[RFC2119]", K::Citation, 2119, "", "RFC2119"}, 16},
        {10, {"[33]", K::Citation, 0, "", "33"}, 17},
        {10, {"[RFC7230]", K::Rfc, 7230, ""}},
        {16, {"[RFC2119]", K::Rfc, 2119, ""}},
        {16, {"RFC 2119", K::Rfc, 2119, ""}},
    };
    std::vector<TDocumentLink> expected;
    for (const TRow& row : rows) {
        TReference r = Expected(lines[size_t(row.line)], {row.span}).at(0);
        r.EntryLine = row.entry;
        expected.push_back({row.line, r});
    }
    EXPECT_EQ(DocumentLinks(lines, DocumentLayout(lines).Contents, 9999), expected);
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
