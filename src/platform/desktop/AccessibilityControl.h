#pragma once

#include "platform/desktop/AccessibilityState.h"

#include <cstdint>
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

enum class Failure { observerCreation, notificationRegistration };
void failNext(Failure kind, int count = 1);

} // namespace tarpelix::platform::AccessibilityControl
