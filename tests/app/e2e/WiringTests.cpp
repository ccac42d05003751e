#include "app/integration/ApplicationFixture.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Switch.h"
#include "platform/desktop/LoginItemsControl.h"
#include "settings/PermissionActionRow.h"
#include "settings/PermissionsSettingsView.h"
#include "settings/SettingsSection.h"
#include "settings/SettingsWindowController.h"

#include <gtest/gtest.h>

namespace tarpelix::testing {
namespace {

using Step = OnboardingModel::Step;

// Setup completed without a verified paste and Ghostty not installed (so not ready): the menu
// offers Try First Paste and Fix Permissions, and Settings remembers Storage.
class Wiring : public ApplicationTest {
protected:
    void SetUp() override {
        ApplicationTest::SetUp();
        if (IsSkipped()) return;
        storeSetupProgress(int(Step::finish), true, false);
        platform::UserDefaults::standard()->set(SettingsWindowController::lastSectionKey,
                                                rawValue(SettingsSection::storage));
    }
    SettingsWindowController& settings() { return *delegate->settingsController(); }
    bool settingsShows(SettingsSection section) {
        return delegate->settingsWindow() && settings().window().isVisible() && settings().selectedSection() == section;
    }
    void closeWindows() {
        if (delegate->settingsWindow()) settings().window().close();
        if (setupWindow()) setupWindow()->window().close();
        if (delegate->lastPasteController()) delegate->lastPasteController()->window().close();
    }
};

// Each way into a window, from the status menu or from setup, opens what it names.
TEST_F(Wiring, MenusAndSetupOpenTheWindowsTheyName) {
    struct Case {
        const char* name;
        std::function<void()> act;
        std::function<bool()> shows;
    };
    const auto menu = [this](const char* title) { return [this, title] { chooseInStatusMenu(title); }; };
    const auto inSetup = [this](platform::Button& (OnboardingWindowController::*button)() const) {
        return [this, button] {
            chooseInStatusMenu("Try First Paste");
            ASSERT_TRUE(setupVisible());
            (setupWindow()->*button)().performClick();
        };
    };
    const auto section = [this](SettingsSection s) { return [this, s] { return settingsShows(s); }; };
    const Case cases[] = {
        {"Settings opens the last section", menu("Settings"), section(SettingsSection::storage)},
        {"Help opens Help", menu("Help"), section(SettingsSection::help)},
        {"Fix Permissions opens Permissions", menu("Fix Permissions"), section(SettingsSection::permissions)},
        {"setup's Open Help opens Help", inSetup(&OnboardingWindowController::helpButton),
         section(SettingsSection::help)},
        {"setup's Last Paste Status opens it", inSetup(&OnboardingWindowController::lastPasteButton),
         [this] { return delegate->lastPasteController() && delegate->lastPasteController()->window().isVisible(); }},
    };
    runApplication([&] {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            closeWindows();
            ASSERT_FALSE(c.shows());
            c.act();
            EXPECT_TRUE(runMainUntil([&] { return c.shows(); }));
            // Settings was asked to remember the section it opened on.
            if (delegate->settingsWindow() && settings().window().isVisible()) {
                EXPECT_EQ(platform::UserDefaults::standard()->string(SettingsWindowController::lastSectionKey),
                          rawValue(settings().selectedSection()));
            }
        }
    });
}

// While Settings is open, changes made elsewhere show on it at once.
TEST_F(Wiring, ChangesMadeElsewhereShowOnTheOpenSettingsWindow) {
    platform::InputEventsControl::setAccessibilityTrusted(false);
    runApplication([&] {
        chooseInStatusMenu("Settings");
        settings().showSection(SettingsSection::permissions);
        auto& row = settings().permissionsView()->accessibility();
        ASSERT_TRUE(runMainUntil([&] { return row.status().stringValue() != "Allowed"; }));
        const std::string revoked = row.status().stringValue();

        // Setup open: its one-second refresh reads the permission model, which tells Settings
        // and the paste pipeline.
        chooseInStatusMenu("Try First Paste");
        ASSERT_TRUE(setupVisible());
        ASSERT_TRUE(delegate->pasteCoordinator()->permissionStatus().has_value());
        platform::InputEventsControl::setAccessibilityTrusted(true);
        EXPECT_TRUE(runMainUntil([&] { return row.status().stringValue() != revoked; })) << revoked;
        EXPECT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->permissionStatus(); }));

        // The update controller changes as a check runs and ends: General follows.
        settings().showSection(SettingsSection::general);
        ASSERT_TRUE(settings().checkUpdatesButton().isEnabled());
        chooseInStatusMenu("Check for Updates");
        EXPECT_TRUE(runMainUntil([&] { return !settings().checkUpdatesButton().isEnabled(); }));
        ASSERT_TRUE(runMainUntil([] { return !platform::UpdaterControl::windows().empty(); }));
        EXPECT_TRUE(platform::UpdaterControl::dismissWindow());
        EXPECT_TRUE(runMainUntil([&] { return settings().checkUpdatesButton().isEnabled(); }));
    });
}

// Setup on its last page, ready; nothing else.
class SetupFinishing : public ApplicationTest {};

// Launch at Login enabled on setup's last page shows on the open Settings window's General.
TEST_F(SetupFinishing, LaunchAtLoginEnabledInSetupShowsOnTheOpenSettingsWindow) {
    storeSetupProgress(int(Step::finish), false, true);
    installCompatibleGhostty();
    runApplication([&] {
        chooseInStatusMenu("Settings");
        auto& settings = *delegate->settingsController();
        settings.showSection(SettingsSection::general);
        ASSERT_EQ(settings.loginSwitch().state(), platform::ControlStateValue::off);

        chooseInStatusMenu("Resume Setup");
        ASSERT_TRUE(setupVisible());
        // The last page once the permission model's background answers made setup ready.
        ASSERT_TRUE(runMainUntil([&] { return delegate->onboarding()->model().step() == Step::finish; }));
        setupWindow()->loginEnableButton().performClick();
        EXPECT_TRUE(runMainUntil([&] { return settings.loginSwitch().state() == platform::ControlStateValue::on; }));
        EXPECT_EQ(platform::LoginItemsControl::calls().size(), 1u);
    });
}

} // namespace
} // namespace tarpelix::testing
