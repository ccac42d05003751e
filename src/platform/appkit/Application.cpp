#include "platform/appkit/Application.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/Appearance.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/UpdaterControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unicode/unistr.h>
#include <unistd.h>

namespace tarpelix::platform {

namespace {

std::string infoString(const std::string& key, std::string fallback) {
    const auto value = Bundle::objectForInfoDictionaryKey(key);
    const auto* string = value ? value->get<std::string>() : nullptr;
    return string ? *string : fallback;
}

std::string utf8(const std::u16string& units) {
    std::string out;
    icu::UnicodeString(units.data(), std::int32_t(units.size())).toUTF8String(out);
    return out;
}

std::string activationPolicyName(ActivationPolicy policy) {
    switch (policy) {
    case ActivationPolicy::regular: return "regular";
    case ActivationPolicy::accessory: return "accessory";
    case ActivationPolicy::prohibited: return "prohibited";
    }
    return "unknown";
}

// MARK: Termination signals

// The pipe between the signal handler and the reader thread, made once per process and never
// closed, so that a handler running late on another thread always writes to this pipe.
struct SignalPipe {
    int read = -1;
    int write = -1;
};
std::atomic<int> signalWriteEnd{-1};

const SignalPipe& signalPipe() {
    static SignalPipe pipe = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) fatal("cannot create the termination signal pipe");
        signalWriteEnd = fds[1];
        return SignalPipe{fds[0], fds[1]};
    }();
    return pipe;
}

constexpr char quitByte = 1;
constexpr char endByte = 0;

// Only async-signal-safe calls: one write to a non-blocking pipe (a full pipe already holds a
// quit request, so a lost byte loses nothing).
extern "C" void terminationSignalHandler(int) {
    const int saved = errno;
    const char byte = quitByte;
    [[maybe_unused]] const ssize_t written = ::write(signalWriteEnd.load(std::memory_order_relaxed), &byte, 1);
    errno = saved;
}

// While it exists, SIGINT and SIGTERM write to the pipe and a reader thread turns each batch of
// bytes into the system's quit request; the previous handlers come back when it goes.
class TerminationSignals {
public:
    TerminationSignals() {
        const auto& pipe = signalPipe();
        char stale[64];
        while (::read(pipe.read, stale, sizeof stale) > 0) {
        }
        reader_ = std::thread([read = pipe.read] { readRequests(read); });
        struct sigaction action {};
        action.sa_handler = terminationSignalHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &previousInterrupt_);
        sigaction(SIGTERM, &action, &previousTerminate_);
    }
    ~TerminationSignals() {
        sigaction(SIGINT, &previousInterrupt_, nullptr);
        sigaction(SIGTERM, &previousTerminate_, nullptr);
        const char byte = endByte;
        while (::write(signalPipe().write, &byte, 1) != 1) {
            if (errno != EINTR && errno != EAGAIN) break;
            ::usleep(1000); // the reader empties a full pipe
        }
        reader_.join();
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    static void readRequests(int read) {
        for (;;) {
            pollfd ready{read, POLLIN, 0};
            if (::poll(&ready, 1, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            char bytes[64];
            const ssize_t count = ::read(read, bytes, sizeof bytes);
            if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (count <= 0) return;
            const bool ends = std::find(bytes, bytes + count, endByte) != bytes + count;
            if (std::find(bytes, bytes + count, quitByte) != bytes + count) Application::requestTermination();
            if (ends) return;
        }
    }

    std::thread reader_;
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};

// While the application runs, the update framework's request to quit after an installation
// is the system's quit request; none otherwise.
void routeUpdaterTermination(bool running) {
    UpdaterControl::setTerminationHandler(running ? std::function<void()>(&Application::requestTermination) : nullptr);
}

} // namespace

namespace {
Application* created = nullptr;
} // namespace

Application& Application::shared() {
    requireMainThread("Application");
    static auto* application = created = new Application(); // lives as long as the process
    // An owner that never deletes it, so that the application can be a menu item's target.
    static const std::shared_ptr<Application> owner(application, [](Application*) {});
    return *application;
}

std::shared_ptr<Application> Application::sharedPointer() {
    return std::static_pointer_cast<Application>(shared().shared_from_this());
}

void appkitstate::resetApplication() {
    if (created) created->reset();
}

Application::Application() {
    appkitstate::resetWithDesktop();
    const auto main = DispatchQueue::main();
    activationObserver_ = Workspace::notificationCenter().addObserver(
        WorkspaceNotificationName::didActivateApplication, nullptr, main,
        [](const Notification&) { Application::shared().updateActiveState(); });
    appearanceObserver_ = Workspace::notificationCenter().addObserver(
        appearanceDidChangeNotification, nullptr, main, [](const Notification&) {
            for (Window* window : Application::shared().windows()) window->frameView().effectiveAppearanceDidChange();
        });
}

// MARK: Life cycle

void Application::finishLaunching() {
    if (launched_) return;
    launched_ = true;
    processIdentifier();
    if (auto* d = delegate()) d->applicationWillFinishLaunching(*this);
    if (auto* d = delegate()) d->applicationDidFinishLaunching(*this);
    NotificationCenter::defaultCenter().post(applicationDidFinishLaunchingNotification, this);
}

void Application::run() {
    finishLaunching();
    if (terminated_) return;
    running_ = true;
    stopRequested_ = false;
    routeUpdaterTermination(true);
    {
        const TerminationSignals signals;
        // One turn at a time, so that the end is seen however deeply the turn that brought it
        // ran nested loops of its own.
        while (!terminated_ && !stopRequested_) RunLoop::main()->runOnce(3600.0);
    }
    running_ = false;
    stopRequested_ = false;
    routeUpdaterTermination(false);
}

void Application::stop() {
    stopRequested_ = true;
    RunLoop::main()->perform([] {}); // wakes the loop to see it
}

void Application::requestTermination() {
    RunLoop::main()->perform([] { Application::shared().terminate(); });
}

void Application::terminate() {
    if (terminated_ || waitingForTerminateReply_) return;
    const TerminateReply reply = delegate() ? delegate()->applicationShouldTerminate(*this) : TerminateReply::terminateNow;
    switch (reply) {
    case TerminateReply::terminateNow:
        finishTermination();
        break;
    case TerminateReply::terminateCancel:
        break;
    case TerminateReply::terminateLater:
        waitingForTerminateReply_ = true;
        break;
    }
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate) {
    if (!waitingForTerminateReply_) return;
    waitingForTerminateReply_ = false;
    if (shouldTerminate) finishTermination();
}

void Application::finishTermination() {
    if (auto* d = delegate()) d->applicationWillTerminate(*this);
    NotificationCenter::defaultCenter().post(applicationWillTerminateNotification, this);
    terminated_ = true;
    if (pid_ != 0) WorkspaceControl::quitApplication(pid_);
    if (running_) RunLoop::main()->perform([] {}); // wakes run() to return
}

bool Application::reopen() {
    const bool hasVisibleWindows = !orderedWindows().empty();
    return delegate() ? delegate()->applicationShouldHandleReopen(*this, hasVisibleWindows) : true;
}

// MARK: Activation

bool Application::setActivationPolicy(ActivationPolicy policy) {
    Desktop::shared().record("activation policy " + activationPolicyName(policy));
    activationPolicy_ = policy;
    if (policy == ActivationPolicy::prohibited && isActive()) deactivate();
    return true;
}

void Application::activate() {
    if (activationPolicy_ == ActivationPolicy::prohibited || terminated_) return;
    WorkspaceControl::activateApplication(processIdentifier());
    updateActiveState();
}

void Application::deactivate() {
    if (isActive()) WorkspaceControl::activateApplication(0);
    updateActiveState();
}

bool Application::isActive() const {
    if (pid_ == 0) return false;
    const auto front = Workspace::frontmostApplication();
    return front && front->processIdentifier == pid_;
}

void Application::updateActiveState() {
    const bool active = isActive();
    if (active == active_) return;
    active_ = active;
    if (active) {
        // An application that becomes active shows its key window again.
        if (!keyWindow_) {
            for (Window* window : orderedWindows()) {
                if (window->canBecomeKeyWindow()) {
                    setKeyWindow(window);
                    break;
                }
            }
        }
        if (auto* d = delegate()) d->applicationDidBecomeActive(*this);
        NotificationCenter::defaultCenter().post(applicationDidBecomeActiveNotification, this);
    } else {
        if (auto* d = delegate()) d->applicationDidResignActive(*this);
        NotificationCenter::defaultCenter().post(applicationDidResignActiveNotification, this);
    }
}

pid_t Application::processIdentifier() {
    if (terminated_) return pid_; // a terminated application does not launch again
    if (pid_ != 0) {
        const auto running = Workspace::runningApplication(pid_);
        if (running && !running->isTerminated) return pid_;
    }
    auto bundleIdentifier = Bundle::objectForInfoDictionaryKey("CFBundleIdentifier");
    WorkspaceControl::LaunchOptions options;
    if (bundleIdentifier && bundleIdentifier->get<std::string>()) options.bundleIdentifier = *bundleIdentifier->get<std::string>();
    options.localizedName = infoString("CFBundleName", "Tarpelix");
    options.activate = false;
    // Called on the event stream's thread: the event moves to the main queue.
    options.receiveEvent = [](const EventRef& event) {
        appkitstate::eventQueued();
        auto copy = std::make_shared<Event>(*event);
        DispatchQueue::main()->async([copy] {
            Application::shared().receiveDesktopEvent(copy);
            appkitstate::eventHandled();
        });
    };
    pid_ = WorkspaceControl::launchApplication(std::move(options));
    active_ = false;
    // Registered again after the desktop was reset: the updater's quit request comes back too.
    if (running_) routeUpdaterTermination(true);
    return pid_;
}

// MARK: Windows

std::vector<Window*> Application::orderedWindows() const {
    std::vector<Window*> ordered(order_.rbegin(), order_.rend());
    std::stable_sort(ordered.begin(), ordered.end(), [](Window* a, Window* b) { return a->level() > b->level(); });
    return ordered;
}

Window* Application::windowAt(Point screenPoint) const {
    for (Window* window : orderedWindows()) {
        if (!window->ignoresMouseEvents() && window->frame().contains(screenPoint)) return window;
    }
    return nullptr;
}

void Application::windowCreated(Window* window) { windows_.push_back(window); }

void Application::windowDestroyed(Window* window) {
    std::erase(windows_, window);
    std::erase(order_, window);
    if (keyWindow_ == window) keyWindow_ = nullptr;
    if (mainWindow_ == window) mainWindow_ = nullptr;
}

void Application::orderWindowFront(Window* window) {
    std::erase(order_, window);
    order_.push_back(window);
}

void Application::orderWindowOut(Window* window) {
    std::erase(order_, window);
    const bool wasKey = keyWindow_ == window;
    if (wasKey) setKeyWindow(nullptr);
    if (mainWindow_ == window) mainWindow_ = nullptr;
    if (!wasKey) return;
    // The next window in front that can takes over as key (and main).
    for (Window* next : orderedWindows()) {
        if (next->canBecomeKeyWindow()) {
            next->makeKeyWindow();
            next->makeMainWindow();
            break;
        }
    }
}

void Application::setKeyWindow(Window* window) {
    if (window == keyWindow_) return;
    Window* old = keyWindow_;
    keyWindow_ = window;
    if (old) old->resignKey();
    if (window) window->becomeKey();
}

void Application::setMainWindow(Window* window) {
    if (window == mainWindow_) return;
    Window* old = mainWindow_;
    mainWindow_ = window;
    if (old && old->delegate()) old->delegate()->windowDidResignMain(*old);
    if (window && window->delegate()) window->delegate()->windowDidBecomeMain(*window);
}

// MARK: Menus

void Application::setMainMenu(std::shared_ptr<Menu> menu) {
    std::string titles;
    if (menu) {
        for (const auto& item : menu->items()) titles += (titles.empty() ? "" : ", ") + item->title();
    }
    Desktop::shared().record("main menu: " + titles);
    mainMenu_ = std::move(menu);
}

// MARK: Appearance

void Application::setAppearance(std::optional<Appearance> appearance) {
    if (appearance == appearance_) return;
    appearance_ = appearance;
    for (Window* window : windows_) window->frameView().effectiveAppearanceDidChange();
}

DrawingAppearance Application::effectiveAppearance() const {
    return {appearance_.value_or(Workspace::appearance()), Workspace::accessibilityDisplayShouldIncreaseContrast()};
}

// MARK: About panel

void Application::orderFrontStandardAboutPanel(const AboutPanelOptions& options) {
    requireMainThread("Application::orderFrontStandardAboutPanel");
    if (!aboutPanel_) aboutPanel_ = std::make_unique<AboutPanel>();
    aboutPanel_->show(options);
}

// MARK: Events

void Application::receiveDesktopEvent(const EventRef& event) {
    const EventFlags flags = event->flags() & 0xFFFF0000;
    switch (event->type()) {
    case EventType::keyDown:
    case EventType::keyUp: {
        KeyEvent key;
        key.type = event->type();
        key.keyCode = std::uint16_t(event->integerValueField(EventField::keyboardEventKeycode));
        key.characters = utf8(event->unicodeString());
        key.charactersIgnoringModifiers = key.characters;
        key.modifierFlags = flags;
        key.isARepeat = event->integerValueField(EventField::keyboardEventAutorepeat) != 0;
        sendEvent(key);
        break;
    }
    case EventType::leftMouseDown:
    case EventType::leftMouseUp:
        sendMouseEvent(event->type(), event->location(), flags);
        break;
    default:
        break;
    }
}

void Application::sendEvent(const KeyEvent& event) {
    if (keyWindow_) return keyWindow_->sendEvent(event);
    if (event.type == EventType::keyDown && mainMenu_ && mainMenu_->performKeyEquivalent(event)) return;
    if (event.type == EventType::keyDown) keyDown(event);
}

void Application::sendMouseEvent(EventType type, Point screenPoint, EventFlags flags) {
    if (type == EventType::leftMouseUp) {
        auto view = mouseDownView_.lock();
        mouseDownView_.reset();
        if (!view || !view->window()) return;
        Window* window = view->window();
        const MouseEvent event{type, {screenPoint.x - window->frame().minX(), screenPoint.y - window->frame().minY()},
                               flags, 1, window};
        view->mouseUp(event);
        return;
    }
    Window* window = windowAt(screenPoint);
    if (!window) return;
    const MouseEvent event{type, {screenPoint.x - window->frame().minX(), screenPoint.y - window->frame().minY()}, flags,
                           1, window};
    View* view = window->hitTest(event.locationInWindow);
    const auto* panel = window->styleMask() & WindowStyle::nonactivatingPanel ? window : nullptr;
    bool reachesView = true;
    if (!panel && !isActive()) {
        // The first click brings the application and the window forward.
        activate();
        reachesView = view && view->acceptsFirstMouse(event);
    }
    if (!panel) {
        window->orderFront();
        window->makeKeyWindow();
        window->makeMainWindow();
    }
    if (!reachesView || !view) return;
    mouseDownView_ = view->sharedView();
    window->sendEvent(event);
}

Responder* Application::keyResponderAfter(const Responder& responder, const KeyEvent& event) {
    std::vector<Responder*> chain;
    const auto add = [&chain](Responder* next) {
        if (next && std::ranges::find(chain, next) == chain.end()) chain.push_back(next);
    };
    if (event.window) {
        add(event.window);
        add(dynamic_cast<Responder*>(event.window->delegate()));
    }
    add(this);
    add(dynamic_cast<Responder*>(delegate()));
    const auto at = std::ranges::find(chain, &responder);
    return at == chain.end() || at + 1 == chain.end() ? nullptr : *(at + 1);
}

// MARK: Actions

ActionTarget* Application::targetForAction(const std::string& action, ActionTarget* target) {
    if (action.empty()) return nullptr;
    if (target) return target->respondsToAction(action) ? target : nullptr;
    std::vector<ActionTarget*> chain;
    auto addWindow = [&chain](Window* window) {
        for (Responder* responder = window->firstResponder(); responder && responder != window;
             responder = responder->nextResponder()) {
            chain.push_back(responder);
        }
        chain.push_back(window);
        if (auto* d = dynamic_cast<ActionTarget*>(window->delegate())) chain.push_back(d);
    };
    if (keyWindow_) addWindow(keyWindow_);
    if (mainWindow_ && mainWindow_ != keyWindow_) addWindow(mainWindow_);
    chain.push_back(this);
    if (auto* d = dynamic_cast<ActionTarget*>(delegate())) chain.push_back(d);
    for (ActionTarget* candidate : chain) {
        if (candidate->respondsToAction(action)) return candidate;
    }
    return nullptr;
}

bool Application::sendAction(const std::string& action, ActionTarget* target, ActionSender* sender) {
    requireMainThread("Application::sendAction");
    ActionTarget* receiver = targetForAction(action, target);
    if (!receiver) return false;
    receiver->performAction(action, sender);
    return true;
}

bool Application::respondsToAction(const std::string& action) const {
    return action == StandardAction::terminate || action == StandardAction::orderFrontStandardAboutPanel;
}

void Application::performAction(const std::string& action, ActionSender*) {
    if (action == StandardAction::terminate) terminate();
    if (action == StandardAction::orderFrontStandardAboutPanel) orderFrontStandardAboutPanel();
}

// MARK: Reset

void Application::reset() {
    delegate_.reset();
    launched_ = false;
    stopRequested_ = false;
    waitingForTerminateReply_ = false;
    terminated_ = false;
    activationPolicy_ = ActivationPolicy::regular;
    active_ = false;
    pid_ = 0;
    order_.clear();
    keyWindow_ = nullptr;
    mainWindow_ = nullptr;
    mainMenu_.reset();
    icon_.reset();
    appearance_.reset();
    aboutPanel_.reset(); // its window goes with it
    mouseDownView_.reset();
    for (Window* window : windows_) window->visible_ = false;
}

} // namespace tarpelix::platform
