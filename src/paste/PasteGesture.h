#pragma once

#include "platform/desktop/InputEvents.h"
#include "platform/foundation/Clock.h"

#include <cstdint>

namespace tarpelix {

// One held Control+V, handed from the event tap's thread to the main thread.
struct PasteGesture {
    // A copy of the key-down event that was swallowed.
    platform::EventRef event;
    // The terminal the tap was armed for when the key was pressed.
    std::int32_t pid = 0;
    // The tap's generation at that moment; the gesture is current while it is unchanged.
    std::uint64_t generation = 0;
    // The operation deadline taken at the key press.
    platform::MonotonicInstant deadline;
};

} // namespace tarpelix
