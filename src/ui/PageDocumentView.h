#pragma once

#include "platform/appkit/ClipView.h"
#include "platform/appkit/View.h"

namespace tarpelix {

// The document of a page that scrolls: flipped, so the content stacks from the top; as wide as
// the visible area and as tall as its one subview with the insets above and below it (at
// least the visible height until that subview is added).
class PageDocumentView : public platform::View, public platform::ScrollableDocument {
public:
    PageDocumentView(double topInset, double bottomInset) : topInset_(topInset), bottomInset_(bottomInset) {}

    bool isFlipped() const override { return true; }
    void fitToVisibleSize(platform::Size visible) override;
    void layout() override;

private:
    double contentHeight(double fallback) const;

    double topInset_;
    double bottomInset_;
};

} // namespace tarpelix
