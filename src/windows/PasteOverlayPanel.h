#pragma once

#include "platform/appkit/Panel.h"

#include <memory>

namespace tarpelix {

// The overlay's panel: it never becomes the key or the main window, so showing it leaves the
// user's focus where it was.
class PasteOverlayPanel final : public platform::Panel {
public:
    PasteOverlayPanel(const platform::Rect& contentRect, platform::WindowStyleMask styleMask)
        : Panel(contentRect, styleMask) {}

    static std::shared_ptr<PasteOverlayPanel> create(const platform::Rect& contentRect,
                                                     platform::WindowStyleMask styleMask);

    bool canBecomeKeyWindow() const override;
    bool canBecomeMainWindow() const override;
};

} // namespace tarpelix
