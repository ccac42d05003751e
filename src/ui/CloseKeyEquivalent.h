#pragma once

#include "platform/appkit/Events.h"
#include "platform/appkit/Window.h"

namespace tarpelix {

// Whether a key equivalent is the one that closes the Settings and setup windows: W with
// Command alone. Any other device-independent modifier (Shift, Option, Control, Caps Lock, Fn,
// numeric pad, Help) disqualifies it; the device-dependent low bits are ignored.
bool isCloseWindowKeyEquivalent(const platform::KeyEvent& event);

// A window that that key equivalent closes, as its close button would.
class CloseKeyWindow : public platform::Window {
public:
    using platform::Window::Window;
    bool performKeyEquivalent(const platform::KeyEvent& event) override;
};

} // namespace tarpelix
