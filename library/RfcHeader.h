// Which RFC a text or a URL is: the number in a document's header (the
// usual "Request for Comments:" line and the older forms), the number a URL
// of the document URL format names, and re-filing stored documents that an
// earlier version filed without a number. Plain functions; one thread.
#pragma once

#include <string>
#include <string_view>

class TLibraryDatabase;

// The RFC number in the header of text (its first lines): "Request for
// Comments: 2616", or the older "RFC 822", "RFC #  793" and "RFC:  791"
// standing at the start of a line alone or as the left column. Lines naming
// other documents ("Obsoletes:  RFC #733", "NIC: 41952") are passed over.
// 0 when the header names none. Example: "\n     RFC #  822\n" -> 822.
[[nodiscard]] int HeaderRfcNumber(std::string_view text);

// The number that url holds in the place of the "%s" of urlFormat; 0 when
// url is not of that format or holds no digits there.
// Example: ("http://h/rfc%s.txt", "http://h/rfc822.txt") -> 822.
[[nodiscard]] int NumberFromUrl(std::string_view urlFormat, std::string_view url);

// Gives stored documents filed as number 0 the number their header names.
// Raises ELibraryError.
void RefileUnnumberedDocuments(TLibraryDatabase& database);
