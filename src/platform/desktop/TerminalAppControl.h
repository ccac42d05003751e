#pragma once

#include "platform/desktop/SimulatedTerminal.h"

#include <memory>
#include <string>

// The simulated Terminal.app for tests and the demo.
namespace tarpelix::platform::TerminalAppControl {

inline const std::string bundleIdentifier = "com.apple.Terminal";

// Starts it (frontmost unless told otherwise), without windows yet.
inline std::shared_ptr<SimulatedTerminal> launch(bool activate = true) {
    return SimulatedTerminal::launch(SimulatedTerminal::Kind::terminalApp, activate);
}

} // namespace tarpelix::platform::TerminalAppControl
