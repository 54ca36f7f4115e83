// The settings file's bytes on disk: bounded reading, the text encodings a
// settings file may come in, and all-or-nothing replacement; and the one
// mapping between a settings text's bytes and code points, which the UTF-16
// forms on disk and the dialogs' text fields share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ini_store {

// One character of a settings text at pos: a valid UTF-8 sequence gives its
// code point, and any other byte (also each byte of a reserved code point's
// own encoding) the reserved code point TIniFile::kEscapedByteBase + byte.
// Returns the bytes taken.
std::size_t NextSettingPoint(std::string_view text, std::size_t pos, char32_t& c);
// The way back: a reserved code point becomes its byte, any other UTF-8.
void AppendSettingPoint(std::string& out, char32_t c);

// A settings file larger than this is not a settings file.
constexpr std::size_t kMaxFileBytes = 64u << 20;

// Reads the settings file whole. A missing file reads as empty; false when it
// exists but cannot be used: unreadable, not a regular file (a FIFO is never
// waited on), or larger than kMaxFileBytes.
bool ReadSettingsFile(const std::string& path, std::string& bytes);

// How the file's bytes carry its text. UTF-16 text (recognised by its
// byte-order mark) is held as UTF-8 in memory; a lone surrogate becomes its
// three-byte form, so decoding and encoding give back the very same bytes
// (only a file holding the reserved code points of TIniFile may differ).
struct TEncoding {
    enum Form { kUtf8, kUtf8Bom, kUtf16LE, kUtf16BE } form = kUtf8;
    std::string oddByte; // a UTF-16 file's last byte when its length is odd
};
std::string Decode(std::string_view bytes, TEncoding& encoding);
// A byte of text that is no valid UTF-8 cannot be written as UTF-16 as such;
// it becomes the reserved code point that stands for it (TIniFile), which
// reads back as the byte.
std::string Encode(std::string_view text, const TEncoding& encoding);

// Replaces path (the file a symbolic link names, when it is one) by a file
// holding content: written to a temporary file beside it, synced, renamed
// over it. Temporary files of earlier saves of the same file that died
// midway are removed first. The new file keeps the old one's mode; with
// privateMode it is readable by its owner only (0600 when new). False when
// the platform refuses; the old file then stays.
bool ReplaceFile(const std::string& path, const std::string& content, bool privateMode = false);

// Drops the group's and others' permissions of an existing file. True when
// they were there and are gone now.
[[nodiscard]] bool MakePrivate(const std::string& path);

} // namespace ini_store
