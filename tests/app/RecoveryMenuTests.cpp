#include "app/RecoveryMenu.h"

#include "platform/appkit/StatusItem.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/foundation/Bundle.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;

// Records the actions it receives.
struct RecordingTarget : ActionTarget {
    bool respondsToAction(const std::string&) const override { return true; }
    void performAction(const std::string& action, ActionSender*) override { received.push_back(action); }
    std::vector<std::string> received;
};

RecoveryMenu::Actions allActions() {
    return {"showLastPaste:", "copyPath:", "copyImage:", "showHelp:", "showAbout:", "showSettings:", "quit:",
            "resumeSetup:", "tryFirstPaste:", "fixPermissions:", "checkForUpdates:"};
}

RecoveryMenu::Actions requiredActions() {
    auto actions = allActions();
    actions.resumeSetup = actions.tryFirstPaste = actions.fixPermissions = actions.checkForUpdates = std::nullopt;
    return actions;
}

MenuItem* mainMenuUpdateItem(const Menu& bar) {
    return bar.itemWithTitle("Tarpelix")->submenu()->itemWithIdentifier(RecoveryMenu::checkForUpdatesIdentifier);
}

struct RecoveryMenuTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }
    std::shared_ptr<RecordingTarget> target = std::make_shared<RecordingTarget>();
};

TEST_F(RecoveryMenuTest, UpdateDecidesWhatEachMenuShowsAndEnables) {
    struct Shown {
        bool statusHidden = true, warningHidden = true, copyStatusHidden = true;
        bool copyPath = false, copyImage = false;
        bool resumeHidden = true, tryHidden = true, fixHidden = true;
        std::string updateTitle = "Check for Updates";
        bool updateEnabled = true;
    };
    struct Case {
        const char* name;
        RecoveryMenu::Actions actions;
        RecoveryMenu::State state;
        Shown shown;
    };
    const Case cases[] = {
        {"nothing to show", allActions(), {}, {}},
        {"every line and flag",
         allActions(),
         {"Pasting image…", "Local saving needs attention — see Settings", "Copied", true, true, true, true, true,
          "Update Available", true},
         {false, false, false, true, true, false, false, false, "Update Available", true}},
        {"one setup item, one copy",
         allActions(),
         {"Ready?", std::nullopt, std::nullopt, false, true, false, true, false},
         {.statusHidden = false, .copyImage = true, .tryHidden = false}},
        {"an empty status is still shown", allActions(), {.status = ""}, {.statusHidden = false}},
        {"both ellipses go",
         allActions(),
         {.updateTitle = "Check for Updates…"},
         {.updateTitle = "Check for Updates"}},
        {"three dots and several ellipses go",
         allActions(),
         {.updateTitle = "…Checking... now…"},
         {.updateTitle = "Checking now"}},
        {"cannot check", allActions(), {.canCheckUpdates = false}, {.updateEnabled = false}},
        {"no update action", requiredActions(), {.updateTitle = "Check for Updates..."}, {.updateEnabled = false}},
        {"setup items shown without actions",
         requiredActions(),
         {.showResumeSetup = true, .showTryFirstPaste = true, .showFixPermissions = true},
         {.resumeHidden = false, .tryHidden = false, .fixHidden = false, .updateEnabled = false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecoveryMenu menu(target, c.actions);
        auto bar = RecoveryMenu::applicationMenu(target, c.actions);
        menu.update(c.state);
        RecoveryMenu::updateApplicationMenu(*bar, c.state.updateTitle, c.state.canCheckUpdates);

        EXPECT_EQ(menu.statusItem().isHidden(), c.shown.statusHidden);
        EXPECT_EQ(menu.statusItem().title(), c.state.status.value_or(""));
        EXPECT_EQ(menu.storageWarningItem().isHidden(), c.shown.warningHidden);
        EXPECT_EQ(menu.storageWarningItem().title(), c.state.storageWarning.value_or(""));
        EXPECT_EQ(menu.copyStatusItem().isHidden(), c.shown.copyStatusHidden);
        EXPECT_EQ(menu.copyStatusItem().title(), c.state.copyStatus.value_or(""));
        for (const MenuItem* line : {&menu.statusItem(), &menu.storageWarningItem(), &menu.copyStatusItem()}) {
            EXPECT_FALSE(line->isEnabled());
        }
        EXPECT_EQ(menu.copyPathItem().isEnabled(), c.shown.copyPath);
        EXPECT_EQ(menu.copyImageItem().isEnabled(), c.shown.copyImage);
        EXPECT_EQ(menu.resumeSetupItem().isHidden(), c.shown.resumeHidden);
        EXPECT_EQ(menu.tryFirstPasteItem().isHidden(), c.shown.tryHidden);
        EXPECT_EQ(menu.fixPermissionsItem().isHidden(), c.shown.fixHidden);
        // A setup item is enabled exactly when it has an action, shown or not.
        EXPECT_EQ(menu.fixPermissionsItem().isEnabled(), c.actions.fixPermissions.has_value());
        for (const MenuItem* update : {&menu.updateItem(), mainMenuUpdateItem(*bar)}) {
            EXPECT_EQ(update->title(), c.shown.updateTitle);
            EXPECT_EQ(update->isEnabled(), c.shown.updateEnabled);
        }
    }
}

TEST_F(RecoveryMenuTest, AMainMenuWithoutTheUpdateItemIsLeftAlone) {
    auto foreign = Menu::create();
    auto application = foreign->addItem("Tarpelix");
    application->setSubmenu(Menu::create("Tarpelix"));
    auto look = application->submenu()->addItem("Check for Updates…", "checkForUpdates:");
    look->setEnabled(false);
    auto elsewhere = foreign->addItem("Other");
    elsewhere->setSubmenu(Menu::create("Other"));
    elsewhere->submenu()->addItem("Update…")->setIdentifier(RecoveryMenu::checkForUpdatesIdentifier);

    RecoveryMenu::updateApplicationMenu(*foreign, "Check Now", true);
    EXPECT_EQ(look->title(), "Check for Updates…");
    EXPECT_FALSE(look->isEnabled());
    EXPECT_EQ(elsewhere->submenu()->items()[0]->title(), "Update…");

    auto bare = Menu::create();
    bare->addItem("Tarpelix"); // no submenu
    RecoveryMenu::updateApplicationMenu(*bare, "Check Now", true);
    EXPECT_EQ(bare->items()[0]->title(), "Tarpelix");
}

TEST_F(RecoveryMenuTest, EveryItemWithAnActionSendsItToTheTargetAndTheStandardOnesUpTheChain) {
    RecoveryMenu menu(target, allActions());
    auto bar = RecoveryMenu::applicationMenu(target, allActions());
    std::vector<std::string> firstResponderActions;
    for (const auto& item : menu.menu()->items()) {
        if (!item->action().empty()) Menu::sendAction(*item);
    }
    for (const auto& top : bar->items()) {
        for (const auto& item : top->submenu()->items()) {
            if (item->action().empty()) continue;
            if (item->hasTarget()) {
                Menu::sendAction(*item);
            } else {
                firstResponderActions.push_back(item->action());
            }
        }
    }
    EXPECT_EQ(target->received,
              (std::vector<std::string>{"copyPath:", "copyImage:", "showLastPaste:", "resumeSetup:", "tryFirstPaste:",
                                        "fixPermissions:", "showSettings:", "showHelp:", "showAbout:",
                                        "checkForUpdates:", "quit:", "showAbout:", "checkForUpdates:",
                                        "showSettings:", "quit:", "showHelp:"}));
    EXPECT_EQ(firstResponderActions,
              (std::vector<std::string>{StandardAction::performClose, StandardAction::copy, StandardAction::selectAll}));
}

TEST_F(RecoveryMenuTest, TheMenuBarButtonShowsTheIconOrTRAndIsReadAsTarpelix) {
    testing::TemporaryDirectory withoutIcon{"tarpelix-no-icon"};
    testing::TemporaryDirectory brokenIcon{"tarpelix-broken-icon"};
    brokenIcon.write("MenuBarIcon.png", "not a picture");
    struct Case {
        const char* name;
        std::string resources; // empty: the shipped resources
        bool icon;
    };
    const Case cases[] = {
        {"shipped", "", true},
        {"missing", withoutIcon.path(), false},
        {"undecodable", brokenIcon.path(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BundleControl::reset();
        if (!c.resources.empty()) BundleControl::setResourceDirectory(c.resources);
        auto item = StatusBar::system().statusItem(variableStatusItemLength);
        RecoveryMenu::configureButton(item->button());
        const auto& button = item->button();
        EXPECT_EQ(button.title(), c.icon ? "" : "TR");
        ASSERT_EQ(button.image().has_value(), c.icon);
        if (c.icon) {
            EXPECT_TRUE(button.image()->isTemplate());
            EXPECT_EQ(button.image()->size(), (Size{18, 18}));
        }
        EXPECT_EQ(button.accessibilityLabel(), "Tarpelix");
    }
}

} // namespace
} // namespace tarpelix
