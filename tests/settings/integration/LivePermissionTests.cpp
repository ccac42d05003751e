#include "settings/PermissionSettingsController.h"
#include "support/Eventually.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"

#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/HIDAccessControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/desktop/TerminalAppControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;
using tarpelix::testing::waitUntil;

namespace {

const std::string paneURL = "x-apple.systempreferences:com.apple.preference.security?";
const std::string systemSettings = "/System/Applications/System Settings.app";
const std::string terminal = TerminalAppControl::bundleIdentifier;
const std::string& ghostty = GhosttyCompatibility::bundleID;

class LivePermissionTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopControl::reset();
        model = PermissionSettingsController::create();
    }
    void TearDown() override {
        model.reset();
        DesktopControl::reset(); // dismisses a prompt still showing
    }
    const PermissionSettingsController::Snapshot& snap() const { return model->snapshot(); }
    bool idle(const std::string& key) const { return runMainUntil([&] { return !snap().busy.contains(key); }); }
    pid_t launch(const std::string& id) { return WorkspaceControl::launchApplication({.bundleIdentifier = id}); }

    std::shared_ptr<PermissionSettingsController> model;
};

} // namespace

TEST_F(LivePermissionTest, AccessibilityPromptsOnceThenOpensThePaneOrSystemSettings) {
    model->performAccessibilityAction();
    model->performAccessibilityAction();
    EXPECT_EQ(AccessibilityControl::trustPrompts(), 1);
    EXPECT_EQ(WorkspaceControl::openedURLs(), std::vector{paneURL + "Privacy_Accessibility"});
    EXPECT_FALSE(snap().accessibilityAllowed); // the prompt grants nothing

    WorkspaceControl::refuseOpeningURLs(true);
    model->openPrivacyPane("Privacy_Automation");
    EXPECT_EQ(WorkspaceControl::openedApplications(), std::vector{systemSettings});
    EXPECT_TRUE(waitUntil([] { return !Workspace::runningApplications("com.apple.systempreferences").empty(); }));
}

TEST_F(LivePermissionTest, InputMonitoringRequestIsRecordedAndOpensThePaneUnlessGranted) {
    model->requestInputMonitoring();
    EXPECT_EQ(InputEventsControl::listenEventAccessRequests(), 1);
    EXPECT_EQ(WorkspaceControl::openedURLs(), std::vector{paneURL + "Privacy_ListenEvent"});
    EXPECT_FALSE(snap().inputMonitoringAllowed);

    HIDAccessControl::setRequestGrantsAccess(true);
    model->requestInputMonitoring();
    EXPECT_EQ(InputEventsControl::listenEventAccessRequests(), 2);
    EXPECT_EQ(WorkspaceControl::openedURLs().size(), 1u);
    EXPECT_TRUE(snap().inputMonitoringAllowed);
}

TEST_F(LivePermissionTest, ClipboardRequestFollowsTheUsersAnswer) {
    struct Row {
        const char* name;
        bool copied;
        std::optional<PasteboardPromptAnswer> answer;
        ClipboardStatus status;
        std::optional<std::string> message;
    };
    const Row rows[] = {
        {"Always Allow", true, PasteboardPromptAnswer::alwaysAllow, ClipboardStatus::alwaysAllow, std::nullopt},
        {"deny", true, PasteboardPromptAnswer::deny, ClipboardStatus::defaultAccess,
         "Choose Always Allow in System Settings."},
        {"empty clipboard", false, std::nullopt, ClipboardStatus::defaultAccess,
         "Copy an image, then request access again."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DesktopControl::reset();
        model = PermissionSettingsController::create();
        if (row.copied) DesktopControl::copyPNG({0x89, 'P', 'N', 'G'});
        model->performClipboardAction();
        if (row.answer) {
            ASSERT_TRUE(waitUntil([] { return DesktopControl::isPasteboardPromptShowing(); }));
            EXPECT_TRUE(snap().busy.contains("clipboard")); // the prompt holds the request, not the main thread
            DesktopControl::answerPasteboardPrompt(*row.answer);
        }
        ASSERT_TRUE(idle("clipboard"));
        EXPECT_EQ(snap().clipboard, row.status);
        EXPECT_EQ(DesktopControl::pasteboardPromptsShown(), row.answer ? 1 : 0);
        auto message = snap().message.find("clipboard");
        EXPECT_EQ(message == snap().message.end() ? std::nullopt : std::optional(message->second), row.message);
    }
}

TEST_F(LivePermissionTest, AutomationPromptAnswerIsShownAndKept) {
    for (auto answer : {AutomationPromptAnswer::allow, AutomationPromptAnswer::deny}) {
        DesktopControl::reset();
        model = PermissionSettingsController::create();
        launch(terminal);
        model->requestAutomation(terminal);
        ASSERT_TRUE(waitUntil([] { return AppleEventsControl::isAutomationPromptShowing(); }));
        EXPECT_EQ(AppleEventsControl::automationPromptTarget(), terminal);
        EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::checking);
        AppleEventsControl::answerAutomationPrompt(answer);
        ASSERT_TRUE(idle(terminal));
        const auto expected = answer == AutomationPromptAnswer::allow ? AutomationStatus::allowed
                                                                        : AutomationStatus::denied;
        EXPECT_EQ(snap().automation.at(terminal), expected);

        // A later probe reads the stored answer without asking again.
        model = PermissionSettingsController::create();
        model->refresh();
        ASSERT_TRUE(runMainUntil([&] { return snap().automation.at(terminal) != AutomationStatus::checking; }));
        EXPECT_EQ(snap().automation.at(terminal), expected);
        EXPECT_EQ(AppleEventsControl::automationPromptsShown(), 1);
    }
}

TEST_F(LivePermissionTest, RawSystemValuesMapToStatuses) {
    struct Row {
        OSStatus automation;
        AutomationStatus automationStatus;
        int accessBehavior;
        ClipboardStatus clipboardStatus;
    };
    const Row rows[] = {
        {0, AutomationStatus::allowed, 0, ClipboardStatus::defaultAccess},
        {-1743, AutomationStatus::denied, 1, ClipboardStatus::ask},
        {-1744, AutomationStatus::notDetermined, 2, ClipboardStatus::alwaysAllow},
        {-600, AutomationStatus::notRunning, 3, ClipboardStatus::alwaysDeny},
        {-1708, AutomationStatus::unavailable, 7, ClipboardStatus::unavailable},
    };
    launch(terminal);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.automation);
        AppleEventsControl::setAutomationStatus(terminal, row.automation);
        DesktopControl::setPasteboardAccessBehavior(row.accessBehavior);
        model = PermissionSettingsController::create();
        model->refresh();
        EXPECT_EQ(snap().clipboard, row.clipboardStatus);
        ASSERT_TRUE(runMainUntil([&] { return snap().automation.at(terminal) != AutomationStatus::checking; }));
        EXPECT_EQ(snap().automation.at(terminal), row.automationStatus);
    }
    EXPECT_EQ(AppleEventsControl::automationPromptsShown(), 0); // a refresh never asks
}

TEST_F(LivePermissionTest, GhosttyInstallationAndCompatibilityComeFromTheDesktop) {
    tarpelix::testing::TemporaryDirectory home;
    const std::string bundle = home.path() + "/Ghostty.app";
    std::filesystem::create_directories(bundle + "/Contents/Resources");
    home.write("Ghostty.app/Contents/Resources/Ghostty.sdef", "<dictionary title=\"Old\"/>\n");
    WorkspaceControl::installApplication({.bundleIdentifier = ghostty, .name = "Ghostty", .path = bundle});

    model->refresh();
    EXPECT_EQ(snap().installations.at(ghostty), Installation{installation::Available{bundle}});
    EXPECT_EQ(snap().installations.at(terminal), Installation{installation::Missing{}});
    ASSERT_TRUE(runMainUntil([&] { return snap().ghosttyCompatibility != GhosttyCompatibility::Status::checking; }));
    EXPECT_EQ(snap().ghosttyCompatibility, GhosttyCompatibility::Status::updateRequired); // its dictionary was read

    launch(ghostty);
    launch(ghostty);
    model->refresh();
    EXPECT_EQ(snap().installations.at(ghostty), Installation{installation::Ambiguous{}});
    EXPECT_EQ(snap().ghosttyCompatibility, GhosttyCompatibility::Status::unavailable);
}

TEST_F(LivePermissionTest, OpenTerminalLaunchesTheInstalledTerminalOrReportsARefusal) {
    std::shared_ptr<SimulatedTerminal> launched;
    WorkspaceControl::installApplication({.bundleIdentifier = terminal,
                                          .name = "Terminal",
                                          .path = "/System/Applications/Utilities/Terminal.app",
                                          .launch = [&launched] {
                                              launched = TerminalAppControl::launch();
                                              return launched->pid();
                                          }});
    WorkspaceControl::refuseNextApplicationOpens();
    model->openTerminal(terminal);
    ASSERT_TRUE(idle(terminal));
    EXPECT_EQ(snap().message.at(terminal), "Couldn\u2019t open this terminal. Try again.");
    EXPECT_FALSE(launched);

    model->openTerminal(terminal);
    ASSERT_TRUE(idle(terminal));
    ASSERT_TRUE(launched);
    EXPECT_FALSE(snap().message.contains(terminal));
    EXPECT_EQ(Workspace::frontmostApplication()->processIdentifier, launched->pid());
    // The refresh after the launch finds it running and probes it.
    ASSERT_TRUE(runMainUntil([&] { return snap().automation.at(terminal) != AutomationStatus::checking; }));
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::notDetermined);
}
