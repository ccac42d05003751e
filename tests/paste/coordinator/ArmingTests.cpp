#include "support/CoordinatorFixture.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/desktop/WorkspaceNotificationsControl.h"

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

const std::string accessibilityRequired = "Native paste — Accessibility access required";
const std::string clipboardRequired = "Native paste — Clipboard Always Allow required";
const std::string automationPending = "Native paste — checking or awaiting terminal Automation access";

class ArmingTest : public CoordinatorTest {
protected:
    // Control+V went past the tap to the terminal, unmarked.
    void expectUntouched() {
        const auto before = replays();
        auto delivery = pressControlV();
        EXPECT_FALSE(delivery.swallowed);
        EXPECT_EQ(delivery.receiver, terminal->pid());
        settle();
        EXPECT_EQ(replays(), before);
    }
};

} // namespace

TEST_F(ArmingTest, ControlVPassesUntouchedWhileAnyPermissionIsMissingAndIsHeldAgainOnceGranted) {
    struct Row {
        const char* name;
        std::function<void()> revoke;
        std::function<void()> grant;
        std::string status;
        bool reconnects; // the tap itself was cut off
    };
    const auto bundle = GhosttyControl::bundleIdentifier;
    const Row rows[] = {
        {"Accessibility", [] { InputEventsControl::setAccessibilityTrusted(false); },
         [] { InputEventsControl::setAccessibilityTrusted(true); }, accessibilityRequired, true},
        {"Automation", [&] { AppleEventsControl::setAutomationPermission(bundle, AutomationAnswer::denied); },
         [&] { AppleEventsControl::setAutomationPermission(bundle, AutomationAnswer::granted); }, automationPending, false},
        {"Automation not yet answered", [&] { AppleEventsControl::setAutomationPermission(bundle, AutomationAnswer::wouldAsk); },
         [&] { AppleEventsControl::setAutomationPermission(bundle, AutomationAnswer::granted); }, automationPending, false},
        {"clipboard access", [] { DesktopControl::setPasteboardAccessBehavior(1); },
         [] { DesktopControl::setPasteboardAccessBehavior(2); }, clipboardRequired, false},
    };
    startArmed();
    copyText("plain text");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto ready = readyReports();
        row.revoke();
        coordinator->permissionsDidChange();
        ASSERT_TRUE(runMainUntil([&] { return coordinator->permissionStatus() == row.status; }));
        expectUntouched();
        EXPECT_EQ(coordinator->permissionStatus(), row.status);

        row.grant();
        coordinator->permissionsDidChange();
        ASSERT_TRUE(waitArmed(row.reconnects ? std::optional(ready) : std::nullopt));
        auto before = replays();
        EXPECT_TRUE(pressControlV().swallowed);
        EXPECT_TRUE(runMainUntil([&] { return replays() == before + 1; })) << "text is replayed as a normal paste";
    }
    EXPECT_EQ(transport.calls(), 0);
}

TEST_F(ArmingTest, ThePermissionStatusIsReportedOncePerChange) {
    makeCoordinator();
    std::vector<std::optional<std::string>> statuses;
    coordinator->reportPermissionReadiness = [&] { statuses.push_back(coordinator->permissionStatus()); };
    coordinator->start(true);
    ASSERT_TRUE(waitArmed(0));
    EXPECT_EQ(statuses, (std::vector<std::optional<std::string>>{automationPending, std::nullopt}));

    for (int i = 0; i < 20; ++i) coordinator->refreshPermissions();
    EXPECT_EQ(statuses.size(), 2u);

    DesktopControl::setPasteboardAccessBehavior(3);
    for (int i = 0; i < 20; ++i) coordinator->refreshPermissions();
    InputEventsControl::setAccessibilityTrusted(false);
    for (int i = 0; i < 20; ++i) coordinator->refreshPermissions();
    coordinator->setEnabled(false);
    coordinator->setEnabled(false);
    EXPECT_EQ(statuses, (std::vector<std::optional<std::string>>{automationPending, std::nullopt, clipboardRequired,
                                                                 accessibilityRequired, std::nullopt}));
}

TEST_F(ArmingTest, NothingIsMissingWhenDisabledOrWhenTheFrontmostApplicationIsNoTerminal) {
    makeCoordinator();
    coordinator->start(false);
    InputEventsControl::setAccessibilityTrusted(false);
    coordinator->refreshPermissions();
    EXPECT_EQ(coordinator->permissionStatus(), std::nullopt) << "disabled";

    InputEventsControl::setAccessibilityTrusted(true);
    coordinator->setEnabled(true);
    ASSERT_TRUE(waitArmed(0));
    pid_t editor = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.editor"});
    ASSERT_TRUE(runMainUntil([&] { return !gate->allows({terminal->pid(), GhosttyControl::bundleIdentifier}); }));
    EXPECT_EQ(coordinator->permissionStatus(), std::nullopt);
    copyText("plain text");
    auto delivery = pressControlV();
    EXPECT_FALSE(delivery.swallowed);
    EXPECT_EQ(delivery.receiver, editor);
}

TEST_F(ArmingTest, AGrantForAnotherProcessOfTheSameTerminalDoesNotArm) {
    // The test answers every Automation probe itself.
    std::vector<std::pair<PastePermissionGate::Target, std::function<void(bool)>>> probes;
    gate = PastePermissionGate::create({}, [&](const PastePermissionGate::Target& target, std::function<void(bool)> done) {
        probes.emplace_back(target, std::move(done));
    });
    makeCoordinator();
    coordinator->start(true);
    ASSERT_TRUE(runMainUntil([&] { return !probes.empty() && readyReports() > 0; }));
    std::exchange(probes, {}).back().second(true);
    ASSERT_TRUE(waitArmed());

    auto second = GhosttyControl::launch();
    second->openWindow(localShell);
    const PastePermissionGate::Target other{second->pid(), GhosttyControl::bundleIdentifier};
    ASSERT_TRUE(runMainUntil([&] { return !probes.empty() && probes.back().first == other; }));
    // The answer that arrives is for the first terminal, not for the frontmost one.
    gate->refresh(PastePermissionGate::Target{terminal->pid(), GhosttyControl::bundleIdentifier}, true);
    probes.back().second(true);
    ASSERT_TRUE(gate->ready());
    EXPECT_EQ(coordinator->permissionStatus(), automationPending);
    copyText("plain text");
    auto delivery = pressControlV();
    EXPECT_FALSE(delivery.swallowed);
    EXPECT_EQ(delivery.receiver, second->pid());
    second.reset();
}

TEST_F(ArmingTest, WithoutFocusMonitoringNothingIsArmedAndEveryCheckSaysSo) {
    const std::string unavailable = "Terminal focus monitoring unavailable — grant Accessibility and reopen Tarpelix";
    AccessibilityControl::failNext(AccessibilityControl::Failure::observerCreation, 1000);
    makeCoordinator();
    coordinator->start(true);
    ASSERT_TRUE(runMainUntil([&] { return readyReports() > 0 && gate->ready(); }));
    auto count = [&] { return std::count(reports.begin(), reports.end(), unavailable); };
    const auto before = count();
    EXPECT_GE(before, 1);
    coordinator->refreshPermissions();
    EXPECT_EQ(count(), before + 1);
    copyText("plain text");
    EXPECT_FALSE(pressControlV().swallowed);

    AccessibilityControl::failNext(AccessibilityControl::Failure::notificationRegistration, 1);
    AccessibilityControl::failNext(AccessibilityControl::Failure::observerCreation, 0);
    coordinator->refreshPermissions(); // the second registration fails
    EXPECT_EQ(count(), before + 2);
    coordinator->refreshPermissions();
    EXPECT_EQ(count(), before + 2);
    EXPECT_TRUE(waitArmed());
    EXPECT_TRUE(pressControlV().swallowed);
}

TEST_F(ArmingTest, MovingTheFocusOffTheTextAreaDisarmsAndBackArms) {
    startArmed();
    copyText("plain text");
    terminal->focusSearchField();
    ASSERT_TRUE(runMainUntil([&] { return !pressControlV().swallowed; }));
    terminal->focusPane(pane);
    ASSERT_TRUE(runMainUntil([&] {
        auto before = replays();
        return pressControlV().swallowed && runMainUntil([&] { return replays() > before; }, 2.0);
    }));
}

TEST_F(ArmingTest, ThePublishedPreparingStageAsksForAnImmediateDisplay) {
    makeCoordinator();
    // The publish step runs for any feedback the holder accepts.
    auto displays = AppKitControl::windowDisplayRequests();
    auto flushes = AppKitControl::animationFlushes();
    auto id = Uuid::random();
    coordinator->feedback().begin(id);
    EXPECT_EQ(AppKitControl::windowDisplayRequests(), displays + 1);
    EXPECT_EQ(AppKitControl::animationFlushes(), flushes + 1);
    coordinator->feedback().advance(id, PasteFeedback::Stage::resolving, "me@host");
    coordinator->feedback().complete(id, PasteFeedback::Outcome::failed, "Upload timed out", false);
    EXPECT_EQ(AppKitControl::windowDisplayRequests(), displays + 1);
    ASSERT_EQ(feedbacks.size(), 3u);
    EXPECT_EQ(feedbacks[1].destination, "me@host");
}

TEST_F(ArmingTest, DestroyingAndRecreatingTheCoordinatorLeavesNothingBehind) {
    // Others may observe too (the application object, once a test made it, lives as long as the
    // process): only the coordinator's observers are counted.
    const auto observers = [](const std::string& name) {
        return WorkspaceNotificationsControl::observerCount(name);
    };
    coordinator.reset();
    const auto sleepObservers = observers(WorkspaceNotificationName::willSleep);
    const auto activationObservers = observers(WorkspaceNotificationName::didActivateApplication);
    for (int round = 0; round < 3; ++round) {
        startArmed();
        EXPECT_EQ(observers(WorkspaceNotificationName::willSleep), sleepObservers + 1);
        EXPECT_EQ(observers(WorkspaceNotificationName::didActivateApplication), activationObservers + 1);
        coordinator.reset();
        // Callbacks already queued for it find nothing.
        terminal->focusSearchField();
        terminal->focusPane(pane);
        WorkspaceNotificationsControl::sleep();
        settle();
        EXPECT_EQ(observers(WorkspaceNotificationName::willSleep), sleepObservers);
        EXPECT_EQ(observers(WorkspaceNotificationName::didActivateApplication), activationObservers);
        EXPECT_TRUE(runMainUntil([] { return InputEventsControl::installedTaps() == 0; }));
        reports.clear();
    }
}
