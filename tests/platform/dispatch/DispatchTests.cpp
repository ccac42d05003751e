#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTimer.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/RunLoopControl.h"
#include "platform/foundation/MainThread.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;

namespace {
// Waits for everything given to `queue` before this call to have run.
void drain(const std::shared_ptr<DispatchQueue>& queue) { queue->sync([] {}); }
} // namespace

TEST(DispatchQueue, SerialQueueRunsBlocksInOrderOneAtATime) {
    auto queue = DispatchQueue::create("com.tarpelix.test.order", QualityOfService::utility);
    std::vector<int> order; // touched only on the queue
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 500; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    drain(queue);
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueue, ManyProducersOnOneSerialQueueNeverRace) {
    auto queue = DispatchQueue::create("com.tarpelix.test.producers");
    long counter = 0; // deliberately unsynchronised: the serial queue is the only guard
    std::vector<std::thread> producers;
    for (int t = 0; t < 8; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) queue->async([&] { ++counter; });
        });
    }
    for (auto& p : producers) p.join();
    EXPECT_EQ(queue->sync([&] { return counter; }), 8000);
}

TEST(DispatchQueue, SyncFromAnotherThreadReturnsValueAndRethrows) {
    auto queue = DispatchQueue::create("com.tarpelix.test.sync");
    bool onQueue = false;
    int value = queue->sync([&] {
        onQueue = queue->isCurrent() && DispatchQueue::current() == queue.get();
        return 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_THROW(queue->sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    // The queue still works after a block threw.
    EXPECT_EQ(queue->sync([] { return 7; }), 7);
}

TEST(DispatchQueueDeathTest, SyncOntoTheCurrentQueueStopsTheProcess) {
    EXPECT_DEATH(
        {
            auto queue = DispatchQueue::create("com.tarpelix.test.self");
            queue->sync([&] { queue->sync([] {}); });
        },
        "com.tarpelix.test.self");
    EXPECT_DEATH(DispatchQueue::main()->sync([] {}), "deadlock");
}

TEST(DispatchQueue, AsyncAfterRunsInDeadlineOrder) {
    auto queue = DispatchQueue::create("com.tarpelix.test.after");
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> done{0};
    for (auto [delay, tag] : {std::pair{0.06, 3}, std::pair{0.0, 1}, std::pair{0.03, 2}}) {
        queue->asyncAfter(delay, [&, tag = tag] {
            std::lock_guard lock(mutex);
            order.push_back(tag);
            done.fetch_add(1);
        });
    }
    ASSERT_TRUE(runMainUntil([&] { return done.load() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueue, ReleasedQueueStillRunsWhatItWasGiven) {
    std::atomic<bool> ran{false};
    {
        auto queue = DispatchQueue::create("com.tarpelix.test.released");
        queue->asyncAfter(0.02, [&] { ran = true; });
    }
    EXPECT_TRUE(runMainUntil([&] { return ran.load(); }));
}

TEST(DispatchQueue, MainQueueBlocksRunOnlyInTheMainRunLoop) {
    auto worker = DispatchQueue::create("com.tarpelix.test.poster");
    std::atomic<bool> ran{false};
    std::atomic<bool> ranOnMain{false};
    worker->sync([&] {
        DispatchQueue::main()->async([&] {
            ranOnMain = isMainThread() && DispatchQueue::main()->isCurrent();
            ran = true;
        });
    });
    // Posted, but nothing drains the main queue until the main run loop runs.
    EXPECT_FALSE(ran.load());
    EXPECT_TRUE(runMainUntil([&] { return ran.load(); }));
    EXPECT_TRUE(ranOnMain.load());

    // A worker's sync onto main waits for the main loop to run the block.
    std::atomic<int> result{0};
    worker->async([&] { result = DispatchQueue::main()->sync([] { return isMainThread() ? 5 : -1; }); });
    EXPECT_TRUE(runMainUntil([&] { return result.load() != 0; }));
    EXPECT_EQ(result.load(), 5);
}

TEST(DispatchQueue, GlobalQueueRunsBlocksConcurrently) {
    // Two blocks that each wait for the other can only finish if they run at the same time.
    std::atomic<int> arrived{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < 2; ++i) {
        DispatchQueue::global(QualityOfService::utility)->async([&] {
            arrived.fetch_add(1);
            while (arrived.load() < 2) std::this_thread::yield();
            finished.fetch_add(1);
        });
    }
    EXPECT_TRUE(runMainUntil([&] { return finished.load() == 2; }));
}

TEST(DispatchTimer, StopsWhenCancelledOrReleased) {
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "released");
        auto queue = DispatchQueue::create("com.tarpelix.test.timer");
        std::atomic<int> fired{0};
        auto token = std::make_shared<int>(1);
        std::weak_ptr<int> weakToken = token;
        auto timer = DispatchTimer::create(queue, 0.01, [&fired, token] { fired.fetch_add(1); });
        token.reset();
        ASSERT_TRUE(runMainUntil([&] { return fired.load() >= 3; }));
        if (cancel) {
            timer->cancel();
            EXPECT_TRUE(timer->isCancelled());
        } else {
            timer.reset();
        }
        int atStop = queue->sync([&] { return fired.load(); });
        if (!cancel) {
            EXPECT_TRUE(weakToken.expired()); // the released timer let its handler go
        }
        // A firing due before this sentinel would be handed to the queue ahead of it.
        std::atomic<bool> sentinel{false};
        queue->asyncAfter(0.05, [&] { sentinel = true; });
        ASSERT_TRUE(runMainUntil([&] { return sentinel.load(); }));
        EXPECT_EQ(fired.load(), atStop);
    }
}

TEST(RunLoop, DefaultModeTimersWaitWhileTheLoopRunsInAnotherMode) {
    auto loop = RunLoop::main();
    int defaultFired = 0;
    int commonFired = 0;
    auto onlyDefault = loop->scheduleTimer(0.01, true, TimerMode::defaultMode, [&](RunLoopTimer&) { ++defaultFired; });
    auto common = loop->scheduleTimer(0.01, true, TimerMode::common, [&](RunLoopTimer&) { ++commonFired; });
    EXPECT_TRUE(loop->runUntil([&] { return commonFired >= 3; }, 5.0, RunLoopMode::eventTracking));
    EXPECT_EQ(defaultFired, 0);
    EXPECT_TRUE(loop->runUntil([&] { return defaultFired >= 1; }, 5.0));
    onlyDefault->invalidate();
    common->invalidate();
    EXPECT_FALSE(common->isValid());
}

TEST(RunLoop, OneShotTimerFiresOnceAndInvalidatesItself) {
    auto loop = RunLoop::main();
    int fired = 0;
    auto timer = loop->scheduleTimer(0.0, false, TimerMode::common, [&](RunLoopTimer&) { ++fired; });
    EXPECT_TRUE(loop->runUntil([&] { return fired == 1; }, 5.0));
    EXPECT_FALSE(timer->isValid());
    loop->runOnce(0.02);
    EXPECT_EQ(fired, 1);
}

TEST(RunLoop, ThreadLoopPerformsBlocksAndStopsFromAnotherThread) {
    std::shared_ptr<RunLoop> loop;
    std::atomic<bool> ready{false};
    std::atomic<bool> returned{false};
    std::thread thread([&] {
        loop = RunLoop::current();
        EXPECT_NE(loop, RunLoop::main());
        ready = true;
        loop->run();
        returned = true;
    });
    while (!ready.load()) std::this_thread::yield();
    std::atomic<bool> performed{false};
    std::thread::id performedOn;
    loop->perform([&] {
        performedOn = std::this_thread::get_id();
        performed = true;
    });
    while (!performed.load()) std::this_thread::yield();
    EXPECT_EQ(performedOn, thread.get_id());
    loop->stop();
    thread.join();
    EXPECT_TRUE(returned.load());
}

TEST(RunLoopControl, FiresEachValidTimerOncePerRoundWithoutWaiting) {
    auto& loop = *RunLoop::main();
    int ticks = 0;
    int oneShot = 0;
    int cancelled = 0;
    auto tick = loop.scheduleTimer(0.25, true, TimerMode::defaultMode, [&](RunLoopTimer&) { ++ticks; });
    auto once = loop.scheduleTimer(3600, false, TimerMode::common, [&](RunLoopTimer&) { ++oneShot; });
    auto gone = loop.scheduleTimer(0.25, true, TimerMode::common, [&](RunLoopTimer&) { ++cancelled; });
    gone->invalidate();
    EXPECT_EQ(RunLoopControl::fireTimers(loop, 20), 21);
    EXPECT_EQ(ticks, 20);
    EXPECT_EQ(oneShot, 1);
    EXPECT_EQ(cancelled, 0);
    EXPECT_TRUE(tick->isValid());
    EXPECT_FALSE(once->isValid());
    tick->invalidate();
    EXPECT_EQ(RunLoopControl::fireTimers(loop, 3), 0);
    EXPECT_EQ(ticks, 20);
}

// What the blocks do to the timers during the rounds takes effect as it would in a running loop.
TEST(RunLoopControl, InvalidationAndSchedulingFromBlocksApplyAtOnce) {
    auto& loop = *RunLoop::main();
    int selfStopping = 0;
    int stoppedByOther = 0;
    int added = 0;
    std::shared_ptr<RunLoopTimer> later;
    std::shared_ptr<RunLoopTimer> addedTimer;
    // Earliest fire date, so it fires first in each round.
    auto first = loop.scheduleTimer(1, true, TimerMode::defaultMode, [&](RunLoopTimer& timer) {
        if (++selfStopping == 3) timer.invalidate();
        if (later) later->invalidate();
        if (!addedTimer)
            addedTimer = loop.scheduleTimer(1, true, TimerMode::defaultMode, [&](RunLoopTimer&) { ++added; });
    });
    later = loop.scheduleTimer(2, true, TimerMode::defaultMode, [&](RunLoopTimer&) { ++stoppedByOther; });
    RunLoopControl::fireTimers(loop, 5);
    EXPECT_EQ(selfStopping, 3);
    EXPECT_EQ(stoppedByOther, 0);
    EXPECT_EQ(added, 4); // from the round after it was scheduled
    EXPECT_FALSE(first->isValid());
    addedTimer->invalidate();
}

TEST(RunLoopControl, DefaultModeTimersFireOnlyInTheDefaultMode) {
    auto& loop = *RunLoop::main();
    int defaultFired = 0;
    int commonFired = 0;
    auto onlyDefault = loop.scheduleTimer(0.25, true, TimerMode::defaultMode, [&](RunLoopTimer&) { ++defaultFired; });
    auto common = loop.scheduleTimer(0.25, true, TimerMode::common, [&](RunLoopTimer&) { ++commonFired; });
    EXPECT_EQ(RunLoopControl::fireTimers(loop, 5, RunLoopMode::eventTracking), 5);
    EXPECT_EQ(RunLoopControl::fireTimers(loop, 1, RunLoopMode::modalPanel), 1);
    EXPECT_EQ(defaultFired, 0);
    EXPECT_EQ(commonFired, 6);
    EXPECT_EQ(RunLoopControl::fireTimers(loop, 2), 4);
    EXPECT_EQ(defaultFired, 2);
    EXPECT_EQ(commonFired, 8);
    onlyDefault->invalidate();
    common->invalidate();
}

TEST(RunLoopControl, ListsValidTimersWithTheirIntervalsRepetitionAndModes) {
    using namespace std::chrono_literals;
    auto loop = std::make_shared<RunLoop>();
    auto block = [](RunLoopTimer&) {};
    auto tick = loop->scheduleTimer(0.25, true, TimerMode::defaultMode, block);
    auto gone = loop->scheduleTimer(0.25, true, TimerMode::common, block);
    auto once = loop->scheduleTimer(1.5, false, TimerMode::common, block);
    gone->invalidate();
    const auto timers = RunLoopControl::scheduledTimers(*loop);
    ASSERT_EQ(timers.size(), 2u);
    EXPECT_EQ(timers[0].timer, tick);
    EXPECT_EQ(timers[0].interval, 250ms);
    EXPECT_TRUE(timers[0].repeats);
    EXPECT_EQ(timers[0].mode, TimerMode::defaultMode);
    EXPECT_EQ(timers[1].timer, once);
    EXPECT_EQ(timers[1].interval, 1500ms);
    EXPECT_FALSE(timers[1].repeats);
    EXPECT_EQ(timers[1].mode, TimerMode::common);
    tick->invalidate();
    once->invalidate();
    EXPECT_TRUE(RunLoopControl::scheduledTimers(*loop).empty());
}

TEST(RunLoopControlDeathTest, FiringFromAnotherThreadStopsTheProcess) {
    EXPECT_DEATH(std::thread([] { RunLoopControl::fireTimers(*RunLoop::main()); }).join(), "off the loop's thread");
}
