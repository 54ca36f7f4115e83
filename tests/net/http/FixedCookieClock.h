#pragma once

// A cookie clock that stands still until a test moves it.

#include "net/http/IdCookie.h"

// Sunday 2024-03-10 12:00:00 local time, at UTC+9.
constexpr TDateTime kCookieNoon = 45361.5;
constexpr TDateTime kPlus9 = 0.375;
constexpr TDateTime kSecond = 1.0 / 86400;

class TFixedCookieClock : public TIdCookieClock {
public:
    TDateTime Now() const override { return now; }
    TDateTime LocalUtcOffset() const override { return offset; }

    TDateTime now = kCookieNoon;
    TDateTime offset = kPlus9;
};
