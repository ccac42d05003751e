#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/StatusItem.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/dispatch/RunLoop.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tarpelix::platform;

namespace {

// Answers the actions it is given and records what reached it, and whether a menu was
// open at the time.
struct Receiver : ActionTarget {
    std::vector<std::string> answers;
    std::vector<std::string> log;
    bool valid = true;
    bool respondsToAction(const std::string& action) const override {
        return std::find(answers.begin(), answers.end(), action) != answers.end();
    }
    void performAction(const std::string& action, ActionSender* sender) override {
        auto* item = dynamic_cast<MenuItem*>(sender);
        log.push_back(action + " from " + (item ? item->title() : "?") + (Menu::trackedMenu() ? " while open" : ""));
    }
    bool validateMenuItem(const MenuItem&) const override { return valid; }
};

struct MenuRecorder : MenuDelegate, Receiver {
    void menuWillOpen(Menu&) override { log.emplace_back("willOpen"); }
    void menuDidClose(Menu&) override { log.emplace_back("didClose"); }
};

struct WindowRecorder : WindowDelegate, Receiver {
    bool windowShouldClose(Window&) override {
        log.emplace_back("windowShouldClose");
        return true;
    }
};

struct AppRecorder : ApplicationDelegate, Receiver {
    TerminateReply applicationShouldTerminate(Application&) override {
        log.emplace_back("shouldTerminate");
        return TerminateReply::terminateCancel;
    }
};

// A view that takes focus and answers what it is told to.
class Focusable : public View {
public:
    explicit Focusable(std::vector<std::string> actions) : View({10, 10, 40, 20}), actions_(std::move(actions)) {}
    bool acceptsFirstResponder() const override { return true; }
    bool respondsToAction(const std::string& action) const override {
        return std::find(actions_.begin(), actions_.end(), action) != actions_.end();
    }

private:
    std::vector<std::string> actions_;
};

struct MenuTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }
};

TEST_F(MenuTest, AStatusItemClickTracksItsMenuInEventTrackingModeAndTheChosenActionFollowsTheClose) {
    auto recorder = std::make_shared<MenuRecorder>();
    recorder->answers = {"openLastPaste:"};
    auto menu = Menu::create();
    menu->setAutoenablesItems(false);
    menu->setDelegate(recorder);
    menu->addItem("Copy Last Image", "copyImage:")->setEnabled(false);
    menu->addItem("Last Paste Status", "openLastPaste:")->setTarget(recorder);
    menu->addItem("Resume Setup", "resumeSetup:")->setHidden(true);
    auto item = StatusBar::system().statusItem(variableStatusItemLength);
    item->setMenu(menu);

    bool commonFired = false, defaultFired = false;
    bool choseDisabled = true, choseHidden = true;
    auto defaultTimer = RunLoop::main()->scheduleTimer(0, false, TimerMode::defaultMode,
                                                       [&](RunLoopTimer&) { defaultFired = true; });
    auto commonTimer = RunLoop::main()->scheduleTimer(0.02, false, TimerMode::common, [&](RunLoopTimer&) {
        commonFired = true;
        choseDisabled = AppKitControl::chooseMenuItem("Copy Last Image");
        choseHidden = AppKitControl::chooseMenuItem("Resume Setup");
        EXPECT_TRUE(AppKitControl::chooseMenuItem("Last Paste Status"));
    });
    AppKitControl::clickStatusItem(*item);

    EXPECT_TRUE(commonFired);
    EXPECT_FALSE(defaultFired);
    EXPECT_FALSE(choseDisabled);
    EXPECT_FALSE(choseHidden);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"willOpen", "didClose", "openLastPaste: from Last Paste Status"}));
    EXPECT_EQ(AppKitControl::openMenu(), nullptr);
    RunLoop::main()->runUntil([&] { return defaultFired; }, 1);
    EXPECT_TRUE(defaultFired); // it waited for the default mode

    // Dismissed: closed, and nothing is sent.
    recorder->log.clear();
    auto dismiss = RunLoop::main()->scheduleTimer(0, false, TimerMode::common,
                                                  [](RunLoopTimer&) { EXPECT_TRUE(AppKitControl::dismissMenu()); });
    AppKitControl::clickStatusItem(*item);
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"willOpen", "didClose"}));
    EXPECT_FALSE(AppKitControl::chooseMenuItem("Last Paste Status")); // no menu is open
}

TEST_F(MenuTest, AutoEnablingAsksTheResponderChainAndTheValidators) {
    auto window = Window::create({0, 0, 200, 100}, WindowStyle::titled | WindowStyle::closable);
    auto windowDelegate = std::make_shared<WindowRecorder>();
    auto appDelegate = std::make_shared<AppRecorder>();
    window->setDelegate(windowDelegate);
    Application::shared().setDelegate(appDelegate);
    auto copier = std::make_shared<Focusable>(std::vector<std::string>{StandardAction::copy});
    window->contentView()->addSubview(copier);
    window->makeKeyAndOrderFront();

    auto edit = Menu::create("Edit");
    auto copy = edit->addItem("Copy", StandardAction::copy, "c");
    auto selectAll = edit->addItem("Select All", StandardAction::selectAll, "a");
    auto about = edit->addItem("About", "showAbout:");
    auto gone = edit->addItem("Gone", StandardAction::copy);
    gone->setTarget(std::make_shared<Receiver>()); // released at once

    struct Case {
        const char* what;
        bool copierFocused;
        std::vector<std::string> windowDelegateAnswers;
        std::vector<std::string> appDelegateAnswers;
        bool appDelegateValidates;
        bool copyEnabled, selectAllEnabled, aboutEnabled;
    };
    const Case cases[] = {
        {"nothing can copy", false, {}, {}, true, false, false, false},
        {"the focused view copies", true, {}, {}, true, true, false, false},
        {"the window's delegate selects all", false, {StandardAction::selectAll}, {}, true, false, true, false},
        {"the application's delegate answers", false, {}, {"showAbout:", StandardAction::copy}, true, true, false, true},
        {"its validation says no", false, {}, {"showAbout:"}, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        window->makeFirstResponder(c.copierFocused ? copier.get() : nullptr);
        windowDelegate->answers = c.windowDelegateAnswers;
        appDelegate->answers = c.appDelegateAnswers;
        appDelegate->valid = c.appDelegateValidates;
        edit->update();
        EXPECT_EQ(copy->isEnabled(), c.copyEnabled);
        EXPECT_EQ(selectAll->isEnabled(), c.selectAllEnabled);
        EXPECT_EQ(about->isEnabled(), c.aboutEnabled);
        EXPECT_FALSE(gone->isEnabled());
    }
}

TEST_F(MenuTest, MainMenuKeyEquivalentsGoThroughTheChainToTheKeyWindowAndTheApplication) {
    auto window = Window::create({0, 0, 200, 100}, WindowStyle::titled | WindowStyle::closable);
    auto windowDelegate = std::make_shared<WindowRecorder>();
    auto appDelegate = std::make_shared<AppRecorder>();
    window->setDelegate(windowDelegate);
    Application::shared().setDelegate(appDelegate);

    auto mainMenu = Menu::create();
    auto app = Menu::create("Tarpelix");
    app->addItem("Quit Tarpelix", StandardAction::terminate, "q")
        ->setTarget(Application::shared().shared_from_this());
    auto file = Menu::create("File");
    file->addItem("Close", StandardAction::performClose, "w");
    auto hidden = file->addItem("Secret", "secret:", "s");
    hidden->setHidden(true);
    appDelegate->answers = {"secret:"};
    for (const auto& submenu : {app, file}) mainMenu->addItem(submenu->title())->setSubmenu(submenu);
    Application::shared().setMainMenu(mainMenu);
    window->makeKeyAndOrderFront();
    Application::shared().activate();

    AppKitControl::typeKey(13, "w", EventFlag::command | EventFlag::alternate); // not Close's modifiers
    AppKitControl::typeKey(1, "s", EventFlag::command);                          // a hidden item's key
    EXPECT_EQ(AppKitControl::beeps(), 2);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(appDelegate->log.empty());

    AppKitControl::typeKey(13, "w", EventFlag::command);
    EXPECT_EQ(windowDelegate->log, std::vector<std::string>{"windowShouldClose"});
    EXPECT_FALSE(window->isVisible());

    // With no window left, Command-W has no receiver; Command-Q still reaches the application.
    AppKitControl::typeKey(13, "w", EventFlag::command);
    EXPECT_EQ(AppKitControl::beeps(), 3);
    AppKitControl::typeKey(12, "q", EventFlag::command);
    EXPECT_EQ(appDelegate->log, std::vector<std::string>{"shouldTerminate"});
}

TEST_F(MenuTest, AnOpenMenuDrawsShownItemsWithoutOverlapAndReadsThemAloud) {
    auto menu = Menu::create();
    menu->setAutoenablesItems(false);
    menu->addItem("Paste pipeline stopped")->setEnabled(false);
    menu->addItem(MenuItem::separatorItem());
    menu->addItem("Show Overlay")->setState(MenuItem::State::on);
    menu->addItem("Recent Pastes")->setSubmenu(Menu::create("Recent Pastes"));
    menu->addItem("Resume Setup")->setHidden(true);
    menu->addItem("Settings", "showSettings:", ",");
    menu->addItem(MenuItem::separatorItem());
    menu->addItem("Quit Tarpelix", "quit:", "q");

    const auto recording = menu->record();
    std::vector<std::string> drawn;
    const auto texts = recording.texts();
    for (const auto& text : texts) drawn.push_back(text.text.string());
    EXPECT_EQ(drawn, (std::vector<std::string>{"Paste pipeline stopped", "Show Overlay", "Recent Pastes", "Settings", "⌘,",
                                               "Quit Tarpelix", "⌘Q"}));
    EXPECT_TRUE(auditLayout(recording).empty());
    for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
        for (std::size_t j = i + 1; j < texts.size(); ++j) {
            const Rect a = texts[i].frame, b = texts[j].frame;
            const bool overlap = a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
            EXPECT_FALSE(overlap) << drawn[i] << " overlaps " << drawn[j];
        }
        EXPECT_GE(texts[i].frame.minX(), 0);
        EXPECT_LE(texts[i].frame.maxX(), recording.size().width);
    }
    EXPECT_EQ(menu->accessibilityLines(),
              (std::vector<std::string>{"Paste pipeline stopped, dimmed", "Show Overlay, checked", "Recent Pastes, submenu",
                                        "Settings, Command+,", "Quit Tarpelix, Command+Q"}));
}

} // namespace
