#include "platform/dispatch/DispatchTimer.h"

#include "platform/dispatch/Scheduler.h"

#include <algorithm>
#include <chrono>

namespace tarpelix::platform {

struct DispatchTimer::State : std::enable_shared_from_this<State> {
    std::mutex mutex;
    bool cancelled = false;
    std::function<void()> handler;
    std::shared_ptr<DispatchQueue> queue;
    std::chrono::steady_clock::duration interval{};
    std::chrono::steady_clock::time_point nextFire{};

    // Arms the next firing. The scheduler holds the state only weakly, so a released timer
    // leaves nothing behind; the block on the queue checks cancellation before running.
    void arm() {
        std::weak_ptr<State> weak = weak_from_this();
        detail::scheduleAt(nextFire, [weak] {
            auto state = weak.lock();
            if (!state) return;
            std::shared_ptr<DispatchQueue> queue;
            {
                std::lock_guard lock(state->mutex);
                if (state->cancelled) return;
                queue = state->queue;
                auto now = std::chrono::steady_clock::now();
                while (state->nextFire <= now) state->nextFire += state->interval;
            }
            queue->async([weak] {
                auto state = weak.lock();
                if (!state) return;
                std::function<void()> handler;
                {
                    std::lock_guard lock(state->mutex);
                    if (state->cancelled) return;
                    handler = state->handler;
                }
                handler();
            });
            state->arm();
        });
    }
};

std::shared_ptr<DispatchTimer> DispatchTimer::create(std::shared_ptr<DispatchQueue> queue, double intervalSeconds,
                                                     std::function<void()> handler, double initialDelaySeconds) {
    auto toDuration = [](double seconds) {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds));
    };
    auto timer = std::shared_ptr<DispatchTimer>(new DispatchTimer());
    auto state = std::make_shared<State>();
    state->queue = std::move(queue);
    state->handler = std::move(handler);
    state->interval = std::max(toDuration(intervalSeconds), std::chrono::steady_clock::duration(std::chrono::milliseconds(1)));
    state->nextFire = std::chrono::steady_clock::now() +
                      (initialDelaySeconds < 0 ? state->interval : toDuration(initialDelaySeconds));
    timer->state_ = state;
    state->arm();
    return timer;
}

DispatchTimer::~DispatchTimer() { cancel(); }

void DispatchTimer::cancel() {
    std::function<void()> handler;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) return;
        state_->cancelled = true;
        handler = std::move(state_->handler); // released outside the lock
        state_->queue.reset();
    }
}

bool DispatchTimer::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

} // namespace tarpelix::platform
