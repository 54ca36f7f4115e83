#pragma once

// Small text, path, address and date helpers shared by the network layers.
//
// Texts are byte strings; every position is 1-based and 0 means "not found".
// "Blank" means a space or any control character (code 32 and below).
// Date-times (TDateTime) are days since 1899-12-30 with the time of day as
// the fraction, in local time unless a function says otherwise.
//
// Everything here is safe to call from any thread, except that the zone
// functions read the process-wide C library zone state.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "net/tcp/IdException.h"
#include "platform/Classes.h"

using TDateTime = double;

// Milliseconds in one TDateTime day.
inline constexpr int64_t kMsPerDay = 86400000;

// The operating system could not tell the local time zone.
class EIdFailedToRetreiveTimeZoneInfo : public EIdException {
public:
    EIdFailedToRetreiveTimeZoneInfo() : EIdException("Failed attempting to retrieve time zone information.") {}
    using EIdException::EIdException;
};

// ---- text -----------------------------------------------------------------

// Returns the text before the first delimiter and, when remove is set, leaves
// the text after it in input. Without a delimiter the whole input is returned
// (and input emptied when removing).
// Example: input "HTTP/1.1 200 OK" -> "HTTP/1.1", input "200 OK".
std::string CutToken(std::string& input, const std::string& delimiter = " ", bool remove = true,
                     bool caseSensitive = true);

// Position of the first occurrence of sub in text, or 0 (also for an empty sub).
int FindSubText(const std::string& sub, const std::string& text);

// Position of the last occurrence of sub (letter case ignored) that starts at
// or before start; start -1 means the end of the text. 0 when none.
int LastPosBefore(const std::string& sub, const std::string& text, int start = -1);

// 0-based index of the first element equal to text, or -1.
int IndexInList(const std::string& text, const std::vector<std::string>& list, bool caseSensitive);
int IndexInList(const std::string& text, const TStringList& list, bool caseSensitive);

// Joins path onto basePath, collapses repeated delimiters and resolves ".."
// segments; a path that starts with the delimiter is returned unchanged.
// Example: ResolvePath("/a/b/", "../e.txt") == "/a/e.txt".
std::string ResolvePath(const std::string& basePath, const std::string& path, char delimiter = '/');

// Turns every backslash into a slash, in place.
void ForwardSlashes(std::string& text);

// True when the first four dot-separated tokens are numbers from 0 to 255;
// whatever follows the fourth token is not looked at (1.2.3.4.5 passes).
bool LooksLikeIPv4(const std::string& text);
// False for a dotted text that begins with "." and for IPv4 addresses.
bool LooksLikeHostName(const std::string& text);
// From the first "." to the end ("www.example.org" -> ".example.org"); a
// host without a dot is returned whole.
std::string DomainPart(const std::string& host);

// Position of sub within the first size bytes of memory, or 0 (also for an
// empty sub).
int64_t FindInMemory(const std::string& sub, const void* memory, int64_t size);

// ---- dates ------------------------------------------------------------------

// 1 (Sun) .. 7 (Sat), 1 (Jan) .. 12 (Dec); 0 for anything but an exact
// three-letter name in any letter case.
int DayNumber(const std::string& text);
int MonthNumber(const std::string& text);

// Reads an Internet date in the RFC 1123, RFC 850 or asctime form (or
// month-first with a day name) and leaves what follows it, the zone, in
// text. Never throws: unreadable or impossible dates give 0.
TDateTime ParseInternetDate(std::string& text);

// "+0900" -> 0.375, "-0500" -> -0.2083...; any other text gives 0.
TDateTime ZoneOffsetToTime(const std::string& text);

// An Internet date shifted from its zone into local time. An unreadable text
// still gets the local shift, so it yields LocalUtcOffset() itself.
TDateTime InternetDateToLocal(const std::string& text);

// The local time now, to the millisecond. Reads the C library's current zone
// state without asking it to re-read the zone (LocalUtcOffset does that):
// it runs for every stored cookie text and every request.
// Throws EIdFailedToRetreiveTimeZoneInfo.
TDateTime LocalNow();

// Local time minus UTC as a day fraction, for the current moment (daylight
// saving included). Throws EIdFailedToRetreiveTimeZoneInfo.
TDateTime LocalUtcOffset();
// The same for another moment.
TDateTime LocalUtcOffsetAt(std::time_t when);

// "+0900" style; "GMT" for 0 when allowGMT.
std::string TimeToZoneOffset(TDateTime offset, bool allowGMT);

// "Sun, 6 Nov 1994 17:49:37 +0900": the local time t with the local zone.
// Throws std::out_of_range for t outside the years 1 to 9999.
std::string LocalToInternetDate(TDateTime t, bool allowGMT = false);
