#include "platform/appkit/Box.h"

#include <algorithm>

namespace tarpelix::platform {

Box::Box(const Rect& frame, BoxType type) : View(frame), type_(type) {}

void Box::setBoxType(BoxType type) {
    type_ = type;
    invalidateIntrinsicContentSize();
    setNeedsDisplay(true);
}

void Box::setFillColor(Color color) {
    fillColor_ = std::move(color);
    setNeedsDisplay(true);
}

void Box::setBorderColor(Color color) {
    borderColor_ = std::move(color);
    setNeedsDisplay(true);
}

void Box::setBorderWidth(double width) {
    borderWidth_ = std::max(0.0, width);
    setNeedsDisplay(true);
}

void Box::setCornerRadius(double radius) {
    cornerRadius_ = std::max(0.0, radius);
    setNeedsDisplay(true);
}

Size Box::intrinsicContentSize() const {
    if (type_ != BoxType::separator) return {noIntrinsicMetric, noIntrinsicMetric};
    return isVertical() ? Size{1, noIntrinsicMetric} : Size{noIntrinsicMetric, 1};
}

void Box::draw(GraphicsContext& context, const Rect&) {
    const Rect b = bounds();
    if (type_ == BoxType::separator) {
        const Rect line = isVertical() ? Rect{b.midX() - 0.5, b.minY(), 1, b.height()}
                                       : Rect{b.minX(), b.midY() - 0.5, b.width(), 1};
        context.fill(Path::rect(line), Color::separatorColor());
        return;
    }
    const double inset = borderWidth_ / 2;
    const double radius = std::max(0.0, cornerRadius_ - inset);
    const Path outline = Path::roundedRect(b.insetBy(inset, inset), radius, radius);
    context.fill(outline, fillColor_);
    if (borderWidth_ <= 0) return;
    context.setLineWidth(borderWidth_);
    context.stroke(outline, borderColor_);
}

} // namespace tarpelix::platform
