#pragma once

#include "platform/desktop/InputEvents.h"

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Control surface of the simulated workspace's applications, for tests and the demo.
namespace tarpelix::platform::WorkspaceControl {

struct LaunchOptions {
    std::optional<std::string> bundleIdentifier{};
    std::string localizedName{};
    bool activate = true;
    // The bundle it runs from; none: the installed path for its identifier, if any.
    std::optional<std::string> bundleURL{};
    // Receives every event that reaches the application (on the event stream's thread).
    std::function<void(const EventRef&)> receiveEvent{};
};

// Starts an application with a new synthetic process ID and returns that ID; posts the
// did-launch notification (and activation when it comes to the front).
pid_t launchApplication(LaunchOptions options);
// Marks the application terminated, posts the did-terminate notification carrying it, then
// removes it from the running applications (unless keepTerminatedApplications is set). A
// frontmost application that quits leaves no application frontmost.
void quitApplication(pid_t pid);
// While set, quit applications stay listed as terminated, for good (for tests of the time
// between a quit and the application leaving the list). Reset clears it.
void keepTerminatedApplications(bool keep);
// Makes a running application frontmost (0: none). False when it does not run.
bool activateApplication(pid_t pid);

// The URLs the workspace opened, in order (refused ones are not there).
std::vector<std::string> openedURLs();
// While set, every URL fails to open, as when no application can open it.
void refuseOpeningURLs(bool refuse);

// Installs an application bundle: urlForApplication finds it by identifier, and
// openApplication of its path runs `launch` (none: a plain launch with the identifier, name
// and path). Installing an identifier again replaces it. Paths need not exist on disk, except
// where something reads the bundle. System Settings is installed at
// "/System/Applications/System Settings.app" after every reset.
struct InstalledApplication {
    std::string bundleIdentifier;
    std::string name;
    std::string path;
    std::function<pid_t()> launch{};
};
void installApplication(InstalledApplication application);
void uninstallApplication(const std::string& bundleIdentifier);
// The application paths openApplication opened, in order (refused ones are not there).
std::vector<std::string> openedApplications();
// The next `count` openApplication calls fail.
void refuseNextApplicationOpens(int count = 1);

// Points the Applications folder at an existing directory (tests use a temporary one); false,
// and nothing changed, when the path is not a directory. Reset brings back "/Applications".
bool setApplicationsDirectory(const std::string& path);

} // namespace tarpelix::platform::WorkspaceControl
