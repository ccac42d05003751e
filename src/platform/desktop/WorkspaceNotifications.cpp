#include "platform/desktop/WorkspaceNotifications.h"

#include "platform/desktop/WorkspaceNotificationsControl.h"

#include <charconv>

namespace tarpelix::platform {

NotificationCenter& Workspace::notificationCenter() {
    static auto* center = new NotificationCenter(); // lives as long as the process
    return *center;
}

namespace {

// The keys under which a notification carries the application's fields beside its process
// identifier; a field that is absent is not there.
const std::string carriedKey = WorkspaceApplicationKey + ".carried";
const std::string bundleIdentifierKey = WorkspaceApplicationKey + ".bundleIdentifier";
const std::string localizedNameKey = WorkspaceApplicationKey + ".localizedName";
const std::string terminatedKey = WorkspaceApplicationKey + ".isTerminated";
const std::string bundleURLKey = WorkspaceApplicationKey + ".bundleURL";

std::optional<std::string> valueOf(const Notification& notification, const std::string& key) {
    auto found = notification.userInfo.find(key);
    if (found == notification.userInfo.end()) return std::nullopt;
    return found->second;
}

} // namespace

std::optional<RunningApplication> Workspace::notifiedApplication(const Notification& notification) {
    auto text = valueOf(notification, WorkspaceApplicationKey);
    if (!text) return std::nullopt;
    pid_t pid = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), pid);
    if (error != std::errc{} || end != text->data() + text->size()) return std::nullopt;
    if (!valueOf(notification, carriedKey)) return runningApplication(pid);
    RunningApplication application;
    application.processIdentifier = pid;
    application.bundleIdentifier = valueOf(notification, bundleIdentifierKey);
    application.localizedName = valueOf(notification, localizedNameKey).value_or("");
    application.isTerminated = valueOf(notification, terminatedKey).has_value();
    application.bundleURL = valueOf(notification, bundleURLKey);
    return application;
}

std::map<std::string, std::string> Workspace::userInfoCarrying(const RunningApplication& application) {
    std::map<std::string, std::string> info{
        {WorkspaceApplicationKey, std::to_string(application.processIdentifier)},
        {carriedKey, "1"},
        {localizedNameKey, application.localizedName},
    };
    if (application.bundleIdentifier) info[bundleIdentifierKey] = *application.bundleIdentifier;
    if (application.isTerminated) info[terminatedKey] = "1";
    if (application.bundleURL) info[bundleURLKey] = *application.bundleURL;
    return info;
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
