#include "platform/foundation/Clock.h"
#include "platform/foundation/Date.h"

#include <cmath>
#include <ctime>

namespace tarpelix::platform {

namespace {
std::int64_t readNanoseconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}
} // namespace

MonotonicInstant MonotonicInstant::now() { return MonotonicInstant{readNanoseconds(CLOCK_BOOTTIME)}; }

MonotonicInstant MonotonicInstant::advanced(double seconds) const {
    return MonotonicInstant{nanoseconds + static_cast<std::int64_t>(std::llround(seconds * 1e9))};
}

double systemUptime() { return static_cast<double>(readNanoseconds(CLOCK_MONOTONIC)) / 1e9; }

Date Date::now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    double unix = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    return fromUnixSeconds(unix);
}

} // namespace tarpelix::platform
