#include "onboarding/LifecycleFixture.h"

#include "platform/appkit/Label.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/RunLoopControl.h"
#include "settings/PermissionActionRow.h"
#include "terminal/GhosttyCompatibility.h"

#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace tarpelix;
using namespace tarpelix::testing;
using namespace tarpelix::platform;
using MenuState = OnboardingLifecycleController::MenuState;
using Outcome = PasteFeedback::Outcome;
using Stage = PasteFeedback::Stage;

namespace {

PasteFeedback feedback(Stage stage, std::optional<Outcome> outcome = std::nullopt, bool confirmed = false) {
    PasteFeedback f;
    f.stage = stage;
    f.outcome = outcome;
    f.uploadConfirmed = confirmed;
    return f;
}

TEST_F(LifecycleTest, TheFirstLaunchOpensSetupAndALaterOneOnlyOffersToResumeIt) {
    make()->start();
    ASSERT_TRUE(controller->windowController());
    EXPECT_TRUE(controller->windowController()->window().isVisible());
    EXPECT_EQ(controller->menuState(), (MenuState{true, false, false}));
    controller->start(); // only the first call acts
    EXPECT_EQ(scheduled, 1);
    controller->stop();
    EXPECT_FALSE(controller->windowController()->window().isVisible());

    make()->start();
    EXPECT_FALSE(controller->windowController());
    EXPECT_EQ(controller->menuState(), (MenuState{true, false, false}));
}

TEST_F(LifecycleTest, TheMenuOffersTheFirstPasteAndFixingPermissionsOnlyForACompletedSetup) {
    storeProgress(4, itermID, true, false);
    make()->start();
    EXPECT_EQ(controller->menuState(), (MenuState{false, true, true}));
    allowEverything(itermID);
    EXPECT_EQ(controller->menuState(), (MenuState{false, true, false}));

    controller->fixPermissions();
    EXPECT_EQ(count("openPermissions"), 1);
    controller->tryFirstPaste();
    ASSERT_TRUE(controller->windowController());
    EXPECT_EQ(controller->model().step(), OnboardingModel::Step::firstPaste);
    controller->receive(feedback(Stage::inserting, Outcome::success, true));
    EXPECT_EQ(controller->menuState(), (MenuState{false, false, false}));
}

TEST_F(LifecycleTest, PermissionRequestsDidChangeOnlyWhenReadinessChangesOrARequestEnds) {
    make()->start();
    EXPECT_EQ(count("permissionRequestsDidChange"), 0); // the first change after start() never tells
    const int refreshes = count("refreshSettingsPermissions");
    EXPECT_GT(refreshes, 0);

    permissions->refresh(); // nothing changed
    EXPECT_EQ(count("permissionRequestsDidChange"), 0);
    fake.accessibility = true;
    permissions->refresh();
    EXPECT_EQ(count("permissionRequestsDidChange"), 1);

    permissions->performClipboardAction(); // busy: no readiness change
    EXPECT_EQ(count("permissionRequestsDidChange"), 1);
    ASSERT_EQ(fake.clipboardRequests.size(), 1u);
    fake.clipboardRequests[0](ClipboardPermissionSetup::Result::needsSettings); // ends, still not allowed
    EXPECT_EQ(count("permissionRequestsDidChange"), 2);
    EXPECT_EQ(controller->windowState().clipboard.detail, "Choose Always Allow in System Settings.");

    // A granted request changes the readiness as it ends, and is still told only once.
    permissions->performClipboardAction();
    ASSERT_EQ(fake.clipboardRequests.size(), 2u);
    fake.clipboard = ClipboardStatus::alwaysAllow;
    fake.clipboardRequests[1](ClipboardPermissionSetup::Result::allowed);
    EXPECT_EQ(count("permissionRequestsDidChange"), 3);
    EXPECT_TRUE(controller->windowState().clipboard.allowed);
    permissions->refresh(); // the granted readiness is already known
    EXPECT_EQ(count("permissionRequestsDidChange"), 3);

    const int logins = count("refreshSettingsLogin");
    loginItems.status = LaunchAtLoginController::State::enabled;
    login->refresh();
    EXPECT_EQ(count("refreshSettingsLogin"), logins + 1);
    EXPECT_EQ(controller->windowState().loginState, LaunchAtLoginController::State::enabled);
}

TEST_F(LifecycleTest, FeedbackBecomesTheFirstPasteTexts) {
    struct Case {
        const char* name;
        PasteFeedback feedback;
        std::string title;
        std::optional<std::string> message;
        bool busy;
        bool recovery;
    };
    const std::string check = "Check your terminal and Last Paste Status before trying again.";
    const Case cases[] = {
        {"preparing", feedback(Stage::preparing), "Preparing image\u2026", std::nullopt, true, false},
        {"resolving", feedback(Stage::resolving), "Checking remote session\u2026", std::nullopt, true, false},
        {"uploading", feedback(Stage::uploading), "Uploading image\u2026", std::nullopt, true, false},
        {"normal paste leaves the texts", feedback(Stage::resolving, Outcome::normalPaste), "Uploading image\u2026",
         std::nullopt, true, false},
        {"inserting", feedback(Stage::inserting), "Sending path to terminal\u2026", std::nullopt, true, false},
        {"success unconfirmed", feedback(Stage::inserting, Outcome::success), "Upload unconfirmed",
         "Check Last Paste Status before trying again.", false, true},
        {"failed", feedback(Stage::uploading, Outcome::failed), "Paste didn\u2019t complete",
         "Check Last Paste Status or open Help.", false, true},
        {"failed, uploaded", feedback(Stage::inserting, Outcome::failed, true), "Paste didn\u2019t complete",
         "Image uploaded. Check Last Paste Status or open Help.", false, true},
        {"cancelled", feedback(Stage::uploading, Outcome::cancelled), "Paste cancelled", check, false, true},
        {"cancelled, uploaded", feedback(Stage::inserting, Outcome::cancelled, true), "Paste cancelled",
         "Image uploaded. " + check, false, true},
        {"path not inserted", feedback(Stage::inserting, Outcome::uploadedWithoutInsertion), "Path not inserted",
         "Upload unconfirmed. Check Last Paste Status.", false, true},
        {"path not inserted, uploaded", feedback(Stage::inserting, Outcome::uploadedWithoutInsertion, true),
         "Path not inserted", "Image uploaded. Recover its path in Last Paste Status.", false, true},
        {"ambiguous", feedback(Stage::inserting, Outcome::ambiguous), "Path handoff uncertain",
         "Upload unconfirmed. Check your terminal before trying again.", false, true},
        {"ambiguous, uploaded", feedback(Stage::inserting, Outcome::ambiguous, true), "Path handoff uncertain",
         "Image uploaded. Check your terminal before trying again.", false, true},
        {"interrupted", feedback(Stage::uploading, Outcome::interrupted), "Paste interrupted", check, false, true},
        {"interrupted, uploaded", feedback(Stage::inserting, Outcome::interrupted, true), "Paste interrupted",
         "Image uploaded. " + check, false, true},
    };
    make()->start();
    EXPECT_EQ(controller->windowState().pasteTitle, "Waiting for your paste");
    const int menus = count("refreshMenu");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller->receive(c.feedback);
        const auto state = controller->windowState();
        EXPECT_EQ(state.pasteTitle, c.title);
        EXPECT_EQ(state.pasteMessage, c.message);
        EXPECT_EQ(state.pasteBusy, c.busy);
        EXPECT_EQ(state.pasteNeedsRecovery, c.recovery);
        EXPECT_FALSE(controller->model().firstPasteVerified());
    }
    EXPECT_EQ(count("refreshMenu"), menus); // progress and failures leave the menu alone
}

TEST_F(LifecycleTest, IdenticalFeedbackDoesNotRenderAgainAndAVerifiedFirstPasteKeepsItsTexts) {
    make()->start();
    controller->receive(feedback(Stage::uploading));
    const int rendered = discoveries;
    controller->receive(feedback(Stage::uploading));
    EXPECT_EQ(discoveries, rendered);
    controller->receive(feedback(Stage::inserting));
    EXPECT_EQ(discoveries, rendered + 1); // the window refreshed

    const int menus = count("refreshMenu");
    controller->receive(feedback(Stage::inserting, Outcome::success, true));
    EXPECT_TRUE(controller->model().firstPasteVerified());
    EXPECT_EQ(count("refreshMenu"), menus + 1);
    const auto verified = controller->windowState();
    EXPECT_EQ(verified.pasteTitle, "Sending path to terminal\u2026");
    EXPECT_FALSE(verified.pasteBusy);
    EXPECT_EQ(controller->windowController()->pasteTitleLabel().stringValue(), "First paste complete");

    const int after = discoveries;
    controller->receive(feedback(Stage::uploading, Outcome::failed));
    controller->receive(feedback(Stage::preparing));
    EXPECT_EQ(controller->windowState(), verified);
    EXPECT_EQ(discoveries, after);
}

// The selected terminal's Automation row as the window shows it, and what its button does.
TEST_F(LifecycleTest, TheAutomationRowFollowsTheStatusAndGhosttyCompatibility) {
    using A = AutomationStatus;
    using G = GhosttyCompatibility::Status;
    struct Case {
        const char* name;
        std::string id;
        std::optional<A> status; // none: the probe is not answered
        bool running;
        std::optional<G> compatibility; // Ghostty only; none: the check is not answered
        std::string shownStatus;
        std::string action;
        bool allowed, busy, neutral;
        std::string effect; // "pane", "request", "open", "prerelease", "recheck" or "" (nothing)
    };
    const Case cases[] = {
        {"allowed", itermID, A::allowed, true, {}, "Allowed", "Open Settings\u2026", true, false, false, "pane"},
        {"denied", itermID, A::denied, true, {}, "Not allowed", "Open Settings\u2026", false, false, false, "pane"},
        {"unavailable", itermID, A::unavailable, true, {}, title(A::unavailable), "Open Settings\u2026", false, false,
         false, "pane"},
        {"not determined", itermID, A::notDetermined, true, {}, "Not requested", "Request Access\u2026", false, false,
         true, "request"},
        {"not running", itermID, std::nullopt, false, {}, "Not running", "Open iTerm2", false, false, true, "open"},
        {"checking", itermID, std::nullopt, true, {}, "Checking\u2026", "Request Access\u2026", false, true, true, ""},
        {"Ghostty supported", ghosttyID, A::allowed, true, G::supported, "Allowed", "Open Settings\u2026", true, false,
         false, "pane"},
        {"Ghostty being checked", ghosttyID, A::allowed, true, std::nullopt, "Checking\u2026", "Open Settings\u2026",
         false, true, true, ""},
        {"Ghostty needs an update", ghosttyID, A::allowed, true, G::updateRequired, "Update required",
         "Get Prerelease\u2026", false, false, false, "prerelease"},
        {"Ghostty unavailable", ghosttyID, A::notDetermined, true, G::unavailable, "Unavailable", "Refresh", false,
         false, false, "recheck"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        storeProgress(2, c.id);
        fake.running[c.id] = c.running;
        fake.installations[c.id] = installation::Available{"/Applications/" + c.id + ".app"};
        make()->start();
        if (c.status) answer(c.id, *c.status);
        if (c.compatibility) {
            ASSERT_FALSE(fake.checks.empty());
            fake.checks.back().answer(*c.compatibility);
        }
        controller->showSetup();
        const auto row = controller->windowState().automation;
        EXPECT_EQ(row.status, c.shownStatus);
        EXPECT_EQ(row.action, c.action);
        EXPECT_EQ(row.allowed, c.allowed);
        EXPECT_EQ(row.busy, c.busy);
        EXPECT_EQ(row.neutral, c.neutral);

        if (c.compatibility) fake.checks.back().answer(*c.compatibility); // none in flight
        const auto panes = fake.panes.size();
        const auto probes = fake.probes.size();
        const auto checks = fake.checks.size();
        calls.clear();
        controller->windowController()->automationRow().button().performClick();
        EXPECT_EQ(fake.panes.size() > panes, c.effect == "pane");
        if (c.effect == "pane") {
            EXPECT_EQ(fake.panes.back(), "Privacy_Automation");
        }
        EXPECT_EQ(std::any_of(fake.probes.begin() + long(probes), fake.probes.end(), [](const auto& p) { return p.ask; }),
                  c.effect == "request");
        EXPECT_EQ(count("openTerminal " + c.id), c.effect == "open" ? 1 : 0);
        EXPECT_EQ(fake.urls.size(), c.effect == "prerelease" ? 1u : 0u);
        if (c.effect == "recheck") {
            EXPECT_GT(fake.checks.size(), checks);
        }
    }
}

TEST_F(LifecycleTest, TheRefreshTimerRunsOnlyWhileTheWindowIsVisibleAndNotMiniaturised) {
    make()->start();
    ASSERT_EQ(scheduled, 1);
    ASSERT_TRUE(tick);
    auto& window = controller->windowController()->window();

    int before = discoveries;
    tick();
    EXPECT_GT(discoveries, before); // a tick refreshes everything

    auto staleTick = tick;
    window.miniaturize();
    EXPECT_EQ(cancelled, 1);
    before = discoveries;
    staleTick(); // a tick that was already on its way does nothing
    EXPECT_EQ(discoveries, before);
    controller->showSetup(); // the window is miniaturised: showing it brings it back
    window.deminiaturize();
    EXPECT_EQ(scheduled - cancelled, 1);

    window.performClose();
    EXPECT_EQ(scheduled - cancelled, 0);
    EXPECT_GE(count("refreshMenu"), 1);
    controller->terminalLifecycleChanged(); // refreshes, but starts no timer
    EXPECT_EQ(scheduled - cancelled, 0);
    controller->showSetup();
    EXPECT_EQ(scheduled - cancelled, 1);
    controller->stop();
    EXPECT_EQ(scheduled - cancelled, 0);
}

TEST_F(LifecycleTest, TheDefaultTimerFiresEverySecondInTheCommonModesUntilCancelled) {
    int ticks = 0;
    const auto before = RunLoopControl::scheduledTimers(*RunLoop::main());
    auto cancel = OnboardingLifecycleController::Actions::defaultScheduleRefresh([&ticks] { ++ticks; });
    const auto added = timersAddedSince(before);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].interval, std::chrono::seconds(1));
    EXPECT_TRUE(added[0].repeats);
    EXPECT_EQ(added[0].mode, TimerMode::common);
    RunLoopControl::fireTimers(*RunLoop::main(), 2, RunLoopMode::eventTracking); // while a menu tracks
    EXPECT_EQ(ticks, 2);
    cancel();
    EXPECT_FALSE(added[0].timer->isValid());
    EXPECT_TRUE(timersAddedSince(before).empty());
    RunLoopControl::fireTimers(*RunLoop::main(), 2);
    EXPECT_EQ(ticks, 2);
}

TEST_F(LifecycleTest, AfterStopNothingActs) {
    make()->start();
    controller->stop();
    calls.clear();
    const int before = discoveries;
    controller->terminalLifecycleChanged();
    controller->refreshServices();
    controller->receive(feedback(Stage::uploading));
    controller->showSetup();
    fake.accessibility = true;
    permissions->refresh();
    loginItems.status = LaunchAtLoginController::State::enabled;
    login->refresh();
    EXPECT_EQ(discoveries, before);
    EXPECT_TRUE(calls.empty()) << calls.front();
    EXPECT_EQ(controller->windowState().pasteTitle, "Waiting for your paste");
    EXPECT_FALSE(controller->windowController()->window().isVisible());
    EXPECT_EQ(scheduled - cancelled, 0);
}

} // namespace
