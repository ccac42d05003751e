#pragma once

#include "platform/desktop/Workspace.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {

class DispatchQueue;

// The names of the workspace notifications the system observes.
namespace WorkspaceNotificationName {
inline const std::string didActivateApplication = "NSWorkspaceDidActivateApplicationNotification";
inline const std::string willSleep = "NSWorkspaceWillSleepNotification";
inline const std::string didWake = "NSWorkspaceDidWakeNotification";
} // namespace WorkspaceNotificationName

// One posted workspace notification.
struct WorkspaceNotification {
    std::string name;
    // The application the notification is about (the activated one), if any.
    std::optional<RunningApplication> application;
};

// A registration with the workspace's notification centre. Only its holder can remove it.
class WorkspaceObserverToken {
public:
    struct Registration;
    explicit WorkspaceObserverToken(std::shared_ptr<Registration> registration)
        : registration_(std::move(registration)) {}

private:
    friend struct WorkspaceNotificationCenter;
    std::shared_ptr<Registration> registration_;
};
using WorkspaceObserver = std::shared_ptr<WorkspaceObserverToken>;

// The workspace's notification centre.
struct WorkspaceNotificationCenter {
    using Handler = std::function<void(const WorkspaceNotification&)>;

    // Calls the handler for every later notification of that name. Without a queue the
    // handler runs on the thread that posts, during the post; with one it is scheduled on
    // that queue, and skipped there if the observer has been removed in the meantime.
    static WorkspaceObserver addObserver(const std::string& name, std::shared_ptr<DispatchQueue> queue,
                                         Handler handler);
    // No call of the handler starts after this returns (one already running on another
    // thread may finish). Removing twice, or a null token, does nothing.
    static void removeObserver(const WorkspaceObserver& observer);

    // Tells every observer of the notification's name, in the order they were added.
    // Never call it with a lock held that a handler might take.
    static void post(const WorkspaceNotification& notification);
};

} // namespace tarpelix::platform
