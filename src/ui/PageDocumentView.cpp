#include "ui/PageDocumentView.h"

#include "platform/appkit/ScrollView.h"

namespace tarpelix {

using namespace platform;

void PageDocumentView::fitToVisibleSize(Size visible) { setFrameSize({visible.width, contentHeight(visible.height)}); }

void PageDocumentView::layout() {
    const double height = contentHeight(frame().height());
    if (height == frame().height()) return;
    setFrameSize({frame().width(), height});
    if (auto* scroll = enclosingScrollView(*this)) scroll->reflectScrolledClipView(scroll->contentView());
}

double PageDocumentView::contentHeight(double fallback) const {
    if (subviews().empty()) return fallback;
    return subviews().front()->frame().height() + topInset_ + bottomInset_;
}

} // namespace tarpelix
