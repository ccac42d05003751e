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
std::shared_ptr<const Image> decode(Data data, std::size_t index);
} // namespace tiff

// Turns premultiplied colour samples of an image of this layout back into straight ones,
// in place (8- or 16-bit samples, alpha last).
void unpremultiply(const Image& layout, Bytes& pixels);

} // namespace tarpelix::platform::codecs
