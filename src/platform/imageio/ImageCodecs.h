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
std::shared_ptr<const Image> decode(Data data);
// Writes the image as PNG through `write`, which returns how many of the bytes it took;
// taking fewer ends the encoding. False when the image cannot be encoded or a block was
// refused.
bool encode(const Image& image, const std::function<std::size_t(const std::uint8_t*, std::size_t)>& write);
} // namespace png

namespace tiff {
bool hasSignature(Data data);
std::size_t count(Data data);
std::optional<ImageProperties> properties(Data data, std::size_t index);
std::shared_ptr<const Image> decode(Data data, std::size_t index);
} // namespace tiff

// Turns premultiplied colour samples back into straight ones, in place (8- or 16-bit
// samples, alpha last).
void unpremultiply(Image& image);

} // namespace tarpelix::platform::codecs
