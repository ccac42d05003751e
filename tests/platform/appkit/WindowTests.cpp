#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Panel.h"
#include "platform/appkit/TitleBar.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/WindowDisplay.h"
#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/Screen.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/RunLoop.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

// A view that takes focus and records what reaches it.
class Probe : public View {
public:
    Probe(Rect frame, bool firstMouse = false) : View(frame), firstMouse_(firstMouse) {}
    bool acceptsFirstResponder() const override { return true; }
    bool isEnabled() const override { return enabled; }
    bool acceptsFirstMouse(const MouseEvent&) const override { return firstMouse_; }
    void mouseDown(const MouseEvent&) override { ++clicks; }
    void cancelOperation() override { ++cancels; }

    bool enabled = true;
    int clicks = 0;
    int cancels = 0;

private:
    bool firstMouse_;
};

struct Recorder : WindowDelegate, ApplicationDelegate {
    std::vector<std::string> calls;
    bool allowClose = true;
    TerminateReply terminateReply = TerminateReply::terminateNow;

    bool windowShouldClose(Window&) override {
        calls.emplace_back("windowShouldClose");
        return allowClose;
    }
    void windowWillClose(Window&) override { calls.emplace_back("windowWillClose"); }
    void windowDidBecomeKey(Window&) override { calls.emplace_back("windowDidBecomeKey"); }
    void windowDidResignKey(Window&) override { calls.emplace_back("windowDidResignKey"); }
    void applicationDidBecomeActive(Application&) override { calls.emplace_back("didBecomeActive"); }
    void applicationDidResignActive(Application&) override { calls.emplace_back("didResignActive"); }
    TerminateReply applicationShouldTerminate(Application&) override {
        calls.emplace_back("shouldTerminate");
        return terminateReply;
    }
    void applicationWillTerminate(Application&) override { calls.emplace_back("willTerminate"); }
};

struct WindowTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }

    // Another application in front, as when the user works elsewhere.
    static pid_t otherApplicationInFront() {
        auto pid = WorkspaceControl::launchApplication({.localizedName = "Other"});
        RunLoop::main()->runUntil([] { return false; }, 0.01); // activation notices drain
        return pid;
    }
    static void activateOurs() {
        Application::shared().activate();
        ASSERT_TRUE(Application::shared().isActive());
    }
};

TEST_F(WindowTest, TheTitleBarSitsAboveTheContentAndItsButtonsCloseOrBeepWhenDisabled) {
    auto recorder = std::make_shared<Recorder>();
    auto window = Window::create({100, 100, 320, 200}, WindowStyle::titled | WindowStyle::closable);
    window->setTitle("Report");
    window->setDelegate(recorder);
    EXPECT_EQ(window->frame(), (Rect{100, 100, 320, 228}));
    EXPECT_EQ(window->contentView()->frame(), (Rect{0, 0, 320, 200}));
    window->setContentMinSize({300, 150});
    window->setFrame({100, 100, 200, 100});
    EXPECT_EQ(window->frame(), (Rect{100, 100, 300, 178}));

    window->center(); // the default screen's visible frame
    window->makeKeyAndOrderFront();
    activateOurs();
    const auto recording = window->record();
    const auto texts = recording.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text.string(), "Report");
    EXPECT_TRUE(texts[0].fitted);
    EXPECT_GE(texts[0].frame.minY(), 150);

    // Miniaturise is disabled: clicking it beeps and leaves the window; close asks first.
    AppKitControl::click(*window->standardWindowButton(WindowButtonKind::miniaturize));
    EXPECT_EQ(AppKitControl::beeps(), 0); // a disabled button ignores the click
    window->miniaturize();
    EXPECT_EQ(AppKitControl::beeps(), 1);
    EXPECT_TRUE(window->isVisible());
    recorder->allowClose = false;
    AppKitControl::click(*window->standardWindowButton(WindowButtonKind::close));
    EXPECT_TRUE(window->isVisible());
    recorder->allowClose = true;
    AppKitControl::click(*window->standardWindowButton(WindowButtonKind::close));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Application::shared().keyWindow(), nullptr);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"windowDidBecomeKey", "windowShouldClose",
                                                         "windowShouldClose", "windowWillClose",
                                                         "windowDidResignKey"}));
}

TEST_F(WindowTest, TabFollowsGeometrySkippingHiddenAndDisabledViewsAndShiftTabGoesBack) {
    auto window = Window::create({0, 0, 400, 300}, WindowStyle::titled);
    auto a = std::make_shared<Probe>(Rect{20, 250, 100, 30});
    auto b = std::make_shared<Probe>(Rect{200, 255, 100, 20}); // same row as a, further along
    auto hidden = std::make_shared<Probe>(Rect{20, 200, 100, 20});
    auto disabled = std::make_shared<Probe>(Rect{20, 150, 100, 20});
    auto e = std::make_shared<Probe>(Rect{20, 100, 100, 20});
    hidden->setHidden(true);
    disabled->enabled = false;
    // Added out of order: the loop follows geometry, not the tree.
    for (const auto& v : {e, disabled, b, hidden, a}) window->contentView()->addSubview(v);
    window->makeKeyAndOrderFront();
    activateOurs();

    std::vector<Responder*> visited;
    for (int i = 0; i < 4; ++i) {
        AppKitControl::typeKey(KeyCode::tab, "\t");
        visited.push_back(window->firstResponder());
    }
    EXPECT_EQ(visited, (std::vector<Responder*>{a.get(), b.get(), e.get(), a.get()}));
    AppKitControl::typeKey(KeyCode::tab, "\t", EventFlag::shift);
    EXPECT_EQ(window->firstResponder(), e.get());
    EXPECT_EQ(AppKitControl::beeps(), 0);
}

TEST_F(WindowTest, AWindowSubclassSeesEscapeBeforeTheFirstResponder) {
    struct EscapeWindow : Window {
        using Window::Window;
        bool performKeyEquivalent(const KeyEvent& event) override {
            if (event.keyCode != KeyCode::escape || !takeEscape) return Window::performKeyEquivalent(event);
            ++escapes;
            return true;
        }
        bool takeEscape = true;
        int escapes = 0;
    };
    auto window = std::make_shared<EscapeWindow>(Rect{0, 0, 200, 100}, WindowStyle::titled);
    auto probe = std::make_shared<Probe>(Rect{10, 10, 50, 20});
    window->contentView()->addSubview(probe);
    window->makeKeyAndOrderFront();
    window->makeFirstResponder(probe.get());
    activateOurs();

    AppKitControl::typeKey(KeyCode::escape, "\x1b");
    EXPECT_EQ(window->escapes, 1);
    EXPECT_EQ(probe->cancels, 0);
    window->takeEscape = false; // now Escape goes to the first responder as cancelOperation
    AppKitControl::typeKey(KeyCode::escape, "\x1b");
    EXPECT_EQ(probe->cancels, 1);
    AppKitControl::typeKey(0, "a"); // nobody handles it
    EXPECT_EQ(AppKitControl::beeps(), 1);
}

// A window delegate and an application delegate that are responders too: each takes the
// key-downs it is set to take and passes the others on.
struct KeyTaker : Responder, WindowDelegate, ApplicationDelegate {
    explicit KeyTaker(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}
    void keyDown(const KeyEvent& event) override {
        if (event.characters != takes) return Responder::keyDown(event);
        log.push_back(name + " " + event.characters);
    }
    std::string name;
    std::vector<std::string>& log;
    std::string takes;
};

TEST_F(WindowTest, AKeyNobodyInTheWindowTakesGoesToItsDelegateTheApplicationItsDelegateThenBeeps) {
    std::vector<std::string> log;
    auto windowDelegate = std::make_shared<KeyTaker>("window delegate", log);
    auto applicationDelegate = std::make_shared<KeyTaker>("application delegate", log);
    windowDelegate->takes = "w";
    applicationDelegate->takes = "a";
    auto window = Window::create({0, 0, 200, 100}, WindowStyle::titled);
    auto probe = std::make_shared<Probe>(Rect{10, 10, 50, 20});
    window->contentView()->addSubview(probe);
    window->setDelegate(windowDelegate);
    Application::shared().setDelegate(applicationDelegate);
    window->makeKeyAndOrderFront();
    window->makeFirstResponder(probe.get());
    activateOurs();

    for (const char* key : {"w", "a", "x"}) AppKitControl::typeKey(0, key);
    EXPECT_EQ(log, (std::vector<std::string>{"window delegate w", "application delegate a"}));
    EXPECT_EQ(AppKitControl::beeps(), 1);

    // One object as both delegates is asked once, and a key it does not take still ends in a beep.
    window->setDelegate(applicationDelegate);
    AppKitControl::typeKey(0, "a");
    AppKitControl::typeKey(0, "w");
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(log.back(), "application delegate a");
    EXPECT_EQ(AppKitControl::beeps(), 2);
}

TEST_F(WindowTest, AClickOutsideOurWindowsGoesToTheApplicationWhoseAccessibilityFrameIsThereAndActivatesIt) {
    auto& application = Application::shared();
    auto recorder = std::make_shared<Recorder>();
    application.setDelegate(recorder);
    const pid_t ours = application.processIdentifier();
    // Two applications, each with a window published as an Accessibility element (y down); the
    // later one is further in front where they overlap. `behind` is frontmost, but its window
    // does not cover the click.
    const auto launch = [](const std::string& name, AXPoint position, AXSize size) {
        const pid_t pid = WorkspaceControl::launchApplication({.localizedName = name});
        const auto node = AccessibilityControl::createElement(pid);
        AccessibilityControl::setAttribute(pid, node, "AXRole", std::string("AXWindow"));
        AccessibilityControl::setAttribute(pid, node, "AXPosition", position);
        AccessibilityControl::setAttribute(pid, node, "AXSize", size);
        return pid;
    };
    const pid_t editor = launch("Editor", {0, 0}, {400, 300});
    const pid_t viewer = launch("Viewer", {300, 0}, {400, 300});
    const pid_t behind = launch("Behind", {900, 600}, {100, 100});
    const double screenHeight = Screen::screens().front().frame.height();
    auto window = Window::create({1000, 100, 200, 100}, WindowStyle::titled);
    auto probe = std::make_shared<Probe>(Rect{0, 0, 200, 100});
    window->setContentView(probe);
    window->makeKeyAndOrderFront();
    activateOurs();

    const auto clicksOf = [](pid_t pid) {
        return std::ranges::count_if(InputEventsControl::receivedEvents(pid),
                                     [](const EventRef& e) { return e->type() == EventType::leftMouseDown; });
    };
    // Where both windows are, the later one takes it; left of it only the first is there; once
    // that one is frontmost, its window is in front where they overlap.
    const std::pair<AXPoint, pid_t> clicks[] = {{{350, 10}, viewer}, {{100, 10}, editor}, {{350, 290}, editor}};
    for (const auto& [point, expected] : clicks) {
        AppKitControl::clickAt({point.x, screenHeight - point.y});
        EXPECT_EQ(Workspace::frontmostApplication()->processIdentifier, expected) << point.x << ", " << point.y;
    }
    EXPECT_EQ(clicksOf(viewer), 1);
    EXPECT_EQ(clicksOf(editor), 2);
    EXPECT_EQ(clicksOf(behind), 0);
    EXPECT_EQ(clicksOf(ours), 0);
    RunLoop::main()->runUntil([&] { return std::ranges::count(recorder->calls, "didResignActive") > 0; }, 5);
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"didBecomeActive", "didResignActive"}));

    // Back in our window, the first click brings us forward (the probe does not take the first mouse).
    AppKitControl::click(*probe);
    EXPECT_TRUE(application.isActive());
    EXPECT_EQ(probe->clicks, 0);
    AppKitControl::click(*probe);
    EXPECT_EQ(probe->clicks, 1);
    EXPECT_EQ(clicksOf(ours), 2);
}

TEST_F(WindowTest, ANonActivatingFloatingPanelNeverBecomesKeyNorActivatesAndLetsClicksThrough) {
    auto& application = Application::shared();
    auto recorder = std::make_shared<Recorder>();
    application.setDelegate(recorder);
    application.processIdentifier();
    otherApplicationInFront();

    auto beneath = Window::create({0, 0, 300, 200}, WindowStyle::titled);
    auto target = std::make_shared<Probe>(Rect{0, 0, 300, 200}, true);
    beneath->setContentView(target);
    beneath->orderFront();
    auto panel = Panel::create({50, 50, 264, 44}, WindowStyle::nonactivatingPanel);
    auto surface = std::make_shared<Probe>(Rect{0, 0, 264, 44}, false);
    panel->setContentView(surface);
    panel->setFloatingPanel(true);
    panel->makeKeyAndOrderFront();
    EXPECT_FALSE(panel->isKeyWindow());
    EXPECT_FALSE(application.isActive());
    EXPECT_EQ(application.orderedWindows().front(), panel.get());

    // A panel that takes the mouse gets the click without activating anything.
    AppKitControl::clickAt({100, 60});
    EXPECT_EQ(surface->clicks, 1);
    EXPECT_FALSE(application.isActive());
    EXPECT_FALSE(panel->isKeyWindow());

    // Ignoring the mouse, the click reaches the window beneath, which activates as usual.
    panel->setIgnoresMouseEvents(true);
    AppKitControl::clickAt({100, 60});
    EXPECT_EQ(surface->clicks, 1);
    EXPECT_EQ(target->clicks, 1);
    EXPECT_TRUE(application.isActive());
    EXPECT_TRUE(beneath->isKeyWindow());
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"didBecomeActive"}));
}

TEST_F(WindowTest, AFirstClickActivatesTheApplicationAndReachesOnlyAViewThatAcceptsTheFirstMouse) {
    for (bool acceptsFirstMouse : {false, true}) {
        DesktopControl::reset();
        Application::shared().processIdentifier();
        const pid_t other = otherApplicationInFront();
        auto window = Window::create({0, 0, 200, 100}, WindowStyle::titled);
        auto probe = std::make_shared<Probe>(Rect{20, 20, 60, 30}, acceptsFirstMouse);
        window->contentView()->addSubview(probe);
        window->orderFront();

        AppKitControl::click(*probe);
        EXPECT_TRUE(Application::shared().isActive());
        EXPECT_TRUE(window->isKeyWindow());
        EXPECT_EQ(probe->clicks, acceptsFirstMouse ? 1 : 0);
        AppKitControl::click(*probe); // once active, every click arrives
        EXPECT_EQ(probe->clicks, acceptsFirstMouse ? 2 : 1);
        EXPECT_EQ(window->firstResponder(), probe.get());

        // A click where no window of ours is goes to the frontmost application.
        WorkspaceControl::activateApplication(other);
        AppKitControl::clickAt({500, 500});
        EXPECT_FALSE(Application::shared().isActive());
    }
}

TEST_F(WindowTest, TerminateLaterWaitsForTheReplyAndCancelKeepsTheApplication) {
    auto& application = Application::shared();
    auto recorder = std::make_shared<Recorder>();
    application.setDelegate(recorder);
    const pid_t pid = application.processIdentifier();

    recorder->terminateReply = TerminateReply::terminateCancel;
    application.terminate();
    EXPECT_FALSE(application.hasTerminated());

    recorder->terminateReply = TerminateReply::terminateLater;
    application.terminate();
    EXPECT_TRUE(application.isWaitingForTerminateReply());
    application.terminate(); // asked again while waiting: the delegate is not asked twice
    EXPECT_FALSE(application.hasTerminated());
    application.replyToApplicationShouldTerminate(false);
    EXPECT_FALSE(application.hasTerminated());

    application.terminate();
    application.replyToApplicationShouldTerminate(true);
    EXPECT_TRUE(application.hasTerminated());
    EXPECT_FALSE(Workspace::runningApplication(pid).has_value()); // quit: it left the workspace
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"shouldTerminate", "shouldTerminate", "shouldTerminate",
                                                         "willTerminate"}));
}

TEST_F(WindowTest, RunStopsWhenAskedAndVisibleWindowsDisplayWhatChanged) {
    auto& application = Application::shared();
    auto window = Window::create({0, 0, 100, 60}, WindowStyle::titled);
    window->orderFront();
    RunLoop::main()->perform([&] {
        WindowDisplay::displayVisibleWindowsIfNeeded();
        WindowDisplay::displayVisibleWindowsIfNeeded(); // nothing changed since
        window->contentView()->setNeedsDisplay(true);
        WindowDisplay::displayVisibleWindowsIfNeeded();
        application.stop();
    });
    application.run();
    EXPECT_TRUE(application.hasFinishedLaunching());
    EXPECT_EQ(window->displayCount(), 2);
    EXPECT_TRUE(window->backingStore().has_value());
    EXPECT_EQ(AppKitControl::windowDisplayRequests(), 3);
}

} // namespace
