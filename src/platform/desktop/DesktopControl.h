#pragma once

// The control surface of the simulated Mac, for tests and the demo: launch and quit
// applications, move focus, copy data, grant or revoke permissions, press keys, inject
// latency or an error, sleep and wake. Each service declares its own functions in this
// namespace in a header of its own (PasteboardControl.h, ...); this header holds what
// concerns the whole desktop.
#include <string>
#include <vector>

namespace tarpelix::platform::DesktopControl {

// Puts the whole simulated desktop back to its initial state.
void reset();

// The set-up steps the system saw since the reset, in order (see Desktop::record).
std::vector<std::string> records();

} // namespace tarpelix::platform::DesktopControl
