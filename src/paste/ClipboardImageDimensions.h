#pragma once

#include "platform/imageio/ImageSource.h"

#include <cstdint>
#include <optional>

namespace tarpelix::clipboard_image {

struct Dimensions {
    std::int64_t width;
    std::int64_t height;
    std::int64_t depth;
};

// Width, height and depth of an image's header properties, each an integer (a whole number
// stored as a real counts); none when one is missing or not an integer, a side is below 1
// or the depth is outside 1 to 64.
std::optional<Dimensions> dimensions(const platform::ImageProperties& properties);

} // namespace tarpelix::clipboard_image
