// Turning what the user typed into the number box into a document URL.
// Plain code, no window: the fetch command calls it and tests call it alone.
#pragma once

#include <string>
#include <string_view>

// The leading run of the digits 0 to 9; "" when the text does not begin with one.
// Example: DigitPrefix("2223 : Instructions") == "2223".
std::string DigitPrefix(std::string_view text);

// The URL format with the typed text's document number (DocumentNumber) in place of its "%s".
// Raises the formatter's EConvertError for a format it rejects ("%d", two "%s").
// Example: DocumentUrl("https://h/rfc/rfc%s.txt", "02223abc") == "https://h/rfc/rfc2223.txt".
std::string DocumentUrl(const std::string& urlFormat, std::string_view typed);

// A URL that names a local file: its first four characters are exactly "file".
bool IsLocalFileUrl(std::string_view url);
