#include "platform/dispatch/RunLoop.h"

#include "platform/dispatch/Scheduler.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>

namespace tarpelix::platform {

namespace {
using Clock = std::chrono::steady_clock;

Clock::duration secondsToDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

thread_local std::shared_ptr<RunLoop> threadLoop;
} // namespace

RunLoop::RunLoop() = default;

const std::shared_ptr<RunLoop>& RunLoop::main() {
    static const auto* loop = new std::shared_ptr<RunLoop>(std::make_shared<RunLoop>());
    return *loop;
}

std::shared_ptr<RunLoop> RunLoop::current() {
    if (isMainThread()) return main();
    if (!threadLoop) threadLoop = std::make_shared<RunLoop>();
    return threadLoop;
}

void RunLoop::wake() { condition_.notify_all(); }

void RunLoop::perform(Block block) {
    {
        std::lock_guard lock(mutex_);
        performs_.push_back(std::move(block));
    }
    wake();
}

void RunLoop::enqueueMainQueueBlock(Block block) {
    {
        std::lock_guard lock(mutex_);
        mainQueue_.push_back(std::move(block));
    }
    wake();
}

void RunLoop::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake();
}

bool RunLoop::isRunning() const {
    std::lock_guard lock(mutex_);
    return runDepth_ > 0;
}

std::shared_ptr<RunLoopTimer> RunLoop::scheduleTimer(double intervalSeconds, bool repeats, TimerMode mode,
                                                     std::function<void(RunLoopTimer&)> block) {
    auto timer = std::make_shared<RunLoopTimer>();
    timer->repeats_ = repeats;
    timer->mode_ = mode;
    timer->interval_ = secondsToDuration(std::max(intervalSeconds, 0.0));
    timer->fireAt_ = Clock::now() + timer->interval_;
    timer->block_ = std::move(block);
    timer->loop_ = weak_from_this();
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(timer);
    }
    wake();
    return timer;
}

void RunLoopTimer::invalidate() {
    std::function<void(RunLoopTimer&)> block;
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) return;
        valid_ = false;
        block = std::move(block_); // released outside the lock: it may own anything
        loop = loop_.lock();
    }
    if (loop) {
        std::lock_guard lock(loop->mutex_);
        std::erase_if(loop->timers_, [this](const auto& t) { return t.get() == this; });
    }
}

bool RunLoopTimer::isValid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

bool RunLoopTimer::runsIn(RunLoopMode mode) const {
    return mode_ == TimerMode::common || mode == RunLoopMode::defaultMode;
}

bool RunLoopTimer::fire() {
    std::function<void(RunLoopTimer&)> block;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) return false;
        block = block_;
    }
    block(*this);
    if (!repeats_) invalidate();
    return true;
}

bool RunLoop::runOnce(double maxWaitSeconds, RunLoopMode mode) {
    const bool isMainLoop = this == main().get();
    std::deque<Block> performs;
    std::deque<Block> mainBlocks;
    std::vector<std::shared_ptr<RunLoopTimer>> due;
    {
        std::unique_lock lock(mutex_);
        ++runDepth_;
        // The main queue is serial: while one of its blocks runs a nested loop, it is not drained.
        auto mainReady = [&] { return isMainLoop && !drainingMainQueue_ && !mainQueue_.empty(); };
        auto earliestTimer = [&] {
            auto earliest = Clock::time_point::max();
            for (const auto& timer : timers_) {
                if (timer->runsIn(mode)) earliest = std::min(earliest, timer->fireAt_);
            }
            return earliest;
        };
        auto deadline = Clock::now() + secondsToDuration(std::max(maxWaitSeconds, 0.0));
        for (;;) {
            if (stopRequested_ || !performs_.empty() || mainReady()) break;
            auto wakeAt = std::min(deadline, earliestTimer());
            if (Clock::now() >= wakeAt) break;
            condition_.wait_until(lock, wakeAt);
        }
        performs.swap(performs_);
        if (mainReady()) mainBlocks.swap(mainQueue_);
        auto now = Clock::now();
        for (const auto& timer : timers_) {
            if (timer->runsIn(mode) && timer->fireAt_ <= now) due.push_back(timer);
        }
        std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->fireAt_ < b->fireAt_; });
        for (const auto& timer : due) {
            if (timer->repeats_) {
                // Skip missed firings rather than firing in a burst.
                while (timer->fireAt_ <= now) timer->fireAt_ += std::max(timer->interval_, Clock::duration(1));
            }
        }
        if (isMainLoop && !mainBlocks.empty()) drainingMainQueue_ = true;
    }

    const bool tookMainBlocks = !mainBlocks.empty();
    bool ran = !performs.empty() || tookMainBlocks;
    for (auto& block : performs) {
        block();
        block = nullptr;
    }
    while (!mainBlocks.empty()) {
        Block block = std::move(mainBlocks.front());
        mainBlocks.pop_front();
        detail::runMainQueueBlock(block);
    }
    if (tookMainBlocks) {
        std::lock_guard lock(mutex_);
        drainingMainQueue_ = false;
    }
    for (const auto& timer : due) {
        if (timer->fire()) ran = true;
    }

    std::lock_guard lock(mutex_);
    --runDepth_;
    return ran;
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds, RunLoopMode mode) {
    auto deadline = Clock::now() + secondsToDuration(timeoutSeconds);
    for (;;) {
        if (predicate()) return true;
        auto left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0) return predicate();
        // Wake at least every 10 ms so predicates over state changed by other threads are seen.
        runOnce(std::min(left, 0.01), mode);
        std::lock_guard lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            break;
        }
    }
    return predicate();
}

void RunLoop::run() {
    for (;;) {
        runOnce(3600.0, RunLoopMode::defaultMode);
        std::lock_guard lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            return;
        }
    }
}

} // namespace tarpelix::platform
