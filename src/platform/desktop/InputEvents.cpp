#include "platform/desktop/InputEvents.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/dispatch/RunLoop.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace tarpelix::platform {

namespace {

void resetInputEvents();

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] { shared.addResetHandler(resetInputEvents); });
    return shared;
}

// Takes one injected failure of a counter guarded by the desktop lock.
bool takeFailure(int& counter) {
    if (counter <= 0) return false;
    --counter;
    return true;
}

// One answer of a tap callback, handed from the tap's thread to the stream.
struct TapAnswer {
    bool done = false;
    EventRef result;
};

// Tells a tap's callback, on its run loop's thread, that the system disabled the tap.
// The caller holds the desktop lock. The answer is done once the callback has returned
// (or will never run).
std::shared_ptr<TapAnswer> disableTapLocked(const std::shared_ptr<EventTap::Record>& tap, EventType reason) {
    auto told = std::make_shared<TapAnswer>();
    if (!tap->valid || !tap->enabled) {
        told->done = true;
        return told;
    }
    tap->enabled = false;
    auto loop = tap->runLoop.lock();
    if (!loop) {
        tap->pendingNotice = reason;
        told->done = true;
        return told;
    }
    loop->perform([tap, reason, told] {
        if (tap->valid) tap->callback(reason, std::make_shared<Event>(reason), tap->userInfo);
        auto& shared = Desktop::shared();
        {
            std::lock_guard guard(shared.mutex);
            told->done = true;
        }
        shared.inputEvents.streamChanged.notify_all();
    });
    return told;
}

// Disables taps as the system does and waits (bounded) until each callback has been told,
// unless the tap goes away first.
void disableAndWait(const std::function<bool(const EventTap::Record&)>& which, EventType reason) {
    auto& d = Desktop::shared();
    std::unique_lock lock(d.mutex);
    std::vector<std::pair<std::shared_ptr<EventTap::Record>, std::shared_ptr<TapAnswer>>> told;
    for (const auto& tap : d.inputEvents.taps) {
        if (which(*tap)) told.emplace_back(tap, disableTapLocked(tap, reason));
    }
    d.inputEvents.streamChanged.notify_all();
    for (const auto& entry : told) {
        const auto& tap = entry.first;
        const auto& answer = entry.second;
        d.inputEvents.streamChanged.wait_for(lock, std::chrono::seconds(10),
                                             [&] { return answer->done || !tap->valid; });
    }
}

// Passes one event through the taps from its entry location on. Called and returns with the
// desktop lock held; releases it while a callback runs. Nil: a tap swallowed the event.
EventRef passThroughTaps(std::unique_lock<std::mutex>& lock, const EventPosting& posting) {
    auto& d = Desktop::shared();
    auto& state = d.inputEvents;
    EventRef current = posting.event;
    const auto taps = state.taps; // taps installed later do not see this event
    for (const auto& tap : taps) {
        if (!tap->valid || !tap->enabled || tap->location < posting.location) continue;
        const EventType type = current->type();
        if ((tap->mask & eventMaskBit(type)) == 0) continue;
        auto loop = tap->runLoop.lock();
        if (!loop) continue; // not attached to a run loop: nothing can call it
        if (tap->options == EventTapOptions::listenOnly) {
            auto seen = std::make_shared<Event>(*current);
            loop->perform([tap, seen, type] {
                if (tap->valid) tap->callback(type, seen, tap->userInfo);
            });
            continue;
        }
        auto answer = std::make_shared<TapAnswer>();
        loop->perform([tap, answer, current, type] {
            EventRef result = current;
            if (tap->valid) result = tap->callback(type, current, tap->userInfo);
            auto& shared = Desktop::shared();
            {
                std::lock_guard guard(shared.mutex);
                answer->done = true;
                answer->result = std::move(result);
            }
            shared.inputEvents.streamChanged.notify_all();
        });
        const auto timeout = std::chrono::duration<double>(state.tapTimeout);
        state.streamChanged.wait_for(lock, timeout,
                                     [&] { return answer->done || !tap->valid || !tap->enabled; });
        if (answer->done) {
            if (!answer->result) return nullptr;
            current = answer->result;
            continue;
        }
        // Invalidated or disabled meanwhile: the event passes. Still running: too slow.
        if (tap->valid && tap->enabled) disableTapLocked(tap, EventType::tapDisabledByTimeout);
    }
    return current;
}

[[noreturn]] void runEventStream() {
    auto& d = Desktop::shared();
    auto& state = d.inputEvents;
    std::unique_lock lock(d.mutex);
    for (;;) {
        state.streamChanged.wait(lock, [&] { return !state.queue.empty(); });
        auto posting = state.queue.front();
        state.queue.pop_front();
        state.inFlight = posting;

        EventDelivery delivery;
        EventRef event = passThroughTaps(lock, *posting);
        std::function<void(const EventRef&)> receiver;
        if (!event) {
            delivery.swallowed = true;
        } else {
            pid_t pid = posting->targetPid.value_or(d.workspace.frontmost);
            auto* app = pid != 0 ? d.workspace.find(pid) : nullptr;
            if (app && !app->application.isTerminated) {
                delivery.receiver = pid;
                state.received[pid].push_back(std::make_shared<Event>(*event));
                receiver = app->receiveEvent;
            }
        }
        if (receiver) {
            lock.unlock();
            receiver(event);
            receiver = nullptr;
            lock.lock();
        }
        posting->delivery = delivery;
        posting->done = true;
        state.inFlight.reset();
        state.streamChanged.notify_all();
    }
}

void enqueue(const std::shared_ptr<EventPosting>& posting) {
    auto& d = desktop();
    {
        std::lock_guard lock(d.mutex);
        d.inputEvents.queue.push_back(posting);
        if (!d.inputEvents.streamStarted) {
            d.inputEvents.streamStarted = true;
            std::thread(runEventStream).detach(); // lives as long as the process, like the desktop
        }
    }
    d.inputEvents.streamChanged.notify_all();
}

void resetInputEvents() {
    auto& d = Desktop::shared();
    auto& state = d.inputEvents;
    {
        std::lock_guard lock(d.mutex);
        for (const auto& tap : state.taps) {
            tap->valid = false;
            tap->runLoop.reset();
        }
        state.taps.clear();
        for (const auto& posting : state.queue) posting->done = true;
        state.queue.clear();
        state.received.clear();
        state.accessibilityTrusted = false;
        state.listenEventAccess = false;
        state.listenEventAccessRequests = 0;
        state.tapTimeout = 1.0;
        state.failingTapCreations = 0;
        state.failingRunLoopSources = 0;
        state.failingEventSources = 0;
        state.failingKeyboardEvents = 0;
        state.failingEventCopies = 0;
    }
    state.streamChanged.notify_all();
}

} // namespace

// MARK: Event sources and events

std::shared_ptr<EventSource> EventSource::create(EventSourceStateID stateID) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (takeFailure(d.inputEvents.failingEventSources)) return nullptr;
    return std::make_shared<EventSource>(stateID);
}

EventRef Event::createKeyboardEvent(const std::shared_ptr<EventSource>& source, std::uint16_t keyCode,
                                    bool keyDown) {
    {
        auto& d = desktop();
        std::lock_guard lock(d.mutex);
        if (takeFailure(d.inputEvents.failingKeyboardEvents)) return nullptr;
    }
    auto event = std::make_shared<Event>(keyDown ? EventType::keyDown : EventType::keyUp);
    event->setIntegerValueField(EventField::keyboardEventKeycode, keyCode);
    event->setIntegerValueField(EventField::eventSourceUnixProcessID, getpid());
    if (source) {
        event->setIntegerValueField(EventField::eventSourceUserData, source->userData());
        event->setIntegerValueField(EventField::eventSourceStateID, static_cast<std::int64_t>(source->stateID()));
    }
    return event;
}

EventRef Event::create(EventType type, EventFlags flags) {
    auto event = std::make_shared<Event>(type);
    event->setFlags(flags);
    event->setIntegerValueField(EventField::eventSourceStateID,
                                static_cast<std::int64_t>(EventSourceStateID::hidSystemState));
    return event;
}

EventRef Event::copy() const {
    // Lock-free: tap callbacks copy events on their own thread.
    auto& failing = desktop().inputEvents.failingEventCopies;
    int left = failing.load();
    while (left > 0 && !failing.compare_exchange_weak(left, left - 1)) {
    }
    if (left > 0) return nullptr;
    return std::make_shared<Event>(*this);
}

void Event::keyboardSetUnicodeString(std::u16string_view units) {
    unicode_.assign(units.substr(0, std::min(units.size(), maxUnicodeLength)));
}

std::string Event::unicodeStringUTF8() const {
    std::string utf8;
    icu::UnicodeString(unicode_.data(), static_cast<int32_t>(unicode_.size())).toUTF8String(utf8);
    return utf8;
}

void Event::post(EventTapLocation location, const EventRef& event) {
    if (!event) return;
    auto posting = std::make_shared<EventPosting>();
    posting->event = std::make_shared<Event>(*event); // the stream owns what it delivers
    posting->location = location;
    enqueue(posting);
}

void Event::postToPid(pid_t pid, const EventRef& event) {
    if (!event) return;
    auto posting = std::make_shared<EventPosting>();
    posting->event = std::make_shared<Event>(*event);
    posting->location = EventTapLocation::session;
    posting->targetPid = pid;
    enqueue(posting);
}

// MARK: Taps

std::shared_ptr<EventTap> EventTap::create(EventTapLocation location, EventTapPlacement placement,
                                           EventTapOptions options, EventMask mask, EventTapCallBack callback,
                                           void* userInfo) {
    if (!callback) return nullptr;
    auto& d = desktop();
    auto& state = d.inputEvents;
    std::lock_guard lock(d.mutex);
    bool permitted = options == EventTapOptions::defaultTap
                         ? state.accessibilityTrusted
                         : state.accessibilityTrusted || state.listenEventAccess;
    if (!permitted || takeFailure(state.failingTapCreations)) return nullptr;
    auto record = std::make_shared<Record>();
    record->location = location;
    record->options = options;
    record->mask = mask;
    record->callback = callback;
    record->userInfo = userInfo;
    // Taps are ordered by location; within one location, by placement.
    auto position = placement == EventTapPlacement::headInsert
                        ? std::find_if(state.taps.begin(), state.taps.end(),
                                       [&](const auto& tap) { return tap->location >= location; })
                        : std::find_if(state.taps.begin(), state.taps.end(),
                                       [&](const auto& tap) { return tap->location > location; });
    state.taps.insert(position, record);
    d.record("event tap");
    return std::make_shared<EventTap>(std::move(record));
}

std::shared_ptr<EventTapRunLoopSource> EventTap::createRunLoopSource() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (takeFailure(d.inputEvents.failingRunLoopSources)) return nullptr;
    return std::make_shared<EventTapRunLoopSource>(record_);
}

void EventTap::setEnabled(bool enabled) {
    auto& d = desktop();
    {
        std::lock_guard lock(d.mutex);
        if (!record_->valid) return;
        record_->enabled = enabled;
    }
    d.inputEvents.streamChanged.notify_all();
}

bool EventTap::isEnabled() const { return record_->valid && record_->enabled; }

void EventTap::invalidate() {
    auto& d = desktop();
    {
        std::lock_guard lock(d.mutex);
        record_->valid = false;
        record_->runLoop.reset();
        std::erase(d.inputEvents.taps, record_);
    }
    d.inputEvents.streamChanged.notify_all();
}

bool EventTap::isValid() const { return record_->valid; }

void EventTapRunLoopSource::addToRunLoop(const std::shared_ptr<RunLoop>& runLoop) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (!record_->valid) return;
    record_->runLoop = runLoop;
    if (auto reason = std::exchange(record_->pendingNotice, std::nullopt)) {
        runLoop->perform([tap = record_, reason = *reason] {
            if (tap->valid) tap->callback(reason, std::make_shared<Event>(reason), tap->userInfo);
        });
    }
}

void EventTapRunLoopSource::removeFromRunLoop() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    record_->runLoop.reset();
}

bool preflightListenEventAccess() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.inputEvents.listenEventAccess;
}

bool requestListenEventAccess() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    ++d.inputEvents.listenEventAccessRequests;
    return d.inputEvents.listenEventAccess;
}

// MARK: Control

namespace InputEventsControl {

void setAccessibilityTrusted(bool trusted) {
    auto& d = desktop();
    bool revoked = false;
    {
        std::lock_guard lock(d.mutex);
        revoked = d.inputEvents.accessibilityTrusted && !trusted;
        d.inputEvents.accessibilityTrusted = trusted;
    }
    if (revoked) {
        disableAndWait([](const EventTap::Record& tap) { return tap.options == EventTapOptions::defaultTap; },
                       EventType::tapDisabledByUserInput);
    }
}

void setListenEventAccess(bool granted) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.inputEvents.listenEventAccess = granted;
}

int listenEventAccessRequests() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.inputEvents.listenEventAccessRequests;
}

void setTapTimeout(double seconds) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.inputEvents.tapTimeout = seconds;
}

void disableTaps(EventType reason) {
    desktop();
    disableAndWait([](const EventTap::Record&) { return true; }, reason);
}

std::size_t installedTaps() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.inputEvents.taps.size();
}

std::size_t liveTaps() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return static_cast<std::size_t>(std::count_if(d.inputEvents.taps.begin(), d.inputEvents.taps.end(),
                                                  [](const auto& tap) { return tap->enabled && !tap->runLoop.expired(); }));
}

void failNext(Failure kind, int count) {
    auto& d = desktop();
    auto& state = d.inputEvents;
    std::lock_guard lock(d.mutex);
    switch (kind) {
    case Failure::tapCreation:
        state.failingTapCreations = count;
        break;
    case Failure::runLoopSource:
        state.failingRunLoopSources = count;
        break;
    case Failure::eventSource:
        state.failingEventSources = count;
        break;
    case Failure::keyboardEvent:
        state.failingKeyboardEvents = count;
        break;
    case Failure::eventCopy:
        state.failingEventCopies = count;
        break;
    }
}

EventRef keyEvent(std::uint16_t keyCode, bool keyDown, EventFlags flags, bool autorepeat) {
    auto event = Event::create(keyDown ? EventType::keyDown : EventType::keyUp, flags);
    event->setIntegerValueField(EventField::keyboardEventKeycode, keyCode);
    event->setIntegerValueField(EventField::keyboardEventAutorepeat, autorepeat ? 1 : 0);
    return event;
}

EventRef mouseEvent(EventType type, EventFlags flags) { return Event::create(type, flags); }

EventDelivery deliver(const EventRef& event) {
    auto posting = std::make_shared<EventPosting>();
    posting->event = std::make_shared<Event>(*event);
    posting->location = EventTapLocation::hid;
    enqueue(posting);
    auto& d = desktop();
    std::unique_lock lock(d.mutex);
    d.inputEvents.streamChanged.wait(lock, [&] { return posting->done; });
    return posting->delivery;
}

void waitUntilDelivered() {
    auto& d = desktop();
    std::unique_lock lock(d.mutex);
    d.inputEvents.streamChanged.wait(
        lock, [&] { return d.inputEvents.queue.empty() && !d.inputEvents.inFlight; });
}

std::vector<EventRef> receivedEvents(pid_t pid) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    auto found = d.inputEvents.received.find(pid);
    if (found == d.inputEvents.received.end()) return {};
    return found->second;
}

} // namespace InputEventsControl

} // namespace tarpelix::platform
