#pragma once

#include "platform/foundation/Geometry.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tarpelix::platform {

class RunLoop;

// Event types, with the numbers of the platform's event system.
enum class EventType : std::uint32_t {
    null = 0,
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    scrollWheel = 22,
    otherMouseDown = 25,
    otherMouseUp = 26,
    // Delivered to a tap's callback when the system has disabled the tap.
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

using EventMask = std::uint64_t;
constexpr EventMask eventMaskBit(EventType type) {
    auto n = static_cast<std::uint32_t>(type);
    return n < 64 ? EventMask{1} << n : 0;
}

// Modifier flags of an event.
using EventFlags = std::uint64_t;
namespace EventFlag {
constexpr EventFlags alphaShift = 0x10000; // Caps Lock
constexpr EventFlags shift = 0x20000;
constexpr EventFlags control = 0x40000;
constexpr EventFlags alternate = 0x80000; // Option
constexpr EventFlags command = 0x100000;
constexpr EventFlags numericPad = 0x200000;
constexpr EventFlags help = 0x400000;
constexpr EventFlags secondaryFn = 0x800000;
} // namespace EventFlag

// Integer fields of an event, by the platform's field numbers.
enum class EventField : std::uint32_t {
    keyboardEventAutorepeat = 8,
    keyboardEventKeycode = 9,
    eventSourceUnixProcessID = 41,
    eventSourceUserData = 42,
    eventSourceStateID = 45,
};

enum class EventSourceStateID : std::int32_t { privateState = -1, combinedSessionState = 0, hidSystemState = 1 };

// Where an event enters the event stream, and where a tap sits. An event posted at one
// location passes the taps of that location and of every later one, then reaches its
// application.
enum class EventTapLocation { hid, session, annotatedSession };
enum class EventTapPlacement { headInsert, tailAppend };
enum class EventTapOptions { defaultTap, listenOnly };

class Event;
using EventRef = std::shared_ptr<Event>;

// A source of synthetic events. Events made from it carry its state ID, its user data in
// the source user-data field and the poster's process ID.
class EventSource {
public:
    // Nil when the platform cannot make the source.
    static std::shared_ptr<EventSource> create(EventSourceStateID stateID);

    EventSourceStateID stateID() const { return stateID_; }
    std::int64_t userData() const { return userData_; }
    void setUserData(std::int64_t value) { userData_ = value; }

    explicit EventSource(EventSourceStateID stateID) : stateID_(stateID) {}

private:
    EventSourceStateID stateID_;
    std::int64_t userData_ = 0;
};

// One input event. Not synchronised: an event is owned by one thread at a time, as the
// event stream hands it from tap to tap.
class Event {
public:
    static constexpr std::size_t fieldCount = 64;
    // The most UTF-16 units a keyboard event carries; longer text is cut there.
    static constexpr std::size_t maxUnicodeLength = 20;

    // Nil when the platform cannot make the event. `source` may be nil.
    static EventRef createKeyboardEvent(const std::shared_ptr<EventSource>& source, std::uint16_t keyCode,
                                        bool keyDown);
    // A mouse-button, scroll or other event as the user's hardware makes it (for the desktop).
    static EventRef create(EventType type, EventFlags flags = 0);

    // Nil when the platform cannot copy the event.
    EventRef copy() const;

    EventType type() const { return type_; }
    void setType(EventType type) { type_ = type; }
    EventFlags flags() const { return flags_; }
    void setFlags(EventFlags flags) { flags_ = flags; }
    // Where a mouse event happened, in global coordinates (y up).
    Point location() const { return location_; }
    void setLocation(Point location) { location_ = location; }

    // Fields the event does not carry read as 0.
    std::int64_t integerValueField(EventField field) const {
        auto n = static_cast<std::uint32_t>(field);
        return n < fieldCount ? fields_[n] : 0;
    }
    void setIntegerValueField(EventField field, std::int64_t value) {
        auto n = static_cast<std::uint32_t>(field);
        if (n < fieldCount) fields_[n] = value;
    }

    const std::u16string& unicodeString() const { return unicode_; }
    void keyboardSetUnicodeString(std::u16string_view units);
    // The Unicode string as UTF-8, for tests and the simulated applications.
    std::string unicodeStringUTF8() const;

    // Posts the event into the stream at `location` (through the taps, then to the frontmost
    // application). Returns at once; the event stream delivers in posting order.
    static void post(EventTapLocation location, const EventRef& event);
    // Posts the event to one process (through the session taps, then to that process).
    static void postToPid(pid_t pid, const EventRef& event);

    explicit Event(EventType type) : type_(type) {}

private:
    EventType type_;
    EventFlags flags_ = 0;
    Point location_;
    std::array<std::int64_t, fieldCount> fields_{};
    std::u16string unicode_;
};

// The tap callback: runs on the thread whose run loop holds the tap's source. Returns the
// event (or a replacement) to let it through, or nil to swallow it. For the two
// tap-disabled types the event is an empty event and the result is ignored.
using EventTapCallBack = EventRef (*)(EventType type, const EventRef& event, void* userInfo);

class EventTapRunLoopSource;

// An event tap (the platform's tap port). Created enabled; the system disables it when its
// callback is too slow or on certain user input, after which events bypass it until it is
// enabled again.
class EventTap : public std::enable_shared_from_this<EventTap> {
public:
    // Nil when the process may not tap events (an active tap needs Accessibility trust,
    // a listen-only tap Accessibility or listen-event access) or the platform refuses.
    static std::shared_ptr<EventTap> create(EventTapLocation location, EventTapPlacement placement,
                                            EventTapOptions options, EventMask mask, EventTapCallBack callback,
                                            void* userInfo);

    // Nil when the platform cannot make the source.
    std::shared_ptr<EventTapRunLoopSource> createRunLoopSource();

    void setEnabled(bool enabled);
    bool isEnabled() const;
    // The tap is removed from the stream for good; its callback is not called again once
    // anything running on its run loop's thread has finished.
    void invalidate();
    bool isValid() const;

    struct Record; // the desktop's state of this tap
    explicit EventTap(std::shared_ptr<Record> record) : record_(std::move(record)) {}

private:
    std::shared_ptr<Record> record_;
};

// Attaches a tap to a run loop: the tap's callback runs on that loop's thread.
class EventTapRunLoopSource {
public:
    void addToRunLoop(const std::shared_ptr<RunLoop>& runLoop);
    void removeFromRunLoop();

    explicit EventTapRunLoopSource(std::shared_ptr<EventTap::Record> record) : record_(std::move(record)) {}

private:
    std::shared_ptr<EventTap::Record> record_;
};

// Input Monitoring: whether this process may listen to the session's events.
bool preflightListenEventAccess();
// Asks for listen-event access; answers the current access (the request is recorded).
bool requestListenEventAccess();

} // namespace tarpelix::platform
