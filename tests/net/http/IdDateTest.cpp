#include "net/http/IdDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string>

#include "tests/support/ExpectRaises.h"

namespace {

using testsupport::ExpectRaises;

// Serial of 1994-11-06 08:49:37, the instant of the sample dates.
constexpr double kSample = 34644 + 31777.0 / 86400;
constexpr double kHour = 1.0 / 24;
constexpr double kTolerance = 1e-8; // about a millisecond

// Switches the process to another zone for the life of the object.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (hadOld_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST(DayAndMonthNumber, MatchOnlyThreeLetterNames)
{
    struct Case {
        const char* text;
        int day;
        int month;
    } cases[] = {
        {"Sun", 1, 0}, {"sat", 7, 0},  {"WED", 4, 0}, {"Sunday", 0, 0}, {"Su", 0, 0},
        {"Jan", 0, 1}, {"dec", 0, 12}, {"MAY", 0, 5}, {"June", 0, 0},   {"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DayNumber(c.text), c.day);
        EXPECT_EQ(MonthNumber(c.text), c.month);
    }
}

TEST(ParseInternetDate, ReadsTheDateFormsAndLeavesTheZone)
{
    struct Case {
        const char* text;
        double value;
        const char* rest;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", kSample, "GMT"},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kSample, "GMT"},
        {"Sun Nov  6 08:49:37 1994", kSample, ""},
        {"Fri, Sep 7 2001 10:00:00 GMT", 37141 + 10 * kHour, "GMT"},
        {"  Sun, 06 Nov 1994 08:49:37 +0900  ", kSample, "+0900"},
        {"06 Nov 1994", 34644, ""},
        {"Sun, 06 Nov 1994 08:49 GMT", 34644 + (8 * 60 + 49) / 1440.0, "GMT"},
        // Two-digit years pivot at 80.
        {"06-Nov-79 GMT", 65690, "GMT"},
        {"06-Nov-80 GMT", 29531, "GMT"},
        {"06-Nov-99 GMT", 36470, "GMT"},
        {"06-Nov-00 GMT", 36836, "GMT"},
        {"06-Nov-05 GMT", 38662, "GMT"},
        // Leap days follow the Gregorian rules.
        {"29 Feb 1996", 35124, ""},
        {"29 Feb 2000", 36585, ""},
        // A year of 1900 is taken as the asctime order, so the time is lost.
        {"Mon, 01 Jan 1900 10:00:00 GMT", 2, "1900"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_NEAR(ParseInternetDate(text), c.value, kTolerance);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(ParseInternetDate, GivesZeroForImpossibleOrUnreadableDates)
{
    const char* texts[] = {
        "",
        "   ",
        "garbage",
        "Sun, 31 Nov 1994 08:49:37 GMT",
        "29 Feb 2100",
        "29 Feb 1900",
        "Sun, 06 Nov 1994 24:00:00 GMT",
        "Sun, 06 Nov 1994 08:60:00 GMT",
        "Sun, 06 Nov 1994 08:49:60 GMT",
        "Sun, 06 November 1994 08:49:37 GMT",
        "Sun, 06 Nov 10000 08:49:37 GMT",
        "Sun, 06 Nov -1994 08:49:37 GMT",
        "06-Nov-94", // dashes but no blank: read as one token
    };
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        std::string text = t;
        EXPECT_EQ(ParseInternetDate(text), 0.0);
    }
}

TEST(ZoneOffsetToTime, ReadsSignedHoursAndMinutes)
{
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"+0900", 9 * kHour},
        {"-0500", -5 * kHour},
        {" +0130 ", 1.5 * kHour},
        {"-0030", -0.5 * kHour},
        {"+09000", 9 * kHour},
        {"+0000", 0},
        {"GMT", 0},
        {"", 0},
        {"+09", 0},
        {"+090", 9 * kHour},
        {"+2400", 0},
        {"+0960", 0},
        {"+ab00", 0},
        {"0900", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_NEAR(ZoneOffsetToTime(c.text), c.value, kTolerance);
    }
}

TEST(LocalUtcOffset, FollowsTheZoneAndDaylightSaving)
{
    const std::time_t january = 1705320000; // 2024-01-15 12:00 UTC
    const std::time_t july = 1721044800;    // 2024-07-15 12:00 UTC
    struct Case {
        const char* zone;
        std::time_t when;
        double offset;
    } cases[] = {
        {"UTC", january, 0},
        {"Asia/Tokyo", january, 9 * kHour},
        {"Asia/Tokyo", july, 9 * kHour},
        {"America/New_York", january, -5 * kHour},
        {"America/New_York", july, -4 * kHour},
        {"Asia/Kolkata", july, 5.5 * kHour},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone + std::string(" at ") + std::to_string(c.when));
        ScopedTimeZone zone(c.zone);
        EXPECT_NEAR(LocalUtcOffsetAt(c.when), c.offset, kTolerance);
    }

    // Zones without daylight saving give the same answer for "now".
    ScopedTimeZone tokyo("Asia/Tokyo");
    EXPECT_NEAR(LocalUtcOffset(), 9 * kHour, kTolerance);
}

TEST(LocalUtcOffset, RaisesWhenTheSystemCannotTell)
{
    ScopedTimeZone zone("UTC");
    ExpectRaises<EIdFailedToRetreiveTimeZoneInfo>([&] { LocalUtcOffsetAt(std::numeric_limits<std::time_t>::max()); },
                                                  "Failed attempting to retrieve time zone information.");
}

TEST(InternetDateToLocal, ShiftsFromTheDateZoneToTheLocalZone)
{
    struct Case {
        const char* zone;
        const char* text;
        double value;
    } cases[] = {
        {"UTC", "Sun, 06 Nov 1994 08:49:37 GMT", kSample},
        {"UTC", "Sunday, 06-Nov-94 08:49:37 GMT", kSample},
        {"UTC", "Sun Nov  6 08:49:37 1994", kSample},
        {"UTC", "Sun, 06 Nov 1994 08:49:37 +0900", kSample - 9 * kHour},
        {"UTC", "Sun, 06 Nov 1994 08:49:37 -0500", kSample + 5 * kHour},
        {"UTC", "Sun, 06 Nov 1994 08:49:37 EST", kSample},
        // A zone shorter than five characters is not read at all.
        {"UTC", "Sun, 06 Nov 1994 08:49:37 +090", kSample},
        {"Asia/Tokyo", "Sun, 06 Nov 1994 08:49:37 GMT", kSample + 9 * kHour},
        {"Asia/Tokyo", "Sun, 06 Nov 1994 17:49:37 +0900", kSample + 9 * kHour},
        // Unreadable text still gets the local shift.
        {"UTC", "", 0},
        {"Asia/Tokyo", "", 9 * kHour},
        {"Asia/Tokyo", "not a date", 9 * kHour},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone + std::string(": ") + c.text);
        ScopedTimeZone zone(c.zone);
        EXPECT_NEAR(InternetDateToLocal(c.text), c.value, kTolerance);
    }
}

TEST(TimeToZoneOffset, WritesSignHoursAndMinutes)
{
    struct Case {
        double offset;
        bool allowGMT;
        const char* text;
    } cases[] = {
        {9 * kHour, false, "+0900"},    {-5 * kHour, false, "-0500"},  {5.5 * kHour, false, "+0530"},
        {-0.5 * kHour, false, "-0030"}, {0, false, "+0000"},           {0, true, "GMT"},
        {9 * kHour, true, "+0900"},     {-12 * kHour, false, "-1200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TimeToZoneOffset(c.offset, c.allowGMT), c.text);
    }
}

TEST(LocalToInternetDate, WritesLocalTimeWithTheLocalZone)
{
    struct Case {
        const char* zone;
        double value;
        bool allowGMT;
        const char* text;
    } cases[] = {
        {"Asia/Tokyo", kSample + 9 * kHour, false, "Sun, 6 Nov 1994 17:49:37 +0900"},
        {"UTC", kSample, false, "Sun, 6 Nov 1994 08:49:37 +0000"},
        {"UTC", kSample, true, "Sun, 6 Nov 1994 08:49:37 GMT"},
        {"UTC", 36526, false, "Sat, 1 Jan 2000 00:00:00 +0000"},
        {"UTC", 37141 + 10 * kHour, false, "Fri, 7 Sep 2001 10:00:00 +0000"},
        // A value a hair below the next second still shows that second.
        {"UTC", 36526 + 1.0 / 86400 - 1e-10, false, "Sat, 1 Jan 2000 00:00:01 +0000"},
        // ... and a hair below midnight shows the next day.
        {"UTC", 36526 - 1e-10, false, "Sat, 1 Jan 2000 00:00:00 +0000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ScopedTimeZone zone(c.zone);
        EXPECT_EQ(LocalToInternetDate(c.value, c.allowGMT), c.text);
    }
}

TEST(LocalToInternetDate, RoundTripsThroughTheReader)
{
    const char* zones[] = {"UTC", "Asia/Tokyo", "America/New_York"};
    const double values[] = {kSample, 36526, 37141 + 10 * kHour, 367 + 23.5 * kHour, 65690.999988426};
    for (const char* z : zones) {
        ScopedTimeZone zone(z);
        for (double value : values) {
            SCOPED_TRACE(z + std::string(" ") + std::to_string(value));
            EXPECT_NEAR(InternetDateToLocal(LocalToInternetDate(value)), value, kTolerance);
        }
    }
}

TEST(LocalToInternetDate, RejectsValuesOutsideTheCalendar)
{
    ScopedTimeZone zone("UTC");
    EXPECT_THROW(LocalToInternetDate(1e12), std::out_of_range);
    EXPECT_THROW(LocalToInternetDate(std::numeric_limits<double>::quiet_NaN()), std::out_of_range);
}

} // namespace
