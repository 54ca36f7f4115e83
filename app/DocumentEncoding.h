// What a local file's bytes are: the encoding found for them and the text as
// UTF-8. Plain code over bytes, so the window, the command line and
// benchmarks share one decision.
#pragma once

#include <string>
#include <string_view>

struct TDecodedText {
    // "UTF-8", "ASCII", "UTF-16LE", "UTF-16BE", "Shift_JIS", "EUC-JP",
    // "ISO-2022-JP" or "ISO-8859-1".
    std::string Encoding;
    // The text as UTF-8. For UTF-8 and ASCII these are the file's own bytes,
    // a byte-order mark and any byte that is not UTF-8 included, so nothing
    // is lost on the way.
    std::string Utf8;
};

// Decodes a local file by what it is, in this order: UTF-8 with a byte-order
// mark; UTF-16 with one; ASCII; valid UTF-8; ISO-2022-JP (escape sequences in
// seven-bit text); then what the detector makes of the bytes, when it is
// UTF-8, Shift_JIS (read as its Windows superset) or EUC-JP and the bytes
// convert without fault; else ISO-8859-1, where every byte is a character.
// Example: DecodeLocalText("\x93\xfa\x96\x7b") (Shift_JIS "日本") gives
// {"Shift_JIS", "日本"}.
[[nodiscard]] TDecodedText DecodeLocalText(std::string_view bytes);

// True when the encoding is worth naming to the reader: neither UTF-8 nor ASCII.
[[nodiscard]] bool IsNotableEncoding(const std::string& encoding);
