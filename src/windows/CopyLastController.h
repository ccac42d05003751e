#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace tarpelix {

// What the two copy-last controllers share: the snapshot behind a status-menu item, its
// refresh, one copy at a time, and the generation rule that drops late answers. Every request
// (a refresh, a copy, a copy's read step) takes the generation current when it is issued; its
// answer moves to the main thread, and is dropped when the controller is gone or a newer
// request was made since. An accepted answer makes every other request in flight stale.
// Main thread only.
template <typename Derived, typename Snapshot>
class CopyLastController : public std::enable_shared_from_this<Derived> {
public:
    using LoadCompletion = std::function<void(std::optional<Snapshot>)>;
    using Load = std::function<void(LoadCompletion)>;
    using Report = std::function<void(const std::string& message)>;
    using Changed = std::function<void()>;

    // Loads the snapshot again; ignored while a copy runs (the copy decides the snapshot).
    void refresh() {
        platform::requireMainThread("CopyLastController::refresh");
        if (isCopying_) return;
        load_(request<std::optional<Snapshot>>(&CopyLastController::refreshed));
    }

    // Drops every request in flight, so none of them reports, and forgets the snapshot.
    void invalidate() {
        platform::requireMainThread("CopyLastController::invalidate");
        ++generation_;
        snapshot_.reset();
        isCopying_ = false;
        changed();
    }

    // What the menu reads to enable its item.
    const std::optional<Snapshot>& snapshot() const { return snapshot_; }
    bool isCopying() const { return isCopying_; }

    CopyLastController(const CopyLastController&) = delete;
    CopyLastController& operator=(const CopyLastController&) = delete;

protected:
    CopyLastController(Load load, Report report, Changed changed)
        : load_(std::move(load)), report_(std::move(report)), changed_(std::move(changed)) {}
    ~CopyLastController() = default;

    // Starts a copy, a new request whose load answer goes to `loaded`; nothing while one runs.
    void beginCopy(void (Derived::*loaded)(std::optional<Snapshot>)) {
        if (isCopying_) return;
        auto completion = request<std::optional<Snapshot>>(loaded);
        isCopying_ = true;
        changed();
        load_(std::move(completion));
    }

    // A new request: every earlier one becomes stale.
    template <typename Value, typename Member>
    std::function<void(Value)> request(Member accept) {
        return answerFor<Value>(++generation_, accept);
    }

    // The completion of a request taken at `generation`. The answer runs at once when it
    // arrives on the main thread, otherwise it is posted to the main queue; there it is
    // dropped unless the controller lives and the generation is still the newest.
    template <typename Value, typename Member>
    std::function<void(Value)> answerFor(std::int64_t generation, Member accept) {
        std::weak_ptr<Derived> weak = this->weak_from_this();
        return [weak, generation, accept](Value value) {
            auto deliver = [weak, generation, accept, value = std::move(value)]() mutable {
                auto self = weak.lock();
                if (!self) return;
                auto& base = static_cast<CopyLastController&>(*self);
                if (base.generation_ != generation) return;
                ++base.generation_;
                ((*self).*accept)(std::move(value));
            };
            platform::performOnMain(std::move(deliver));
        };
    }

    // Whether a loaded snapshot may be kept; the upload controller keeps only confirmed ones.
    static bool keeps(const Snapshot&) { return true; }

    // Stores a loaded snapshot, or none when it may not be kept.
    void store(std::optional<Snapshot> snapshot) {
        snapshot_ = std::move(snapshot);
        if (snapshot_ && !Derived::keeps(*snapshot_)) snapshot_.reset();
    }

    void report(const std::string& message) const {
        if (report_) report_(message);
    }
    void changed() const {
        if (changed_) changed_();
    }

    std::int64_t generation() const { return generation_; }

    Load load_;
    Report report_;
    Changed changed_;
    std::optional<Snapshot> snapshot_;
    bool isCopying_ = false;

private:
    void refreshed(std::optional<Snapshot> snapshot) {
        store(std::move(snapshot));
        changed();
    }

    std::int64_t generation_ = 0;
};

} // namespace tarpelix
