#include "platform/appkit/ImageView.h"

#include <algorithm>

namespace tarpelix::platform {

ImageView::ImageView(const Rect& frame) : View(frame) {
    setAccessibilityElement(true);
    setAccessibilityRole(AccessibilityRole::image);
}

std::shared_ptr<ImageView> ImageView::withImage(std::optional<GraphicsImage> image) {
    auto view = std::make_shared<ImageView>();
    view->setImage(std::move(image));
    return view;
}

void ImageView::setImage(std::optional<GraphicsImage> image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
    setNeedsDisplay(true);
}

void ImageView::setImageScaling(ImageScaling scaling) {
    scaling_ = scaling;
    setNeedsDisplay(true);
}

void ImageView::setContentTintColor(std::optional<Color> color) {
    contentTintColor_ = std::move(color);
    setNeedsDisplay(true);
}

Rect ImageView::imageRect() const {
    const Rect b = bounds();
    if (!image_ || image_->size().width <= 0 || image_->size().height <= 0) return {};
    Size size = image_->size();
    if (scaling_ == ImageScaling::scaleAxesIndependently) return b;
    if (scaling_ != ImageScaling::scaleNone) {
        double factor = std::min(b.width() / size.width, b.height() / size.height);
        if (scaling_ == ImageScaling::scaleProportionallyDown) factor = std::min(factor, 1.0);
        size = {size.width * factor, size.height * factor};
    }
    return {b.midX() - size.width / 2, b.midY() - size.height / 2, size.width, size.height};
}

Size ImageView::intrinsicContentSize() const {
    if (!image_) return {noIntrinsicMetric, noIntrinsicMetric};
    return image_->size();
}

void ImageView::draw(GraphicsContext& context, const Rect&) {
    if (!image_) return;
    image_->draw(context, imageRect(), contentTintColor_.value_or(Color::labelColor()));
}

std::string ImageView::accessibilityLabel() const {
    if (auto label = View::accessibilityLabel(); !label.empty()) return label;
    if (image_ && image_->accessibilityDescription()) return *image_->accessibilityDescription();
    return {};
}

} // namespace tarpelix::platform
