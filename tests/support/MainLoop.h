#pragma once

#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/RunLoopControl.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace tarpelix::testing {

// Runs the main run loop until the predicate holds, at most `timeoutSeconds`.
inline bool runMainUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10.0) {
    return platform::RunLoop::main()->runUntil(predicate, timeoutSeconds);
}

// The main loop's timers that are not among `before` (from RunLoopControl::scheduledTimers).
inline std::vector<platform::RunLoopControl::ScheduledTimer>
timersAddedSince(const std::vector<platform::RunLoopControl::ScheduledTimer>& before) {
    auto timers = platform::RunLoopControl::scheduledTimers(*platform::RunLoop::main());
    std::erase_if(timers, [&before](const auto& timer) {
        return std::ranges::any_of(before, [&timer](const auto& old) { return old.timer == timer.timer; });
    });
    return timers;
}

} // namespace tarpelix::testing
