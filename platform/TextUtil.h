// Byte-string primitives every layer shares: trimming blanks, splitting a
// text into lines and recognising UTF-8 sequences. The results view the
// caller's text, so they live only as long as it does.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// "Blank" is a space or any control character: every byte from 0 to 32.
inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
// Example: TrimBlanks("\t a b \r\n") == "a b".
std::string_view TrimBlanks(std::string_view text);
std::string_view TrimLeftBlanks(std::string_view text);
std::string_view TrimRightBlanks(std::string_view text);

// CR LF, a lone CR and a lone LF each end one line; a last empty line is not
// returned, so a text that ends in a line end has no empty line after it.
// Example: SplitLines("a\r\nb\rc\n\nd") == {"a", "b", "c", "", "d"}; SplitLines("") == {}.
std::vector<std::string_view> SplitLines(std::string_view text);

// Length (1 to 4) of the whole, valid UTF-8 sequence that starts at pos, or 0
// when the byte there does not start one: a continuation byte, an overlong
// form, a surrogate, a value past U+10FFFF or a sequence cut off by the end.
// Example: Utf8SequenceLength("a\xC3\xA9", 1) == 2.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

// The same, also handing out the code point of a valid sequence.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos, char32_t& codePoint);
