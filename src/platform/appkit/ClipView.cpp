#include "platform/appkit/ClipView.h"

#include <algorithm>

namespace tarpelix::platform {

ClipView::ClipView(const Rect& frame) : View(frame) {}

void ClipView::setDocumentView(std::shared_ptr<View> document) {
    if (document == document_) return;
    if (document_) document_->removeFromSuperview();
    document_ = std::move(document);
    if (document_) addSubview(document_);
    setBoundsOrigin(topOrigin());
}

void ClipView::setDrawsBackground(bool draws) {
    drawsBackground_ = draws;
    setNeedsDisplay(true);
}

void ClipView::setBackgroundColor(Color color) {
    backgroundColor_ = std::move(color);
    setNeedsDisplay(true);
}

bool ClipView::isFlipped() const { return document_ && document_->isFlipped(); }

Rect ClipView::documentVisibleRect() const {
    if (!document_) return bounds();
    return document_->convertRect(bounds(), this);
}

Point ClipView::constrainBoundsOrigin(Point origin) const {
    if (!document_) return {0, 0};
    const Rect document = document_->frame();
    const Size size = bounds().size;
    const auto clamp = [](double value, double low, double high) { return std::clamp(value, low, std::max(low, high)); };
    double y;
    if (isFlipped() || document.height() >= size.height) {
        y = clamp(origin.y, document.minY(), document.maxY() - size.height);
    } else {
        // An unflipped document shorter than the view sits at the view's top.
        y = document.maxY() - size.height;
    }
    return {clamp(origin.x, document.minX(), document.maxX() - size.width), y};
}

void ClipView::scroll(Point to) { setBoundsOrigin(constrainBoundsOrigin(to)); }

Point ClipView::topOrigin() const {
    if (!document_) return {0, 0};
    const Rect document = document_->frame();
    const double y = isFlipped() ? document.minY() : document.maxY() - bounds().height();
    return constrainBoundsOrigin({document.minX(), y});
}

void ClipView::draw(GraphicsContext& context, const Rect&) {
    if (drawsBackground_) context.fill(Path::rect(bounds()), backgroundColor_);
}

} // namespace tarpelix::platform
