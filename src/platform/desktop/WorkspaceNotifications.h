#pragma once

#include "platform/desktop/Workspace.h"
#include "platform/foundation/NotificationCenter.h"

#include <optional>
#include <string>

namespace tarpelix::platform {

// The notifications the workspace posts on its centre, Workspace::notificationCenter().
namespace WorkspaceNotificationName {
// User info: WorkspaceApplicationKey.
inline const std::string didActivateApplication = "NSWorkspaceDidActivateApplicationNotification";
inline const std::string willSleep = "NSWorkspaceWillSleepNotification";
inline const std::string didWake = "NSWorkspaceDidWakeNotification";
// Increase Contrast or Reduce Motion changed.
inline const std::string accessibilityDisplayOptionsDidChange =
    "NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification";
} // namespace WorkspaceNotificationName

// The user-info key of the application a notification is about: its process identifier.
inline const std::string WorkspaceApplicationKey = "NSWorkspaceApplicationKey";

using WorkspaceObserver = NotificationObserver;

namespace Workspace {
// The application the notification is about, as the workspace reports it now.
std::optional<RunningApplication> notifiedApplication(const Notification& notification);
} // namespace Workspace

} // namespace tarpelix::platform
