#pragma once

#include "platform/foundation/Bytes.h"
#include "platform/imageio/Image.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace tarpelix {

// What the Last Paste Status preview and both copy-last-image actions accept of a retained
// image: PNG bytes, by their signature, whose first image decodes to a thumbnail within the
// thumbnail bound. A truncated or damaged file, another format (a TIFF included) or a PNG
// declaring more pixels than the bound is neither previewed nor put on the clipboard.
namespace LastPasteImage {

// The longest side of a preview thumbnail, in pixels.
inline constexpr std::size_t thumbnailPixels = 320;

// The preview of `png`, at most thumbnailPixels on its longer side; none when it is refused.
// Decodes the whole image: call it off the main thread where the caller can.
std::shared_ptr<const platform::Image> thumbnail(const platform::Bytes& png);

// Bytes read for a copy, after the check.
struct Checked {
    // The bytes, when they may go on the clipboard as a PNG.
    std::optional<platform::Bytes> png;
    // Bytes were read but the preview's own test refuses them.
    bool refused = false;
};

// Checks bytes read for a copy with the preview's own test, on a global queue (a 5120 × 2880
// screenshot takes a quarter of a second to decode), and answers there. Empty bytes, or none,
// are neither copyable nor refused.
void check(std::optional<platform::Bytes> png, std::function<void(Checked)> completion);

} // namespace LastPasteImage

} // namespace tarpelix
