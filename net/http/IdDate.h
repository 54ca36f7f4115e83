#pragma once

// Internet dates (RFC 1123, RFC 850, asctime) and the local time zone, for header and cookie dates.
//
// Date-times (TDateTime) are days since 1899-12-30 with the time of day as the fraction, in local time
// unless a function says otherwise. Safe to call from any thread, except that the zone functions read the
// process-wide C library zone state.

#include <cstdint>
#include <ctime>
#include <string>

#include "net/tcp/IdException.h"

using TDateTime = double;

// Milliseconds in one TDateTime day.
inline constexpr int64_t kMsPerDay = 86400000;

// The operating system could not tell the local time zone.
class EIdFailedToRetreiveTimeZoneInfo : public EIdException {
public:
    EIdFailedToRetreiveTimeZoneInfo() : EIdException("Failed attempting to retrieve time zone information.") {}
    using EIdException::EIdException;
};

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
