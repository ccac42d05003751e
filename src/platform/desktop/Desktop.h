#pragma once

#include "platform/desktop/PasteboardState.h"

#include "platform/desktop/AccessibilityState.h"
#include "platform/desktop/AppleEventsState.h"
#include "platform/desktop/InputEventsState.h"
#include "platform/desktop/SystemSettingsState.h"
#include "platform/desktop/WorkspaceState.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarpelix::platform {

// The simulated Mac: one object per process holding the state of every desktop service
// (pasteboard, applications, focus, permissions, event taps, scripting, screens and the
// user's display and region settings). Each service keeps its state in a structure of its
// own, declared in its own header and held here, and its operations in its own source files.
// Every operation reads or changes that state under `mutex`, which is never held across a
// callback: callbacks go to the thread the platform would use (a tap's run loop, the main
// queue).
//
// The system includes only the service interfaces (Pasteboard.h, InputEvents.h, ...);
// tests and the demo set the world up through the DesktopControl functions.
class Desktop {
public:
    static Desktop& shared();

    // Puts every service back to its initial state; tests call it between cases.
    void reset();

    // Registers how one service puts its state back; called once per service.
    void addResetHandler(std::function<void()> handler);

    // Notes, in order, a step of an application's set-up that the system saw (an updater
    // started, a tap installed, a menu installed); any thread. The reset forgets them.
    void record(std::string step);
    std::vector<std::string> records() const;

    std::mutex mutex;

    PasteboardState pasteboard;

    InputEventsState inputEvents;
    WorkspaceState workspace;
    AppleEventsState appleEvents;
    AccessibilityState accessibility;
    SystemSettingsState settings;

private:
    Desktop() = default;
    std::mutex resetMutex_;
    std::vector<std::function<void()>> resetHandlers_;
    mutable std::mutex recordsMutex_;
    std::vector<std::string> records_;
};

} // namespace tarpelix::platform
