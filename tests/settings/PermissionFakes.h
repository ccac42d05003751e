#pragma once

#include "settings/PermissionSettingsController.h"
#include "support/MainLoop.h"

#include "platform/dispatch/DispatchQueue.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarpelix::testing {

// A fake system for the permission model: every call is recorded, and every answer that
// comes later is kept until the test gives it, on the main thread or from another thread.
struct FakePermissionSystem {
    struct Probe {
        std::string id;
        bool ask = false;
        PermissionSettingsController::Dependencies::AutomationAnswer answer;
    };
    struct Check {
        std::string url;
        PermissionSettingsController::Dependencies::CompatibilityAnswer answer;
    };
    struct Open {
        std::string url;
        std::function<void(bool)> answer;
    };

    bool accessibility = false;
    bool inputMonitoring = false;
    ClipboardStatus clipboard = ClipboardStatus::defaultAccess;
    std::map<std::string, bool> running;
    std::map<std::string, Installation> installations;
    bool inputMonitoringGrant = false;
    bool openURLSucceeds = true;

    std::vector<Probe> probes;
    std::vector<PermissionSettingsController::Dependencies::ClipboardAnswer> clipboardRequests;
    std::vector<Check> checks;
    std::vector<Open> opens;
    std::vector<std::string> panes;
    std::vector<std::string> urls;
    int accessibilityRequests = 0;
    int accessibilityReads = 0; // how often the model read the permissions
    int inputMonitoringRequests = 0;

    PermissionSettingsController::Dependencies dependencies() {
        return {
            .accessibility = [this] { return ++accessibilityReads, accessibility; },
            .inputMonitoring = [this] { return inputMonitoring; },
            .clipboard = [this] { return clipboard; },
            .running = [this](const std::string& id) { return running[id]; },
            .automation = [this](const std::string& id, bool ask,
                                 PermissionSettingsController::Dependencies::AutomationAnswer answer) {
                probes.push_back({id, ask, std::move(answer)});
            },
            .requestAccessibility = [this] { ++accessibilityRequests; },
            .requestInputMonitoring = [this] {
                ++inputMonitoringRequests;
                return inputMonitoringGrant;
            },
            .requestClipboard = [this](PermissionSettingsController::Dependencies::ClipboardAnswer answer) {
                clipboardRequests.push_back(std::move(answer));
            },
            .openPane = [this](const std::string& anchor) { panes.push_back(anchor); },
            .installation = [this](const std::string& id) {
                auto found = installations.find(id);
                return found == installations.end() ? Installation{installation::Missing{}} : found->second;
            },
            .checkGhostty = [this](const std::string& url,
                                   PermissionSettingsController::Dependencies::CompatibilityAnswer answer) {
                checks.push_back({url, std::move(answer)});
            },
            .openApplication = [this](const std::string& url, std::function<void(bool)> answer) {
                opens.push_back({url, std::move(answer)});
            },
            .openURL = [this](const std::string& url) {
                urls.push_back(url);
                return openURLSucceeds;
            },
        };
    }
};

// Calls `answer` on a thread of its own, then lets the main queue run what it posted.
inline void answerFromThread(const std::function<void()>& answer) {
    std::thread(answer).join();
    bool drained = false;
    platform::DispatchQueue::main()->async([&drained] { drained = true; });
    runMainUntil([&drained] { return drained; });
}

} // namespace tarpelix::testing
