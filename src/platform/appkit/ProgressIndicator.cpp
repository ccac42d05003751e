#include "platform/appkit/ProgressIndicator.h"

#include "platform/appkit/Layer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarpelix::platform {

ProgressIndicator::ProgressIndicator(const Rect& frame) : View(frame) {
    setWantsLayer(true);
    setAccessibilityElement(true);
    setAccessibilityRole(AccessibilityRole::progressIndicator);
}

void ProgressIndicator::setControlSize(ControlSize size) {
    controlSize_ = size;
    invalidateIntrinsicContentSize();
    setNeedsDisplay(true);
}

void ProgressIndicator::setDisplayedWhenStopped(bool displayed) {
    displayedWhenStopped_ = displayed;
    setNeedsDisplay(true);
}

void ProgressIndicator::startAnimation() {
    if (animating_) return;
    animating_ = true;
    // One turn a second, clockwise, for as long as it runs.
    layer()->addAnimation({.keyPath = "transform.rotation.z",
                           .fromValue = 0.0,
                           .toValue = -2 * std::numbers::pi,
                           .duration = 1,
                           .repeatCount = BasicAnimation::repeatForever},
                          animationKey);
    setNeedsDisplay(true);
}

void ProgressIndicator::stopAnimation() {
    if (!animating_) return;
    animating_ = false;
    layer()->removeAnimation(animationKey);
    setNeedsDisplay(true);
}

Size ProgressIndicator::intrinsicContentSize() const {
    const double side = controlSize_ == ControlSize::small ? 16 : 32;
    return {side, side};
}

void ProgressIndicator::draw(GraphicsContext& context, const Rect&) {
    if (!animating_ && !displayedWhenStopped_) return;
    const Rect b = bounds();
    const double radius = std::min(b.width(), b.height()) / 2;
    const Point centre{b.midX(), b.midY()};
    constexpr int spokes = 12;
    context.saveGState();
    context.setLineWidth(std::max(1.0, radius * 0.18));
    context.setLineCap(LineCap::round);
    for (int i = 0; i < spokes; ++i) {
        // The leading spoke at twelve o'clock is the darkest; the ones behind it fade.
        const double angle = std::numbers::pi / 2 + 2 * std::numbers::pi * i / spokes;
        const Point inner{centre.x + std::cos(angle) * radius * 0.45, centre.y + std::sin(angle) * radius * 0.45};
        const Point outer{centre.x + std::cos(angle) * radius * 0.9, centre.y + std::sin(angle) * radius * 0.9};
        const double alpha = 0.85 - 0.6 * double(i) / spokes;
        context.stroke(Path::line(inner, outer), Color::labelColor().withAlphaComponent(alpha));
    }
    context.restoreGState();
}

} // namespace tarpelix::platform
