#pragma once

#include "platform/foundation/Date.h"

#include <string>

namespace tarpelix::platform {

// A time zone by its identifier ("Europe/Berlin", "UTC"); an unknown identifier behaves as UTC.
struct TimeZone {
    std::string identifier;

    // The system's current time zone (honours TZ).
    static TimeZone current();

    bool operator==(const TimeZone&) const = default;
};

// A day of the Gregorian calendar: year, month 1-12, day of month 1-31.
struct CalendarDay {
    int year = 0;
    int month = 0;
    int day = 0;

    bool operator==(const CalendarDay&) const = default;
};

// The Gregorian calendar day on which `date` falls in `zone`.
CalendarDay gregorianDay(Date date, const TimeZone& zone);

} // namespace tarpelix::platform
