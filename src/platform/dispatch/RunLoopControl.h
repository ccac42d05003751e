#pragma once

#include "platform/dispatch/RunLoop.h"

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
};

} // namespace tarpelix::platform
