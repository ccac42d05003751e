#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarpelix::platform {

// The mode a run loop runs in. Timers and performed blocks registered for the common
// modes run in every mode; those of the default mode run only in the default mode.
enum class RunLoopMode { defaultMode, eventTracking, modalPanel };
enum class TimerMode { defaultMode, common };

class RunLoop;

// A timer of a run loop: fires on the loop's thread while the loop runs in a matching mode.
class RunLoopTimer {
public:
    void invalidate();
    bool isValid() const;

private:
    friend class RunLoop;
    friend class RunLoopControl;
    // Whether the timer fires while its loop runs in `mode`.
    bool runsIn(RunLoopMode mode) const;
    // Runs the block unless the timer has been invalidated; a one-shot timer then invalidates
    // itself. Returns whether the block ran. On the loop's thread, without the loop's lock.
    bool fire();

    mutable std::mutex mutex_;
    bool valid_ = true;
    bool repeats_ = false;
    TimerMode mode_ = TimerMode::defaultMode;
    std::chrono::steady_clock::duration interval_{};
    std::chrono::steady_clock::time_point fireAt_{};
    std::function<void(RunLoopTimer&)> block_;
    std::weak_ptr<RunLoop> loop_;
};

// A per-thread run loop. The main thread's loop also drains the main dispatch queue.
class RunLoop : public std::enable_shared_from_this<RunLoop> {
public:
    using Block = std::function<void()>;

    // The calling thread's run loop, created on first use.
    static std::shared_ptr<RunLoop> current();
    // The main thread's run loop (it exists before the main thread first asks for it).
    static const std::shared_ptr<RunLoop>& main();

    // Runs in the default mode until stop() is called.
    void run();
    // Makes the innermost running invocation return; callable from any thread.
    void stop();
    // Runs until the predicate holds or the timeout (seconds) passes; returns the
    // predicate's last answer. For tests and modal waits.
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds,
                  RunLoopMode mode = RunLoopMode::defaultMode);
    // Runs what is ready, waiting at most `maxWaitSeconds` for something to become ready.
    // Returns true when anything ran.
    bool runOnce(double maxWaitSeconds, RunLoopMode mode = RunLoopMode::defaultMode);

    // Schedules a block to run on this loop's thread (any mode); callable from any thread.
    void perform(Block block);

    // Adds a timer to this loop; callable from any thread.
    std::shared_ptr<RunLoopTimer> scheduleTimer(double intervalSeconds, bool repeats, TimerMode mode,
                                                std::function<void(RunLoopTimer&)> block);

    // Whether the loop is inside run(), runUntil() or runOnce() right now.
    bool isRunning() const;

    // Used by the main dispatch queue.
    void enqueueMainQueueBlock(Block block);

    RunLoop();

private:
    friend class RunLoopTimer;
    friend class RunLoopControl;
    void wake();

    mutable std::mutex mutex_;
    std::condition_variable condition_;
    std::deque<Block> performs_;
    std::deque<Block> mainQueue_;
    std::vector<std::shared_ptr<RunLoopTimer>> timers_;
    bool stopRequested_ = false;
    int runDepth_ = 0;
    bool drainingMainQueue_ = false;
};

} // namespace tarpelix::platform
