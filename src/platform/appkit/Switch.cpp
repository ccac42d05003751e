#include "platform/appkit/Switch.h"

#include <algorithm>

namespace tarpelix::platform {

Switch::Switch(const Rect& frame) : Control(frame) { setAccessibilityRole(AccessibilityRole::switchControl); }

void Switch::setState(ControlStateValue state) {
    if (state == state_) return;
    state_ = state;
    setNeedsDisplay(true);
}

void Switch::performClick() {
    if (!isEnabled()) return;
    setState(state_ == ControlStateValue::on ? ControlStateValue::off : ControlStateValue::on);
    sendAction();
}

Size Switch::intrinsicContentSize() const {
    return controlSize() == ControlSize::small ? Size{26, 15} : Size{32, 18};
}

Rect Switch::trackRect() const {
    // The track keeps its proportions, centred in bounds of any size.
    const Size size = intrinsicContentSize();
    const Rect b = bounds();
    const double scale = std::min({1.0, b.width() / size.width, b.height() / size.height});
    const double w = size.width * scale, h = size.height * scale;
    return {b.midX() - w / 2, b.midY() - h / 2, w, h};
}

void Switch::draw(GraphicsContext& context, const Rect&) {
    const Rect track = trackRect();
    const double radius = track.height() / 2;
    const bool on = state_ == ControlStateValue::on;
    context.saveGState();
    if (!isEnabled()) context.setAlpha(0.5);
    const Path shape = Path::roundedRect(track.insetBy(0.5, 0.5), radius - 0.5, radius - 0.5);
    context.fill(shape, on ? Color::controlAccentColor() : Color::systemGray().withAlphaComponent(0.35));
    context.setLineWidth(1);
    context.stroke(shape, on ? Color::controlAccentColor() : ControlColors::border());
    if (isHighlighted()) context.fill(shape, Color::black().withAlphaComponent(0.12));
    const double knob = track.height() - 4;
    const double x = on ? track.maxX() - 2 - knob : track.minX() + 2;
    const Path knobPath = Path::oval({x, track.minY() + 2, knob, knob});
    context.fill(knobPath, Color::whiteColor());
    context.setLineWidth(0.5);
    context.stroke(knobPath, Color::black().withAlphaComponent(0.2));
    context.restoreGState();
}

void Switch::drawFocusRingMask(GraphicsContext& context) const {
    const Rect track = trackRect();
    context.drawFocusRingMask(Path::roundedRect(track, track.height() / 2, track.height() / 2));
}

std::optional<std::string> Switch::accessibilityValue() const {
    if (auto value = View::accessibilityValue()) return value;
    return spokenState(state_);
}

} // namespace tarpelix::platform
