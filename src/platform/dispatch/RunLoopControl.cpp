#include "platform/dispatch/RunLoopControl.h"

#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <vector>

namespace tarpelix::platform {

int RunLoopControl::fireTimers(RunLoop& loop, int rounds, RunLoopMode mode) {
    // Timer blocks assume the loop's thread (the main loop's touch the windows).
    if (RunLoop::current().get() != &loop) fatal("RunLoopControl::fireTimers called off the loop's thread");
    int ran = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::shared_ptr<RunLoopTimer>> due;
        {
            std::lock_guard lock(loop.mutex_);
            for (const auto& timer : loop.timers_) {
                if (timer->runsIn(mode)) due.push_back(timer);
            }
            std::stable_sort(due.begin(), due.end(),
                             [](const auto& a, const auto& b) { return a->fireAt_ < b->fireAt_; });
            const auto now = std::chrono::steady_clock::now();
            for (const auto& timer : due) {
                if (timer->repeats_)
                    timer->fireAt_ = now + std::max(timer->interval_, std::chrono::steady_clock::duration(1));
            }
        }
        if (due.empty()) break;
        for (const auto& timer : due) {
            if (timer->fire()) ++ran;
        }
    }
    return ran;
}

std::vector<RunLoopControl::ScheduledTimer> RunLoopControl::scheduledTimers(const RunLoop& loop) {
    std::vector<std::shared_ptr<RunLoopTimer>> timers;
    {
        std::lock_guard lock(loop.mutex_);
        timers = loop.timers_;
    }
    // Interval, repetition and mode are set before a timer joins its loop and never change.
    std::vector<ScheduledTimer> scheduled;
    for (auto& timer : timers) {
        if (!timer->isValid()) continue;
        const auto interval = timer->interval_;
        const bool repeats = timer->repeats_;
        const TimerMode mode = timer->mode_;
        scheduled.push_back({std::move(timer), interval, repeats, mode});
    }
    return scheduled;
}

} // namespace tarpelix::platform
