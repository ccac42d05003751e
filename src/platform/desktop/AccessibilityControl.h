#pragma once

#include "platform/desktop/AccessibilityState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

// Control surface of the simulated accessibility trees, for the simulated applications,
// tests and the demo. Trust is set through InputEventsControl::setAccessibilityTrusted.
namespace tarpelix::platform::AccessibilityControl {

// A new element in the application's tree (made on first use); returns its node number.
std::uint64_t createElement(pid_t pid);
void removeElement(pid_t pid, std::uint64_t node);
// The whole tree goes, as when its application quits.
void removeApplication(pid_t pid);

void setAttribute(pid_t pid, std::uint64_t node, const std::string& attribute, AXStoredValue value);
void removeAttribute(pid_t pid, std::uint64_t node, const std::string& attribute);
// Later reads of the attribute fail with `error` (AXErrorCode::success clears it).
void setAttributeError(pid_t pid, std::uint64_t node, const std::string& attribute, AXError error);
// Seconds the application takes to answer each request, or requests for one attribute of
// one element.
void setResponseLatency(pid_t pid, double seconds);
void setAttributeLatency(pid_t pid, std::uint64_t node, const std::string& attribute, double seconds);

// Tells the observers registered for this notification of this element.
void postNotification(pid_t pid, std::uint64_t node, const std::string& notification);

// The running application whose window (an element whose "AXRole" is "AXWindow", with an
// "AXPosition" and an "AXSize") contains the point, in Accessibility coordinates (top-left of
// the primary screen, y down), as the window server finds it front to back: the frontmost
// application first, then the others, the most recently launched first; within one, the most
// recently created window first. None when no such window is there.
std::optional<pid_t> applicationWithWindowAt(AXPoint point);

// How many times the trust prompt was shown since the last reset.
int trustPrompts();

enum class Failure { observerCreation, notificationRegistration };
void failNext(Failure kind, int count = 1);

} // namespace tarpelix::platform::AccessibilityControl
