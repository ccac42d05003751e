#pragma once

#include <compare>
#include <cstdint>

namespace tarpelix::platform {

// An instant of the monotonic clock that keeps counting while the machine sleeps
// (CLOCK_BOOTTIME). It never jumps with wall-clock changes.
struct MonotonicInstant {
    std::int64_t nanoseconds = 0;

    static MonotonicInstant now();
    MonotonicInstant advanced(double seconds) const;
    double secondsSince(MonotonicInstant earlier) const {
        return static_cast<double>(nanoseconds - earlier.nanoseconds) / 1e9;
    }

    auto operator<=>(const MonotonicInstant&) const = default;
};

// Seconds of system uptime (CLOCK_MONOTONIC): stops while the machine sleeps.
double systemUptime();

} // namespace tarpelix::platform
