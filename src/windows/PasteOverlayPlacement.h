#pragma once

#include "platform/foundation/Geometry.h"
#include "windows/PasteOverlayScreen.h"

#include <optional>
#include <vector>

namespace tarpelix {

// Where the paste overlay goes: the display holding most of the terminal window, at the bottom
// centre of its usable area. Pure geometry. A rectangle takes part only when its origin, size
// and far edges are finite and its width and height positive; anything else gives none.
class PasteOverlayPlacement {
public:
    PasteOverlayPlacement() = delete;

    // The display for a window frame in Accessibility coordinates (origin at the top-left of the
    // primary display, y down), converted against `primaryFrame`. The display sharing the
    // largest area with it wins, the lower number on a tie; a display whose own frame is not
    // usable is never chosen. None when no display overlaps the window.
    static std::optional<PasteOverlayScreen> screen(const platform::Rect& accessibilityFrame,
                                                    const std::vector<PasteOverlayScreen>& screens,
                                                    const platform::Rect& primaryFrame);

    // The overlay's frame on the display: centred on the bottom edge of the usable area (visible
    // frame within the frame) inset by up to 12 points sideways and 24 points vertically, and
    // shrunk to fit that area but never larger than `size`.
    static std::optional<platform::Rect> frame(const PasteOverlayScreen& screen, platform::Size size);
};

} // namespace tarpelix
