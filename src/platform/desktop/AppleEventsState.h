#pragma once

#include <map>
#include <string>

namespace tarpelix::platform {

// What the Automation permission answers for one target application.
enum class AutomationAnswer { granted, denied, wouldAsk };

// Apple events and scripting of the simulated desktop. Guarded by Desktop::mutex.
struct AppleEventsState {
    // Automation permission per bundle identifier; unlisted applications would ask.
    std::map<std::string, AutomationAnswer> automation;
    // Seconds each permission check takes.
    double permissionLatency = 0;
    int permissionChecks = 0;
};

} // namespace tarpelix::platform
