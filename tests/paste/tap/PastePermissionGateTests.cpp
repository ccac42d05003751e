#include "paste/PasteEventTap.h"
#include "paste/PastePermissionGate.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;
using Target = PastePermissionGate::Target;

namespace {

// A probe whose answers the test gives by hand, in any order.
struct ManualProbe {
    struct Asked {
        Target target;
        std::function<void(bool)> completion;
    };
    std::vector<Asked> asked;
    PastePermissionGate::Probe function() {
        return [this](const Target& target, std::function<void(bool)> completion) {
            asked.push_back({target, std::move(completion)});
        };
    }
};

class PastePermissionGateTest : public ::testing::Test {
protected:
    void SetUp() override {
        gate = PastePermissionGate::create([this] { return now; }, probe.function());
        gate->changed = [this] { ++changes; };
    }

    double now = 500.0;
    ManualProbe probe;
    std::shared_ptr<PastePermissionGate> gate;
    int changes = 0;
    const Target ghostty{101, "com.mitchellh.ghostty"};
    const Target iterm{202, "com.googlecode.iterm2"};
};

} // namespace

TEST_F(PastePermissionGateTest, AGrantLastsTwoSecondsFromTheStartOfItsProbe) {
    gate->refresh(ghostty, true);
    ASSERT_EQ(probe.asked.size(), 1u);
    EXPECT_EQ(probe.asked[0].target, ghostty);
    int before = changes;
    now += 1.5; // the answer takes a while
    probe.asked[0].completion(true);
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(gate->grantedUntil(), 502.0);
    EXPECT_TRUE(gate->allows(ghostty));
    EXPECT_FALSE(gate->allows(iterm));
    EXPECT_FALSE(gate->allows(Target{101, "com.googlecode.iterm2"}));
    EXPECT_TRUE(gate->ready());
    now = 502.0; // lapses at that instant, without any call
    EXPECT_FALSE(gate->allows(ghostty));
    EXPECT_FALSE(gate->ready());
}

TEST_F(PastePermissionGateTest, OneProbeAtATimeAndADenialClearsAnEarlierGrant) {
    gate->refresh(ghostty, true);
    gate->refresh(ghostty, true);
    EXPECT_EQ(probe.asked.size(), 1u);
    probe.asked[0].completion(true);
    now += 1.0;
    gate->refresh(ghostty, true);
    ASSERT_EQ(probe.asked.size(), 2u);
    EXPECT_TRUE(gate->allows(ghostty)); // the earlier grant holds while the next probe runs
    probe.asked[1].completion(false);
    EXPECT_FALSE(gate->grantedUntil().has_value());
    EXPECT_FALSE(gate->allows(ghostty));
    gate->refresh(ghostty, true); // a denial is asked again
    EXPECT_EQ(probe.asked.size(), 3u);
}

TEST_F(PastePermissionGateTest, AProbeThatNeverAnswersIsGivenUpAfterTenSeconds) {
    gate->refresh(ghostty, true); // this probe hangs
    now += PastePermissionGate::probeTimeout;
    gate->refresh(ghostty, true);
    EXPECT_EQ(probe.asked.size(), 1u) << "ten seconds are not yet too long";
    now += 0.5;
    gate->refresh(ghostty, true);
    ASSERT_EQ(probe.asked.size(), 2u);
    gate->refresh(ghostty, true);
    EXPECT_EQ(probe.asked.size(), 2u) << "the new probe is the one outstanding";
    probe.asked[1].completion(true);
    EXPECT_EQ(gate->grantedUntil(), 510.5 + PastePermissionGate::grantDuration);
    EXPECT_TRUE(gate->allows(ghostty));

    // The first probe's late denial belongs to a probe given up: it changes nothing.
    const int before = changes;
    probe.asked[0].completion(false);
    EXPECT_EQ(changes, before);
    EXPECT_TRUE(gate->allows(ghostty));
}

TEST_F(PastePermissionGateTest, StaleAnswersAreDroppedWithoutTellingAnyone) {
    gate->refresh(ghostty, true);
    gate->refresh(iterm, true); // the frontmost terminal changed
    ASSERT_EQ(probe.asked.size(), 2u);
    int before = changes;
    probe.asked[0].completion(true);
    EXPECT_EQ(changes, before);
    EXPECT_FALSE(gate->ready());

    // After a reset an answer is stale even for the same target.
    gate->reset();
    gate->refresh(iterm, true);
    ASSERT_EQ(probe.asked.size(), 3u);
    before = changes;
    probe.asked[1].completion(true);
    EXPECT_EQ(changes, before);
    EXPECT_FALSE(gate->ready());
    probe.asked[2].completion(true);
    EXPECT_TRUE(gate->allows(iterm));

    // A gate that has gone ignores late answers.
    gate->refresh(ghostty, true);
    auto late = std::move(probe.asked.back().completion);
    gate.reset();
    late(true);
}

TEST_F(PastePermissionGateTest, MissingPrerequisitesOrTargetResetTheGate) {
    gate->refresh(ghostty, true);
    probe.asked[0].completion(true);
    struct Row {
        const char* name;
        std::optional<Target> target;
        bool prerequisites;
    };
    const Row rows[] = {{"no target", std::nullopt, true}, {"no prerequisites", ghostty, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        gate->refresh(ghostty, true);
        probe.asked.back().completion(true);
        ASSERT_TRUE(gate->ready());
        int before = changes;
        gate->refresh(row.target, row.prerequisites);
        EXPECT_EQ(changes, before + 1);
        EXPECT_FALSE(gate->grantedUntil().has_value());
        EXPECT_FALSE(gate->allows(ghostty));
    }
    int before = changes;
    gate->reset(); // told even when nothing was set
    EXPECT_EQ(changes, before + 1);
}

TEST(PastePermissionGateProbe, AsksTheDesktopsAutomationPermissionAndAnswersOnTheMainQueue) {
    DesktopControl::reset();
    auto ghostty = WorkspaceControl::launchApplication({.bundleIdentifier = "com.mitchellh.ghostty"});
    auto gate = PastePermissionGate::create();
    const Target target{ghostty, "com.mitchellh.ghostty"};
    struct Row {
        AutomationAnswer answer;
        bool ready;
        bool quit = false; // a terminal that quit does not run: no grant
    };
    for (const Row& row : {Row{AutomationAnswer::granted, true}, Row{AutomationAnswer::denied, false},
                           Row{AutomationAnswer::wouldAsk, false}, Row{AutomationAnswer::granted, true},
                           Row{AutomationAnswer::granted, false, true}}) {
        AppleEventsControl::setAutomationPermission("com.mitchellh.ghostty", row.answer);
        if (row.quit) WorkspaceControl::quitApplication(ghostty);
        int checks = AppleEventsControl::permissionChecks();
        bool answered = false;
        gate->changed = [&] { answered = true; };
        gate->refresh(target, true);
        answered = false; // a first refresh resets the gate, which tells at once; the answer comes later
        ASSERT_TRUE(runMainUntil([&] { return answered; }));
        if (!row.quit) {
            EXPECT_EQ(AppleEventsControl::permissionChecks(), checks + 1);
        }
        EXPECT_EQ(gate->allows(target), row.ready);
    }
    DesktopControl::reset();
}

// What the user sees when Automation answers slowly or the main thread stalls: the arming
// lapses 2.0 seconds after the probe that granted it started, the paste in flight is
// cancelled with the readiness text and Control+V becomes an ordinary paste again.
TEST(PastePermissionGateProbe, ASlowAnswerLetsReadinessLapseAndCancelsThePasteInFlight) {
    DesktopControl::reset();
    InputEventsControl::setAccessibilityTrusted(true);
    auto terminal = WorkspaceControl::launchApplication({.bundleIdentifier = "com.apple.Terminal"});
    AppleEventsControl::setAutomationPermission("com.apple.Terminal", AutomationAnswer::granted);
    AppleEventsControl::setPermissionLatency(0.05);

    std::atomic<double> now{100.0};
    auto clock = [&] { return now.load(); };
    auto gate = PastePermissionGate::create(clock);
    auto tap = PasteEventTap::create(clock);
    std::vector<PasteGesture> gestures;
    std::vector<std::string> shown;
    tap->receive = [&](const PasteGesture& gesture) { gestures.push_back(gesture); };
    tap->invalidated = [&](const std::shared_ptr<PasteOperation>& operation) {
        shown.push_back(operation->cancellationReason().value_or(""));
    };
    tap->report = [&](const std::string& text) { shown.push_back(text); };
    // The coordinator's arming step, reduced to what the gate decides.
    auto arm = [&] { tap->configure(true, gate->ready() ? terminal : 0, gate->grantedUntil().value_or(0.0)); };
    gate->changed = arm;
    const Target target{terminal, "com.apple.Terminal"};

    tap->refresh(true);
    ASSERT_TRUE(runMainUntil([&] { return !shown.empty(); }));
    shown.clear();
    gate->refresh(target, true); // probe starts at 100.0: grant until 102.0
    ASSERT_TRUE(runMainUntil([&] { return gate->ready(); }));
    EXPECT_EQ(gate->grantedUntil(), 102.0);

    auto press = [](EventFlags flags) {
        return InputEventsControl::deliver(InputEventsControl::keyEvent(9, true, flags)).swallowed;
    };
    EXPECT_TRUE(press(EventFlag::control));
    ASSERT_TRUE(runMainUntil([&] { return gestures.size() == 1; }));
    auto operation = PasteOperation::create(gestures[0].deadline);
    tap->track(operation, gestures[0]);

    // The next refresh comes late (the main thread stalled), and its probe is still
    // outstanding when the first grant lapses.
    now = 101.5;
    gate->refresh(target, true);
    now = 102.0;
    // Until the main thread runs again, the tap alone decides.
    EXPECT_FALSE(tap->isCurrent(gestures[0]));
    EXPECT_EQ(operation->cancellationReason(), PasteEventTap::readinessExpiredReason);
    EXPECT_TRUE(InputEventsControl::deliver(InputEventsControl::keyEvent(9, false)).swallowed);
    EXPECT_FALSE(press(EventFlag::control)); // disarmed: reaches the terminal as a normal paste
    ASSERT_TRUE(runMainUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(shown.front(), "Paste cancelled — permission readiness expired; paste again");

    // The late answer re-arms until 103.5 (its probe started at 101.5).
    ASSERT_TRUE(runMainUntil([&] { return gate->ready(); }));
    EXPECT_EQ(gate->grantedUntil(), 103.5);
    EXPECT_TRUE(press(EventFlag::control));
    // The grant still holds, but an arming whose readiness has already lapsed never arms.
    now = 103.0;
    tap->configure(true, terminal, now);
    EXPECT_FALSE(press(EventFlag::control));
    tap.reset();
    DesktopControl::reset();
}
