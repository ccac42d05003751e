#pragma once

namespace tarpelix::platform {

// The kinds of input access a process may ask the HID system for.
enum class HIDRequestType { postEvent, listenEvent };

// Access to the input devices (Input Monitoring).
namespace HIDAccess {

// Asks for the access and answers whether it is granted now: for listenEvent the same answer
// and the same recorded request as requestListenEventAccess(). Never waits for the user.
// postEvent is granted with Accessibility.
bool requestAccess(HIDRequestType type);

} // namespace HIDAccess

} // namespace tarpelix::platform
