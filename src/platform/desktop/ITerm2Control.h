#pragma once

#include "platform/desktop/SimulatedTerminal.h"

#include <memory>
#include <string>

// The simulated iTerm2 for tests and the demo.
namespace tarpelix::platform::ITerm2Control {

inline const std::string bundleIdentifier = "com.googlecode.iterm2";

// Starts it (frontmost unless told otherwise), without windows yet.
inline std::shared_ptr<SimulatedTerminal> launch(bool activate = true) {
    return SimulatedTerminal::launch(SimulatedTerminal::Kind::iTerm2, activate);
}

} // namespace tarpelix::platform::ITerm2Control
