// Local files in the encodings readers keep them in, made from UTF-8 text by
// iconv at run time.
#include "app/DocumentEncoding.h"

#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// The opening of a Japanese translation, long enough for the detector to judge it.
const std::string kJapanese = "RFC 2616 日本語訳\n\n"
                              "ハイパーテキスト転送プロトコル -- HTTP/1.1\n\n"
                              "1. はじめに\n\n"
                              "   ハイパーテキスト転送プロトコル (HTTP) は、分散型で協調的なハイパーメディア\n"
                              "   情報システムのためのアプリケーションレベルのプロトコルである。HTTP は\n"
                              "   1990 年からワールドワイドウェブで使われている。\n";

// The text in encoding, converted by the system's iconv program.
std::string Converted(const TTempDir& dir, const std::string& text, const std::string& encoding)
{
    const std::string in = dir.File("in.txt"), out = dir.File("out.txt");
    WriteTextFile(in, text);
    const std::string command = "iconv -f UTF-8 -t " + encoding + " " + in + " > " + out;
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
    return ReadTextFile(out);
}

} // namespace

TEST(DecodeLocalText, FindsTheEncodingAndGivesUtf8)
{
    const TTempDir dir;
    const std::string latin = "Gr\xC3\xBC\xC3\x9F"
                              "e aus K\xC3\xB6ln, caf\xC3\xA9 cr\xC3\xA8me.\n";
    struct Case {
        std::string text;
        std::string iconvName; // empty: the text's own UTF-8 bytes
        std::string encoding;
    } cases[] = {
        {kJapanese, "SHIFT_JIS", "Shift_JIS"},
        {kJapanese, "EUC-JP", "EUC-JP"},
        {kJapanese, "ISO-2022-JP", "ISO-2022-JP"},
        {kJapanese, "UTF-16", "UTF-16LE"},
        {kJapanese, "", "UTF-8"},
        {latin, "ISO-8859-1", "ISO-8859-1"},
        {"plain text\n", "", "ASCII"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::string bytes = c.iconvName.empty() ? c.text : Converted(dir, c.text, c.iconvName);
        const TDecodedText decoded = DecodeLocalText(bytes);
        EXPECT_EQ(decoded.Encoding, c.encoding);
        EXPECT_EQ(decoded.Utf8, c.text);
    }
}

// UTF-8 passes through as it came: the mark, and a stray byte the pane shows on its own.
TEST(DecodeLocalText, KeepsUtf8BytesAsTheyAre)
{
    for (const std::string& bytes :
         {std::string("\xEF\xBB\xBFRFC 9293 \xC3\xBC\n"), kJapanese + "\xFF\n", std::string()}) {
        SCOPED_TRACE(bytes);
        const TDecodedText decoded = DecodeLocalText(bytes);
        EXPECT_FALSE(IsNotableEncoding(decoded.Encoding)) << decoded.Encoding;
        EXPECT_EQ(decoded.Utf8, bytes);
    }
}
