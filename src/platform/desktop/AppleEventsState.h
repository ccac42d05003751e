#pragma once

#include "platform/desktop/AppleEvents.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tarpelix::platform {

// What the Automation permission answers for one target application.
enum class AutomationAnswer { granted, denied, wouldAsk };

// What the user answers to the system's Automation consent prompt; stored as the permission.
enum class AutomationPromptAnswer { allow, deny };

// Apple events and scripting of the simulated desktop. Guarded by Desktop::mutex.
struct AppleEventsState {
    // Automation permission per bundle identifier; unlisted applications would ask.
    std::map<std::string, AutomationAnswer> automation;
    // A status the permission check returns in place of the answer above (e.g. -1708).
    std::map<std::string, OSStatus> automationStatus;
    // Seconds each permission check takes.
    double permissionLatency = 0;
    int permissionChecks = 0;

    // The consent prompt a check that may ask shows. Only one is shown at a time; waiters
    // are woken by the prompt condition of AppleEvents.cpp.
    std::optional<AutomationPromptAnswer> standingPromptAnswer; // answers every prompt at once
    bool promptShowing = false;
    std::string promptTarget;                          // bundle identifier of the prompt showing
    std::optional<AutomationPromptAnswer> promptAnswer; // the answer to the prompt showing
    long promptsShown = 0;
    std::uint64_t generation = 0; // advanced by a reset, which dismisses a showing prompt

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
