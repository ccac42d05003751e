#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace tarpelix::platform {

struct NotificationObserverToken::Registration {
    const void* center = nullptr; // the centre's state it belongs to
    std::string name;
    const void* object = nullptr;
    NotificationCenter::Scheduler schedule;
    NotificationCenter::Handler handler;
    // Cleared by removal; every delivery looks at it just before calling.
    std::atomic<bool> active{true};
};

using Registration = NotificationObserverToken::Registration;

struct NotificationCenter::State {
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Registration>> registrations; // in the order added
};

NotificationCenter::NotificationCenter() : state_(std::make_unique<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter(); // lives as long as the process
    return *center;
}

NotificationObserver NotificationCenter::addObserver(std::string name, const void* object, Scheduler schedule,
                                                     Handler handler) {
    auto registration = std::make_shared<Registration>();
    registration->center = state_.get();
    registration->name = std::move(name);
    registration->object = object;
    registration->schedule = std::move(schedule);
    registration->handler = std::move(handler);
    {
        std::lock_guard lock(state_->mutex);
        state_->registrations.push_back(registration);
    }
    return std::make_shared<NotificationObserverToken>(registration);
}

void NotificationCenter::removeObserver(const NotificationObserver& observer) {
    if (!observer || !observer->registration_ || observer->registration_->center != state_.get()) return;
    observer->registration_->active = false;
    std::lock_guard lock(state_->mutex);
    std::erase(state_->registrations, observer->registration_);
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& registration : state_->registrations) {
            if (registration->name == notification.name &&
                (!registration->object || registration->object == notification.object)) {
                matching.push_back(registration);
            }
        }
    }
    for (const auto& registration : matching) {
        if (!registration->schedule) {
            // An earlier handler of this post may have removed it.
            if (registration->active) registration->handler(notification);
            continue;
        }
        registration->schedule([registration, notification] {
            if (registration->active) registration->handler(notification);
        });
    }
}

void NotificationCenter::post(std::string name, const void* object,
                              std::map<std::string, std::string> userInfo) {
    post(Notification{std::move(name), object, std::move(userInfo)});
}

std::size_t NotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    return static_cast<std::size_t>(std::count_if(state_->registrations.begin(), state_->registrations.end(),
                                                  [&](const auto& r) { return r->name == name; }));
}

} // namespace tarpelix::platform
