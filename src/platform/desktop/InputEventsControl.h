#pragma once

#include "platform/desktop/InputEvents.h"
#include "platform/desktop/InputEventsState.h"

#include <cstdint>
#include <sys/types.h>
#include <vector>

// Control surface of the simulated input events, for tests and the demo: permissions,
// the user's keys, clicks and scrolls, what each application received, and failures.
namespace tarpelix::platform::InputEventsControl {

// Accessibility trust of this process. Revoking it disables every active tap as user
// input does (each gets the tap-disabled-by-user-input notification; this waits until the
// callbacks have been told).
void setAccessibilityTrusted(bool trusted);
void setListenEventAccess(bool granted);
int listenEventAccessRequests();

// Seconds a tap callback may take before the system disables its tap.
void setTapTimeout(double seconds);
// The system disables every enabled tap for this reason (tapDisabledByTimeout or
// tapDisabledByUserInput) and waits until each callback has been told. Must not be called
// from a tap's thread.
void disableTaps(EventType reason);
// How many taps are installed (valid), and how many of them are live: enabled and attached
// to a run loop, so that they see events.
std::size_t installedTaps();
std::size_t liveTaps();

// The next `count` calls of one kind fail.
enum class Failure { tapCreation, runLoopSource, eventSource, keyboardEvent, eventCopy };
void failNext(Failure kind, int count = 1);

// Events as the user's hardware makes them.
EventRef keyEvent(std::uint16_t keyCode, bool keyDown, EventFlags flags = 0, bool autorepeat = false);
EventRef mouseEvent(EventType type, EventFlags flags = 0);

// Posts an event where the user's hardware enters it (the HID location) and waits until
// the stream has passed it through the taps and to its application. Must not be called
// from a tap's thread.
EventDelivery deliver(const EventRef& event);
// Waits until every event posted so far has been delivered.
void waitUntilDelivered();

// Copies of every event the application received, in order.
std::vector<EventRef> receivedEvents(pid_t pid);

} // namespace tarpelix::platform::InputEventsControl
