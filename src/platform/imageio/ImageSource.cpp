#include "platform/imageio/ImageSource.h"

#include "platform/imageio/ImageCodecs.h"

#include <atomic>

namespace tarpelix::platform {

namespace {
std::atomic<std::uint64_t> attempts{0};
}

std::unique_ptr<ImageSource> ImageSource::create(std::span<const std::uint8_t> data) {
    if (data.empty()) return nullptr;
    return std::unique_ptr<ImageSource>(new ImageSource(data));
}

ImageSource::ImageSource(std::span<const std::uint8_t> data)
    : data_(data),
      format_(codecs::png::hasSignature(data)    ? Format::png
              : codecs::tiff::hasSignature(data) ? Format::tiff
                                                 : Format::unknown) {}

std::optional<std::string> ImageSource::type() const {
    switch (format_) {
    case Format::png: return std::string(ImageType::png);
    case Format::tiff: return std::string(ImageType::tiff);
    case Format::unknown: break;
    }
    return std::nullopt;
}

std::size_t ImageSource::count() const {
    switch (format_) {
    case Format::png: return codecs::png::count(data_);
    case Format::tiff: return codecs::tiff::count(data_);
    case Format::unknown: break;
    }
    return 0;
}

std::optional<ImageProperties> ImageSource::propertiesAtIndex(std::size_t index) const {
    switch (format_) {
    case Format::png: return index == 0 ? codecs::png::properties(data_) : std::nullopt;
    case Format::tiff: return codecs::tiff::properties(data_, index);
    case Format::unknown: break;
    }
    return std::nullopt;
}

std::shared_ptr<const Image> ImageSource::createImageAtIndex(std::size_t index) const {
    attempts.fetch_add(1, std::memory_order_relaxed);
    switch (format_) {
    case Format::png: return index == 0 ? codecs::png::decode(data_) : nullptr;
    case Format::tiff: return codecs::tiff::decode(data_, index);
    case Format::unknown: break;
    }
    return nullptr;
}

std::uint64_t ImageSource::decodeAttempts() { return attempts.load(std::memory_order_relaxed); }

} // namespace tarpelix::platform
