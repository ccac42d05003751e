#pragma once

#include "platform/foundation/Bytes.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace tarpelix::platform {

// The samples of an image: either in memory, or decoded from the file when first read.
// Copies share one buffer, decoded at most once whichever thread reads first.
class Pixels {
public:
    using Decoder = std::function<std::optional<Bytes>()>;

    Pixels() : Pixels(Bytes{}) {}
    Pixels(Bytes bytes); // NOLINT(google-explicit-constructor): pixels in memory are just bytes
    // Pixels that `decode` gives at the first read; none from it means they do not decode.
    static Pixels decodedOnFirstRead(Decoder decode);

    // The samples, decoding them first when needed; null when they do not decode.
    const Bytes* get() const;

private:
    struct State;
    explicit Pixels(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

// A decoded image: rows of pixels from the top, each pixel `components` samples of
// `bitsPerComponent` bits (8 or 16; 16-bit samples in the host's byte order). With alpha,
// the last sample is alpha, not premultiplied. Rows may be padded to `bytesPerRow`. The
// layout is known at once; the samples may be decoded only when first read.
struct Image {
    std::size_t width = 0;
    std::size_t height = 0;
    int bitsPerComponent = 8;
    int components = 4;
    bool hasAlpha = true;
    std::size_t bytesPerRow = 0;
    Pixels pixels;
};

} // namespace tarpelix::platform
