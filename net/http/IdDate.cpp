#include "net/http/IdDate.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

// Day 0 of TDateTime, 1899-12-30, lies this many days before 1970-01-01.
constexpr int64_t kUnixEpochSerial = 25569;

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string Trim(const std::string& s) { return std::string(TrimBlanks(s)); }

std::string TrimLeft(const std::string& s) { return std::string(TrimLeftBlanks(s)); }

int LookUpName(const std::string& text, const char* const* names, int count)
{
    const std::string upper = UpperCase(text);
    for (int i = 0; i < count; ++i) {
        if (upper == UpperCase(names[i])) return i + 1;
    }
    return 0;
}

// Raised inside the date reader for an impossible date or time; the reader
// turns it into the value 0.
class EInvalidDateTime : public std::runtime_error {
public:
    EInvalidDateTime() : std::runtime_error("invalid date or time") {}
};

TDateTime EncodeDate(int year, int month, int day)
{
    // Checked before the calendar types see them: they keep a month and a day in one byte.
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) throw EInvalidDateTime();
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                                           std::chrono::day(unsigned(day))};
    if (!date.ok()) throw EInvalidDateTime();
    return static_cast<TDateTime>(std::chrono::sys_days(date).time_since_epoch().count() + kUnixEpochSerial);
}

TDateTime EncodeTime(int hours, int minutes, int seconds)
{
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) {
        throw EInvalidDateTime();
    }
    return static_cast<TDateTime>((hours * 3600 + minutes * 60 + seconds) * 1000) / kMsPerDay;
}

struct TDateParts {
    int year, month, day, dayOfWeek; // dayOfWeek 0 = Sunday
    int hours, minutes, seconds;
};

// Splits a date-time to the millisecond. Before day 0 the date counts
// towards zero and the fraction is still the time of day (-1.25 is
// 1899-12-29 06:00).
TDateParts DecodeDateTime(TDateTime t)
{
    // Years 1 to 9999, with room for the time of day.
    if (!(t > -693594.0 && t < 2958466.0)) throw std::out_of_range("date-time out of range");
    double whole = std::trunc(t);
    int64_t ms = std::llround(std::fabs(t - whole) * kMsPerDay);
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        whole += t < 0 ? -1 : 1;
    }
    const auto serial = static_cast<int64_t>(whole);
    const std::chrono::sys_days days{std::chrono::days(serial - kUnixEpochSerial)};
    const std::chrono::year_month_day date{days};
    TDateParts p{};
    p.year = int(date.year());
    p.month = int(unsigned(date.month()));
    p.day = int(unsigned(date.day()));
    p.dayOfWeek = int(std::chrono::weekday(days).c_encoding());
    const int64_t secs = ms / 1000;
    p.hours = static_cast<int>(secs / 3600);
    p.minutes = static_cast<int>(secs / 60 % 60);
    p.seconds = static_cast<int>(secs % 60);
    return p;
}

// Hours and minutes of a day fraction's magnitude, rounded to the minute.
void SplitOffset(TDateTime offset, int& hours, int& minutes)
{
    const auto total = static_cast<int64_t>(std::llround(std::fabs(offset) * 1440));
    hours = static_cast<int>(total / 60);
    minutes = static_cast<int>(total % 60);
}

} // namespace

int DayNumber(const std::string& text) { return LookUpName(text, kDayNames, 7); }

int MonthNumber(const std::string& text) { return LookUpName(text, kMonthNames, 12); }

TDateTime ParseInternetDate(std::string& text)
{
    text = Trim(text);
    if (text.empty()) return 0;

    try {
        std::string& v = text;
        if (DayNumber(v.substr(0, 3)) != 0) {
            CutToken(v, " ");
            v = TrimLeft(v);
        }

        // RFC 850 dates separate day, month and year with dashes.
        const int dash = FindSubText("-", v);
        const std::string delimiter = dash > 1 && dash < FindSubText(" ", v) ? "-" : " ";

        auto readDay = [&] {
            const int32_t day = StrToIntDef(CutToken(v, delimiter), 1);
            v = TrimLeft(v);
            return day;
        };
        auto readMonth = [&] {
            const int month = MonthNumber(CutToken(v, delimiter));
            v = TrimLeft(v);
            return month;
        };
        int32_t day;
        int month;
        if (MonthNumber(CutToken(v, delimiter, false)) != 0) {
            month = readMonth();
            day = readDay();
        } else {
            day = readDay();
            month = readMonth();
        }

        // The year is a 16-bit quantity: two-digit years pivot at 80.
        std::string token = CutToken(v, " ");
        auto year = static_cast<uint16_t>(StrToIntDef(token, 1900));
        if (year == 1900) {
            // asctime puts the time before the year.
            year = static_cast<uint16_t>(StrToIntDef(v, 1900));
            v = token;
        }
        if (year < 80) {
            year = static_cast<uint16_t>(year + 2000);
        } else if (year < 100) {
            year = static_cast<uint16_t>(year + 1900);
        }

        TDateTime result = EncodeDate(year, month, day);

        if (FindSubText(":", v) > 0) {
            std::string clock = CutToken(v, " ");
            const int32_t hours = StrToIntDef(CutToken(clock, ":"), 0);
            const int32_t minutes = StrToIntDef(CutToken(clock, ":"), 0);
            const int32_t seconds = StrToIntDef(CutToken(clock, " "), 0);
            result += EncodeTime(hours, minutes, seconds);
        }
        v = TrimLeft(v);
        return result;
    } catch (const std::exception&) {
        return 0;
    }
}

TDateTime ZoneOffsetToTime(const std::string& text)
{
    const std::string zone = Trim(text).substr(0, 5);
    if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
    try {
        const int32_t hours = StrToInt(zone.substr(1, 2));
        const int32_t minutes = StrToInt(zone.size() > 3 ? zone.substr(3, 2) : std::string());
        const TDateTime value = EncodeTime(hours, minutes, 0);
        return zone[0] == '-' ? -value : value;
    } catch (const std::exception&) {
        return 0;
    }
}

TDateTime InternetDateToLocal(const std::string& text)
{
    std::string rest = text;
    const TDateTime date = ParseInternetDate(rest);
    // Named zones ("GMT", "UT", "EST") are shorter than "+hhmm" and count as UTC.
    const TDateTime zone = rest.size() >= 5 ? ZoneOffsetToTime(rest) : 0;
    return date - zone + LocalUtcOffset();
}

TDateTime LocalUtcOffsetAt(std::time_t when)
{
    // Pick up a TZ that changed since the last call.
    tzset();
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) throw EIdFailedToRetreiveTimeZoneInfo();

    // bias: UTC minus local, in whole minutes.
    const long bias = -local.tm_gmtoff / 60;
    const long magnitude = bias < 0 ? -bias : bias;
    if (magnitude >= 24 * 60) throw EIdFailedToRetreiveTimeZoneInfo();
    const TDateTime offset = static_cast<TDateTime>(magnitude) / 1440;
    return bias > 0 ? -offset : offset;
}

TDateTime LocalUtcOffset() { return LocalUtcOffsetAt(std::time(nullptr)); }

TDateTime LocalNow()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) throw EIdFailedToRetreiveTimeZoneInfo();
    return static_cast<TDateTime>(ms + int64_t{local.tm_gmtoff} * 1000) / kMsPerDay + kUnixEpochSerial;
}

std::string TimeToZoneOffset(TDateTime offset, bool allowGMT)
{
    if (offset == 0 && allowGMT) return "GMT";
    int hours, minutes;
    SplitOffset(offset, hours, minutes);
    return Format("%s%2.2d%2.2d", offset >= 0 ? "+" : "-", hours, minutes);
}

std::string LocalToInternetDate(TDateTime t, bool allowGMT)
{
    const TDateParts p = DecodeDateTime(t);
    return Format("%s, %d %s %d %s %s", kDayNames[p.dayOfWeek], p.day, kMonthNames[p.month - 1], p.year,
                  Format("%2.2d:%2.2d:%2.2d", p.hours, p.minutes, p.seconds),
                  TimeToZoneOffset(LocalUtcOffset(), allowGMT));
}
