#pragma once

#include "platform/imageio/Image.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tarpelix::platform {

// Uniform type identifiers of the image formats read and written here.
namespace ImageType {
inline constexpr std::string_view png = "public.png";
inline constexpr std::string_view tiff = "public.tiff";
} // namespace ImageType

// A property of an image as its file states it.
using ImagePropertyValue = std::variant<std::int64_t, double, std::string>;
using ImageProperties = std::map<std::string, ImagePropertyValue, std::less<>>;

inline constexpr std::string_view ImagePropertyPixelWidth = "PixelWidth";
inline constexpr std::string_view ImagePropertyPixelHeight = "PixelHeight";
// Bits per sample.
inline constexpr std::string_view ImagePropertyDepth = "Depth";

// The images of one PNG or TIFF file held in memory. Nothing is cached: every query reads
// the bytes again, and only an image made by createImageAtIndex holds pixels. Malformed
// input never crashes; it gives no type, no images, no properties or no image.
class ImageSource {
public:
    // A source over `data`, which must outlive it; none for empty data.
    static std::unique_ptr<ImageSource> create(std::span<const std::uint8_t> data);

    // The file's type identifier (ImageType), recognised by its signature; none otherwise.
    std::optional<std::string> type() const;
    // Images in the file: 1 for a PNG, the frame count of an animated PNG, the directories
    // of a TIFF; 0 when the header cannot be read.
    std::size_t count() const;
    // Width, height and depth of one image, read from its header alone.
    std::optional<ImageProperties> propertiesAtIndex(std::size_t index) const;
    // One image, its rows in the order the file stores them (its orientation is not applied);
    // none when it does not decode. A PNG's chunks are checked (structure and
    // the CRCs of the critical ones, nothing inflated) and its pixels decoded when first
    // read, from a copy of the file; a TIFF is decoded at once. The caller bounds the size
    // first (from the properties): reading the pixels allocates the whole buffer.
    std::shared_ptr<const Image> createImageAtIndex(std::size_t index) const;

    // A small copy of one image for display: decoded whole, turned upright by the orientation
    // its file states (a TIFF's Orientation tag, a PNG's eXIf chunk), then scaled down by area
    // averaging so that its longer side is at most `maxPixelSize` pixels; never scaled up.
    // 8-bit RGBA, straight alpha, rows unpadded, pixels in memory. None when it does not
    // decode, when `maxPixelSize` is 0, or when its header states more decoded bytes than
    // thumbnailByteLimit (refused before anything is allocated).
    std::shared_ptr<const Image> createThumbnailAtIndex(std::size_t index, std::size_t maxPixelSize) const;

    // The most decoded bytes a thumbnail is made from, counted from the header as the
    // clipboard counts them (width × height × four samples of the depth in whole bytes).
    static constexpr std::uint64_t thumbnailByteLimit = 100'000'000;

    // Decodes attempted in this process (calls of createImageAtIndex and createThumbnailAtIndex).
    static std::uint64_t decodeAttempts();

private:
    enum class Format { unknown, png, tiff };
    explicit ImageSource(std::span<const std::uint8_t> data);
    std::shared_ptr<const Image> decode(std::size_t index) const;
    std::span<const std::uint8_t> data_;
    Format format_;
};

} // namespace tarpelix::platform
