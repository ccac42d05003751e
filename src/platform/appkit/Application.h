#pragma once

#include "platform/appkit/AboutPanel.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Responder.h"
#include "platform/foundation/NotificationCenter.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::platform {

class Application;
class View;
class Window;

enum class ActivationPolicy { regular, accessory, prohibited };
enum class TerminateReply { terminateCancel, terminateNow, terminateLater };

// Told what happens to the application; every call has a default. A delegate that is also an
// ActionTarget answers actions after the application, at the end of the responder chain.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationWillFinishLaunching(Application&) {}
    virtual void applicationDidFinishLaunching(Application&) {}
    // The user opened the application again (its icon, or the application anew) while it runs.
    virtual bool applicationShouldHandleReopen(Application&, bool /*hasVisibleWindows*/) { return true; }
    virtual void applicationDidBecomeActive(Application&) {}
    virtual void applicationDidResignActive(Application&) {}
    virtual TerminateReply applicationShouldTerminate(Application&) { return TerminateReply::terminateNow; }
    virtual void applicationWillTerminate(Application&) {}
};

inline const std::string applicationDidFinishLaunchingNotification = "NSApplicationDidFinishLaunchingNotification";
inline const std::string applicationWillTerminateNotification = "NSApplicationWillTerminateNotification";
inline const std::string applicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline const std::string applicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";

// The application: one per process, a running application of the simulated desktop (so it
// can be frontmost and receive the user's keys and clicks), its windows in front-to-back
// order, the key and main window, and the main run loop. Events from the desktop's event
// stream move to the main queue and are sent to the key window or the window under the
// click. Main thread only.
class Application : public Responder {
public:
    static Application& shared();
    // The same object, for holders of a shared pointer (a menu item's target).
    static std::shared_ptr<Application> sharedPointer();

    ApplicationDelegate* delegate() const { return delegate_.lock().get(); }
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

    // MARK: Life cycle
    // Tells the delegate the application will and did finish launching (once); run() calls it.
    void finishLaunching();
    bool hasFinishedLaunching() const { return launched_; }
    // Runs the main run loop until stop() or termination, then returns (the process goes on).
    // While it runs, SIGINT and SIGTERM ask the application to quit as the system's quit
    // request does (see requestTermination).
    void run();
    // Makes run() return once the block or event being handled has finished.
    void stop();
    bool isRunning() const { return running_; }
    // Asks the delegate; now terminates, cancel does nothing, later waits for
    // replyToApplicationShouldTerminate.
    void terminate();
    // The system's quit request (a logout, a quit from the Dock, a termination signal): from
    // any thread, it moves to the main run loop and runs terminate() there.
    static void requestTermination();
    void replyToApplicationShouldTerminate(bool shouldTerminate);
    bool isWaitingForTerminateReply() const { return waitingForTerminateReply_; }
    // Whether the application terminated: the delegate was told, the desktop lists it as
    // terminated and the run loop stopped (the process itself goes on, for tests).
    bool hasTerminated() const { return terminated_; }
    // The user opened the application again; asks the delegate.
    bool reopen();

    // MARK: Activation
    ActivationPolicy activationPolicy() const { return activationPolicy_; }
    bool setActivationPolicy(ActivationPolicy policy);
    // Makes the application frontmost on the desktop (a prohibited one cannot be).
    void activate();
    void deactivate();
    bool isActive() const;
    // The application's process on the simulated desktop; registered on first use, and again
    // after the desktop was reset.
    pid_t processIdentifier();

    // MARK: Windows
    // Every window that exists, in creation order.
    std::vector<Window*> windows() const { return windows_; }
    // The visible windows, front to back (higher levels first).
    std::vector<Window*> orderedWindows() const;
    Window* keyWindow() const { return keyWindow_; }
    Window* mainWindow() const { return mainWindow_; }
    // The frontmost visible window at a point of the screen that takes the mouse.
    Window* windowAt(Point screenPoint) const;

    // MARK: Menus, icon and appearance
    // Its items' submenus are the menus of the menu bar; it gets the key equivalents the key
    // window did not take.
    const std::shared_ptr<Menu>& mainMenu() const { return mainMenu_; }
    void setMainMenu(std::shared_ptr<Menu> menu);
    const std::optional<GraphicsImage>& applicationIconImage() const { return icon_; }
    void setApplicationIconImage(std::optional<GraphicsImage> icon) { icon_ = std::move(icon); }
    std::optional<Appearance> appearance() const { return appearance_; }
    void setAppearance(std::optional<Appearance> appearance);
    DrawingAppearance effectiveAppearance() const;

    // MARK: About panel
    // Shows the About panel with these options (the bundle's name, versions and the icon for
    // any left out) and brings it to the front; the same window each time.
    void orderFrontStandardAboutPanel(const AboutPanelOptions& options = {});
    // None before the first call.
    const AboutPanel* aboutPanel() const { return aboutPanel_.get(); }

    // MARK: Events
    // Sends a key event to the key window (key equivalents also to the main menu).
    void sendEvent(const KeyEvent& event);
    // Sends a mouse event at a point of the screen to the window under it: a first click into
    // an inactive application activates it and reaches the view only if it accepts first mouse.
    void sendMouseEvent(EventType type, Point screenPoint, EventFlags flags);
    // Where a key-down goes when it reached the end of a responder's own chain: after the
    // event's window come the window's delegate, the application and its delegate (each once,
    // the delegates only when they are responders). None after the last: the system beeps.
    Responder* keyResponderAfter(const Responder& responder, const KeyEvent& event);

    // MARK: Actions
    // Who receives an action: `target` when given and it answers, else the first of the
    // responder chain that answers: the key window's first responder up to the window, the
    // window's delegate, the same for the main window when it is another, the application and
    // its delegate. None when nobody answers.
    ActionTarget* targetForAction(const std::string& action, ActionTarget* target = nullptr);
    // Sends the action to that receiver; false when there is none.
    bool sendAction(const std::string& action, ActionTarget* target, ActionSender* sender);
    // The application answers terminate: and orderFrontStandardAboutPanel:.
    bool respondsToAction(const std::string& action) const override;
    void performAction(const std::string& action, ActionSender* sender) override;

    // Used by windows.
    void windowCreated(Window* window);
    void windowDestroyed(Window* window);
    void orderWindowFront(Window* window);
    void orderWindowOut(Window* window);
    void setKeyWindow(Window* window);
    void setMainWindow(Window* window);
    // Puts the application back as it was at start-up (the desktop's reset does it).
    void reset();

private:
    Application();
    void updateActiveState();
    void receiveDesktopEvent(const EventRef& event);
    void finishTermination();

    std::weak_ptr<ApplicationDelegate> delegate_;
    bool launched_ = false;
    bool running_ = false;
    bool stopRequested_ = false;
    bool waitingForTerminateReply_ = false;
    bool terminated_ = false;
    ActivationPolicy activationPolicy_ = ActivationPolicy::regular;
    bool active_ = false;
    pid_t pid_ = 0;
    std::vector<Window*> windows_;
    std::vector<Window*> order_; // visible windows, back to front
    Window* keyWindow_ = nullptr;
    Window* mainWindow_ = nullptr;
    std::shared_ptr<Menu> mainMenu_;
    std::optional<GraphicsImage> icon_;
    std::optional<Appearance> appearance_;
    std::unique_ptr<AboutPanel> aboutPanel_;
    std::weak_ptr<View> mouseDownView_;
    NotificationObserver activationObserver_;
    NotificationObserver appearanceObserver_;
};

} // namespace tarpelix::platform
