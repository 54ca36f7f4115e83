// Turning document bytes into the pane's text. The only part of document
// handling that needs the toolkit's string; the rest is in DocumentText.h.
#pragma once

#include <QString>
#include <string_view>

// Decodes document bytes for display: every valid UTF-8 sequence becomes its
// character and every other byte becomes one character of its own (the
// Latin-1 character of that value), so no byte is lost or merged. A leading
// UTF-8 byte-order mark is an encoding mark and is dropped.
QString DecodeDocumentBytes(std::string_view bytes);

// A file's text for the pane: CR LF, a lone CR and a lone LF each become one
// line break ("\n"). Example: "a\r\nb\rc\nd" -> "a\nb\nc\nd".
QString FileTextToPaneText(std::string_view bytes);
