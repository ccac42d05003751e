#include "platform/desktop/Workspace.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/desktop/WorkspaceNotifications.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>

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
        d.workspace.openedURLs.clear();
        d.workspace.refusesURLs = false;
    }
}

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] { shared.addResetHandler(resetWorkspace); });
    return shared;
}

void postActivation(pid_t pid) {
    Workspace::notificationCenter().post(WorkspaceNotificationName::didActivateApplication, nullptr,
                                         {{WorkspaceApplicationKey, std::to_string(pid)}});
}

// RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
bool hasScheme(const std::string& url) {
    auto colon = url.find(':');
    if (colon == 0 || colon == std::string::npos || !std::isalpha(static_cast<unsigned char>(url[0]))) return false;
    return std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
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

bool openURL(const std::string& url) {
    if (!hasScheme(url)) return false;
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (d.workspace.refusesURLs) return false;
    d.workspace.openedURLs.push_back(url);
    return true;
}

} // namespace Workspace

namespace WorkspaceControl {

pid_t launchApplication(LaunchOptions options) {
    auto& d = desktop();
    pid_t pid = 0;
    {
        std::lock_guard lock(d.mutex);
        ApplicationRecord record;
        record.application.processIdentifier = d.workspace.nextPid++;
        record.application.bundleIdentifier = std::move(options.bundleIdentifier);
        record.application.localizedName = std::move(options.localizedName);
        record.receiveEvent = std::move(options.receiveEvent);
        pid = record.application.processIdentifier;
        d.workspace.applications.push_back(std::move(record));
        if (options.activate) d.workspace.frontmost = pid;
    }
    if (options.activate) postActivation(pid);
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
    bool activated = false;
    {
        std::lock_guard lock(d.mutex);
        if (pid == 0) {
            d.workspace.frontmost = 0;
            return true;
        }
        auto* record = d.workspace.find(pid);
        if (!record || record->application.isTerminated) return false;
        activated = d.workspace.frontmost != pid;
        d.workspace.frontmost = pid;
    }
    // Told outside the lock, only when the frontmost application changed.
    if (activated) postActivation(pid);
    return true;
}

std::vector<std::string> openedURLs() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.workspace.openedURLs;
}

void refuseOpeningURLs(bool refuse) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.workspace.refusesURLs = refuse;
}

} // namespace WorkspaceControl

} // namespace tarpelix::platform
