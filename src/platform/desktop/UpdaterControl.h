#pragma once

#include "platform/desktop/Updater.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// Control surface of the simulated update framework, for tests and the demo: what the next
// check finds, a start failure, scheduled checks, the framework's windows and what it
// installed. The calls that act on the updater (a scheduled check, dismissing a window) move
// to the main thread first when called elsewhere, returning before they took effect; the
// others only change what is scripted or read what was recorded, from any thread.
// DesktopControl::reset() forgets everything here.
namespace tarpelix::platform::UpdaterControl {

// How the user answers the framework's update window.
enum class UpdateAnswer { install, later };

// The feed offers an update. A user's check shows it at once; a scheduled one offers it to
// the user driver's delegate and, declined, waits as a reminder until the user checks.
// Installing then asks to postpone the relaunch, as InstallWithPostponedRelaunch does.
struct UpdateFound {
    AppcastItem item;
    UpdateAnswer answer = UpdateAnswer::install;
    // With install: abort with this error once the continuation is called.
    std::optional<UpdaterError> installFailure{};
};
// The feed has nothing newer: a user's check shows the not-found window and ends the cycle
// when it is dismissed; a scheduled check ends the cycle quietly.
struct NoUpdateFound {
    UpdaterError error;
};
// The check fails: the error window is shown, the cycle aborts and ends.
struct CheckFailed {
    UpdaterError error;
};
// An update installs without a window and asks the delegate to postpone the relaunch. Once
// the continuation is called the installation is recorded and the application asked to
// terminate, or, with `installFailure`, the cycle aborts with it.
struct InstallWithPostponedRelaunch {
    AppcastItem item;
    std::optional<UpdaterError> installFailure{};
};
// The cycle aborts with the error and ends.
struct Abort {
    UpdaterError error;
};
// The cycle ends with nothing to report.
struct CycleEnd {};

using Scenario = std::variant<UpdateFound, NoUpdateFound, CheckFailed, InstallWithPostponedRelaunch, Abort, CycleEnd>;

// What the next check finds (replacing what was scripted before). Unscripted, a check finds
// nothing (NoUpdateFound with the framework's own error).
void scriptNextCheck(Scenario scenario);
// The next startUpdater answers false with this error; later ones succeed again.
void failNextStart(UpdaterError error);
// How often startUpdater was called since the reset (failed calls included).
int startCount();

// Runs a scheduled check on the newest started updater. True when it began: automatic checks
// are on and the updater can check (off the main thread: true, queued there).
bool runScheduledCheck();

// The feed string each check used, in order.
std::vector<std::string> checkedFeeds();

// A framework window as it would read.
struct WindowRecord {
    enum class Kind { updateFound, updateNotFound, error };
    Kind kind = Kind::updateNotFound;
    std::string title;
    std::string informativeText;
    bool open = true;
    // The error the window reports, as the user driver was given it.
    std::optional<UpdaterError> error{};

    bool operator==(const WindowRecord&) const = default;
};
std::vector<WindowRecord> windows();
// Closes the newest open window, running its acknowledgement; false when none is open (off the
// main thread: true, queued there).
bool dismissWindow();

// The versions installed, in order, and how often the framework asked the application to
// terminate after an installation.
std::vector<std::string> installations();
int terminationRequests();
// Runs after each termination request (on the main thread), as the application's terminate
// would; none by default.
void setTerminationHandler(std::function<void()> handler);

} // namespace tarpelix::platform::UpdaterControl
