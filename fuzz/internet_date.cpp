// Reads arbitrary text as an Internet date. The reader must never throw;
// whatever it accepts must lie in the calendar, and a date it accepts must
// come back unchanged after being written and read again.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdDate.h"

namespace {

// 1901-01-01 and the day after 9999-12-31. Earlier years do not survive
// writing: two-digit years are read back in 19xx or 20xx and the year 1900
// is taken for the asctime order.
constexpr double kFirstRoundTrip = 367;
constexpr double kEndOfCalendar = 2958466;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool zoneSet = [] {
        // A fixed zone keeps runs reproducible; the offset is still applied.
        setenv("TZ", "JST-9", 1);
        tzset();
        return true;
    }();
    (void)zoneSet;

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string rest = text;
    const TDateTime date = ParseInternetDate(rest);
    Check(std::isfinite(date));
    Check(date == 0 || (date >= -693593 && date < kEndOfCalendar));
    Check(rest.size() <= text.size());

    (void)ZoneOffsetToTime(rest);
    const TDateTime local = InternetDateToLocal(text);
    Check(std::isfinite(local));

    if (local >= kFirstRoundTrip && local < kEndOfCalendar - 1) {
        const std::string written = LocalToInternetDate(local);
        Check(std::fabs(InternetDateToLocal(written) - local) < 1e-7);
    }
    return 0;
}
