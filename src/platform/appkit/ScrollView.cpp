#include "platform/appkit/ScrollView.h"

#include <algorithm>

namespace tarpelix::platform {

// MARK: Scroller

Scroller::Scroller(LayoutAxis axis, ScrollerStyle style) : axis_(axis), style_(style) {}

void Scroller::setStyle(ScrollerStyle style) {
    style_ = style;
    setNeedsDisplay(true);
}

void Scroller::set(double proportion, double value) {
    proportion_ = std::clamp(proportion, 0.0, 1.0);
    value_ = std::clamp(value, 0.0, 1.0);
    setNeedsDisplay(true);
}

Rect Scroller::knobRect() const {
    // The knob runs along the track inset 2 points at each end, never shorter than 18 points.
    const bool vertical = axis_ == LayoutAxis::vertical;
    const Rect b = bounds();
    const double track = (vertical ? b.height() : b.width()) - 4;
    const double length = std::min(track, std::max(18.0, track * proportion_));
    const double offset = 2 + (track - length) * value_;
    const double thickness = style_ == ScrollerStyle::overlay ? 7 : 8;
    const double across = ((vertical ? b.width() : b.height()) - thickness) / 2;
    if (vertical) return {b.minX() + across, b.maxY() - offset - length, thickness, length};
    return {b.minX() + offset, b.minY() + across, length, thickness};
}

void Scroller::draw(GraphicsContext& context, const Rect&) {
    if (style_ == ScrollerStyle::legacy) {
        // A track the colour of the content's background with a hairline towards the content.
        const Rect b = bounds();
        context.fill(Path::rect(b), Color::controlBackgroundColor());
        const Rect edge = axis_ == LayoutAxis::vertical ? Rect{b.minX(), b.minY(), 1, b.height()}
                                                        : Rect{b.minX(), b.maxY() - 1, b.width(), 1};
        context.fill(Path::rect(edge), Color::separatorColor());
    }
    const Rect knob = knobRect();
    const double radius = std::min(knob.width(), knob.height()) / 2;
    const double alpha = style_ == ScrollerStyle::overlay ? 0.45 : 0.3;
    context.fill(Path::roundedRect(knob, radius, radius), Color::labelColor().withAlphaComponent(alpha));
}

// MARK: ScrollView

ScrollView::ScrollView(const Rect& frame)
    : View(frame), clip_(ClipView::create()),
      horizontal_(std::make_shared<Scroller>(LayoutAxis::horizontal, ScrollerStyle::overlay)),
      vertical_(std::make_shared<Scroller>(LayoutAxis::vertical, ScrollerStyle::overlay)) {
    addSubview(clip_);
    for (const auto& scroller : {horizontal_, vertical_}) {
        scroller->setHidden(true);
        addSubview(scroller);
    }
}

void ScrollView::setDocumentView(std::shared_ptr<View> document) {
    clip_->setDocumentView(std::move(document));
    tile();
    scrollToTop();
}

void ScrollView::setHasVerticalScroller(bool has) {
    hasScroller_[1] = has;
    tile();
}

void ScrollView::setHasHorizontalScroller(bool has) {
    hasScroller_[0] = has;
    tile();
}

void ScrollView::setAutohidesScrollers(bool autohides) {
    autohides_ = autohides;
    tile();
}

void ScrollView::setScrollerStyle(ScrollerStyle style) {
    style_ = style;
    horizontal_->setStyle(style);
    vertical_->setStyle(style);
    tile();
}

void ScrollView::setBorderType(BorderType type) {
    border_ = type;
    tile();
    setNeedsDisplay(true);
}

Size ScrollView::contentSize() { return tiled().frame().size; }

ClipView& ScrollView::tiled() {
    const View* document = documentView();
    if (frame().size != tiledSize_ || (document && document->frame() != tiledDocument_)) tile();
    return *clip_;
}

void ScrollView::tile() {
    // Keep the place on the document while sizes change: the top stays at the top.
    const Point origin = clip_->bounds().origin;
    const bool wasAtTop = origin == clip_->topOrigin();
    const Rect inner = bounds().insetBy(borderWidth(), borderWidth());
    View* document = documentView();
    auto* sizing = dynamic_cast<ScrollableDocument*>(document);
    const bool legacy = style_ == ScrollerStyle::legacy;
    // Whether each scroller shows depends on the clip's size, which legacy scrollers shrink:
    // settle it in a few rounds (a horizontal scroller can make a vertical one necessary).
    bool shown[2] = {false, false};
    Rect clip = inner;
    for (int round = 0; round < 3; ++round) {
        clip = inner;
        if (legacy && shown[1]) clip.size.width = std::max(0.0, clip.width() - Scroller::legacyWidth);
        if (legacy && shown[0]) {
            clip.size.height = std::max(0.0, clip.height() - Scroller::legacyWidth);
            clip.origin.y += Scroller::legacyWidth;
        }
        if (sizing) sizing->fitToVisibleSize(clip.size);
        const Size documentSize = document ? document->frame().size : Size{};
        const bool larger[2] = {documentSize.width > clip.width() + 0.5, documentSize.height > clip.height() + 0.5};
        bool next[2];
        for (int axis = 0; axis < 2; ++axis) {
            next[axis] = hasScroller_[axis] && (larger[axis] || (legacy && !autohides_));
        }
        if (next[0] == shown[0] && next[1] == shown[1]) break;
        shown[0] = next[0];
        shown[1] = next[1];
    }
    clip_->setFrame(clip);
    clip_->setBoundsOrigin(wasAtTop ? clip_->topOrigin() : clip_->constrainBoundsOrigin(origin));

    const double band = legacy ? Scroller::legacyWidth : Scroller::overlayWidth;
    vertical_->setHidden(!shown[1]);
    horizontal_->setHidden(!shown[0]);
    vertical_->setFrame({inner.maxX() - band, clip.minY(), band, clip.height()});
    const double horizontalWidth = legacy || !shown[1] ? clip.width() : clip.width() - band;
    horizontal_->setFrame({inner.minX(), inner.minY(), horizontalWidth, band});
    tiledSize_ = frame().size;
    tiledDocument_ = document ? document->frame() : Rect{};
    updateScrollers();
}

void ScrollView::updateScrollers() {
    const View* document = documentView();
    if (!document) return;
    const Rect whole = document->frame();
    const Rect visible = clip_->bounds();
    const auto share = [](double shown, double total) { return total > 0 ? std::min(1.0, shown / total) : 1.0; };
    const auto place = [](double scrolled, double range) { return range > 0 ? scrolled / range : 0.0; };
    const double xRange = whole.width() - visible.width();
    horizontal_->set(share(visible.width(), whole.width()), place(visible.minX() - whole.minX(), xRange));
    const double yRange = whole.height() - visible.height();
    // Down from the top: in a flipped clip the origin grows downwards, otherwise upwards.
    const double fromTop = clip_->isFlipped() ? visible.minY() - whole.minY() : whole.maxY() - visible.maxY();
    vertical_->set(share(visible.height(), whole.height()), place(fromTop, yRange));
}

void ScrollView::scroll(Point to) {
    tiled().scroll(to);
    updateScrollers();
}

void ScrollView::scrollToTop() {
    tiled();
    clip_->setBoundsOrigin(clip_->topOrigin());
    updateScrollers();
}

void ScrollView::reflectScrolledClipView(ClipView& clipView) {
    if (&clipView != clip_.get()) return;
    tile();
}

void ScrollView::draw(GraphicsContext& context, const Rect&) {
    tiled();
    if (border_ == BorderType::noBorder) return;
    const Rect outline = bounds().insetBy(0.5, 0.5);
    context.setLineWidth(1);
    context.stroke(Path::rect(outline), Color::separatorColor());
}

ScrollView* enclosingScrollView(const View& view) {
    for (View* ancestor = view.superview(); ancestor; ancestor = ancestor->superview()) {
        if (dynamic_cast<ClipView*>(ancestor)) {
            if (auto* scrollView = dynamic_cast<ScrollView*>(ancestor->superview())) return scrollView;
        }
    }
    return nullptr;
}

} // namespace tarpelix::platform
