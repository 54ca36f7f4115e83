// Document logic without the window: reading a document file, the path a
// "file:///" URL names, a file's lines, and naming a document from its lines.
// Plain functions over bytes, so commands, benchmarks and tests share them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TLineSource;

// The largest document the program opens. Far above any published RFC (a few
// MB at most) and still a text the pane can hold and lay out.
constexpr std::size_t kMaxDocumentBytes = std::size_t{64} << 20;

// Reads a document file whole: regular files only (a FIFO, a device or a
// folder is refused without blocking), at most kMaxDocumentBytes. False on
// any failure, bytes untouched then.
[[nodiscard]] bool ReadDocumentFile(const std::string& path, std::string& bytes);

// Why ReadDocumentFile refused a file it could open (errno 0): it is a
// folder, not a regular file (a FIFO, a device), or too large. Looks without
// opening, so a FIFO cannot block it. Example: "/dev/zero" -> "通常のファイルではありません".
[[nodiscard]] std::string RefusedFileReason(const std::string& path);

// The path a "file:///" URL names: everything after its first eight
// characters, whatever they are, and uncut however long.
// Example: LocalFilePath("file:////tmp/a.txt") == "/tmp/a.txt".
[[nodiscard]] std::string LocalFilePath(const std::string& url);

// A file's lines: CR LF, a lone CR and a lone LF each end one line; the empty
// text after a final line end is not a line. Example: "a\r\nb\rc\n" gives
// "a", "b", "c".
[[nodiscard]] std::vector<std::string> FileLines(std::string_view bytes);

// The title: the first non-empty line after the first run of empty lines
// that follows the first block of non-empty lines, without leading and
// trailing blanks and TABs. Scans stop at the line count: a text without such
// a line has the empty title.
[[nodiscard]] std::string ExtractTitle(const TLineSource& lines);

// The number after the first line that starts with "Request for Comments:":
// blanks, then decimal digits; other text after the digits (the second
// column of the usual header) is ignored. 0 when there is no such line or no
// digits follow the marker.
[[nodiscard]] int ExtractNumber(const TLineSource& lines);

// Where byte offset of a line falls in the pane's text of that line, in
// UTF-16 code units: each valid UTF-8 sequence that starts before the offset
// counts one unit (two above U+FFFF), every other byte one, as the pane shows
// it as a character of its own. Turns the byte offsets of references and
// find matches into pane positions. Example: Utf16Column("Grüße x", 7) == 5.
std::size_t Utf16Column(std::string_view line, std::size_t byteOffset);
