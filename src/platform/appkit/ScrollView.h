#pragma once

#include "platform/appkit/ClipView.h"
#include "platform/appkit/View.h"

#include <memory>

namespace tarpelix::platform {

enum class BorderType { noBorder, lineBorder, bezelBorder };

// Legacy scrollers take a band of the scroll view beside the content; overlay scrollers are
// drawn thin over the content and take no space.
enum class ScrollerStyle { legacy, overlay };

// One scroller of a scroll view: a knob whose length is the share of the document shown and
// whose place is how far it is scrolled (0 at the top or leading edge, 1 at the bottom or
// trailing edge). Drawn by its scroll view's tiling; not a control of its own.
class Scroller final : public View {
public:
    Scroller(LayoutAxis axis, ScrollerStyle style);

    // The band a legacy scroller takes beside the content, and the width an overlay one
    // covers over it.
    static constexpr double legacyWidth = 15;
    static constexpr double overlayWidth = 11;

    LayoutAxis axis() const { return axis_; }
    ScrollerStyle style() const { return style_; }
    void setStyle(ScrollerStyle style);
    double knobProportion() const { return proportion_; }
    double doubleValue() const { return value_; }
    void set(double proportion, double value);
    // Where the knob is drawn, in the scroller's coordinates.
    Rect knobRect() const;

    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    LayoutAxis axis_;
    ScrollerStyle style_;
    double proportion_ = 1;
    double value_ = 0;
};

// A view that shows part of a larger document through its clip view, with optional vertical
// and horizontal scrollers. A scroller is shown only while the document is larger than the
// clip view along its axis, except a legacy scroller that does not hide itself, which is
// always shown. A document that is a ScrollableDocument is sized to the clip view whenever
// the scroll view tiles. Main thread only.
class ScrollView : public View {
public:
    explicit ScrollView(const Rect& frame = {});

    static std::shared_ptr<ScrollView> create(const Rect& frame = {}) { return std::make_shared<ScrollView>(frame); }

    ClipView& contentView() const { return *clip_; }
    View* documentView() const { return clip_->documentView(); }
    // Sets the document and shows its top.
    void setDocumentView(std::shared_ptr<View> document);

    bool hasVerticalScroller() const { return hasScroller_[1]; }
    void setHasVerticalScroller(bool has);
    bool hasHorizontalScroller() const { return hasScroller_[0]; }
    void setHasHorizontalScroller(bool has);
    bool autohidesScrollers() const { return autohides_; }
    void setAutohidesScrollers(bool autohides);
    ScrollerStyle scrollerStyle() const { return style_; }
    void setScrollerStyle(ScrollerStyle style);
    // Whether the scroller is on screen now.
    bool isVerticalScrollerShown() const { return !vertical_->isHidden(); }
    bool isHorizontalScrollerShown() const { return !horizontal_->isHidden(); }
    const Scroller& verticalScroller() const { return *vertical_; }
    const Scroller& horizontalScroller() const { return *horizontal_; }

    BorderType borderType() const { return border_; }
    void setBorderType(BorderType type);
    // The clip view's background.
    bool drawsBackground() const { return clip_->drawsBackground(); }
    void setDrawsBackground(bool draws) { clip_->setDrawsBackground(draws); }
    const Color& backgroundColor() const { return clip_->backgroundColor(); }
    void setBackgroundColor(Color color) { clip_->setBackgroundColor(std::move(color)); }

    // The size of the clip view after tiling.
    Size contentSize();
    Rect documentVisibleRect() { return tiled().documentVisibleRect(); }

    // Scrolls the clip view (constrained to the document) and reflects it in the scrollers.
    void scroll(Point to);
    void scrollToTop();
    // Brings the scrollers up to date with the clip view and its document (tiling first).
    void reflectScrolledClipView(ClipView& clipView);
    // Sizes and places the clip view, the document (when it sizes itself) and the scrollers.
    void tile();

    void layout() override { tile(); }
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    ClipView& tiled();
    void updateScrollers();
    double borderWidth() const { return border_ == BorderType::noBorder ? 0 : 1; }

    std::shared_ptr<ClipView> clip_;
    std::shared_ptr<Scroller> horizontal_;
    std::shared_ptr<Scroller> vertical_;
    bool hasScroller_[2] = {false, false}; // horizontal, vertical
    bool autohides_ = false;
    ScrollerStyle style_ = ScrollerStyle::overlay;
    BorderType border_ = BorderType::noBorder;
    // What the last tiling saw, to tile again when the document or the view changed since.
    Rect tiledDocument_;
    Size tiledSize_{-1, -1};
};

// The scroll view whose clip view holds the view as its document; none when there is none.
ScrollView* enclosingScrollView(const View& view);

} // namespace tarpelix::platform
