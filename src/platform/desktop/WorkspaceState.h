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

// The workspace's applications. Guarded by Desktop::mutex.
struct WorkspaceState {
    static constexpr pid_t firstSyntheticPid = 70001;

    std::vector<ApplicationRecord> applications; // launch order
    pid_t frontmost = 0;                          // 0: no application is frontmost
    pid_t nextPid = firstSyntheticPid;

    std::vector<std::string> openedURLs; // in the order opened
    bool refusesURLs = false;

    ApplicationRecord* find(pid_t pid) {
        for (auto& record : applications) {
            if (record.application.processIdentifier == pid) return &record;
        }
        return nullptr;
    }
};

} // namespace tarpelix::platform
