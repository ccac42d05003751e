#include "paste/PasteEventTap.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;

namespace {

constexpr std::uint16_t keyA = 0;
constexpr std::uint16_t keyV = 9;
const std::string sleptOrWoke = "Paste cancelled — Mac slept or woke; paste again";

// A clock the test moves by hand; read by the tap thread too.
struct ManualClock {
    std::atomic<double> seconds{1000.0};
    PasteEventTap::Clock function() {
        return [this] { return seconds.load(); };
    }
    void advance(double by) { seconds = seconds.load() + by; }
};

EventRef key(std::uint16_t code, bool down, EventFlags flags = 0, bool autorepeat = false) {
    return InputEventsControl::keyEvent(code, down, flags, autorepeat);
}

EventDelivery press(std::uint16_t code, EventFlags flags = 0, bool autorepeat = false) {
    return InputEventsControl::deliver(key(code, true, flags, autorepeat));
}

EventDelivery release(std::uint16_t code) { return InputEventsControl::deliver(key(code, false)); }

EventRef marked(EventRef event) {
    event->setIntegerValueField(EventField::eventSourceUserData, PasteEventTap::syntheticTag);
    return event;
}

// Waits for a condition without running the main queue (whose work a test holds back).
bool waitWithoutMainQueue(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// Runs the main queue for a moment, so that anything wrongly scheduled would show.
void settle() { runMainUntil([] { return false; }, 0.05); }

// The tap on its real thread, with a terminal that is frontmost and the tap's callbacks recorded.
class PasteEventTapTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopControl::reset();
        InputEventsControl::setAccessibilityTrusted(true);
        terminal = WorkspaceControl::launchApplication({.bundleIdentifier = "com.apple.Terminal"});
        tap = makeTap();
    }
    void TearDown() override {
        tap.reset();
        EXPECT_EQ(InputEventsControl::installedTaps(), 0u);
        DesktopControl::reset();
    }

    std::shared_ptr<PasteEventTap> makeTap(PasteEventTap::Connect connect = nullptr) {
        auto made = PasteEventTap::create(clock.function(), std::move(connect));
        made->receive = [this](const PasteGesture& gesture) { gestures.push_back(gesture); };
        made->report = [this](const std::string& text) { reports.push_back(text); };
        made->invalidated = [this](const std::shared_ptr<PasteOperation>& operation) {
            invalidated.push_back(operation->cancellationReason().value_or("<none>"));
        };
        return made;
    }

    void connect() {
        tap->refresh(true);
        ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
        ASSERT_EQ(reports.back(), PasteEventTap::readyReport);
        reports.clear();
    }

    void arm(double readiness = 100.0) { tap->configure(true, terminal, clock.seconds + readiness); }

    // Holds a Control+V and begins its operation, as the coordinator would.
    std::shared_ptr<PasteOperation> holdPaste() {
        std::size_t before = gestures.size();
        EXPECT_TRUE(press(keyV, EventFlag::control).swallowed);
        EXPECT_TRUE(runMainUntil([&] { return gestures.size() == before + 1; }));
        auto operation = PasteOperation::create(gestures.back().deadline);
        tap->track(operation, gestures.back());
        return operation;
    }

    std::vector<EventRef> received() { return InputEventsControl::receivedEvents(terminal); }

    ManualClock clock;
    pid_t terminal = 0;
    std::shared_ptr<PasteEventTap> tap;
    std::vector<PasteGesture> gestures;
    std::vector<std::string> reports;
    std::vector<std::string> invalidated;
};

// Connected, and armed for the terminal.
class ArmedTapTest : public PasteEventTapTest {
protected:
    void SetUp() override {
        PasteEventTapTest::SetUp();
        connect();
        arm();
    }
};

} // namespace

TEST_F(ArmedTapTest, OnlyControlAloneAmongTheFourModifiersTriggers) {
    struct Row {
        const char* name;
        EventFlags flags;
        bool trigger;
    };
    const Row rows[] = {
        {"Control", EventFlag::control, true},
        {"Control with Caps Lock", EventFlag::control | EventFlag::alphaShift, true},
        {"Control with Fn", EventFlag::control | EventFlag::secondaryFn, true},
        {"Control with numeric pad and help", EventFlag::control | EventFlag::numericPad | EventFlag::help, true},
        {"Control+Shift", EventFlag::control | EventFlag::shift, false},
        {"Control+Option", EventFlag::control | EventFlag::alternate, false},
        {"Control+Command", EventFlag::control | EventFlag::command, false},
        {"Command", EventFlag::command, false},
        {"no modifier", 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto operation = holdPaste();
        EXPECT_TRUE(release(keyV).swallowed);
        std::size_t gesturesBefore = gestures.size();
        std::size_t receivedBefore = received().size();

        auto delivery = press(keyV, row.flags);
        EXPECT_EQ(delivery.swallowed, row.trigger);
        if (row.trigger) {
            // A second Control+V while one is in flight is held and handed over too.
            EXPECT_TRUE(runMainUntil([&] { return gestures.size() == gesturesBefore + 1; }));
            EXPECT_EQ(gestures.back().pid, terminal);
            EXPECT_EQ(gestures.back().event->flags(), row.flags);
            EXPECT_FALSE(operation->isCancelled());
            EXPECT_EQ(received().size(), receivedBefore);
            EXPECT_TRUE(release(keyV).swallowed);
        } else {
            EXPECT_EQ(delivery.receiver, terminal);
            EXPECT_EQ(operation->cancellationReason(), PasteEventTap::focusChangedReason);
            EXPECT_TRUE(runMainUntil([&] { return !invalidated.empty(); }));
            EXPECT_EQ(invalidated.back(), PasteEventTap::focusChangedReason);
            EXPECT_FALSE(tap->isCurrent(gestures.back()));
            EXPECT_FALSE(release(keyV).swallowed); // not held: the release reaches the terminal
        }
        invalidated.clear();
        tap->track(nullptr, std::nullopt);
    }
}

TEST_F(ArmedTapTest, RepeatsAreSwallowedUntilTheReplayAndReplayedAfterIt) {
    holdPaste();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(press(keyV, EventFlag::control, true).swallowed);
    EXPECT_TRUE(received().empty());
    ASSERT_EQ(gestures.size(), 1u);

    // The coordinator hands the paste back as a normal paste.
    tap->replay(gestures.front());
    InputEventsControl::waitUntilDelivered();
    auto events = received();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->type(), EventType::keyDown);
    EXPECT_EQ(events[1]->type(), EventType::keyUp);
    for (const auto& event : events) {
        EXPECT_EQ(event->integerValueField(EventField::eventSourceUserData), PasteEventTap::syntheticTag);
        EXPECT_EQ(event->integerValueField(EventField::keyboardEventKeycode), keyV);
        EXPECT_EQ(event->flags(), EventFlag::control);
    }

    // Each further repeat is swallowed and replayed as a marked key down and key up.
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(press(keyV, EventFlag::control, true).swallowed);
    ASSERT_TRUE(runMainUntil([&] {
        InputEventsControl::waitUntilDelivered();
        return received().size() == 6;
    }));
    events = received();
    for (std::size_t i = 2; i < 6; ++i) {
        EXPECT_EQ(events[i]->type(), i % 2 == 0 ? EventType::keyDown : EventType::keyUp);
        EXPECT_EQ(events[i]->integerValueField(EventField::eventSourceUserData), PasteEventTap::syntheticTag);
        EXPECT_EQ(events[i]->integerValueField(EventField::keyboardEventAutorepeat), 1);
    }

    // The held V's release never reaches the terminal; the next release does.
    EXPECT_TRUE(release(keyV).swallowed);
    EXPECT_FALSE(release(keyV).swallowed);
    EXPECT_EQ(received().size(), 7u);
    // Repeats of a Control+V that was never held pass as usual.
    tap->configure(false, 0, 0);
    EXPECT_FALSE(press(keyV, EventFlag::control, true).swallowed);
}

TEST_F(ArmedTapTest, OtherInputCancelsTheHeldPasteWhileReleasesAndModifiersDoNot) {
    struct Row {
        const char* name;
        EventRef event;
        bool cancels;
        bool endsHold; // another V press: the held V's release then reaches the terminal
    };
    const Row rows[] = {
        {"key up of another key", key(keyA, false), false, false},
        {"modifier change", InputEventsControl::mouseEvent(EventType::flagsChanged, EventFlag::shift), false, false},
        {"mouse-button release", InputEventsControl::mouseEvent(EventType::leftMouseUp), false, false},
        {"another key", key(keyA, true), true, false},
        {"Command+V", key(keyV, true, EventFlag::command), true, true},
        {"left click", InputEventsControl::mouseEvent(EventType::leftMouseDown), true, false},
        {"right click", InputEventsControl::mouseEvent(EventType::rightMouseDown), true, false},
        {"other button", InputEventsControl::mouseEvent(EventType::otherMouseDown), true, false},
        {"scroll", InputEventsControl::mouseEvent(EventType::scrollWheel), true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto operation = holdPaste();
        auto delivery = InputEventsControl::deliver(row.event);
        EXPECT_FALSE(delivery.swallowed);
        EXPECT_EQ(delivery.receiver, terminal);
        EXPECT_EQ(operation->isCancelled(), row.cancels);
        EXPECT_EQ(tap->isCurrent(gestures.back()), !row.cancels);
        if (row.cancels) {
            EXPECT_EQ(operation->cancellationReason(), PasteEventTap::focusChangedReason);
        }
        EXPECT_EQ(release(keyV).swallowed, !row.endsHold);
        tap->track(nullptr, std::nullopt);
    }
    EXPECT_TRUE(runMainUntil([&] { return invalidated.size() == 6; }));
}

TEST_F(ArmedTapTest, DisarmedControlVPassesAndCancelsTheOperationInFlight) {
    auto operation = holdPaste();
    EXPECT_TRUE(release(keyV).swallowed);
    tap->track(operation, std::nullopt); // the paste runs on after the key was released
    tap->configure(true, 0, 0);          // focus left the terminal
    EXPECT_EQ(operation->cancellationReason(), PasteEventTap::focusChangedReason);

    auto second = PasteOperation::create();
    tap->track(second, std::nullopt);
    auto delivery = press(keyV, EventFlag::control);
    EXPECT_FALSE(delivery.swallowed);
    EXPECT_EQ(delivery.receiver, terminal);
    EXPECT_EQ(second->cancellationReason(), PasteEventTap::focusChangedReason);
    EXPECT_EQ(gestures.size(), 1u);
}

TEST_F(PasteEventTapTest, MarkedEventsPassEvenWhileInterruptedAndNeverCancel) {
    // A tap that starts interrupted stays so until its connection result reaches the main
    // thread; its thread already decides events meanwhile.
    tap->refresh(false);
    tap->refresh(true);
    ASSERT_TRUE(waitWithoutMainQueue([] { return InputEventsControl::liveTaps() == 1; }));
    arm();
    EXPECT_FALSE(press(keyV, EventFlag::control).swallowed);
    Event::post(EventTapLocation::session, marked(key(keyV, true, EventFlag::control)));
    InputEventsControl::waitUntilDelivered();
    EXPECT_EQ(received().size(), 2u);
    EXPECT_TRUE(gestures.empty());

    ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports, std::vector<std::string>{PasteEventTap::readyReport});
    arm();
    auto operation = holdPaste();
    const EventRef markedEvents[] = {
        marked(key(keyV, true, EventFlag::control)), marked(key(keyV, true, EventFlag::command)),
        marked(key(keyA, true)), marked(InputEventsControl::mouseEvent(EventType::leftMouseDown)),
        marked(key(keyV, false))};
    for (const auto& event : markedEvents) Event::postToPid(terminal, event);
    InputEventsControl::waitUntilDelivered();
    EXPECT_EQ(received().size(), 2u + std::size(markedEvents));
    EXPECT_FALSE(operation->isCancelled());
    EXPECT_TRUE(tap->isCurrent(gestures.back()));
    EXPECT_TRUE(release(keyV).swallowed); // the marked release did not end the hold
}

TEST_F(ArmedTapTest, SleepOrWakeDropsTheHeldPasteWithItsText) {
    auto operation = holdPaste();
    auto gesture = gestures.back();
    tap->invalidate(sleptOrWoke);
    EXPECT_EQ(operation->cancellationReason(), sleptOrWoke);
    ASSERT_TRUE(runMainUntil([&] { return !invalidated.empty(); }));
    EXPECT_EQ(invalidated, std::vector<std::string>{sleptOrWoke});
    EXPECT_FALSE(tap->isCurrent(gesture));

    // A stale gesture is neither replayed nor tracked as current.
    tap->replay(gesture);
    InputEventsControl::waitUntilDelivered();
    EXPECT_TRUE(received().empty());
    auto late = PasteOperation::create();
    tap->track(late, gesture);
    EXPECT_EQ(late->cancellationReason(), PasteOperation::defaultCancelReason);
    // The arming survives: the next Control+V is held again.
    EXPECT_TRUE(release(keyV).swallowed);
    holdPaste();
    EXPECT_EQ(gestures.size(), 2u);
}

TEST_F(ArmedTapTest, DisableNotificationsInterruptOnceAndAStaleConnectionIsDropped) {
    auto operation = holdPaste();
    InputEventsControl::disableTaps(EventType::tapDisabledByTimeout);
    ASSERT_TRUE(runMainUntil([&] { return !reports.empty() && !invalidated.empty(); }));
    EXPECT_EQ(reports, std::vector<std::string>{PasteEventTap::interruptedReport});
    EXPECT_EQ(operation->cancellationReason(), PasteEventTap::interruptedReason);
    // Disabled: Control+V bypasses the tap.
    EXPECT_FALSE(press(keyV, EventFlag::control).swallowed);

    // Within the retry delay a refresh only tears the dead tap down.
    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([] { return InputEventsControl::installedTaps() == 0; }));
    clock.advance(1.0);
    // A new tap thread starts; its result is held back on the main queue while the system
    // disables the new tap as well.
    tap->refresh(true);
    ASSERT_TRUE(waitWithoutMainQueue([] { return InputEventsControl::liveTaps() == 1; }));
    InputEventsControl::disableTaps(EventType::tapDisabledByTimeout); // returns once the tap was told
    ASSERT_TRUE(runMainUntil([] { return InputEventsControl::installedTaps() == 0; }));
    // The second notice reported nothing, and the stale connection was not installed.
    EXPECT_EQ(reports, std::vector<std::string>{PasteEventTap::interruptedReport});
    EXPECT_EQ(invalidated.size(), 1u);

    // The retry delay moved on with the second notice: no new tap before it passes.
    tap->refresh(true);
    settle();
    EXPECT_EQ(InputEventsControl::installedTaps(), 0u);
    clock.advance(1.0);
    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports.back(), PasteEventTap::readyReport);
    arm();
    EXPECT_TRUE(press(keyV, EventFlag::control).swallowed);
}

TEST_F(PasteEventTapTest, AfterADisableByUserInputNoTapStartsUntilAccessibilityWasSeenDenied) {
    connect();
    InputEventsControl::setAccessibilityTrusted(false); // disables the tap as user input
    ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
    InputEventsControl::setAccessibilityTrusted(true);
    clock.advance(5.0);
    tap->refresh(true);
    settle();
    EXPECT_EQ(InputEventsControl::installedTaps(), 0u);
    EXPECT_EQ(reports.size(), 1u);

    tap->refresh(false); // the coordinator saw Accessibility denied
    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports.back(), PasteEventTap::readyReport);
}

TEST_F(PasteEventTapTest, AFailedCreationIsReportedAndRetriedASecondLater) {
    InputEventsControl::failNext(InputEventsControl::Failure::tapCreation, 1);
    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports.back(), PasteEventTap::unavailableReport);
    tap->refresh(true);
    settle();
    EXPECT_EQ(reports.size(), 1u);
    clock.advance(1.0);
    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports.back(), PasteEventTap::readyReport);

    // A failed run-loop source is the same failure, and the port is not left behind.
    tap = makeTap();
    InputEventsControl::failNext(InputEventsControl::Failure::runLoopSource, 1);
    reports.clear();
    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports.back(), PasteEventTap::unavailableReport);
    EXPECT_EQ(InputEventsControl::installedTaps(), 0u);
}

TEST_F(ArmedTapTest, TheTapKeepsDecidingWhileTheMainThreadIsBlocked) {
    std::atomic<bool> done{false};
    std::vector<bool> swallowed;
    // The main queue is busy with this block the whole time: nothing posted to it can run.
    DispatchQueue::main()->async([&] {
        for (int i = 0; i < 3; ++i) {
            swallowed.push_back(press(keyV, EventFlag::control).swallowed);
            swallowed.push_back(press(keyV, EventFlag::control, true).swallowed);
            swallowed.push_back(release(keyV).swallowed);
        }
        swallowed.push_back(press(keyA).swallowed);
        EXPECT_TRUE(gestures.empty());
        done = true;
    });
    ASSERT_TRUE(runMainUntil([&] { return done.load(); }));
    EXPECT_EQ(swallowed, (std::vector<bool>{true, true, true, true, true, true, true, true, true, false}));
    ASSERT_TRUE(runMainUntil([&] { return gestures.size() == 3; }));
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(ArmedTapTest, AFailedCopyTurnsATriggerIntoOrdinaryInput) {
    auto operation = holdPaste();
    EXPECT_TRUE(release(keyV).swallowed);
    tap->track(operation, std::nullopt);
    InputEventsControl::failNext(InputEventsControl::Failure::eventCopy, 1);
    EXPECT_FALSE(press(keyV, EventFlag::control).swallowed);
    EXPECT_EQ(operation->cancellationReason(), PasteEventTap::focusChangedReason);

    // A replay whose copies fail posts nothing.
    tap->track(nullptr, std::nullopt);
    holdPaste();
    InputEventsControl::failNext(InputEventsControl::Failure::eventCopy, 1);
    tap->replay(gestures.back());
    InputEventsControl::waitUntilDelivered();
    EXPECT_EQ(received().size(), 1u); // only the Control+V that passed above
}

TEST_F(PasteEventTapTest, LateConnectionResultsAreNotInstalled) {
    std::vector<PasteEventTap::ConnectionCompletion> pending;
    int invalidations = 0;
    tap = makeTap([&](PasteEventTap::ConnectionCompletion completion) { pending.push_back(std::move(completion)); });
    auto connection = PasteEventTap::Connection{[&] { ++invalidations; }};

    tap->refresh(true);
    tap->refresh(true); // one attempt at a time
    ASSERT_EQ(pending.size(), 1u);
    tap->refresh(false); // disconnect while starting
    pending[0](connection);
    settle();
    EXPECT_EQ(invalidations, 1);
    EXPECT_TRUE(reports.empty());

    tap->refresh(true);
    ASSERT_EQ(pending.size(), 2u);
    pending[1](connection);
    ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports.back(), PasteEventTap::readyReport);
    EXPECT_EQ(invalidations, 1);
    tap->refresh(false); // a live connection is torn down
    EXPECT_EQ(invalidations, 2);
}

TEST_F(PasteEventTapTest, CreatingAndDestroyingUnderLoadLeavesNothingBehind) {
    std::atomic<bool> stop{false};
    std::thread typist([&] {
        while (!stop) {
            InputEventsControl::deliver(key(keyV, true, EventFlag::control));
            InputEventsControl::deliver(key(keyV, false));
        }
    });
    for (int i = 0; i < 30; ++i) {
        tap = makeTap();
        tap->refresh(true);
        if (i % 3 != 0) {
            ASSERT_TRUE(runMainUntil([&] { return !reports.empty(); }));
            arm();
        }
        if (i % 2 == 0) runMainUntil([&] { return !gestures.empty(); }, 0.2);
        reports.clear();
        tap.reset(); // while the tap thread is live, starting, or blocks for it are queued
        EXPECT_EQ(InputEventsControl::installedTaps(), 0u);
    }
    stop = true;
    typist.join();
    settle(); // queued blocks find the tap gone
}
