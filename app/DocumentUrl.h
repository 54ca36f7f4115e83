// Turning what the user typed into the number box into a document URL.
// Plain code, no window: the fetch command calls it and tests call it alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The leading run of the digits 0 to 9; "" when the text does not begin with one.
// Example: DigitPrefix("2223 : Instructions") == "2223".
[[nodiscard]] std::string DigitPrefix(std::string_view text);

// The URL format with the typed text's document number (DocumentNumber) in place of its "%s".
// Raises the formatter's EConvertError for a format it rejects ("%d", two "%s").
// Example: DocumentUrl("https://h/rfc/rfc%s.txt", "02223abc") == "https://h/rfc/rfc2223.txt".
[[nodiscard]] std::string DocumentUrl(const std::string& urlFormat, std::string_view typed);

// A URL that names a local file: its first four characters are exactly "file".
[[nodiscard]] bool IsLocalFileUrl(std::string_view url);

// The address a link from a document, the index or a server may hand to the
// desktop's browser: an http or https URL with a host, bytes past ASCII
// percent-encoded. Nothing for any other link (file:, javascript:, data:,
// mailto:, smb:, an unknown scheme, a bare path, an option such as
// "--version") or one holding blanks or control characters. What it gives
// begins with "http", so no program takes it for an option.
// Example: BrowserUrl("HTTPS://h/caf\xc3\xa9") == "HTTPS://h/caf%C3%A9".
[[nodiscard]] std::optional<std::string> BrowserUrl(std::string_view link);

// The RFC number of an "rfc:NUMBER" link: digits only, 1 to 99999; 0 otherwise.
// Example: RfcLinkNumber("rfc:2616") == 2616, RfcLinkNumber("rfc:abc") == 0.
[[nodiscard]] int RfcLinkNumber(std::string_view link);
