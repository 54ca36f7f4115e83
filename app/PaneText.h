// Turning document bytes into the pane's text. The only part of document
// handling that needs the toolkit's string; the rest is in DocumentText.h.
#pragma once

#include <QString>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A document's bytes for the pane: every valid UTF-8 sequence becomes its
// character and every other byte becomes one character of its own (the
// Latin-1 character of that value), so no byte is lost or merged; a leading
// UTF-8 byte-order mark is an encoding mark and is dropped. CR LF, a lone CR
// and a lone LF each become one line break ("\n").
// Example: "a\r\nb\rc\nd" -> "a\nb\nc\nd".
QString FileTextToPaneText(std::string_view bytes);

// The pane's own text as Utf8Of gave it, back as it was: unlike a file, a
// leading U+FEFF is text the reader put there and stays.
QString PaneTextFromUtf8(std::string_view utf8);

class TTextPane;

// The pane's source lines as UTF-8, for the plain document functions (outline,
// references, find): one buffer, and a view of each line into it. Every
// character of the pane becomes a valid UTF-8 sequence, so a byte offset maps
// back to a pane column through Utf16Column. The views point into the object's
// own buffer, or into a shared one it holds, so it is read in place and never
// copied or moved: a short text lives inside the string object itself, and a
// moved string would leave the views pointing at the old object.
struct TUtf8Lines {
    TUtf8Lines() = default;
    explicit TUtf8Lines(const TTextPane& pane) { Read(pane); }
    TUtf8Lines(const TUtf8Lines&) = delete;
    TUtf8Lines& operator=(const TUtf8Lines&) = delete;

    // Takes the pane's current text, replacing what was read before.
    void Read(const TTextPane& pane);
    // The same, but when same (which must never change) is the pane's text in
    // UTF-8 byte for byte, its lines are read there: a large document is not
    // held a third time. Otherwise, or when same is null, as Read(pane).
    void Read(const TTextPane& pane, std::shared_ptr<const std::string> same);
    const std::vector<std::string_view>& Lines() const { return lines_; }

private:
    void Split(std::string_view all, int count);

    std::string bytes_;
    std::shared_ptr<const std::string> shared_;
    std::vector<std::string_view> lines_;
};

// Whether text in UTF-8 is bytes, byte for byte, without converting either.
[[nodiscard]] bool IsUtf8Of(QStringView text, std::string_view bytes);

// The pane position of bytes [offset, offset + length) of source line line.
struct TPaneSpan {
    int Start = 0;
    int Length = 0;
};
TPaneSpan PaneSpan(const TTextPane& pane, const TUtf8Lines& lines, int line, std::size_t offset, std::size_t length);
