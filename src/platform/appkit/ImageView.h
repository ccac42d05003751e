#pragma once

#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/View.h"

#include <memory>
#include <optional>

namespace tarpelix::platform {

// How an image view fits its image into its bounds; the image is always centred.
enum class ImageScaling { scaleProportionallyDown, scaleAxesIndependently, scaleNone, scaleProportionallyUpOrDown };

// Shows an image, scaled as its scaling says; a template image is drawn in the content tint
// (the label colour without one). Read as an image with the image's description unless a
// label is set. Main thread only.
class ImageView final : public View {
public:
    explicit ImageView(const Rect& frame = {});
    static std::shared_ptr<ImageView> withImage(std::optional<GraphicsImage> image);

    const std::optional<GraphicsImage>& image() const { return image_; }
    void setImage(std::optional<GraphicsImage> image);
    ImageScaling imageScaling() const { return scaling_; }
    void setImageScaling(ImageScaling scaling);
    const std::optional<Color>& contentTintColor() const { return contentTintColor_; }
    void setContentTintColor(std::optional<Color> color);

    // Where the image is drawn in the bounds; empty without an image.
    Rect imageRect() const;

    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    std::string accessibilityLabel() const override;

private:
    std::optional<GraphicsImage> image_;
    ImageScaling scaling_ = ImageScaling::scaleProportionallyDown;
    std::optional<Color> contentTintColor_;
};

} // namespace tarpelix::platform
