#pragma once

#include "platform/desktop/AppleEventsState.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

// Control surface of the simulated Apple events and scripting, for tests and the demo.
namespace tarpelix::platform::AppleEventsControl {

// The Automation permission's answer for one application (by bundle identifier).
void setAutomationPermission(const std::string& bundleIdentifier, AutomationAnswer answer);
// Seconds every later permission check takes before answering.
void setPermissionLatency(double seconds);
// How many permission checks have been made since the last reset.
int permissionChecks();

// The application that runs the handlers scripts call for this process.
void setScriptableApplication(pid_t pid, std::weak_ptr<ScriptableApplication> application);

// How many scripts were compiled, and how many handler calls were executed, since the last reset.
int compilations();
int executions();

// The next execution fails with this error dictionary (nullopt: an error without one).
void failNextExecution(std::optional<ScriptErrorDictionary> error);
// The next successful execution answers with this reply instead of the application's.
void replaceNextReply(AppleEventDescriptor reply);

} // namespace tarpelix::platform::AppleEventsControl
