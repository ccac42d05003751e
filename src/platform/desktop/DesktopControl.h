#pragma once

// The control surface of the simulated Mac, for tests and the demo: launch and quit
// applications, move focus, copy data, grant or revoke permissions, press keys, inject
// latency or an error, sleep and wake. Each service declares its own functions in this
// namespace in a header of its own (PasteboardControl.h, ...); this header holds what
// concerns the whole desktop.
namespace tarpelix::platform::DesktopControl {

// Puts the whole simulated desktop back to its initial state.
void reset();

} // namespace tarpelix::platform::DesktopControl
