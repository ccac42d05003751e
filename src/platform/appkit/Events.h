#pragma once

#include "platform/desktop/InputEvents.h"
#include "platform/foundation/Geometry.h"

#include <cstdint>
#include <string>

namespace tarpelix::platform {

class Window;

// Key codes of the keys the toolkit itself interprets (the platform's virtual key codes).
namespace KeyCode {
constexpr std::uint16_t returnKey = 36;
constexpr std::uint16_t tab = 48;
constexpr std::uint16_t space = 49;
constexpr std::uint16_t escape = 53;
} // namespace KeyCode

// The modifier flags that do not depend on the device (Caps Lock, Shift, Control, Option,
// Command, numeric pad, Help, Fn); key equivalents compare only these.
constexpr EventFlags deviceIndependentFlagsMask = 0xFFFF0000;

// A key press as the application hands it to windows and views.
struct KeyEvent {
    EventType type = EventType::keyDown;
    std::uint16_t keyCode = 0;
    std::string characters;                  // UTF-8
    std::string charactersIgnoringModifiers; // UTF-8
    EventFlags modifierFlags = 0;            // device-independent flags only
    bool isARepeat = false;
    // The window the event was sent to; its delegate follows it in the key-down chain.
    Window* window = nullptr;

    bool hasModifiers(EventFlags flags) const { return (modifierFlags & flags) == flags; }
};

// A mouse button press or release, with where it happened in its window (y up).
struct MouseEvent {
    EventType type = EventType::leftMouseDown;
    Point locationInWindow;
    EventFlags modifierFlags = 0;
    int clickCount = 1;
    Window* window = nullptr;
};

} // namespace tarpelix::platform
