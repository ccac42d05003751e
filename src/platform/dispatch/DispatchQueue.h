#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace tarpelix::platform {

enum class QualityOfService { userInteractive, userInitiated, defaultQoS, utility, background };

class RunLoop;

// A dispatch queue. Serial queues run their blocks one at a time, in the order given,
// on a worker thread of their own; the main queue is drained by the main run loop;
// global queues are concurrent, one for each quality of service, and each starts worker
// threads of its own, at most `globalWidth` of them.
//
// A queue released while blocks are pending still runs them, as blocks retain their queue.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    using Block = std::function<void()>;

    // A global queue runs at most this many blocks at once, on as many workers of its own; more
    // wait for one of them, as the threads of GCD's pool are bounded too.
    static constexpr std::size_t globalWidth = 64;

    static std::shared_ptr<DispatchQueue> create(std::string label,
                                                 QualityOfService qos = QualityOfService::defaultQoS);
    static const std::shared_ptr<DispatchQueue>& main();
    static const std::shared_ptr<DispatchQueue>& global(
        QualityOfService qos = QualityOfService::defaultQoS);

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    QualityOfService qualityOfService() const { return qos_; }
    bool isMain() const { return kind_ == Kind::main; }

    void async(Block block);
    // Runs the block after `delaySeconds` of system uptime.
    void asyncAfter(double delaySeconds, Block block);

    // Runs the block on this queue and waits for it; an exception it throws is rethrown
    // here. Stops the process when called from this queue itself (it would deadlock).
    template <typename F>
    auto sync(F&& function) -> std::invoke_result_t<F&> {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            syncBlock([&] { function(); });
        } else {
            std::optional<R> result;
            syncBlock([&] { result.emplace(function()); });
            return std::move(*result);
        }
    }

    // True when the calling code runs as a block of this queue.
    bool isCurrent() const;
    // The queue whose block the calling code runs in, if any.
    static DispatchQueue* current();

    struct State;

private:
    enum class Kind { serial, main, global };
    DispatchQueue(std::string label, QualityOfService qos, Kind kind);
    void syncBlock(const Block& block);

    std::string label_;
    QualityOfService qos_;
    Kind kind_;
    std::shared_ptr<State> state_;
};

// Runs the block at once when called on the main thread, else asynchronously on the main queue:
// for answers that may come from any thread and belong to the main thread.
void performOnMain(DispatchQueue::Block block);

// A completion that may be called on any thread: it hands its value to `accept` together with
// the owner on the main thread, unless the owner is gone by then. The value is boxed, so the
// hop to the main queue moves a pointer, not the value.
template <typename Value, typename Owner, typename Accept>
std::function<void(Value)> completionOnMain(std::weak_ptr<Owner> owner, Accept accept) {
    return [owner = std::move(owner), accept = std::move(accept)](Value value) {
        auto boxed = std::make_shared<Value>(std::move(value));
        performOnMain([owner, accept, boxed] {
            if (auto self = owner.lock()) accept(*self, std::move(*boxed));
        });
    };
}

} // namespace tarpelix::platform
