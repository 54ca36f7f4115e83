#include "app/DocumentText.h"

#include "print/PrintLayout.h"

#include <QString>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TStringLines Lines(std::vector<std::string> lines)
{
    return TStringLines(std::move(lines));
}

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

TEST(DocumentBytes, KeepEveryByteAndDropOnlyALeadingMark)
{
    // Valid UTF-8 shows as text; a stray byte is one character of its own.
    QString text = DecodeDocumentBytes("G\xC3\xBC" "d \xFF\xE3\x81\x82 \xC3");
    ASSERT_EQ(text.size(), 8);
    EXPECT_EQ(text[1], QChar(0xFC));
    EXPECT_EQ(text[4], QChar(0xFF));
    EXPECT_EQ(text[5], QChar(0x3042));
    EXPECT_EQ(text[7], QChar(0xC3)); // truncated sequence at the end
    // Overlong forms and encoded surrogates are not characters.
    EXPECT_EQ(DecodeDocumentBytes("\xC0\xAF").size(), 2);
    EXPECT_EQ(DecodeDocumentBytes("\xED\xA0\x80").size(), 3);
    EXPECT_EQ(DecodeDocumentBytes("\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    // The byte-order mark is dropped at the start only.
    EXPECT_EQ(DecodeDocumentBytes("\xEF\xBB\xBFTitle"), QStringLiteral("Title"));
    EXPECT_EQ(DecodeDocumentBytes("a\xEF\xBB\xBF").size(), 2);
}

TEST(DocumentBytes, EveryLineEndStyleGivesTheSameText)
{
    const QString expected = QStringLiteral("a\nb\n\nc\f d\n");
    for (const char* bytes : {"a\nb\n\nc\f d\n", "a\rb\r\rc\f d\r", "a\r\nb\r\n\r\nc\f d\r\n", "a\r\nb\r\n\rc\f d\n"}) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(FileTextToPaneText(bytes), expected);
    }
}
