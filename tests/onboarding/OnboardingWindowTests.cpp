#include "onboarding/OnboardingFixture.h"
#include "onboarding/OnboardingTerminalRow.h"
#include "onboarding/OnboardingWindowController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ProgressIndicator.h"
#include "settings/PermissionActionRow.h"
#include "ui/InterfaceIcon.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/StackView.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEvents.h"
#include "platform/desktop/WorkspaceControl.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>

using namespace tarpelix;
using namespace tarpelix::testing;
using namespace tarpelix::platform;
using Step = OnboardingModel::Step;

namespace {

constexpr std::uint16_t keyW = 13;

// The setup window over a real model, with a State the test sets and every action recorded.
struct SetupWindowTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override {
        if (controller) controller->window().orderOut();
        DesktopControl::reset();
    }

    std::shared_ptr<OnboardingWindowController> show(const std::string& stored = "") {
        if (!stored.empty()) world.store(stored);
        model = std::make_shared<OnboardingModel>(
            world.defaults, [this] { return discover ? discover() : world.installed; },
            [this](const std::string& id) { return world.ready[id]; });
        OnboardingWindowController::Actions a;
        auto record = [this](std::string name) { return [this, name] { events.push_back(name); }; };
        a.didClose = [this] { events.push_back(model->isVisible() ? "didClose (model still visible)" : "didClose"); };
        a.didFinish = record("didFinish");
        a.progressChanged = record("progressChanged");
        a.openTerminal = [this](const std::string& id) { events.push_back("openTerminal " + id); };
        a.enableLaunchAtLogin = record("enableLaunchAtLogin");
        a.icon = [](const std::string&) { return std::nullopt; };
        controller = OnboardingWindowController::create(model, [this] { return state; }, a);
        controller->showSetup();
        return controller;
    }

    static std::string progress(int step, bool completed = false, bool verified = false,
                                const std::string& choice = "") {
        return R"({"presented":true,"step":)" + std::to_string(step) + R"(,"selectedTerminalID":")" + itermID +
               R"(","completed":)" + (completed ? "true" : "false") + R"(,"firstPasteVerified":)" +
               (verified ? "true" : "false") + (choice.empty() ? "" : R"(,"loginChoice":")" + choice + "\"") + "}";
    }

    ModelWorld world;
    std::function<OnboardingTerminalDiscovery::Snapshot()> discover;
    std::shared_ptr<OnboardingModel> model;
    OnboardingWindowController::State state;
    std::shared_ptr<OnboardingWindowController> controller;
    std::vector<std::string> events;
};

TEST_F(SetupWindowTest, TheBottomBarFollowsTheStep) {
    struct Case {
        const char* name;
        std::string stored;
        bool ready;
        std::function<void(SetupWindowTest&)> act;
        Step step;
        std::string forward;
        bool forwardEnabled;
        bool backShown;
        bool tryLaterShown;
    };
    auto none = [](SetupWindowTest&) {};
    auto choose = [](SetupWindowTest& t) { t.controller->terminalButtons().at(ghosttyID)->performClick(); };
    const Case cases[] = {
        {"welcome", "", false, none, Step::welcome, "Get Started", true, false, false},
        {"terminal, proposed", progress(1), false, none, Step::terminal, "Continue", true, true, false},
        {"terminal, none listed", progress(1), false,
         [](SetupWindowTest& t) {
             t.world.installed.terminals.clear();
             t.controller->refresh();
         },
         Step::terminal, "Continue", false, true, false},
        {"terminal, another chosen", progress(1), false, choose, Step::terminal, "Continue", true, true, false},
        {"permissions, not ready", progress(2), false, none, Step::permissions, "Continue", false, true, false},
        {"permissions, ready", progress(2), true, none, Step::permissions, "Continue", true, true, false},
        {"first paste", progress(3), true, none, Step::firstPaste, "Continue", false, true, true},
        {"first paste, verified", progress(3, false, true), true, none, Step::firstPaste, "Continue", true, true, false},
        {"finish, no choice", progress(4, false, true), true, none, Step::finish, "Finish", false, true, false},
        {"finish, chosen", progress(4, false, true, "notNow"), true, none, Step::finish, "Finish", true, true, false},
        {"finish, login busy", progress(4, false, true, "enable"), true,
         [](SetupWindowTest& t) {
             t.state.loginBusy = true;
             t.controller->refresh();
         },
         Step::finish, "Finish", false, true, false},
        {"completed, first paste", progress(4, true, false, "enable"), true, none, Step::firstPaste, "Done", false,
         false, true},
        {"completed, verified", progress(4, true, true, "enable"), true, none, Step::firstPaste, "Done", true, false,
         false},
        {"completed, readiness lost", progress(4, true, true, "enable"), false, none, Step::permissions, "Continue",
         false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        world.ready[itermID] = c.ready;
        world.installed = {{terminal(ghosttyID), terminal(itermID, true)}};
        state = {};
        show(c.stored.empty() ? R"({"presented":false,"step":0,"completed":false,"firstPasteVerified":false})"
                              : c.stored);
        c.act(*this);
        EXPECT_EQ(model->step(), c.step);
        EXPECT_EQ(controller->progressLabel().stringValue(),
                  "Step " + std::to_string(int(c.step) + 1) + " of 5");
        EXPECT_EQ(controller->continueButton().title(), c.forward);
        EXPECT_EQ(controller->continueButton().isEnabled(), c.forwardEnabled);
        EXPECT_EQ(controller->backButton().isHidden(), !c.backShown);
        EXPECT_EQ(controller->backButton().isEnabled(), c.backShown);
        EXPECT_EQ(controller->tryLaterButton().isHidden(), !c.tryLaterShown);
    }
}

TEST_F(SetupWindowTest, ReturnFinishAndCommandWReportInOrder) {
    struct Case {
        const char* name;
        std::string stored;
        std::function<void(SetupWindowTest&)> act;
        std::vector<std::string> events;
        bool visible;
    };
    const Case cases[] = {
        {"Return before a login choice", progress(4, false, true),
         [](SetupWindowTest&) { AppKitControl::typeKey(KeyCode::returnKey, "\r"); }, {}, true},
        {"forward before a login choice", progress(4, false, true),
         [](SetupWindowTest& t) { t.controller->goForward(); }, {"progressChanged"}, true},
        {"Return finishes", progress(4, false, true, "notNow"),
         [](SetupWindowTest&) { AppKitControl::typeKey(KeyCode::returnKey, "\r"); },
         {"didFinish", "didClose", "progressChanged"}, false},
        {"Command-W", progress(2), [](SetupWindowTest&) { AppKitControl::typeKey(keyW, "w", EventFlag::command); },
         {"didClose"}, false},
        {"Command-Shift-W", progress(2),
         [](SetupWindowTest&) { AppKitControl::typeKey(keyW, "W", EventFlag::command | EventFlag::shift); }, {},
         true},
        {"Return on the welcome page", "",
         [](SetupWindowTest&) { AppKitControl::typeKey(KeyCode::returnKey, "\r"); }, {"progressChanged"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        world.ready[itermID] = true;
        events.clear();
        show(c.stored);
        const Step before = model->step();
        world.defaults->removeObject(OnboardingModel::preferenceKey); // only the key press can store it again
        c.act(*this);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(controller->window().isVisible(), c.visible);
        EXPECT_EQ(model->isVisible(), c.visible);
        if (c.events.empty()) {
            EXPECT_EQ(model->step(), before);
        }
        if (!c.visible) {
            // Closing (Command-W, or Return on a finished setup) saved the progress as it stands.
            ASSERT_TRUE(world.stored());
            const auto stored = nlohmann::json::parse(*world.stored());
            EXPECT_EQ(stored["step"], static_cast<int>(model->furthestStep()));
            EXPECT_EQ(stored["selectedTerminalID"], itermID);
            EXPECT_EQ(stored["completed"], model->isCompleted());
        }
    }
}

TEST_F(SetupWindowTest, AClickOnARowSelectsItButOpenDoesNot) {
    world.installed = {{terminal(ghosttyID), terminal(itermID, true), terminal(terminalAppID)}};
    show(R"({"presented":true,"step":1,"completed":false,"firstPasteVerified":false})");
    ASSERT_EQ(controller->chosenTerminalID(), itermID); // the only running one is proposed
    auto& ghostty = *controller->terminalRows().at(ghosttyID);
    auto& terminalApp = *controller->terminalRows().at(terminalAppID);
    EXPECT_EQ(ghostty.iconView().image()->symbolName(), rawValue(InterfaceIcon::terminal)); // no icon given

    AppKitControl::click(ghostty.titleLabel());
    EXPECT_EQ(controller->chosenTerminalID(), ghosttyID);
    AppKitControl::click(terminalApp.iconView());
    EXPECT_EQ(controller->chosenTerminalID(), terminalAppID);
    EXPECT_TRUE(terminalApp.isSelected());
    EXPECT_FALSE(ghostty.isSelected());
    EXPECT_EQ(ghostty.selectionButton().state(), ControlStateValue::off);
    const Point inWindow = ghostty.convertPointTo({ghostty.bounds().width() / 2, 8}, nullptr);
    const Point origin = ghostty.window()->frame().origin;
    AppKitControl::clickAt({origin.x + inWindow.x, origin.y + inWindow.y}); // empty space of the row
    EXPECT_EQ(controller->chosenTerminalID(), ghosttyID);

    AppKitControl::click(terminalApp.openButton());
    EXPECT_EQ(controller->chosenTerminalID(), ghosttyID);
    EXPECT_EQ(events, (std::vector<std::string>{"openTerminal " + terminalAppID}));
    EXPECT_FALSE(model->selectedTerminalID()); // the model learns only from Continue

    AppKitControl::click(controller->continueButton());
    EXPECT_EQ(model->selectedTerminalID(), ghosttyID);
    EXPECT_EQ(model->step(), Step::permissions);
    EXPECT_EQ(controller->automationRow().titleLabel().stringValue(), "Ghostty Automation");
}

TEST_F(SetupWindowTest, AnUnchangedRefreshLaysNothingOutAndMarksNothingForDisplay) {
    world.ready[itermID] = true;
    show(progress(3));
    controller->window().displayIfNeeded();
    ASSERT_FALSE(controller->window().contentView()->subtreeNeedsDisplay());
    const int displays = controller->window().displayCount();

    controller->refresh();
    controller->refresh();
    EXPECT_FALSE(controller->window().contentView()->subtreeNeedsDisplay());
    EXPECT_FALSE(controller->window().needsConstraintLayout());
    controller->window().displayIfNeeded();
    EXPECT_EQ(controller->window().displayCount(), displays);

    state.pasteTitle = "Uploading image\u2026";
    state.pasteBusy = true;
    controller->refresh();
    EXPECT_TRUE(controller->window().contentView()->subtreeNeedsDisplay());
    EXPECT_EQ(controller->pasteTitleLabel().stringValue(), "Uploading image\u2026");
    EXPECT_TRUE(controller->pasteStatusIcon().isHidden());
    EXPECT_FALSE(controller->pasteProgressIndicator().isHidden());
}

TEST_F(SetupWindowTest, TabWalksTheChainsOfTheFirstPasteAndFinishPages) {
    world.ready[itermID] = true;
    state.pasteNeedsRecovery = true;
    show(progress(3));
    controller->helpDisclosureButton().performClick(); // "Open Help…" shows
    auto walk = [this](std::size_t steps) {
        std::vector<std::string> visited;
        controller->window().makeFirstResponder(&controller->lastPasteButton());
        for (std::size_t i = 0; i < steps; ++i) {
            auto* view = dynamic_cast<View*>(controller->window().firstResponder());
            visited.push_back(view ? view->accessibilityLabel() : "");
            AppKitControl::typeKey(KeyCode::tab, "\t");
        }
        return visited;
    };
    EXPECT_EQ(walk(8), (std::vector<std::string>{"Last Paste Status", "Help\u2026", "Connection help", "Open Help\u2026",
                                                  "Back", "Try later", "Last Paste Status", "Help\u2026"}));
    // "Continue" is in the chain but disabled until the first paste is verified.

    state = {};
    show(progress(4, false, true));
    ASSERT_EQ(model->step(), Step::finish);
    state.loginState = LaunchAtLoginController::State::requiresApproval;
    controller->refresh();
    controller->window().makeFirstResponder(&controller->loginEnableButton());
    std::vector<std::string> visited;
    for (int i = 0; i < 5; ++i) {
        AppKitControl::typeKey(KeyCode::tab, "\t");
        visited.push_back(dynamic_cast<View*>(controller->window().firstResponder())->accessibilityLabel());
    }
    // "Finish" is disabled until a choice is made, so Tab passes over it.
    EXPECT_EQ(visited, (std::vector<std::string>{"Not now", "Open Login Items\u2026", "Back", "Enable Launch at Login",
                                                 "Not now"}));
}

// The disclosure is styled from its state on every page build: a screen reader hears
// "expanded" over help that shows.
TEST_F(SetupWindowTest, ConnectionHelpKeepsItsStateAndItsSpokenStateAcrossPageBuilds) {
    world.ready[itermID] = true;
    show(progress(3));
    // Whether a line holds the text (and the second, when given).
    auto reads = [this](const std::string& text, const std::string& also = "") {
        const auto lines = ScreenReader::read(controller->window());
        return std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
            return line.find(text) != line.npos && line.find(also) != line.npos;
        });
    };
    EXPECT_FALSE(reads("SSH must connect"));
    EXPECT_TRUE(reads("Connection help", "collapsed"));
    controller->helpDisclosureButton().performClick();
    EXPECT_TRUE(reads("SSH must connect without password prompts."));
    EXPECT_TRUE(reads("Connection help", "expanded"));

    controller->goBack();
    ASSERT_EQ(model->step(), Step::permissions);
    controller->goForward();
    ASSERT_EQ(model->step(), Step::firstPaste);
    EXPECT_TRUE(reads("SSH must connect without password prompts."));
    EXPECT_TRUE(reads("Connection help", "expanded"));
    EXPECT_EQ(controller->helpDisclosureButton().image()->symbolName(), rawValue(InterfaceIcon::disclosureExpanded));
    controller->helpDisclosureButton().performClick();
    EXPECT_FALSE(reads("SSH must connect"));
}

TEST_F(SetupWindowTest, TheFinishPageFollowsTheLoginStateAndChoice) {
    world.ready[itermID] = true;
    show(progress(4, false, true));
    EXPECT_EQ(controller->loginChoiceLabel().stringValue(), "Choose an option to finish.");
    EXPECT_EQ(controller->loginStatusLabel().stringValue(), "Status unavailable");
    EXPECT_FALSE(controller->loginItemsButton().isHidden());

    AppKitControl::click(controller->loginNotNowButton());
    EXPECT_EQ(controller->loginChoiceLabel().stringValue(), "Current setting kept.");
    EXPECT_EQ(controller->loginNotNowButton().state(), ControlStateValue::on);
    EXPECT_TRUE(events.empty()); // the setting itself stays

    state.loginState = LaunchAtLoginController::State::requiresApproval;
    AppKitControl::click(controller->loginEnableButton());
    EXPECT_EQ(events, (std::vector<std::string>{"enableLaunchAtLogin"}));
    EXPECT_EQ(controller->loginChoiceLabel().stringValue(), "You can finish setup now.");
    EXPECT_EQ(controller->loginEnableButton().state(), ControlStateValue::on);
    EXPECT_EQ(controller->loginNotNowButton().state(), ControlStateValue::off);

    state.loginBusy = true;
    controller->refresh();
    EXPECT_EQ(controller->loginStatusLabel().stringValue(), "Updating\u2026");
    EXPECT_TRUE(controller->loginChoiceLabel().isHidden());
    EXPECT_FALSE(controller->loginEnableButton().isEnabled());
    EXPECT_FALSE(controller->loginNotNowButton().isEnabled());

    state.loginBusy = false;
    state.loginState = LaunchAtLoginController::State::enabled;
    controller->refresh();
    EXPECT_EQ(controller->loginEnableButton().title(), "Keep enabled");
    EXPECT_EQ(controller->loginEnableButton().accessibilityLabel(), "Keep Launch at Login enabled");
    EXPECT_TRUE(controller->loginChoiceLabel().isHidden());
    EXPECT_TRUE(controller->loginItemsButton().isHidden());
}

TEST_F(SetupWindowTest, TerminalsComingAndGoingUpdateTheirRowsInPlace) {
    const OnboardingTerminalDiscovery live(OnboardingTerminalDiscovery::Dependencies::live());
    discover = [&live] { return live.discover(); };
    WorkspaceControl::installApplication({ghosttyID, "Ghostty", "/Applications/Ghostty.app"});
    show(R"({"presented":true,"step":1,"completed":false,"firstPasteVerified":false})");
    ASSERT_EQ(controller->terminalRows().size(), 1u);
    auto ghostty = controller->terminalRows().at(ghosttyID);
    const auto page = controller->pageStack().arrangedSubviews();
    EXPECT_EQ(ghostty->statusLabel().stringValue(), "Installed");

    const pid_t pid = WorkspaceControl::launchApplication({.bundleIdentifier = ghosttyID, .localizedName = "Ghostty"});
    controller->refresh();
    EXPECT_EQ(controller->terminalRows().at(ghosttyID), ghostty);
    EXPECT_EQ(ghostty->statusLabel().stringValue(), "Running");
    EXPECT_EQ(ghostty->selectionButton().accessibilityHelp(), "Running");
    EXPECT_EQ(controller->pageStack().arrangedSubviews(), page); // not rebuilt

    WorkspaceControl::quitApplication(pid);
    controller->refresh();
    EXPECT_EQ(controller->terminalRows().at(ghosttyID), ghostty);
    EXPECT_EQ(ghostty->statusLabel().stringValue(), "Installed");

    WorkspaceControl::installApplication({itermID, "iTerm2", "/Applications/iTerm.app"});
    controller->refresh();
    EXPECT_NE(controller->pageStack().arrangedSubviews(), page); // the list changed
    EXPECT_EQ(controller->terminalRows().size(), 2u);
    EXPECT_EQ(controller->chosenTerminalID(), ghosttyID);

    WorkspaceControl::uninstallApplication(ghosttyID);
    WorkspaceControl::uninstallApplication(itermID);
    controller->refresh();
    EXPECT_TRUE(controller->terminalRows().empty());
    EXPECT_FALSE(controller->continueButton().isEnabled());
    const auto lines = ScreenReader::read(controller->window());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "No terminals found"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Install Ghostty or iTerm2, then refresh."), lines.end());
}

} // namespace
