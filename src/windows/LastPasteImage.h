#pragma once

#include "platform/foundation/Bytes.h"
#include "platform/imageio/Image.h"

#include <cstddef>
#include <memory>

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

// Whether `png` may go on the clipboard as a PNG: the preview's own test.
bool isCopyable(const platform::Bytes& png);

} // namespace LastPasteImage

} // namespace tarpelix
