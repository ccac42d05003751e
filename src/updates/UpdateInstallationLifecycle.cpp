#include "updates/UpdateInstallationLifecycle.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"

#include <utility>

namespace tarpelix {

std::shared_ptr<UpdateInstallationLifecycle> UpdateInstallationLifecycle::create(Shutdown shutdown,
                                                                                 Restore restore,
                                                                                 Schedule schedule) {
    return std::shared_ptr<UpdateInstallationLifecycle>(
        new UpdateInstallationLifecycle(std::move(shutdown), std::move(restore), std::move(schedule)));
}

UpdateInstallationLifecycle::UpdateInstallationLifecycle(Shutdown shutdown, Restore restore, Schedule schedule)
    : shutdown_(std::move(shutdown)), restore_(std::move(restore)), schedule_(std::move(schedule)) {
    if (!schedule_) {
        schedule_ = [](std::function<void()> work) { platform::DispatchQueue::main()->async(std::move(work)); };
    }
}

bool UpdateInstallationLifecycle::postponeRelaunch(Continuation continuation) {
    platform::requireMainThread("UpdateInstallationLifecycle::postponeRelaunch");
    // While quitting, or with an installation pending or under way, the new offer is
    // dropped; the updater is still told the relaunch is postponed.
    if (terminating_ || installation_) return true;
    installation_ = Installation{std::move(continuation)};
    beginDrain();
    return true;
}

void UpdateInstallationLifecycle::terminate(TerminationReply reply) {
    platform::requireMainThread("UpdateInstallationLifecycle::terminate");
    terminating_ = true;
    installation_.reset(); // a postponed installation never runs once a quit is asked for
    terminationReplies_.push_back(std::move(reply));
    beginDrain();
}

void UpdateInstallationLifecycle::updateDidEnd() {
    platform::requireMainThread("UpdateInstallationLifecycle::updateDidEnd");
    if (!installation_) return;
    installation_.reset();
    scheduleAdvance();
}

void UpdateInstallationLifecycle::beginDrain() {
    switch (drainState_) {
    case DrainState::running: {
        const auto id = platform::Uuid::random();
        drainID_ = id;
        drainState_ = DrainState::draining;
        if (changed_) changed_();
        std::weak_ptr<UpdateInstallationLifecycle> weak = weak_from_this();
        shutdown_([weak, id] {
            if (auto self = weak.lock()) self->shutdownCompleted(id);
        });
        return;
    }
    case DrainState::draining:
        return; // the drain in progress serves this request too
    case DrainState::drained:
        if (drainID_) scheduleAdvance(*drainID_);
        return;
    }
}

void UpdateInstallationLifecycle::shutdownCompleted(const platform::Uuid& drainID) {
    platform::requireMainThread("UpdateInstallationLifecycle shutdown completion");
    // A completion of an earlier drain, or a second call for this one, is ignored.
    if (drainID_ != drainID || drainState_ != DrainState::draining) return;
    drainState_ = DrainState::drained;
    scheduleAdvance();
}

void UpdateInstallationLifecycle::scheduleAdvance() {
    if (drainState_ != DrainState::drained || !drainID_) return;
    scheduleAdvance(*drainID_);
}

void UpdateInstallationLifecycle::scheduleAdvance(platform::Uuid drainID) {
    std::weak_ptr<UpdateInstallationLifecycle> weak = weak_from_this();
    schedule_([weak, drainID] {
        if (auto self = weak.lock()) self->advance(drainID);
    });
}

void UpdateInstallationLifecycle::advance(const platform::Uuid& drainID) {
    if (drainID_ != drainID || drainState_ != DrainState::drained) return;
    if (terminating_) {
        // The pipeline stays drained: the application is about to terminate.
        auto replies = std::exchange(terminationReplies_, {});
        for (auto& reply : replies) {
            if (reply) reply();
        }
        return;
    }
    if (installation_) {
        // Kept without its continuation until the updater reports the cycle's end.
        auto continuation = std::exchange(installation_->continuation, std::nullopt);
        if (continuation && *continuation) (*continuation)();
        return;
    }
    drainID_.reset();
    drainState_ = DrainState::running;
    if (restore_) restore_();
    if (changed_) changed_();
}

} // namespace tarpelix
