// Turning document bytes into the pane's text, and naming a document from
// its lines. Plain functions, no widgets, so commands and tests share them.
#pragma once

#include <QString>
#include <string_view>

#include <string>

class TLineSource;

// Decodes document bytes for display: every valid UTF-8 sequence becomes its
// character and every other byte becomes one character of its own (the
// Latin-1 character of that value), so no byte is lost or merged. A leading
// UTF-8 byte-order mark is an encoding mark and is dropped.
QString DecodeDocumentBytes(std::string_view bytes);

// A file's text for the pane: CR LF, a lone CR and a lone LF each become one
// line break ("\n"). Example: "a\r\nb\rc\nd" -> "a\nb\nc\nd".
QString FileTextToPaneText(std::string_view bytes);

// The title: the first non-empty line after the first run of empty lines
// that follows the first block of non-empty lines, without leading and
// trailing blanks and TABs. Scans stop at the line count: a text without such
// a line has the empty title.
std::string ExtractTitle(const TLineSource& lines);

// The number after the first line that starts with "Request for Comments:":
// blanks, then decimal digits; other text after the digits (the second
// column of the usual header) is ignored. 0 when there is no such line or no
// digits follow the marker.
int ExtractNumber(const TLineSource& lines);
