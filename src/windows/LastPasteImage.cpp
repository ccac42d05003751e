#include "windows/LastPasteImage.h"

#include "platform/imageio/ImageSource.h"

namespace tarpelix::LastPasteImage {

std::shared_ptr<const platform::Image> thumbnail(const platform::Bytes& png) {
    auto source = platform::ImageSource::create(png);
    if (!source || source->type() != platform::ImageType::png) return nullptr;
    return source->createThumbnailAtIndex(0, thumbnailPixels);
}

bool isCopyable(const platform::Bytes& png) { return thumbnail(png) != nullptr; }

} // namespace tarpelix::LastPasteImage
