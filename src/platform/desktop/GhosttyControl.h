#pragma once

#include "platform/desktop/SimulatedTerminal.h"

#include <memory>
#include <string>

// The simulated Ghostty for tests and the demo.
namespace tarpelix::platform::GhosttyControl {

inline const std::string bundleIdentifier = "com.mitchellh.ghostty";

// Starts it (frontmost unless told otherwise), without windows yet.
inline std::shared_ptr<SimulatedTerminal> launch(bool activate = true) {
    return SimulatedTerminal::launch(SimulatedTerminal::Kind::ghostty, activate);
}

} // namespace tarpelix::platform::GhosttyControl
