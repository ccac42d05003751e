#include "app/e2e/ApplicationOverSSH.h"
#include "onboarding/OnboardingTerminalRow.h"
#include "settings/SettingsWindowController.h"

#include <gtest/gtest.h>

namespace tarpelix::testing {
namespace {

using Step = OnboardingModel::Step;

// Which setup items the status menu shows.
struct SetupItems {
    bool resume, tryFirstPaste, fixPermissions;
    bool operator==(const SetupItems&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SetupItems& items) {
    return out << "{resume " << items.resume << ", try " << items.tryFirstPaste << ", fix " << items.fixPermissions
               << "}";
}

// A user who never finished setup: nothing stored yet.
class FirstRun : public ApplicationOverSSH {
protected:
    FirstRun() { storeFinishedSetup = false; }

    void SetUp() override {
        ApplicationOverSSH::SetUp();
        if (IsSkipped()) return;
        installCompatibleGhostty();
    }

    SetupItems setupItems() {
        auto& menu = delegate->recoveryMenu();
        return {!menu.resumeSetupItem().isHidden(), !menu.tryFirstPasteItem().isHidden(),
                !menu.fixPermissionsItem().isHidden()};
    }
};

TEST_F(FirstRun, ARelaunchOffersWhatTheStoredSetupStillNeeds) {
    runApplication([&] {
        EXPECT_TRUE(setupVisible()) << "the first launch opens setup";
        EXPECT_EQ(setupItems(), (SetupItems{true, false, false}));
    });

    // Over the same defaults and data, setup unfinished: no window, the menu offers it.
    prepareRelaunch();
    runApplication([&] {
        EXPECT_EQ(setupWindow(), nullptr);
        EXPECT_EQ(setupItems(), (SetupItems{true, false, false}));
        chooseInStatusMenu("Resume Setup");
        EXPECT_TRUE(setupVisible());
    });

    // Completed without a verified paste.
    storeSetupProgress(int(Step::finish), true, false);
    prepareRelaunch();
    runApplication([&] {
        EXPECT_EQ(setupWindow(), nullptr);
        // Ghostty's dictionary is checked in the background: Fix Permissions until it passed.
        EXPECT_TRUE(runMainUntil([&] { return setupItems() == SetupItems{false, true, false}; })) << setupItems();
        chooseInStatusMenu("Try First Paste");
        ASSERT_TRUE(setupVisible());
        EXPECT_EQ(delegate->onboarding()->model().step(), Step::firstPaste);
    });

    // Completed and verified; then Accessibility is taken away.
    storeSetupProgress(int(Step::finish), true, true);
    prepareRelaunch();
    runApplication([&] {
        EXPECT_TRUE(runMainUntil([&] { return setupItems() == SetupItems{false, false, false}; })) << setupItems();
        platform::InputEventsControl::setAccessibilityTrusted(false);
        openAndCloseStatusMenu(); // the permission model refreshes as the menu opens
        EXPECT_TRUE(runMainUntil([&] { return setupItems() == SetupItems{false, false, true}; })) << setupItems();
        EXPECT_EQ(setupWindow(), nullptr);
    });
}

// The practice paste goes the whole way (the private sshd, the real upload, the path typed in
// the remote shell) and setup records it; a normal paste first leaves setup's texts alone.
TEST_F(FirstRun, ThePracticePasteIsVerifiedThroughTheRealPasteRoad) {
    storeSetupProgress(int(Step::firstPaste), false, false);
    runApplication([&] {
        observePastes();
        chooseInStatusMenu("Resume Setup");
        ASSERT_TRUE(setupVisible());
        auto& window = *setupWindow();
        EXPECT_EQ(window.pasteTitleLabel().stringValue(), "Waiting for your paste");

        activateTerminal();
        ASSERT_TRUE(waitArmed());
        platform::DesktopControl::copyPNG(screenshotPNG());
        pressControlV();
        EXPECT_TRUE(runMainUntil([&] {
            return std::any_of(reportedStatus.begin(), reportedStatus.end(),
                               [](const auto& report) { return report.first == "Normal paste"; });
        })) << ::testing::PrintToString(reportedStatus);
        ASSERT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); }));
        EXPECT_EQ(window.pasteTitleLabel().stringValue(), "Waiting for your paste");
        EXPECT_FALSE(delegate->onboarding()->model().firstPasteVerified());

        const auto remote = openRemoteShell();
        shellReadsALine(remote);
        const auto ending = pasteAndWait();
        ASSERT_TRUE(ending);
        EXPECT_EQ(ending->outcome, PasteFeedback::Outcome::success);
        EXPECT_TRUE(ending->uploadConfirmed);
        const auto typed = lineTheShellReceived(remote);
        EXPECT_EQ(typed, uploads() + ending->operationID.uuidString() + ".png");
        EXPECT_TRUE(delegate->onboarding()->model().firstPasteVerified());
        EXPECT_TRUE(runMainUntil([&] { return window.pasteTitleLabel().stringValue() == "First paste complete"; }));
    });
    EXPECT_TRUE(platform::UserDefaults::standard()->data(OnboardingModel::preferenceKey).has_value());
}

// Known terminals launching and quitting reach setup; another application does not.
TEST_F(FirstRun, TerminalLaunchesAndQuitsUpdateTheSetupRows) {
    namespace names = platform::WorkspaceNotificationName;
    const std::string iTermID = "com.googlecode.iterm2";
    storeSetupProgress(int(Step::terminal), false, false);
    runApplication([&] {
        const auto listed = [&] { return delegate->onboarding()->model().terminals().terminal(iTermID) != nullptr; };
        // The permission model's first answers (Automation, Ghostty's dictionary) come in the
        // background and refresh setup: wait for them. Then iTerm2 is installed without a
        // notification; setup is closed, so nothing refreshes on a timer.
        ASSERT_TRUE(runMainUntil([&] { return delegate->onboarding()->model().isReady(); }));
        settle();
        platform::WorkspaceControl::installApplication({iTermID, "iTerm2", "/Applications/iTerm.app"});
        ASSERT_EQ(setupWindow(), nullptr);
        waitWorkspaceNotification(names::didLaunchApplication, [] {
            platform::WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.editor",
                                                          .localizedName = "Editor", .activate = false});
        });
        EXPECT_FALSE(listed()) << "an unknown application changes nothing";

        pid_t iTerm = 0;
        waitWorkspaceNotification(names::didLaunchApplication, [&] {
            iTerm = platform::WorkspaceControl::launchApplication(
                {.bundleIdentifier = iTermID, .localizedName = "iTerm2", .activate = false});
        });
        ASSERT_TRUE(listed());
        EXPECT_TRUE(delegate->onboarding()->model().terminals().terminal(iTermID)->isRunning);

        chooseInStatusMenu("Resume Setup");
        ASSERT_TRUE(setupVisible());
        const auto row = [&]() -> OnboardingTerminalRow* {
            const auto& rows = setupWindow()->terminalRows();
            const auto found = rows.find(iTermID);
            return found == rows.end() ? nullptr : found->second.get();
        };
        ASSERT_NE(row(), nullptr);
        EXPECT_EQ(row()->statusLabel().stringValue(), "Running");
        waitWorkspaceNotification(names::didTerminateApplication,
                                  [&] { platform::WorkspaceControl::quitApplication(iTerm); });
        ASSERT_NE(row(), nullptr);
        EXPECT_EQ(row()->statusLabel().stringValue(), "Installed");
    });
}

} // namespace
} // namespace tarpelix::testing
