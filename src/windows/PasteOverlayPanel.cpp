#include "windows/PasteOverlayPanel.h"

namespace tarpelix {

std::shared_ptr<PasteOverlayPanel> PasteOverlayPanel::create(const platform::Rect& contentRect,
                                                             platform::WindowStyleMask styleMask) {
    return std::make_shared<PasteOverlayPanel>(contentRect, styleMask);
}

bool PasteOverlayPanel::canBecomeKeyWindow() const { return false; }

bool PasteOverlayPanel::canBecomeMainWindow() const { return false; }

} // namespace tarpelix
