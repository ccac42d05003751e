#include "platform/imageio/ImageCodecs.h"

#include <algorithm>
#include <cstring>

namespace tarpelix::platform::codecs {

namespace {

template <typename Sample>
void unpremultiplyRows(const Image& image, Bytes& pixels) {
    constexpr std::uint64_t full = static_cast<Sample>(~Sample{0});
    const auto components = static_cast<std::size_t>(image.components);
    for (std::size_t y = 0; y < image.height; ++y) {
        std::uint8_t* row = pixels.data() + y * image.bytesPerRow;
        for (std::size_t x = 0; x < image.width; ++x) {
            Sample pixel[4];
            std::uint8_t* at = row + x * components * sizeof(Sample);
            std::memcpy(pixel, at, components * sizeof(Sample));
            std::uint64_t alpha = pixel[components - 1];
            if (alpha == full) continue;
            for (std::size_t c = 0; c + 1 < components; ++c) {
                pixel[c] = alpha == 0 ? 0 : static_cast<Sample>(std::min(full, (pixel[c] * full + alpha / 2) / alpha));
            }
            std::memcpy(at, pixel, components * sizeof(Sample));
        }
    }
}

} // namespace

void unpremultiply(const Image& image, Bytes& pixels) {
    if (!image.hasAlpha || image.components < 2 || image.components > 4) return;
    if (image.bitsPerComponent == 16) {
        unpremultiplyRows<std::uint16_t>(image, pixels);
    } else if (image.bitsPerComponent == 8) {
        unpremultiplyRows<std::uint8_t>(image, pixels);
    }
}

} // namespace tarpelix::platform::codecs
