#pragma once

#include "platform/appkit/View.h"

#include <memory>

namespace tarpelix::platform {

enum class VisualEffectMaterial { sidebar, menu, popover, hudWindow, headerView, windowBackground,
                                  underWindowBackground, contentBackground };
enum class VisualEffectBlendingMode { behindWindow, withinWindow };
// Whether the view looks active: as its window (key or main), always, or never.
enum class VisualEffectState { followsWindowActiveState, active, inactive };

// A material behind other views. Nothing is blurred here: each material is our own opaque
// fill per appearance and Increase Contrast, and an inactive one is the window background.
// Main thread only.
class VisualEffectView final : public View {
public:
    explicit VisualEffectView(const Rect& frame = {});
    static std::shared_ptr<VisualEffectView> create(const Rect& frame = {}) {
        return std::make_shared<VisualEffectView>(frame);
    }

    VisualEffectMaterial material() const { return material_; }
    void setMaterial(VisualEffectMaterial material);
    VisualEffectBlendingMode blendingMode() const { return blendingMode_; }
    void setBlendingMode(VisualEffectBlendingMode mode) { blendingMode_ = mode; }
    VisualEffectState state() const { return state_; }
    void setState(VisualEffectState state);

    bool isActive() const;
    // The colour the view fills its bounds with now.
    Color fillColor() const;

    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    VisualEffectMaterial material_ = VisualEffectMaterial::windowBackground;
    VisualEffectBlendingMode blendingMode_ = VisualEffectBlendingMode::behindWindow;
    VisualEffectState state_ = VisualEffectState::followsWindowActiveState;
};

} // namespace tarpelix::platform
