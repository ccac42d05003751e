#include "platform/imageio/ImageSource.h"

#include "platform/imageio/ImageCodecs.h"

#include <atomic>
#include <variant>

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
    return decode(index);
}

std::shared_ptr<const Image> ImageSource::decode(std::size_t index) const {
    switch (format_) {
    case Format::png: return index == 0 ? codecs::png::decode(data_) : nullptr;
    case Format::tiff: return codecs::tiff::decode(data_, index);
    case Format::unknown: break;
    }
    return nullptr;
}

std::shared_ptr<const Image> ImageSource::createThumbnailAtIndex(std::size_t index, std::size_t maxPixelSize) const {
    attempts.fetch_add(1, std::memory_order_relaxed);
    if (maxPixelSize == 0) return nullptr;
    auto properties = propertiesAtIndex(index);
    if (!properties) return nullptr;
    auto integer = [&](std::string_view key) -> std::int64_t {
        auto found = properties->find(key);
        if (found == properties->end() || !std::holds_alternative<std::int64_t>(found->second)) return -1;
        return std::get<std::int64_t>(found->second);
    };
    std::int64_t width = integer(ImagePropertyPixelWidth), height = integer(ImagePropertyPixelHeight),
                 depth = integer(ImagePropertyDepth);
    if (width < 1 || height < 1 || depth < 1 || depth > 64) return nullptr;
    // As the clipboard counts it: four samples of whole bytes per pixel, checked without
    // multiplying, before anything is decoded.
    constexpr auto limit = static_cast<std::int64_t>(thumbnailByteLimit);
    if (limit / (4 * ((depth + 7) / 8)) / height < width) return nullptr;

    auto orientation = format_ == Format::png ? codecs::png::orientation(data_) : codecs::tiff::orientation(data_, index);
    auto image = decode(index);
    // The decoded layout may still differ from what the header claims; a PNG's pixels are
    // allocated only when read below.
    if (!image || image->height == 0 || image->bytesPerRow > thumbnailByteLimit / image->height) return nullptr;
    const Bytes* pixels = image->pixels.get();
    if (!pixels || pixels->size() / image->bytesPerRow < image->height) return nullptr;
    return codecs::thumbnail(*image, *pixels, orientation, maxPixelSize);
}

std::uint64_t ImageSource::decodeAttempts() { return attempts.load(std::memory_order_relaxed); }

} // namespace tarpelix::platform
