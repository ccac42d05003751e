#pragma once

#include "platform/desktop/Workspace.h"
#include "platform/foundation/NotificationCenter.h"

#include <map>
#include <optional>
#include <string>

namespace tarpelix::platform {

// The notifications the workspace posts on its centre, Workspace::notificationCenter().
namespace WorkspaceNotificationName {
// User info: WorkspaceApplicationKey.
inline const std::string didActivateApplication = "NSWorkspaceDidActivateApplicationNotification";
// Posted by a launch and by a quit; the user info carries the application as it was then.
inline const std::string didLaunchApplication = "NSWorkspaceDidLaunchApplicationNotification";
inline const std::string didTerminateApplication = "NSWorkspaceDidTerminateApplicationNotification";
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
// The application the notification is about: the one it carries (launch and quit), else the
// one with its process identifier, as the workspace reports it now.
std::optional<RunningApplication> notifiedApplication(const Notification& notification);
// The user info of a notification that carries the application.
std::map<std::string, std::string> userInfoCarrying(const RunningApplication& application);
} // namespace Workspace

} // namespace tarpelix::platform
