#include "paste/model/PasteOperation.h"
#include "ssh/SSHTransport.h"
#include "terminal/TerminalUnavailable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace tarpelix;
using platform::MonotonicInstant;

namespace {
std::string thrownReason(const PasteOperation& operation) {
    try {
        operation.check();
    } catch (const TerminalUnavailable& error) {
        return error.reason;
    }
    return "<nothing thrown>";
}
} // namespace

TEST(TerminalUnavailable, DescriptionIsTheReasonAlone) {
    TerminalUnavailable error("Upload timed out");
    EXPECT_STREQ(error.what(), "Upload timed out");
    EXPECT_EQ(error.localizedDescription(), "Upload timed out");
}

TEST(PasteOperation, CheckPassesUntilCancelledThenThrowsTheFirstReason) {
    auto operation = PasteOperation::create();
    EXPECT_NO_THROW(operation->check());
    EXPECT_FALSE(operation->isCancelled());
    EXPECT_TRUE(operation->cancel("x"));
    EXPECT_FALSE(operation->cancel("y"));
    EXPECT_EQ(thrownReason(*operation), "x");
    EXPECT_EQ(operation->cancellationReason(), "x");
}

TEST(PasteOperation, DefaultDeadlineIsThirtySecondsFromNow) {
    auto before = MonotonicInstant::now();
    auto operation = PasteOperation::create();
    auto after = MonotonicInstant::now();
    EXPECT_EQ(SSHTransport::operationTimeout, 30.0);
    EXPECT_GE(operation->deadline, before.advanced(30.0));
    EXPECT_LE(operation->deadline, after.advanced(30.0));
}

TEST(PasteOperation, PassedDeadlineBecomesTheStoredReasonOnFirstLook) {
    MonotonicInstant deadline{1'000'000'000};
    std::atomic<std::int64_t> clock{deadline.nanoseconds - 1};
    auto operation = PasteOperation::create(deadline, [&] { return MonotonicInstant{clock.load()}; });
    EXPECT_FALSE(operation->isCancelled());
    clock = deadline.nanoseconds; // exactly at the deadline counts as passed
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_EQ(operation->cancellationReason(), "Paste timed out — paste again");
    EXPECT_FALSE(operation->cancel("Paste cancelled — focus or input changed"));
    clock = deadline.nanoseconds - 5; // even if the clock were to go back, the reason stays
    EXPECT_EQ(thrownReason(*operation), "Paste timed out — paste again");
}

TEST(PasteOperation, CancelIgnoresThePassedDeadlineWhenNobodyLookedYet) {
    MonotonicInstant deadline{100};
    auto operation = PasteOperation::create(deadline, [] { return MonotonicInstant{500}; });
    EXPECT_TRUE(operation->cancel("Paste cancelled — Mac slept or woke; paste again"));
    EXPECT_EQ(operation->cancellationReason(), "Paste cancelled — Mac slept or woke; paste again");
}

TEST(PasteOperation, ConcurrentCancelsLeaveExactlyOneWinner) {
    for (int round = 0; round < 50; ++round) {
        auto operation = PasteOperation::create();
        std::atomic<int> winners{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                if (operation->cancel("reason " + std::to_string(t))) winners.fetch_add(1);
                (void)operation->cancellationReason();
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(winners.load(), 1);
        auto reason = operation->cancellationReason();
        ASSERT_TRUE(reason);
        EXPECT_EQ(reason->rfind("reason ", 0), 0u);
    }
}

TEST(PasteOperationState, AdmitsOneOperationAtATime) {
    PasteOperationState state;
    auto id = platform::Uuid::random();
    auto deadline = MonotonicInstant::now().advanced(30);
    auto first = state.begin(deadline, id);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, id);
    EXPECT_EQ(first->deadline, deadline);
    EXPECT_EQ(state.current(), first);
    EXPECT_FALSE(state.begin());
    first->cancel("Paste cancelled");
    EXPECT_FALSE(state.begin()) << "a cancelled operation still holds the slot until finished";
    EXPECT_TRUE(state.finish(first));
    EXPECT_FALSE(state.current());
    EXPECT_TRUE(state.begin());
}

TEST(PasteOperationState, FinishOfAStaleOperationChangesNothing) {
    PasteOperationState state;
    auto stale = state.begin();
    ASSERT_TRUE(state.finish(stale));
    EXPECT_FALSE(state.finish(stale));
    auto current = state.begin();
    EXPECT_FALSE(state.finish(stale));
    EXPECT_FALSE(state.finish(PasteOperation::create()));
    EXPECT_EQ(state.current(), current);
    EXPECT_FALSE(current->isCancelled());
}

TEST(PasteOperationState, FinishStopsWorkStillRunningForTheOperation) {
    PasteOperationState state;
    auto operation = state.begin();
    ASSERT_TRUE(state.finish(operation));
    EXPECT_EQ(thrownReason(*operation), "Paste cancelled");

    auto cancelled = state.begin();
    cancelled->cancel("Paste cancelled — keyboard access interrupted; paste again");
    ASSERT_TRUE(state.finish(cancelled));
    EXPECT_EQ(cancelled->cancellationReason(), "Paste cancelled — keyboard access interrupted; paste again");
}

TEST(PasteOperationState, AllowsCompletionOnlyForTheLiveCurrentOperation) {
    PasteOperationState state;
    auto operation = state.begin();
    EXPECT_TRUE(state.allowsCompletion(operation));
    EXPECT_FALSE(state.allowsCompletion(PasteOperation::create()));
    EXPECT_FALSE(state.allowsCompletion(nullptr));
    state.cancel();
    EXPECT_EQ(state.current(), operation) << "cancel keeps the slot";
    EXPECT_FALSE(state.allowsCompletion(operation));
    EXPECT_EQ(operation->cancellationReason(), "Paste cancelled");
}
