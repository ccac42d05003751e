#include "platform/imageio/ImageDestination.h"

#include "platform/imageio/ImageCodecs.h"
#include "platform/imageio/ImageSource.h"

namespace tarpelix::platform {

std::shared_ptr<DataConsumer> DataConsumer::create(PutBytes putBytes, std::size_t capacity) {
    if (!putBytes) return nullptr;
    return std::shared_ptr<DataConsumer>(new DataConsumer(std::move(putBytes), capacity));
}

std::size_t DataConsumer::putBytes(const std::uint8_t* bytes, std::size_t count) const noexcept {
    try {
        return putBytes_(bytes, count);
    } catch (...) {
        return 0;
    }
}

std::unique_ptr<ImageDestination> ImageDestination::createWithDataConsumer(std::shared_ptr<DataConsumer> consumer,
                                                                          std::string_view type, std::size_t count) {
    if (!consumer || type != ImageType::png || count != 1) return nullptr;
    return std::unique_ptr<ImageDestination>(new ImageDestination(std::move(consumer), count));
}

void ImageDestination::addImage(std::shared_ptr<const Image> image) { images_.push_back(std::move(image)); }

bool ImageDestination::finalize() {
    if (finalized_) return false;
    finalized_ = true;
    if (images_.size() != count_ || !images_.front()) return false;
    return codecs::png::encode(
        *images_.front(),
        [this](const std::uint8_t* bytes, std::size_t count) { return consumer_->putBytes(bytes, count); },
        consumer_->capacity());
}

} // namespace tarpelix::platform
