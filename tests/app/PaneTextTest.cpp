#include "app/PaneText.h"
#include "app/TextPane.h"

#include <QString>
#include <gtest/gtest.h>

TEST(DocumentBytes, KeepEveryByteAndDropOnlyALeadingMark)
{
    // Valid UTF-8 shows as text; a stray byte is one character of its own.
    QString text = FileTextToPaneText("G\xC3\xBC"
                                      "d \xFF\xE3\x81\x82 \xC3");
    ASSERT_EQ(text.size(), 8);
    EXPECT_EQ(text[1], QChar(0xFC));
    EXPECT_EQ(text[4], QChar(0xFF));
    EXPECT_EQ(text[5], QChar(0x3042));
    EXPECT_EQ(text[7], QChar(0xC3)); // truncated sequence at the end
    // Overlong forms and encoded surrogates are not characters.
    EXPECT_EQ(FileTextToPaneText("\xC0\xAF").size(), 2);
    EXPECT_EQ(FileTextToPaneText("\xED\xA0\x80").size(), 3);
    EXPECT_EQ(FileTextToPaneText("\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    // The byte-order mark is dropped at the start only.
    EXPECT_EQ(FileTextToPaneText("\xEF\xBB\xBFTitle"), QStringLiteral("Title"));
    EXPECT_EQ(FileTextToPaneText("a\xEF\xBB\xBF").size(), 2);
}

TEST(DocumentBytes, EveryLineEndIsOneLineBreakAndALastOneStaysOnlyWhereTheFileHasOne)
{
    const struct {
        const char* bytes;
        QString text;
    } rows[] = {
        {"a\nb\n\nc\f d\n", "a\nb\n\nc\f d\n"},
        {"a\rb\r\rc\f d\r", "a\nb\n\nc\f d\n"},
        {"a\r\nb\r\n\r\nc\f d\r\n", "a\nb\n\nc\f d\n"},
        {"a\r\nb\r\n\rc\f d\n", "a\nb\n\nc\f d\n"},
        {"a", "a"},
        {"a\r\r\n", "a\n\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(FileTextToPaneText(row.bytes), row.text);
    }
}

// The reading aids read a document's bytes in place only when the pane's text is exactly those bytes.
TEST(IsUtf8Of, OnlyTheSameTextByteForByte)
{
    const struct {
        const char* bytes;
        QString text;
        bool same;
    } rows[] = {
        {"RFC 2616\n\fpage\n", "RFC 2616\n\fpage\n", true},
        {"G\xC3\xBC\xF0\x9F\x98\x80", QString::fromUtf8("G\xC3\xBC\xF0\x9F\x98\x80"), true},
        {"RFC 2616\n", "RFC 2616", false}, // the text ends first
        {"RFC 2616", "RFC 2616\n", false}, // the bytes end first
        {"RFC 2617", "RFC 2616", false},
        {"\xEF\xBB\xBF"
         "a",
         "a", false},                                   // the pane drops a leading mark
        {"a\xFF", QString::fromLatin1("a\xFF"), false}, // a stray byte is a character whose UTF-8 is two bytes
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(IsUtf8Of(row.text, row.bytes), row.same);
    }
}

// Edits kept in UTF-8 come back as the reader left them, a mark at the start and a separator's symbol included.
TEST(PaneTextFromUtf8, GivesBackWhatUtf8OfTook)
{
    for (const QString& text :
         {QString(), QStringLiteral("\uFEFFnote\n\u2424 x\n"), QStringLiteral("G\u00FC \U0001F600")}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(PaneTextFromUtf8(Utf8Of(text)), text);
    }
}
