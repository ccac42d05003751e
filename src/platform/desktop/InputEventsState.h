#pragma once

#include "platform/desktop/InputEvents.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tarpelix::platform {

// The desktop's state of one event tap. `enabled` and `valid` are read by the event
// stream and the tap's own thread without the desktop lock; the rest is guarded by it.
struct EventTap::Record {
    EventTapLocation location = EventTapLocation::session;
    EventTapOptions options = EventTapOptions::defaultTap;
    EventMask mask = 0;
    EventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
    std::atomic<bool> enabled{true};
    std::atomic<bool> valid{true};
    std::weak_ptr<RunLoop> runLoop; // where the callback runs; empty until a source is added
    std::optional<EventType> pendingNotice; // disabled before it had a run loop: told once it has one
};

// What became of one posted event.
struct EventDelivery {
    bool swallowed = false;           // a tap swallowed it
    std::optional<pid_t> receiver;    // the application it reached, if any
};

// One event waiting in, or passing through, the event stream.
struct EventPosting {
    EventRef event;
    EventTapLocation location = EventTapLocation::session;
    std::optional<pid_t> targetPid; // posted to a process rather than to the frontmost application
    bool done = false;
    EventDelivery delivery;
};

// Input events of the simulated desktop: permissions, taps, the event stream and what
// each application received. Guarded by Desktop::mutex unless noted.
struct InputEventsState {
    bool accessibilityTrusted = false;
    bool listenEventAccess = false;
    int listenEventAccessRequests = 0;
    bool listenRequestGrants = false; // a listen-event request through HIDAccess grants the access
    // Seconds a tap callback may take before the system disables the tap.
    double tapTimeout = 1.0;

    // Injected failures: the next N calls of each kind fail.
    int failingTapCreations = 0;
    int failingRunLoopSources = 0;
    int failingEventSources = 0;
    int failingKeyboardEvents = 0;
    std::atomic<int> failingEventCopies{0}; // read by tap callbacks without the lock

    // Installed taps in stream order (the head first).
    std::vector<std::shared_ptr<EventTap::Record>> taps;

    // The event stream: one thread delivers the postings in order.
    std::deque<std::shared_ptr<EventPosting>> queue;
    std::shared_ptr<EventPosting> inFlight;
    bool streamStarted = false;
    std::condition_variable streamChanged; // postings queued, delivered, tap answers, invalidations

    // Every event each application received, in order (copies).
    std::map<pid_t, std::vector<EventRef>> received;
};

} // namespace tarpelix::platform
