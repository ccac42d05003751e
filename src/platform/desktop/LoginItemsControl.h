#pragma once

#include <optional>
#include <string>
#include <vector>

// The control surface of the simulated login items, for tests and the demo. The status starts
// as not registered; DesktopControl::reset() puts everything back and lets a held call go.
namespace tarpelix::platform::LoginItemsControl {

// Sets the main application's status to any raw number (0–3 are the ones the service names).
void setMainApplicationStatus(long status);

// While set, a successful registration leaves the item waiting for the user's approval
// instead of enabled.
void setRegistrationRequiresApproval(bool requiresApproval);

// While set, every registration (or unregistration) fails with this description and leaves
// the status as it was; none: they succeed.
void setRegistrationError(std::optional<std::string> description);
void setUnregistrationError(std::optional<std::string> description);

// The next registration or unregistration waits on its caller's thread until released.
void holdNextCall();
// Lets the held call go on; when none has come yet, the next one is no longer held.
void releaseHeldCall();
// Whether a call is waiting now.
bool isCallHeld();

// The user approves the item in System Settings: an item waiting for approval is enabled.
void approve();

// The registrations and unregistrations asked for, in order, failed ones included.
enum class Call { registration, unregistration };
std::vector<Call> calls();

// How many times the Login Items pane was opened.
int loginItemsOpenings();

} // namespace tarpelix::platform::LoginItemsControl
