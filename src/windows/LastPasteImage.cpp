#include "windows/LastPasteImage.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/imageio/ImageSource.h"

namespace tarpelix::LastPasteImage {

std::shared_ptr<const platform::Image> thumbnail(const platform::Bytes& png) {
    auto source = platform::ImageSource::create(png);
    if (!source || source->type() != platform::ImageType::png) return nullptr;
    return source->createThumbnailAtIndex(0, thumbnailPixels);
}

void check(std::optional<platform::Bytes> png, std::function<void(Checked)> completion) {
    platform::DispatchQueue::global()->async([png = std::move(png), completion = std::move(completion)]() mutable {
        if (!png || png->empty()) return completion({});
        if (!thumbnail(*png)) return completion({.png = std::nullopt, .refused = true});
        completion({.png = std::move(png)});
    });
}

} // namespace tarpelix::LastPasteImage
