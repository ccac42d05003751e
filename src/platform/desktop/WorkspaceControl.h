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
    // Receives every event that reaches the application (on the event stream's thread).
    std::function<void(const EventRef&)> receiveEvent{};
};

// Starts an application with a new synthetic process ID and returns that ID.
pid_t launchApplication(LaunchOptions options);
// Marks the application terminated; it stays listed as terminated. A frontmost
// application that quits leaves no application frontmost.
void quitApplication(pid_t pid);
// Makes a running application frontmost (0: none). False when it does not run.
bool activateApplication(pid_t pid);

// The URLs the workspace opened, in order (refused ones are not there).
std::vector<std::string> openedURLs();
// While set, every URL fails to open, as when no application can open it.
void refuseOpeningURLs(bool refuse);

} // namespace tarpelix::platform::WorkspaceControl
