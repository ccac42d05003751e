#include "model/PasteOperation.h"
#include "ssh/SSHTransport.h"
#include "model/TerminalUnavailable.h"

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

TEST(PasteOperation, CheckPassesUntilCancelledThenThrowsTheFirstReason) {
    auto operation = PasteOperation::create();
    EXPECT_NO_THROW(operation->check());
    EXPECT_TRUE(operation->cancel("x"));
    EXPECT_FALSE(operation->cancel("y"));
    EXPECT_EQ(thrownReason(*operation), "x");
    EXPECT_STREQ(TerminalUnavailable("x").what(), "x");
}

TEST(PasteOperation, DefaultDeadlineIsThirtySecondsFromNow) {
    auto before = MonotonicInstant::now();
    auto operation = PasteOperation::create();
    EXPECT_GE(operation->deadline, before.advanced(SSHTransport::operationTimeout));
    EXPECT_LE(operation->deadline, MonotonicInstant::now().advanced(30.0));
}

TEST(PasteOperation, PassedDeadlineBecomesTheStoredReasonOnFirstLookButNotBeforeACancel) {
    MonotonicInstant deadline{1'000'000'000};
    std::atomic<std::int64_t> clock{deadline.nanoseconds - 1};
    auto operation = PasteOperation::create(deadline, [&] { return MonotonicInstant{clock.load()}; });
    EXPECT_FALSE(operation->isCancelled());
    clock = deadline.nanoseconds; // exactly at the deadline counts as passed
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_FALSE(operation->cancel("Paste cancelled — focus or input changed"));
    clock = deadline.nanoseconds - 5; // even if the clock were to go back, the reason stays
    EXPECT_EQ(thrownReason(*operation), "Paste timed out — paste again");

    // Nobody looked before the cancel: its reason wins over the passed deadline.
    auto unseen = PasteOperation::create(MonotonicInstant{100}, [] { return MonotonicInstant{500}; });
    EXPECT_TRUE(unseen->cancel("Paste cancelled — Mac slept or woke; paste again"));
    EXPECT_EQ(unseen->cancellationReason(), "Paste cancelled — Mac slept or woke; paste again");
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

TEST(PasteOperationState, AdmitsOneOperationAtATimeAndOnlyItsOwnFinish) {
    PasteOperationState state;
    auto id = platform::Uuid::random();
    auto deadline = MonotonicInstant::now().advanced(30);
    auto first = state.begin(deadline, id);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, id);
    EXPECT_EQ(first->deadline, deadline);
    EXPECT_FALSE(state.begin());
    first->cancel("Paste cancelled — keyboard access interrupted; paste again");
    EXPECT_FALSE(state.begin()) << "a cancelled operation still holds the slot until finished";
    EXPECT_TRUE(state.finish(first));
    EXPECT_EQ(first->cancellationReason(), "Paste cancelled — keyboard access interrupted; paste again");
    EXPECT_FALSE(state.current());

    auto current = state.begin();
    EXPECT_FALSE(state.finish(first)) << "stale";
    EXPECT_FALSE(state.finish(PasteOperation::create()));
    EXPECT_EQ(state.current(), current);
    EXPECT_FALSE(current->isCancelled());
    ASSERT_TRUE(state.finish(current));
    EXPECT_EQ(thrownReason(*current), "Paste cancelled") << "finish stops work still running for it";
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
