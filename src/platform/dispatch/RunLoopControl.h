#pragma once

#include "platform/dispatch/RunLoop.h"

#include <chrono>
#include <memory>
#include <vector>

namespace tarpelix::platform {

// Test control of run loops: fires timers at once instead of waiting for their fire dates, so
// a test can check a cadence of many intervals without the time passing.
class RunLoopControl {
public:
    // Fires the loop's timers `rounds` times over, as if their intervals had passed that often.
    // Each round fires, earliest fire date first, every timer that is valid at its turn and
    // runs in `mode` (a default-mode timer waits while the loop is in another mode, exactly as
    // when the loop runs). A one-shot timer fires once and is invalidated; a timer scheduled
    // during a round joins from the next round; a repeating timer's next fire date becomes one
    // interval from now. Call on the loop's own thread; returns how many blocks ran.
    static int fireTimers(RunLoop& loop, int rounds = 1, RunLoopMode mode = RunLoopMode::defaultMode);

    // A timer as scheduled: fireTimers ignores intervals, so cadences are checked here.
    struct ScheduledTimer {
        std::shared_ptr<RunLoopTimer> timer; // held, so its identity stays unique between two calls
        std::chrono::steady_clock::duration interval;
        bool repeats;
        TimerMode mode;
    };
    // The loop's valid timers, in the order they were scheduled; callable from any thread.
    static std::vector<ScheduledTimer> scheduledTimers(const RunLoop& loop);
};

} // namespace tarpelix::platform
