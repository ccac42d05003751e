#pragma once

#include "platform/desktop/Accessibility.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix::platform {

// An attribute that names another element of the same application.
struct AXElementLink {
    std::uint64_t node = 0;
    bool operator==(const AXElementLink&) const = default;
};
// An attribute the element supports but that has no value now.
struct AXNoValue {
    bool operator==(const AXNoValue&) const = default;
};
using AXStoredValue = std::variant<std::string, AXElementLink, AXPoint, AXSize, double, AXNoValue>;

struct AXNode {
    std::map<std::string, AXStoredValue> attributes;
    std::map<std::string, AXError> errors;   // reads of these attributes fail with the error
    std::map<std::string, double> latencies; // seconds the application takes to answer for these
};

// One application's accessibility tree; node 0 is the application element.
struct AXApplicationTree {
    std::map<std::uint64_t, AXNode> nodes{{0, AXNode{}}};
    double responseLatency = 0; // seconds the application takes to answer
};

struct AXObserver::Record {
    struct Registration {
        std::uint64_t node = 0;
        std::string notification;
        void* refcon = nullptr;
    };
    pid_t pid = 0;
    AXObserver::Callback callback = nullptr;
    std::weak_ptr<AXObserver> owner;
    std::vector<Registration> registrations;
    std::weak_ptr<RunLoop> runLoop;
};

// Accessibility of the simulated desktop (trust lives with the input events). Guarded by
// Desktop::mutex.
struct AccessibilityState {
    static constexpr double defaultMessagingTimeout = 6.0;

    std::map<pid_t, AXApplicationTree> applications;
    std::uint64_t nextNode = 1;
    std::vector<std::weak_ptr<AXObserver::Record>> observers;
    int failingObserverCreations = 0;
    int failingNotificationRegistrations = 0;
    int trustPrompts = 0; // trust prompts shown since the last reset
};

} // namespace tarpelix::platform
