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
// The status every later permission check of that application returns, whatever its answer
// above (any OSStatus, e.g. -1708); noErr, -1743 and -1744 are better set as answers.
void setAutomationStatus(const std::string& bundleIdentifier, OSStatus status);

// The answer the user gives to every consent prompt from now on, at once; none (the initial
// state) leaves each prompt showing, and the checking thread waiting, until
// answerAutomationPrompt or a reset (which dismisses it: the check answers -1744).
void setAutomationPromptAnswer(std::optional<AutomationPromptAnswer> answer);
// Answers the prompt showing; false when none is showing.
bool answerAutomationPrompt(AutomationPromptAnswer answer);
bool isAutomationPromptShowing();
// The bundle identifier the showing prompt asks about; none when none shows.
std::optional<std::string> automationPromptTarget();
long automationPromptsShown();

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
