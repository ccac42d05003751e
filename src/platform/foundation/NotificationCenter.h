#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tarpelix::platform {

// One posted notification: its name, the object it is about (an identity, never dereferenced)
// and details as strings.
struct Notification {
    std::string name;
    const void* object = nullptr;
    std::map<std::string, std::string> userInfo;

    bool operator==(const Notification&) const = default;
};

// A registration with a notification centre; only its holder can remove it.
class NotificationObserverToken {
public:
    struct Registration;
    explicit NotificationObserverToken(std::shared_ptr<Registration> registration)
        : registration_(std::move(registration)) {}

private:
    friend class NotificationCenter;
    std::shared_ptr<Registration> registration_;
};
using NotificationObserver = std::shared_ptr<NotificationObserverToken>;

// Delivers posted notifications to the observers of their name. Thread-safe; its lock is its
// own and is never held while a handler runs.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    // Runs a delivery later, on the thread of the caller's choice.
    using Scheduler = std::function<void(std::function<void()>)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The application's default centre.
    static NotificationCenter& defaultCenter();

    // Calls the handler for every later notification of that name whose object is `object`
    // (any object when null). Without a scheduler the handler runs on the posting thread,
    // during the post; with one the delivery is handed to it, and skipped there if the
    // observer has been removed in the meantime.
    NotificationObserver addObserver(std::string name, const void* object, Scheduler schedule,
                                     Handler handler);

    // The same, delivering on a queue (anything with `async(block)`, such as a DispatchQueue);
    // a null queue delivers on the posting thread.
    template <typename Queue>
    NotificationObserver addObserver(std::string name, const void* object,
                                     const std::shared_ptr<Queue>& queue, Handler handler) {
        Scheduler schedule;
        if (queue) schedule = [queue](std::function<void()> block) { queue->async(std::move(block)); };
        return addObserver(std::move(name), object, std::move(schedule), std::move(handler));
    }

    // No delivery checks in after this returns, so the handler is not called again (a call
    // already under way on another thread may finish). Removing twice, or a null token, or
    // a token of another centre, does nothing.
    void removeObserver(const NotificationObserver& observer);

    // Tells every matching observer, in the order they were added. Never call it with a lock
    // held that a handler might take.
    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr,
              std::map<std::string, std::string> userInfo = {});

    // How many observers of that name are registered now (for control surfaces and tests).
    std::size_t observerCount(const std::string& name) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarpelix::platform
