#pragma once

#include "platform/dispatch/DispatchQueue.h"

#include <functional>
#include <memory>
#include <mutex>

namespace tarpelix::platform {

// A repeating timer source whose handler runs on a dispatch queue. It starts when made,
// stops when cancelled or released; a handler already running finishes, none starts after.
class DispatchTimer {
public:
    static std::shared_ptr<DispatchTimer> create(std::shared_ptr<DispatchQueue> queue,
                                                 double intervalSeconds, std::function<void()> handler,
                                                 double initialDelaySeconds = -1);
    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    void cancel();
    bool isCancelled() const;

    struct State;

private:
    DispatchTimer() = default;
    std::shared_ptr<State> state_;
};

} // namespace tarpelix::platform
