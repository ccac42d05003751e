#pragma once

#include "platform/appkit/View.h"
#include "platform/foundation/NotificationCenter.h"

#include <memory>

namespace tarpelix {

// The overlay's pill-shaped background: the control background inside a separator-coloured
// border, faint unless Increase Contrast is on. It redraws when its appearance or the
// accessibility display options change. Main thread only.
class PasteOverlaySurface final : public platform::View {
public:
    // Made through create(), which registers the display-options observer.
    explicit PasteOverlaySurface(const platform::Rect& frame) : View(frame) {}
    ~PasteOverlaySurface() override;

    static std::shared_ptr<PasteOverlaySurface> create(const platform::Rect& frame);

    bool isOpaque() const override { return false; }
    void viewDidChangeEffectiveAppearance() override;
    void draw(platform::GraphicsContext& context, const platform::Rect& dirtyRect) override;

private:
    platform::NotificationObserver accessibilityObserver;
};

} // namespace tarpelix
