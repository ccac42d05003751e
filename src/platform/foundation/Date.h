#pragma once

#include <compare>

namespace tarpelix::platform {

// A point in wall-clock time: seconds since 2001-01-01T00:00:00Z, kept as a double
// so that stored and logged dates round-trip byte for byte.
struct Date {
    double secondsSinceReferenceDate = 0;

    // Seconds between 1970-01-01 and 2001-01-01.
    static constexpr double referenceDateOffsetFrom1970 = 978307200.0;

    static Date now();
    static Date fromUnixSeconds(double seconds) {
        return Date{seconds - referenceDateOffsetFrom1970};
    }
    double unixSeconds() const { return secondsSinceReferenceDate + referenceDateOffsetFrom1970; }
    Date addingSeconds(double seconds) const { return Date{secondsSinceReferenceDate + seconds}; }
    double secondsSince(Date other) const {
        return secondsSinceReferenceDate - other.secondsSinceReferenceDate;
    }

    auto operator<=>(const Date&) const = default;
};

} // namespace tarpelix::platform
