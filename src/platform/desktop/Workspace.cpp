#include "platform/desktop/Workspace.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <sys/stat.h>

namespace tarpelix::platform {

namespace {

void resetWorkspace() {
    auto& d = Desktop::shared();
    std::vector<ApplicationRecord> released;
    std::vector<InstalledApplicationRecord> uninstalled;
    {
        std::lock_guard lock(d.mutex);
        released.swap(d.workspace.applications); // destroyed outside the lock: handlers own anything
        d.workspace.frontmost = 0;
        d.workspace.nextPid = WorkspaceState::firstSyntheticPid;
        d.workspace.openedURLs.clear();
        d.workspace.refusesURLs = false;
        d.workspace.applicationsDirectory = "/Applications";
        uninstalled.swap(d.workspace.installed);
        d.workspace.installed = WorkspaceState{}.installed;
        d.workspace.openedApplications.clear();
        d.workspace.refusedOpens = 0;
        d.workspace.keepsTerminatedApplications = false;
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

const InstalledApplicationRecord* installedLocked(const WorkspaceState& state, const std::string& bundleIdentifier) {
    for (const auto& app : state.installed) {
        if (app.bundleIdentifier == bundleIdentifier) return &app;
    }
    return nullptr;
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

std::optional<std::string> urlForApplication(const std::string& bundleIdentifier) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    const auto* app = installedLocked(d.workspace, bundleIdentifier);
    if (!app) return std::nullopt;
    return app->path;
}

void openApplication(const std::string& path,
                     std::function<void(std::optional<RunningApplication> application)> completion) {
    auto& d = desktop();
    std::optional<InstalledApplicationRecord> installed;
    std::optional<pid_t> running;
    {
        std::lock_guard lock(d.mutex);
        for (const auto& app : d.workspace.installed) {
            if (app.path == path) installed = app;
        }
        if (installed && d.workspace.refusedOpens > 0) {
            --d.workspace.refusedOpens;
            installed.reset();
        }
        if (installed) {
            d.workspace.openedApplications.push_back(path);
            for (const auto& record : d.workspace.applications) {
                if (!record.application.isTerminated &&
                    record.application.bundleIdentifier == installed->bundleIdentifier) {
                    running = record.application.processIdentifier;
                    break;
                }
            }
        }
    }
    std::optional<RunningApplication> opened;
    if (installed) {
        pid_t pid = 0;
        if (running) {
            pid = *running;
            WorkspaceControl::activateApplication(pid);
        } else if (installed->launch) {
            pid = installed->launch();
        } else {
            pid = WorkspaceControl::launchApplication({.bundleIdentifier = installed->bundleIdentifier,
                                                       .localizedName = installed->name,
                                                       .bundleURL = installed->path});
        }
        opened = runningApplication(pid);
        if (opened && opened->isTerminated) opened.reset();
    }
    DispatchQueue::global(QualityOfService::userInitiated)->async(
        [completion = std::move(completion), opened] { completion(opened); });
}

URL applicationsDirectory() {
    auto& d = desktop();
    std::string path;
    {
        std::lock_guard lock(d.mutex);
        path = d.workspace.applicationsDirectory;
    }
    return URL::fileURL(path, true);
}

} // namespace Workspace

namespace WorkspaceControl {

pid_t launchApplication(LaunchOptions options) {
    auto& d = desktop();
    RunningApplication launched;
    {
        std::lock_guard lock(d.mutex);
        ApplicationRecord record;
        record.application.processIdentifier = d.workspace.nextPid++;
        record.application.bundleIdentifier = std::move(options.bundleIdentifier);
        record.application.localizedName = std::move(options.localizedName);
        record.application.bundleURL = std::move(options.bundleURL);
        if (!record.application.bundleURL && record.application.bundleIdentifier) {
            if (const auto* app = installedLocked(d.workspace, *record.application.bundleIdentifier)) {
                record.application.bundleURL = app->path;
            }
        }
        record.receiveEvent = std::move(options.receiveEvent);
        launched = record.application;
        d.workspace.applications.push_back(std::move(record));
        if (options.activate) d.workspace.frontmost = launched.processIdentifier;
    }
    // Told outside the lock: launch first, then activation, as the Mac orders them.
    Workspace::notificationCenter().post(WorkspaceNotificationName::didLaunchApplication, nullptr,
                                         Workspace::userInfoCarrying(launched));
    if (options.activate) postActivation(launched.processIdentifier);
    return launched.processIdentifier;
}

void quitApplication(pid_t pid) {
    auto& d = desktop();
    std::function<void(const EventRef&)> released; // destroyed outside the lock
    RunningApplication terminated;
    {
        std::lock_guard lock(d.mutex);
        auto* record = d.workspace.find(pid);
        if (!record || record->application.isTerminated) return;
        record->application.isTerminated = true;
        released = std::move(record->receiveEvent);
        if (d.workspace.frontmost == pid) d.workspace.frontmost = 0;
        terminated = record->application;
    }
    Workspace::notificationCenter().post(WorkspaceNotificationName::didTerminateApplication, nullptr,
                                         Workspace::userInfoCarrying(terminated));
    std::lock_guard lock(d.mutex);
    if (d.workspace.keepsTerminatedApplications) return;
    std::erase_if(d.workspace.applications,
                  [pid](const ApplicationRecord& record) { return record.application.processIdentifier == pid; });
}

void keepTerminatedApplications(bool keep) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.workspace.keepsTerminatedApplications = keep;
}

void installApplication(InstalledApplication application) {
    auto& d = desktop();
    InstalledApplicationRecord record{std::move(application.bundleIdentifier), std::move(application.name),
                                      std::move(application.path), std::move(application.launch)};
    std::function<pid_t()> released; // a replaced launcher is destroyed outside the lock
    std::lock_guard lock(d.mutex);
    for (auto& app : d.workspace.installed) {
        if (app.bundleIdentifier == record.bundleIdentifier) {
            released = std::move(app.launch);
            app = std::move(record);
            return;
        }
    }
    d.workspace.installed.push_back(std::move(record));
}

void uninstallApplication(const std::string& bundleIdentifier) {
    auto& d = desktop();
    std::vector<InstalledApplicationRecord> removed; // destroyed outside the lock
    std::lock_guard lock(d.mutex);
    auto& installed = d.workspace.installed;
    for (auto app = installed.begin(); app != installed.end();) {
        if (app->bundleIdentifier == bundleIdentifier) {
            removed.push_back(std::move(*app));
            app = installed.erase(app);
        } else {
            ++app;
        }
    }
}

std::vector<std::string> openedApplications() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.workspace.openedApplications;
}

void refuseNextApplicationOpens(int count) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.workspace.refusedOpens = count;
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

bool setApplicationsDirectory(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.workspace.applicationsDirectory = path;
    return true;
}

} // namespace WorkspaceControl

} // namespace tarpelix::platform
