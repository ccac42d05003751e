#pragma once

// The PNG and TIFF codecs behind ImageSource and ImageDestination; internal to imageio.

#include "platform/imageio/Image.h"
#include "platform/imageio/ImageSource.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace tarpelix::platform::codecs {

using Data = std::span<const std::uint8_t>;

namespace png {
bool hasSignature(Data data);
std::size_t count(Data data);
std::optional<ImageProperties> properties(Data data);
// The image of a file whose chunks are well formed (checked without inflating anything), its
// layout read from the header; the pixels are decoded from a copy of the file when first
// read. None when the structure or header is bad.
std::shared_ptr<const Image> decode(Data data);
// The EXIF orientation (1 to 8) of an eXIf chunk before the image data; 1 without one.
std::uint16_t orientation(Data data);

using Writer = std::function<std::size_t(const std::uint8_t*, std::size_t)>;
// Writes the image as PNG through `write`, which returns how many of the bytes it took;
// taking fewer ends the encoding. Alpha that is opaque everywhere is left out. The pixel
// data is compressed in pieces on several threads, which hold at most `capacity` bytes of
// output between them (the most the writer will take). False when the image cannot be
// encoded or a block was refused.
bool encode(const Image& image, const Writer& write, std::size_t capacity);
} // namespace png

namespace tiff {
bool hasSignature(Data data);
std::size_t count(Data data);
std::optional<ImageProperties> properties(Data data, std::size_t index);
// The image's rows in the order the file stores them, whatever its orientation.
std::shared_ptr<const Image> decode(Data data, std::size_t index);
// The Orientation tag of one directory (1 to 8); 1 when absent or out of range.
std::uint16_t orientation(Data data, std::size_t index);
} // namespace tiff

// The Orientation entry (1 to 8) of the first directory of EXIF data (a TIFF header and
// directory, as an eXIf chunk holds it); 1 when there is none or the data is malformed.
std::uint16_t exifOrientation(Data exif);

// The image, whose samples are `pixels`, turned upright by an EXIF `orientation` (1 to 8)
// and scaled down by area averaging so that its longer side is at most `maxPixelSize`:
// 8-bit RGBA with straight alpha, rows unpadded. None when the output cannot be allocated.
std::shared_ptr<const Image> thumbnail(const Image& image, const Bytes& pixels, std::uint16_t orientation,
                                       std::size_t maxPixelSize);

// Turns premultiplied colour samples of an image of this layout back into straight ones,
// in place (8- or 16-bit samples, alpha last).
void unpremultiply(const Image& layout, Bytes& pixels);

} // namespace tarpelix::platform::codecs
