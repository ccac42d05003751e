#include "platform/desktop/WorkspaceNotifications.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/WindowDisplay.h"
#include "platform/desktop/WorkspaceNotificationsControl.h"
#include "platform/dispatch/DispatchQueue.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace tarpelix::platform {

struct WorkspaceObserverToken::Registration {
    std::string name;
    std::shared_ptr<DispatchQueue> queue;
    WorkspaceNotificationCenter::Handler handler;
    // Cleared by removal; a delivery scheduled on a queue looks at it before calling.
    std::atomic<bool> active{true};
};

namespace {

// The registrations, in the order they were added. The centre has a lock of its own: it is
// never held while a handler runs, and no desktop lock is taken under it.
struct Center {
    std::mutex mutex;
    std::vector<std::shared_ptr<WorkspaceObserverToken::Registration>> registrations;
};

Center& center() {
    static auto* shared = new Center(); // lives as long as the process
    return *shared;
}

std::atomic<int> displayRequests{0};
std::atomic<int> flushes{0};

void registerReset() {
    static std::once_flag once;
    std::call_once(once, [] {
        Desktop::shared().addResetHandler([] {
            displayRequests = 0;
            flushes = 0;
        });
    });
}

} // namespace

WorkspaceObserver WorkspaceNotificationCenter::addObserver(const std::string& name,
                                                           std::shared_ptr<DispatchQueue> queue, Handler handler) {
    auto registration = std::make_shared<WorkspaceObserverToken::Registration>();
    registration->name = name;
    registration->queue = std::move(queue);
    registration->handler = std::move(handler);
    auto& c = center();
    std::lock_guard lock(c.mutex);
    c.registrations.push_back(registration);
    return std::make_shared<WorkspaceObserverToken>(registration);
}

void WorkspaceNotificationCenter::removeObserver(const WorkspaceObserver& observer) {
    if (!observer || !observer->registration_) return;
    observer->registration_->active = false;
    auto& c = center();
    std::lock_guard lock(c.mutex);
    std::erase(c.registrations, observer->registration_);
}

void WorkspaceNotificationCenter::post(const WorkspaceNotification& notification) {
    std::vector<std::shared_ptr<WorkspaceObserverToken::Registration>> matching;
    {
        auto& c = center();
        std::lock_guard lock(c.mutex);
        for (const auto& registration : c.registrations) {
            if (registration->name == notification.name) matching.push_back(registration);
        }
    }
    for (const auto& registration : matching) {
        if (!registration->queue) {
            if (registration->active) registration->handler(notification);
            continue;
        }
        registration->queue->async([registration, notification] {
            if (registration->active) registration->handler(notification);
        });
    }
}

namespace WindowDisplay {

void displayVisibleWindowsIfNeeded() {
    registerReset();
    ++displayRequests;
}

void flushAnimationTransaction() {
    registerReset();
    ++flushes;
}

} // namespace WindowDisplay

namespace WorkspaceNotificationsControl {

void sleep() { WorkspaceNotificationCenter::post({WorkspaceNotificationName::willSleep, std::nullopt}); }

void wake() { WorkspaceNotificationCenter::post({WorkspaceNotificationName::didWake, std::nullopt}); }

std::size_t observerCount(const std::string& name) {
    auto& c = center();
    std::lock_guard lock(c.mutex);
    std::size_t count = 0;
    for (const auto& registration : c.registrations) count += registration->name == name ? 1 : 0;
    return count;
}

int windowDisplayRequests() {
    registerReset();
    return displayRequests;
}

int animationFlushes() {
    registerReset();
    return flushes;
}

} // namespace WorkspaceNotificationsControl

} // namespace tarpelix::platform
