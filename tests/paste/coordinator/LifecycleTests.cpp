#include "support/CoordinatorFixture.h"

#include "platform/desktop/WorkspaceNotificationsControl.h"

#include <thread>

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

const std::string disabledReason = "Paste cancelled — Tarpelix disabled";
const std::string alreadyInProgress = "Uploading — request already in progress";
const std::string cancellingPrevious = "Cancelling previous paste…";
const std::string clearing = "Clearing local data — paste again";

// A coordinator armed for a pane whose foreground job is ssh; pastes into it stay in flight
// in the upload until the test releases the transport.
class LifecycleTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        if (!privateNamespaceUnavailableReason().empty()) GTEST_SKIP() << privateNamespaceUnavailableReason();
        remote = openRemotePane();
        startArmed();
        DesktopControl::copyPNG(screenshotPNG());
    }

    // Presses Control+V and waits until its upload is under way.
    void pasteInFlight() {
        const int before = transport.calls();
        EXPECT_TRUE(pressControlV().swallowed);
        EXPECT_TRUE(runMainUntil([&] { return transport.calls() == before + 1; }));
        EXPECT_TRUE(coordinator->isBusy());
    }

    std::string remote;
};

} // namespace

TEST_F(LifecycleTest, ASecondControlVIsRefusedUntilTheFirstPasteHasWoundDown) {
    pasteInFlight();
    ASSERT_TRUE(lastFeedback());
    const auto first = lastFeedback()->operationID;
    EXPECT_EQ(lastFeedback()->stage, PasteFeedback::Stage::uploading);
    EXPECT_EQ(lastFeedback()->destination, "tester@127.0.0.1:" + std::to_string(silentServer->port()));

    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(waitReported(alreadyInProgress));

    // Another key cancels the paste, which still waits for its upload.
    pressKey(keyA);
    ASSERT_TRUE(waitReported(focusOrInputChanged));
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::cancelled);
    reports.clear();
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(waitReported(cancellingPrevious));
    EXPECT_FALSE(reported(alreadyInProgress));
    EXPECT_EQ(transport.calls(), 1);
    EXPECT_EQ(replays(), 0u);

    transport.release("Upload timed out");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(lastFeedback()->operationID, first);
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::cancelled);

    // Now a new paste begins.
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(runMainUntil([&] { return lastFeedback()->operationID != first; }));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(transport.calls(), 2);
}

TEST_F(LifecycleTest, WhileLocalDataIsClearedControlVOnlySaysSo) {
    ASSERT_TRUE(coordinator->beginLocalDataClear());
    EXPECT_TRUE(coordinator->isBusy());
    EXPECT_FALSE(coordinator->beginLocalDataClear()) << "another clear";
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(waitReported(clearing));
    settle();
    EXPECT_EQ(transport.calls(), 0);
    EXPECT_TRUE(feedbacks.empty());
    EXPECT_EQ(replays(), 0u);
    coordinator->endLocalDataClear();
    EXPECT_FALSE(coordinator->isBusy());

    pasteInFlight();
    EXPECT_FALSE(coordinator->beginLocalDataClear()) << "a paste in flight";
    transport.release("Upload timed out");
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(coordinator->beginLocalDataClear());
    coordinator->endLocalDataClear();
}

TEST_F(LifecycleTest, ShutdownDrainsThePasteInFlightAndCompletesEveryWaiterOnceInOrder) {
    pasteInFlight();
    std::vector<std::string> completed;
    coordinator->shutdown([&] { completed.push_back("first"); });
    EXPECT_TRUE(coordinator->isShuttingDown());
    ASSERT_TRUE(waitReported(disabledReason));
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::cancelled);
    EXPECT_EQ(lastFeedback()->explanation, explanationFor(PasteFeedback::Outcome::cancelled, disabledReason));
    coordinator->shutdown([&] { completed.push_back("second"); });
    EXPECT_FALSE(coordinator->beginLocalDataClear()) << "during a drain";
    EXPECT_FALSE(coordinator->resumeAfterShutdown(true)) << "the paste has not been released";
    coordinator->setEnabled(true);
    settle();
    EXPECT_TRUE(completed.empty());

    transport.release("Upload timed out");
    ASSERT_TRUE(runMainUntil([&] { return completed.size() == 2; }));
    EXPECT_EQ(completed, (std::vector<std::string>{"first", "second"}));
    EXPECT_FALSE(coordinator->isBusy());
    // Still disabled: Control+V goes to the terminal untouched.
    EXPECT_FALSE(pressControlV().swallowed);
    settle();
    EXPECT_EQ(completed.size(), 2u);

    const auto ready = readyReports();
    EXPECT_TRUE(coordinator->resumeAfterShutdown(true));
    EXPECT_FALSE(coordinator->isShuttingDown());
    EXPECT_FALSE(coordinator->resumeAfterShutdown(true)) << "no drain to leave";
    ASSERT_TRUE(waitArmed(ready));
    copyText("text");
    auto before = replays();
    EXPECT_TRUE(pressControlV().swallowed);
    EXPECT_TRUE(runMainUntil([&] { return replays() == before + 1; }));
}

TEST_F(LifecycleTest, ShutdownWhenIdleCompletesOnTheMainQueueAndAgainWhenAskedAgain) {
    int completions = 0;
    coordinator->shutdown([&] { ++completions; });
    EXPECT_EQ(completions, 0) << "scheduled, not run in place";
    ASSERT_TRUE(runMainUntil([&] { return completions == 1; }));
    coordinator->shutdown([&] { ++completions; });
    ASSERT_TRUE(runMainUntil([&] { return completions == 2; }));
    settle();
    EXPECT_EQ(completions, 2);

    // A drain that waits for a clear completes when the clear ends.
    ASSERT_TRUE(coordinator->resumeAfterShutdown(true));
    ASSERT_TRUE(coordinator->beginLocalDataClear());
    coordinator->shutdown([&] { ++completions; });
    settle();
    EXPECT_EQ(completions, 2);
    EXPECT_FALSE(coordinator->resumeAfterShutdown(true)) << "a clear is in progress";
    coordinator->endLocalDataClear();
    ASSERT_TRUE(runMainUntil([&] { return completions == 3; }));
}

TEST_F(LifecycleTest, DisablingCancelsThePasteInFlightOnlyWhenItIsTheFirstReason) {
    pasteInFlight();
    const auto ready = readyReports();
    coordinator->setEnabled(false);
    ASSERT_TRUE(waitReported(disabledReason));
    EXPECT_EQ(lastFeedback()->explanation, explanationFor(PasteFeedback::Outcome::cancelled, disabledReason));
    transport.release("Upload timed out");
    ASSERT_TRUE(waitIdle());

    coordinator->setEnabled(true);
    ASSERT_TRUE(waitArmed(ready));
    transport.reset();
    pasteInFlight();
    pressKey(keyA);
    ASSERT_TRUE(waitReported(focusOrInputChanged));
    reports.clear();
    coordinator->setEnabled(false);
    EXPECT_FALSE(reported(disabledReason));
    EXPECT_EQ(lastFeedback()->explanation, explanationFor(PasteFeedback::Outcome::cancelled, focusOrInputChanged));
    transport.release("Upload timed out");
    ASSERT_TRUE(waitIdle());
    coordinator->setEnabled(false); // nothing in flight: nothing to say
    settle();
    EXPECT_FALSE(reported(disabledReason));
}

TEST_F(LifecycleTest, SleepOrWakeCancelsThePasteInFlightFromTheNotifyingThread) {
    for (auto post : {&WorkspaceNotificationsControl::sleep, &WorkspaceNotificationsControl::wake}) {
        reports.clear();
        pasteInFlight();
        std::thread([post] { post(); }).join();
        ASSERT_TRUE(waitReported("Paste cancelled — Mac slept or woke; paste again"));
        EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::cancelled);
        // The arming is unchanged: a new Control+V is held and refused while the first winds down.
        EXPECT_TRUE(pressControlV().swallowed);
        ASSERT_TRUE(waitReported(cancellingPrevious));
        transport.release("Upload timed out");
        ASSERT_TRUE(waitIdle());
        transport.reset();
    }
}
