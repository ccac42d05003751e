#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/foundation/MainThread.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace tarpelix::platform {

namespace {
thread_local DispatchQueue* currentQueue = nullptr;

// Marks the calling thread as running blocks of `queue` for the scope's life.
class CurrentQueueScope {
public:
    explicit CurrentQueueScope(DispatchQueue* queue) : previous_(currentQueue) { currentQueue = queue; }
    ~CurrentQueueScope() { currentQueue = previous_; }

private:
    DispatchQueue* previous_;
};

constexpr auto idleWorkerLinger = std::chrono::milliseconds(200);
} // namespace

// Pending blocks and workers of a serial or global queue. Workers hold the state, not the
// queue object, so a released queue still runs what was given to it; a worker that stays
// idle for a moment exits, so an idle queue holds no thread.
struct DispatchQueue::State {
    std::mutex mutex;
    std::condition_variable condition;
    std::deque<Block> blocks;
    std::size_t workers = 0;
    std::size_t idleWorkers = 0;
    std::size_t maxWorkers = 1;
    DispatchQueue* owner = nullptr; // valid while the queue object lives; guarded by mutex

    static void work(const std::shared_ptr<State>& state) {
        std::unique_lock lock(state->mutex);
        for (;;) {
            if (state->blocks.empty()) {
                ++state->idleWorkers;
                bool woke = state->condition.wait_for(lock, idleWorkerLinger,
                                                      [&] { return !state->blocks.empty(); });
                --state->idleWorkers;
                if (!woke) {
                    --state->workers;
                    return;
                }
            }
            Block block = std::move(state->blocks.front());
            state->blocks.pop_front();
            DispatchQueue* owner = state->owner;
            lock.unlock();
            {
                CurrentQueueScope scope(owner);
                block();
                block = nullptr; // captured values die on the queue, as they would in GCD
            }
            lock.lock();
        }
    }

    void enqueue(const std::shared_ptr<State>& self, Block block) {
        bool spawn = false;
        {
            std::lock_guard lock(mutex);
            blocks.push_back(std::move(block));
            if (idleWorkers == 0 && workers < maxWorkers) {
                ++workers;
                spawn = true;
            }
        }
        if (spawn) {
            std::thread([self] { work(self); }).detach();
        } else {
            condition.notify_one();
        }
    }
};

DispatchQueue::DispatchQueue(std::string label, QualityOfService qos, Kind kind)
    : label_(std::move(label)), qos_(qos), kind_(kind), state_(std::make_shared<State>()) {
    state_->owner = this;
    state_->maxWorkers = kind == Kind::global ? globalWidth : 1;
}

DispatchQueue::~DispatchQueue() {
    std::lock_guard lock(state_->mutex);
    state_->owner = nullptr;
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, QualityOfService qos) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(std::move(label), qos, Kind::serial));
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::main() {
    static const auto* queue = new std::shared_ptr<DispatchQueue>(
        new DispatchQueue("com.apple.main-thread", QualityOfService::userInteractive, Kind::main));
    return *queue;
}

const std::shared_ptr<DispatchQueue>& DispatchQueue::global(QualityOfService qos) {
    static const auto* queues = [] {
        auto* all = new std::shared_ptr<DispatchQueue>[5];
        const char* labels[] = {"com.apple.root.user-interactive-qos", "com.apple.root.user-initiated-qos",
                                "com.apple.root.default-qos", "com.apple.root.utility-qos",
                                "com.apple.root.background-qos"};
        for (int i = 0; i < 5; ++i) {
            all[i] = std::shared_ptr<DispatchQueue>(
                new DispatchQueue(labels[i], static_cast<QualityOfService>(i), Kind::global));
        }
        return all;
    }();
    return queues[static_cast<int>(qos)];
}

void DispatchQueue::async(Block block) {
    if (kind_ == Kind::main) {
        RunLoop::main()->enqueueMainQueueBlock(std::move(block));
        return;
    }
    state_->enqueue(state_, std::move(block));
}

void DispatchQueue::asyncAfter(double delaySeconds, Block block) {
    if (delaySeconds < 0) delaySeconds = 0;
    auto when = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(delaySeconds));
    // The pending block keeps the queue alive, as it would in GCD.
    detail::scheduleAt(when, [queue = shared_from_this(), block = std::move(block)]() mutable {
        queue->async(std::move(block));
    });
}

bool DispatchQueue::isCurrent() const {
    if (kind_ == Kind::main) return currentQueue == this || (currentQueue == nullptr && isMainThread());
    return currentQueue == this;
}

DispatchQueue* DispatchQueue::current() { return currentQueue; }

void DispatchQueue::syncBlock(const Block& block) {
    if (kind_ != Kind::global && isCurrent()) {
        std::fprintf(stderr, "fatal: dispatch sync onto the current queue \"%s\" would deadlock\n",
                     label_.c_str());
        std::fflush(stderr);
        std::abort();
    }
    std::mutex mutex;
    std::condition_variable condition;
    bool done = false;
    std::exception_ptr error;
    DispatchQueue* self = this;
    auto run = [&] {
        try {
            CurrentQueueScope scope(self);
            block();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(mutex);
        done = true;
        condition.notify_one();
    };
    if (kind_ == Kind::main) {
        RunLoop::main()->enqueueMainQueueBlock(run);
    } else {
        state_->enqueue(state_, run);
    }
    std::unique_lock lock(mutex);
    condition.wait(lock, [&] { return done; });
    if (error) std::rethrow_exception(error);
}

void performOnMain(DispatchQueue::Block block) {
    if (isMainThread()) {
        block();
    } else {
        DispatchQueue::main()->async(std::move(block));
    }
}

} // namespace tarpelix::platform

namespace tarpelix::platform::detail {
void runMainQueueBlock(const std::function<void()>& block) {
    CurrentQueueScope scope(DispatchQueue::main().get());
    block();
}
} // namespace tarpelix::platform::detail
