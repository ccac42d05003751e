#include "platform/desktop/WorkspaceNotifications.h"

#include "platform/desktop/WorkspaceNotificationsControl.h"

#include <charconv>

namespace tarpelix::platform {

NotificationCenter& Workspace::notificationCenter() {
    static auto* center = new NotificationCenter(); // lives as long as the process
    return *center;
}

std::optional<RunningApplication> Workspace::notifiedApplication(const Notification& notification) {
    auto found = notification.userInfo.find(WorkspaceApplicationKey);
    if (found == notification.userInfo.end()) return std::nullopt;
    pid_t pid = 0;
    const auto& text = found->second;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return runningApplication(pid);
}

namespace WorkspaceNotificationsControl {

void sleep() {
    Workspace::notificationCenter().post(WorkspaceNotificationName::willSleep);
}

void wake() {
    Workspace::notificationCenter().post(WorkspaceNotificationName::didWake);
}

std::size_t observerCount(const std::string& name) {
    return Workspace::notificationCenter().observerCount(name);
}

} // namespace WorkspaceNotificationsControl

} // namespace tarpelix::platform
