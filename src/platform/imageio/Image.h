#pragma once

#include "platform/foundation/Bytes.h"

#include <cstddef>

namespace tarpelix::platform {

// A decoded image: rows of pixels from the top, each pixel `components` samples of
// `bitsPerComponent` bits (8 or 16; 16-bit samples in the host's byte order). With alpha,
// the last sample is alpha, not premultiplied. Rows may be padded to `bytesPerRow`.
struct Image {
    std::size_t width = 0;
    std::size_t height = 0;
    int bitsPerComponent = 8;
    int components = 4;
    bool hasAlpha = true;
    std::size_t bytesPerRow = 0;
    Bytes pixels;
};

} // namespace tarpelix::platform
