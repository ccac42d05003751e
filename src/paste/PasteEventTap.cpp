#include "paste/PasteEventTap.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"

#include <atomic>
#include <thread>

namespace tarpelix {

using platform::Event;
using platform::EventField;
using platform::EventRef;
using platform::EventType;

// One tap thread: its run loop, the tap port it serves (touched only on that thread) and
// the thread itself, so that the owner can stop and join it whatever became of the
// connection result.
struct PasteEventTap::TapThread {
    std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>();
    std::shared_ptr<platform::EventTap> port;
    std::atomic<bool> finished{false};
    std::thread thread;

    // Schedules on the tap's run loop the invalidation of its port and the loop's stop.
    // The block holds the thread weakly: a loop that no longer runs keeps it, and the loop
    // belongs to the thread.
    static void stop(const std::shared_ptr<TapThread>& tapThread) {
        tapThread->loop->perform([weak = std::weak_ptr<TapThread>(tapThread)] {
            if (auto running = weak.lock()) {
                if (running->port) running->port->invalidate();
                running->loop->stop();
            }
        });
    }
};

namespace {

EventRef tapCallback(EventType type, const EventRef& event, void* userInfo) {
    if (!userInfo) return event;
    return static_cast<PasteEventTap*>(userInfo)->handle(type, event);
}

} // namespace

std::shared_ptr<PasteEventTap> PasteEventTap::create(Clock now, Connect connect, double operationTimeout) {
    return std::shared_ptr<PasteEventTap>(
        new PasteEventTap(std::move(now), std::move(connect), operationTimeout));
}

PasteEventTap::PasteEventTap(Clock now, Connect connect, double operationTimeout)
    : connect_(std::move(connect)), operationTimeout_(operationTimeout), now_(std::move(now)) {}

PasteGesture PasteEventTap::gestureLocked(const platform::EventRef& copy) const {
    return PasteGesture{copy, pid_, generation_, PasteOperation::Instant::now().advanced(operationTimeout_)};
}

PasteEventTap::~PasteEventTap() {
    // The callback's user value is this object, unretained: no tap thread may outlive it.
    for (const auto& tapThread : threads_) TapThread::stop(tapThread);
    for (const auto& tapThread : threads_) {
        if (tapThread->thread.joinable()) tapThread->thread.join();
    }
}

void PasteEventTap::postToMain(std::function<void(PasteEventTap&)> work) {
    platform::DispatchQueue::main()->async([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

// MARK: Invalidation and readiness (under the lock)

void PasteEventTap::invalidateLocked(const std::string& reason) {
    ++generation_;
    if (operation_ && operation_->cancel(reason)) {
        postToMain([operation = operation_](PasteEventTap& self) { self.invalidated(operation); });
    }
}

void PasteEventTap::expireReadinessLocked() {
    if (pid_ != 0 && !(permissionExpires_ > now_())) {
        invalidateLocked(readinessExpiredReason);
        pid_ = 0;
    }
}

bool PasteEventTap::isCurrentLocked(const PasteGesture& gesture) const {
    return enabled_ && pid_ == gesture.pid && generation_ == gesture.generation;
}

void PasteEventTap::interruptLocked() {
    if (!interrupted_) invalidateLocked(interruptedReason);
    ++interruptionGeneration_;
    interrupted_ = true;
    pid_ = 0;
    heldPaste_ = false;
    replayRepeats_ = false;
}

// MARK: Main-thread operations

void PasteEventTap::configure(bool enabled, std::int32_t supportedPID, double permissionExpires) {
    std::lock_guard guard(lock_);
    expireReadinessLocked();
    if (enabled != enabled_ || supportedPID != pid_) invalidateLocked(focusChangedReason);
    enabled_ = enabled;
    pid_ = interrupted_ ? 0 : supportedPID;
    permissionExpires_ = permissionExpires;
    expireReadinessLocked(); // a lapsed readiness never arms the tap
}

void PasteEventTap::track(std::shared_ptr<PasteOperation> operation, const std::optional<PasteGesture>& gesture) {
    std::lock_guard guard(lock_);
    operation_ = operation;
    expireReadinessLocked();
    if (gesture && operation && !isCurrentLocked(*gesture)) operation->cancel();
}

void PasteEventTap::invalidate(const std::string& reason) {
    std::lock_guard guard(lock_);
    invalidateLocked(reason);
}

bool PasteEventTap::isCurrent(const PasteGesture& gesture) {
    std::lock_guard guard(lock_);
    expireReadinessLocked();
    return isCurrentLocked(gesture);
}

void PasteEventTap::replay(const PasteGesture& gesture) {
    if (!isCurrent(gesture) || !gesture.event) return;
    auto down = gesture.event->copy();
    auto up = gesture.event->copy();
    if (!down || !up) return;
    {
        std::lock_guard guard(lock_);
        // The user still holds the key: its repeats become ordinary pastes too.
        if (heldPaste_ && heldGeneration_ == gesture.generation) replayRepeats_ = true;
    }
    down->setIntegerValueField(EventField::eventSourceUserData, syntheticTag);
    up->setIntegerValueField(EventField::eventSourceUserData, syntheticTag);
    up->setType(EventType::keyUp);
    Event::post(platform::EventTapLocation::session, down);
    Event::post(platform::EventTapLocation::session, up);
}

// MARK: Connection

void PasteEventTap::refresh(bool accessibilityAllowed) {
    platform::requireMainThread("PasteEventTap.refresh");
    reapFinishedThreads();
    double now = 0;
    double retryAfter = 0;
    std::uint64_t interruptionAttempt = 0;
    bool interrupted = false;
    {
        std::unique_lock guard(lock_);
        if (!accessibilityAllowed) {
            interruptLocked();
            awaitingAccessibilityDenial_ = false; // the denial has been seen
        } else if (awaitingAccessibilityDenial_) {
            guard.unlock();
            disconnect();
            return;
        }
        now = now_();
        retryAfter = retryAfter_;
        interruptionAttempt = interruptionGeneration_;
        interrupted = interrupted_;
    }
    if (!accessibilityAllowed || now < retryAfter) {
        disconnect();
        return;
    }
    if (interrupted && connection_) disconnect(); // the old tap is dead
    if (connection_ || starting_) return;
    starting_ = true;
    const std::uint64_t attempt = ++connectionGeneration_;
    ConnectionCompletion completion = [weak = weak_from_this(), attempt,
                                       interruptionAttempt](std::optional<Connection> connection) {
        platform::DispatchQueue::main()->async([weak, attempt, interruptionAttempt, connection] {
            if (auto self = weak.lock()) {
                self->connectionFinished(attempt, interruptionAttempt, connection);
            } else if (connection) {
                connection->invalidate();
            }
        });
    };
    if (connect_) {
        connect_(std::move(completion));
    } else {
        startSystemConnection(std::move(completion));
    }
}

void PasteEventTap::connectionFinished(std::uint64_t attempt, std::uint64_t interruptionAttempt,
                                       std::optional<Connection> connection) {
    if (connectionGeneration_ != attempt) {
        if (connection) connection->invalidate();
        return;
    }
    starting_ = false;
    std::optional<std::string> message;
    {
        std::lock_guard guard(lock_);
        if (interruptionGeneration_ == interruptionAttempt && !awaitingAccessibilityDenial_) {
            if (connection) {
                interrupted_ = false;
                message = readyReport;
            } else {
                retryAfter_ = now_() + 1.0;
                message = unavailableReport;
            }
        } else if (!connection) {
            retryAfter_ = now_() + 1.0;
        }
    }
    if (!message) {
        if (connection) connection->invalidate();
        return;
    }
    if (connection) connection_ = std::move(connection);
    report(*message);
}

void PasteEventTap::disconnect() {
    if (connection_) {
        ++connectionGeneration_;
        auto connection = std::move(*connection_);
        connection_.reset();
        starting_ = false;
        connection.invalidate();
    } else if (starting_) {
        ++connectionGeneration_; // the pending result will be discarded
        starting_ = false;
    }
}

void PasteEventTap::startSystemConnection(ConnectionCompletion completion) {
    auto tapThread = std::make_shared<TapThread>();
    threads_.push_back(tapThread);
    tapThread->thread = std::thread([this, tapThread, completion = std::move(completion)] {
        auto port = platform::EventTap::create(platform::EventTapLocation::session,
                                               platform::EventTapPlacement::headInsert,
                                               platform::EventTapOptions::defaultTap, eventMask, tapCallback, this);
        if (!port) {
            completion(std::nullopt);
            tapThread->finished = true;
            return;
        }
        auto source = port->createRunLoopSource();
        if (!source) {
            port->invalidate();
            completion(std::nullopt);
            tapThread->finished = true;
            return;
        }
        tapThread->port = port;
        source->addToRunLoop(tapThread->loop);
        completion(Connection{[tapThread] { TapThread::stop(tapThread); }});
        tapThread->loop->run();
        source->removeFromRunLoop();
        port->invalidate();
        tapThread->port.reset();
        tapThread->finished = true;
    });
}

void PasteEventTap::reapFinishedThreads() {
    std::erase_if(threads_, [](const std::shared_ptr<TapThread>& tapThread) {
        if (!tapThread->finished) return false;
        tapThread->thread.join();
        return true;
    });
}

// MARK: The tap callback

EventRef PasteEventTap::handle(EventType type, const EventRef& event) {
    if (type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput) {
        bool wasInterrupted = false;
        {
            std::lock_guard guard(lock_);
            wasInterrupted = interrupted_;
            interruptLocked();
            if (type == EventType::tapDisabledByUserInput) awaitingAccessibilityDenial_ = true;
            retryAfter_ = now_() + 1.0;
        }
        if (!wasInterrupted) postToMain([](PasteEventTap& self) { self.report(interruptedReport); });
        return event;
    }
    if (!event || event->integerValueField(EventField::eventSourceUserData) == syntheticTag) return event;

    std::lock_guard guard(lock_);
    if (interrupted_) return event;
    expireReadinessLocked();

    const bool isKeyCodeV = event->integerValueField(EventField::keyboardEventKeycode) == triggerKeyCode;
    if (type == EventType::keyUp && isKeyCodeV && heldPaste_) {
        heldPaste_ = false; // a replay posts its own key up
        return nullptr;
    }
    const bool vDown = type == EventType::keyDown && isKeyCodeV;
    const bool trigger = vDown && (event->flags() & modifierMask) == controlAlone;

    if (trigger && event->integerValueField(EventField::keyboardEventAutorepeat) != 0) {
        if (!heldPaste_) return event; // repeats of a Control+V that was never held
        if (!replayRepeats_ || !enabled_ || pid_ == 0 || generation_ != heldGeneration_) return nullptr;
        auto copy = event->copy();
        if (!copy) return nullptr;
        PasteGesture gesture = gestureLocked(copy);
        postToMain([gesture](PasteEventTap& self) { self.replay(gesture); });
        return nullptr;
    }

    if (trigger && enabled_ && pid_ != 0) {
        if (auto copy = event->copy()) {
            heldPaste_ = true;
            replayRepeats_ = false;
            heldGeneration_ = generation_;
            PasteGesture gesture = gestureLocked(copy);
            postToMain([gesture](PasteEventTap& self) { self.receive(gesture); });
            return nullptr;
        }
    }

    if (vDown) {
        heldPaste_ = false;
        replayRepeats_ = false;
        invalidateLocked(focusChangedReason);
    } else if (type != EventType::keyUp && type != EventType::flagsChanged) {
        invalidateLocked(focusChangedReason);
    }
    return event;
}

} // namespace tarpelix
