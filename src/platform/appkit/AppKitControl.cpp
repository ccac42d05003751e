#include "platform/appkit/AppKitControl.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/Sheet.h"
#include "platform/appkit/StatusItem.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/Screen.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"

#include <atomic>
#include <mutex>
#include <set>
#include <unicode/unistr.h>

namespace tarpelix::platform {

namespace {

constexpr double defaultModalWaitSeconds = 30;

const SheetPanel* sheetPanel(const Window& window) { return dynamic_cast<const SheetPanel*>(&window); }

struct State {
    std::mutex mutex;
    std::set<std::string, std::less<>> withdrawnSymbols;
    std::vector<AppKitControl::AccessibilityNotificationRecord> notifications;
    std::atomic<int> displayRequests{0};
    std::atomic<int> flushes{0};
    std::atomic<int> beeps{0};
    std::atomic<int> pendingEvents{0};
    std::atomic<double> modalWaitSeconds{defaultModalWaitSeconds};
};

State& state() {
    static auto* shared = new State(); // lives as long as the process
    static std::once_flag once;
    std::call_once(once, [] { Desktop::shared().addResetHandler([] { AppKitControl::reset(); }); });
    return *shared;
}

// Runs the main run loop until the events handed to the main queue have been handled.
void waitUntilHandled() {
    InputEventsControl::waitUntilDelivered();
    RunLoop::main()->runUntil([] { return state().pendingEvents.load() == 0; }, 10);
}

} // namespace

bool appkitstate::isSymbolWithdrawn(const std::string& name) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.withdrawnSymbols.contains(name);
}

void appkitstate::resetWithDesktop() { state(); }

void appkitstate::countDisplayRequest() { ++state().displayRequests; }
void appkitstate::countFlush() { ++state().flushes; }
void appkitstate::countBeep() { ++state().beeps; }
void appkitstate::eventQueued() { ++state().pendingEvents; }
void appkitstate::eventHandled() { --state().pendingEvents; }

void appkitstate::recordAccessibilityNotification(AppKitControl::AccessibilityNotificationRecord record) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.notifications.push_back(std::move(record));
}

void AppKitControl::withdrawSymbol(const std::string& name) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.withdrawnSymbols.insert(name);
}

void AppKitControl::restoreSymbols() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.withdrawnSymbols.clear();
}

int AppKitControl::windowDisplayRequests() { return state().displayRequests; }
int AppKitControl::animationFlushes() { return state().flushes; }
int AppKitControl::beeps() { return state().beeps; }

std::vector<AppKitControl::AccessibilityNotificationRecord> AppKitControl::accessibilityNotifications() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.notifications;
}

void AppKitControl::clickAt(Point screenPoint, EventFlags flags) {
    requireMainThread("AppKitControl::clickAt");
    auto& application = Application::shared();
    // The window server's pick: a window of ours, else another application's window by its
    // Accessibility frame (whose first click brings that application forward), else whatever
    // application is frontmost.
    std::optional<pid_t> receiver;
    if (application.windowAt(screenPoint)) {
        receiver = application.processIdentifier();
    } else {
        const auto screens = Screen::screens();
        const double primaryHeight = screens.empty() ? 0 : screens.front().frame.height();
        receiver = AccessibilityControl::applicationWithWindowAt({screenPoint.x, primaryHeight - screenPoint.y});
        const auto front = Workspace::frontmostApplication();
        if (receiver && (!front || front->processIdentifier != *receiver)) {
            WorkspaceControl::activateApplication(*receiver);
        }
    }
    for (EventType type : {EventType::leftMouseDown, EventType::leftMouseUp}) {
        auto event = InputEventsControl::mouseEvent(type, flags);
        event->setLocation(screenPoint);
        if (receiver) {
            Event::postToPid(*receiver, event);
        } else {
            InputEventsControl::deliver(event);
        }
    }
    waitUntilHandled();
}

void AppKitControl::click(const View& view, EventFlags flags) {
    Window* window = view.window();
    if (!window) return;
    const Rect b = view.bounds();
    const Point inWindow = view.convertPointTo({b.midX(), b.midY()}, nullptr);
    clickAt({window->frame().minX() + inWindow.x, window->frame().minY() + inWindow.y}, flags);
}

void AppKitControl::typeKey(std::uint16_t keyCode, const std::string& characters, EventFlags flags) {
    requireMainThread("AppKitControl::typeKey");
    Application::shared().processIdentifier(); // the application is on the desktop to be typed to
    const icu::UnicodeString units = icu::UnicodeString::fromUTF8(characters);
    const std::u16string text(reinterpret_cast<const char16_t*>(units.getBuffer()), std::size_t(units.length()));
    for (bool down : {true, false}) {
        auto event = InputEventsControl::keyEvent(keyCode, down, flags);
        event->keyboardSetUnicodeString(text);
        InputEventsControl::deliver(event);
    }
    waitUntilHandled();
}

void AppKitControl::clickStatusItem(const StatusItem& item) { item.button().performClick(); }

Menu* AppKitControl::openMenu() { return Menu::trackedMenu(); }

bool AppKitControl::chooseMenuItem(const std::string& titleOrIdentifier) {
    return Menu::chooseTrackedItem(titleOrIdentifier);
}

bool AppKitControl::dismissMenu() {
    Menu* menu = Menu::trackedMenu();
    return menu && menu->cancelTracking();
}

double appkitstate::modalWaitSeconds() { return state().modalWaitSeconds.load(); }

void AppKitControl::setModalWaitSeconds(double seconds) { state().modalWaitSeconds = seconds; }

Window* AppKitControl::modalWindow() { return SheetPanel::modalPanel(); }

std::optional<SheetContents> AppKitControl::readSheet(const Window& presented) {
    const auto* panel = sheetPanel(presented);
    if (!panel) return std::nullopt;
    return panel->contents();
}

bool AppKitControl::pressButton(const Window& presented, const std::string& title) {
    const auto* panel = sheetPanel(presented);
    Button* button = panel && panel->isPresented() ? panel->buttonTitled(title) : nullptr;
    if (!button) return false;
    button->performClick();
    return true;
}

bool AppKitControl::pressKey(Window& presented, std::uint16_t keyCode) {
    const auto* panel = sheetPanel(presented);
    if (!panel || !panel->isPresented()) return false;
    const auto keep = presented.shared_from_this(); // ending it may release it
    const std::string characters = keyCode == KeyCode::returnKey ? "\r" : keyCode == KeyCode::escape ? "\x1b" : "";
    KeyEvent event;
    event.keyCode = keyCode;
    event.characters = event.charactersIgnoringModifiers = characters;
    presented.sendEvent(event);
    return !panel->isPresented();
}

bool AppKitControl::answerSavePanel(const Window& presented, const std::optional<std::filesystem::path>& path) {
    auto* panel = const_cast<SheetPanel*>(sheetPanel(presented));
    return panel && panel->answer(path);
}

std::optional<AboutPanelOptions> AppKitControl::aboutPanelOptions() {
    const AboutPanel* panel = Application::shared().aboutPanel();
    return panel ? panel->lastOptions() : std::nullopt;
}

Window* AppKitControl::aboutPanelWindow() {
    const AboutPanel* panel = Application::shared().aboutPanel();
    return panel ? panel->window() : nullptr;
}

void AppKitControl::reopenApplication() {
    RunLoop::main()->perform([] { Application::shared().reopen(); });
}

void AppKitControl::requestQuit() { Application::requestTermination(); }

void AppKitControl::resetApplication() {
    requireMainThread("AppKitControl::resetApplication");
    appkitstate::resetApplication();
}

void AppKitControl::reset() {
    restoreSymbols();
    auto& s = state();
    s.modalWaitSeconds = defaultModalWaitSeconds;
    s.displayRequests = 0;
    s.flushes = 0;
    s.beeps = 0;
    {
        std::lock_guard lock(s.mutex);
        s.notifications.clear();
    }
    if (isMainThread()) appkitstate::resetApplication();
}

} // namespace tarpelix::platform
