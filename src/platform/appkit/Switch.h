#pragma once

#include "platform/appkit/Control.h"

namespace tarpelix::platform {

// An on/off switch: a track that fills with the accent colour when on, and a knob at the end
// of its state. A click or Space flips it and sends the action. Read as a switch with its
// state. Main thread only.
class Switch final : public Control {
public:
    explicit Switch(const Rect& frame = {});
    static std::shared_ptr<Switch> create() { return std::make_shared<Switch>(); }

    ControlStateValue state() const { return state_; }
    void setState(ControlStateValue state);

    void performClick() override;

    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    Rect focusRingMaskBounds() const override { return trackRect(); }
    void drawFocusRingMask(GraphicsContext& context) const override;
    std::optional<std::string> accessibilityValue() const override;

private:
    Rect trackRect() const;
    ControlStateValue state_ = ControlStateValue::off;
};

} // namespace tarpelix::platform
