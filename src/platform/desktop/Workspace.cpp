#include "platform/desktop/Workspace.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/desktop/WorkspaceNotifications.h"

#include <mutex>

namespace tarpelix::platform {

namespace {

void resetWorkspace() {
    auto& d = Desktop::shared();
    std::vector<ApplicationRecord> released;
    {
        std::lock_guard lock(d.mutex);
        released.swap(d.workspace.applications); // destroyed outside the lock: handlers own anything
        d.workspace.frontmost = 0;
        d.workspace.nextPid = WorkspaceState::firstSyntheticPid;
    }
}

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] { shared.addResetHandler(resetWorkspace); });
    return shared;
}

} // namespace

namespace Workspace {

std::optional<RunningApplication> frontmostApplication() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    auto* record = d.workspace.frontmost != 0 ? d.workspace.find(d.workspace.frontmost) : nullptr;
    if (!record) return std::nullopt;
    return record->application;
}

std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    std::vector<RunningApplication> found;
    for (const auto& record : d.workspace.applications) {
        if (record.application.bundleIdentifier == bundleIdentifier) found.push_back(record.application);
    }
    return found;
}

std::optional<RunningApplication> runningApplication(pid_t pid) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    auto* record = d.workspace.find(pid);
    if (!record) return std::nullopt;
    return record->application;
}

} // namespace Workspace

namespace WorkspaceControl {

pid_t launchApplication(LaunchOptions options) {
    auto& d = desktop();
    std::optional<RunningApplication> activated;
    pid_t pid = 0;
    {
        std::lock_guard lock(d.mutex);
        ApplicationRecord record;
        record.application.processIdentifier = d.workspace.nextPid++;
        record.application.bundleIdentifier = std::move(options.bundleIdentifier);
        record.application.localizedName = std::move(options.localizedName);
        record.receiveEvent = std::move(options.receiveEvent);
        pid = record.application.processIdentifier;
        if (options.activate) activated = record.application;
        d.workspace.applications.push_back(std::move(record));
        if (options.activate) d.workspace.frontmost = pid;
    }
    if (activated) WorkspaceNotificationCenter::post({WorkspaceNotificationName::didActivateApplication, activated});
    return pid;
}

void quitApplication(pid_t pid) {
    auto& d = desktop();
    std::function<void(const EventRef&)> released;
    std::lock_guard lock(d.mutex);
    auto* record = d.workspace.find(pid);
    if (!record) return;
    record->application.isTerminated = true;
    released = std::move(record->receiveEvent);
    if (d.workspace.frontmost == pid) d.workspace.frontmost = 0;
}

bool activateApplication(pid_t pid) {
    auto& d = desktop();
    std::optional<RunningApplication> activated;
    {
        std::lock_guard lock(d.mutex);
        if (pid == 0) {
            d.workspace.frontmost = 0;
            return true;
        }
        auto* record = d.workspace.find(pid);
        if (!record || record->application.isTerminated) return false;
        if (d.workspace.frontmost != pid) activated = record->application;
        d.workspace.frontmost = pid;
    }
    // Told outside the lock, only when the frontmost application changed.
    if (activated) WorkspaceNotificationCenter::post({WorkspaceNotificationName::didActivateApplication, activated});
    return true;
}

} // namespace WorkspaceControl

} // namespace tarpelix::platform
