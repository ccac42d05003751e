#pragma once

#include "platform/desktop/InputEvents.h"
#include "platform/desktop/Workspace.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::platform {

// One simulated application: what the workspace reports, and where the events that reach
// it go (called on the event stream's thread, without the desktop lock).
struct ApplicationRecord {
    RunningApplication application;
    std::function<void(const EventRef&)> receiveEvent;
};

// An application installed on the simulated Mac: where its bundle is, and how it starts
// (none: a plain launch with its identifier, name and bundle path). The launcher runs
// without the desktop lock and returns the new process identifier.
struct InstalledApplicationRecord {
    std::string bundleIdentifier;
    std::string name;
    std::string path;
    std::function<pid_t()> launch;
};

// The workspace's applications. Guarded by Desktop::mutex.
struct WorkspaceState {
    static constexpr pid_t firstSyntheticPid = 70001;
    static constexpr const char* systemSettingsBundleIdentifier = "com.apple.systempreferences";
    static constexpr const char* systemSettingsPath = "/System/Applications/System Settings.app";

    std::vector<ApplicationRecord> applications; // launch order
    pid_t frontmost = 0;                          // 0: no application is frontmost
    pid_t nextPid = firstSyntheticPid;

    std::vector<std::string> openedURLs; // in the order opened
    bool refusesURLs = false;
    std::string applicationsDirectory = "/Applications";

    // Installed applications, in installation order; System Settings is always there at first.
    std::vector<InstalledApplicationRecord> installed{
        {systemSettingsBundleIdentifier, "System Settings", systemSettingsPath, {}}};
    std::vector<std::string> openedApplications; // paths, in the order opened
    int refusedOpens = 0;                          // the next opens fail
    // Quit applications stay listed, as terminated, instead of leaving the list.
    bool keepsTerminatedApplications = false;

    ApplicationRecord* find(pid_t pid) {
        for (auto& record : applications) {
            if (record.application.processIdentifier == pid) return &record;
        }
        return nullptr;
    }
};

} // namespace tarpelix::platform
