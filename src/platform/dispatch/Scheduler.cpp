#include "platform/dispatch/Scheduler.h"

#include <condition_variable>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace tarpelix::platform::detail {

namespace {
struct Entry {
    std::chrono::steady_clock::time_point when;
    unsigned long long sequence; // keeps blocks of one instant in the order given
    std::function<void()> block;
    bool operator>(const Entry& other) const {
        return when != other.when ? when > other.when : sequence > other.sequence;
    }
};

class Scheduler {
public:
    Scheduler() { std::thread([this] { loop(); }).detach(); }

    void add(std::chrono::steady_clock::time_point when, std::function<void()> block) {
        {
            std::lock_guard lock(mutex_);
            entries_.push(Entry{when, next_++, std::move(block)});
        }
        condition_.notify_one();
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                condition_.wait(lock);
                continue;
            }
            auto when = entries_.top().when;
            if (std::chrono::steady_clock::now() < when) {
                condition_.wait_until(lock, when);
                continue;
            }
            auto block = std::move(const_cast<Entry&>(entries_.top()).block);
            entries_.pop();
            lock.unlock();
            block();
            block = nullptr;
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable condition_;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> entries_;
    unsigned long long next_ = 0;
};

Scheduler& scheduler() {
    static auto* instance = new Scheduler(); // lives as long as the process
    return *instance;
}
} // namespace

void scheduleAt(std::chrono::steady_clock::time_point when, std::function<void()> block) {
    scheduler().add(when, std::move(block));
}

} // namespace tarpelix::platform::detail
