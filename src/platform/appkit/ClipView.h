#pragma once

#include "platform/appkit/View.h"

#include <memory>

namespace tarpelix::platform {

// A document that sizes itself to what a scroll view shows of it (a text view grows to its
// text, a table to its rows); the scroll view asks it whenever it tiles.
class ScrollableDocument {
public:
    virtual ~ScrollableDocument() = default;
    virtual void fitToVisibleSize(Size visible) = 0;
};

// The part of a scroll view that shows its document: the document view is its only subview,
// and scrolling moves the clip view's bounds origin over it. It is flipped when the document
// is, so a flipped document starts at the top. It fills its bounds with the background colour
// while it draws its background. Main thread only.
class ClipView : public View {
public:
    explicit ClipView(const Rect& frame = {});

    static std::shared_ptr<ClipView> create(const Rect& frame = {}) { return std::make_shared<ClipView>(frame); }

    View* documentView() const { return document_.get(); }
    void setDocumentView(std::shared_ptr<View> document);

    bool drawsBackground() const { return drawsBackground_; }
    void setDrawsBackground(bool draws);
    const Color& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);

    // The part of the document shown, in the document's coordinates.
    Rect documentVisibleRect() const;
    // The nearest bounds origin to `origin` that keeps the view inside the document (or at
    // its top-left corner when the document is smaller).
    Point constrainBoundsOrigin(Point origin) const;
    // Moves the bounds origin there, constrained; the enclosing scroll view does not follow
    // until it reflects the clip view.
    void scroll(Point to);
    // The bounds origin that shows the document's top edge at the view's top edge.
    Point topOrigin() const;

    bool isFlipped() const override;
    bool isOpaque() const override { return drawsBackground_ && backgroundColor_.resolved().alpha >= 1; }
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    std::shared_ptr<View> document_;
    bool drawsBackground_ = true;
    Color backgroundColor_ = Color::controlBackgroundColor();
};

} // namespace tarpelix::platform
