#pragma once

#include "platform/desktop/AppleEvents.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

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

    // The applications scripts can address, by process.
    std::map<pid_t, std::weak_ptr<ScriptableApplication>> scriptable;
    int compilations = 0;
    int executions = 0;
    // Injected: the next executions fail with these errors (an absent dictionary included),
    // or answer with these replies.
    std::deque<std::optional<ScriptErrorDictionary>> failingExecutions;
    std::deque<AppleEventDescriptor> replacedReplies;
};

} // namespace tarpelix::platform
