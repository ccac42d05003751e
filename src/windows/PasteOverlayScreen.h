#pragma once

#include "platform/foundation/Geometry.h"

#include <cstdint>

namespace tarpelix {

// One display as the overlay's placement sees it.
struct PasteOverlayScreen {
    // The display number ("NSScreenNumber").
    std::uint32_t id = 0;
    // Global screen coordinates: origin at the primary display's lower-left corner, y up.
    platform::Rect frame;
    // The part of the frame the menu bar and the Dock leave free.
    platform::Rect visibleFrame;

    bool operator==(const PasteOverlayScreen&) const = default;
};

} // namespace tarpelix
