#pragma once

#include "platform/appkit/Window.h"

namespace tarpelix::platform {

// A window that floats above the document windows (when asked) and, with the non-activating
// style, never activates the application when shown or clicked.
class Panel : public Window {
public:
    Panel(const Rect& contentRect, WindowStyleMask styleMask) : Window(contentRect, styleMask) {}

    static std::shared_ptr<Panel> create(const Rect& contentRect, WindowStyleMask styleMask) {
        return std::make_shared<Panel>(contentRect, styleMask);
    }

    bool isFloatingPanel() const { return floating_; }
    // A floating panel sits at the floating level; otherwise at the normal one.
    void setFloatingPanel(bool floating);
    bool becomesKeyOnlyIfNeeded() const { return becomesKeyOnlyIfNeeded_; }
    void setBecomesKeyOnlyIfNeeded(bool onlyIfNeeded) { becomesKeyOnlyIfNeeded_ = onlyIfNeeded; }
    bool isNonactivating() const { return (styleMask() & WindowStyle::nonactivatingPanel) != 0; }
    // Panels do not become main.
    bool canBecomeMainWindow() const override { return false; }

private:
    bool floating_ = false;
    bool becomesKeyOnlyIfNeeded_ = false;
};

} // namespace tarpelix::platform
