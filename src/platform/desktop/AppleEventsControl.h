#pragma once

#include "platform/desktop/AppleEventsState.h"

#include <string>

// Control surface of the simulated Apple events and scripting, for tests and the demo.
namespace tarpelix::platform::AppleEventsControl {

// The Automation permission's answer for one application (by bundle identifier).
void setAutomationPermission(const std::string& bundleIdentifier, AutomationAnswer answer);
// Seconds every later permission check takes before answering.
void setPermissionLatency(double seconds);
// How many permission checks have been made since the last reset.
int permissionChecks();

} // namespace tarpelix::platform::AppleEventsControl
