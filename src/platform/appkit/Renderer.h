#pragma once

#include "platform/appkit/RecordingContext.h"
#include "platform/foundation/Bytes.h"

#include <filesystem>
#include <memory>

namespace tarpelix::platform {

struct Image;

// Replays recordings with cairo (text with pango) into bitmaps and PNG files.
namespace Renderer {

// The recording drawn at `scale` pixels per point: an image of its size times the scale,
// 8-bit RGBA, not premultiplied, transparent where nothing was drawn.
std::shared_ptr<const Image> render(const RecordingContext& recording, double scale = 2);

// The image as a PNG file's bytes; none when it cannot be encoded.
std::optional<Bytes> pngData(const std::shared_ptr<const Image>& image);

// Renders the recording at 2× and replaces `path` with the PNG (0644) in one step; throws
// std::runtime_error or std::system_error when it cannot.
void writePNG(const RecordingContext& recording, const std::filesystem::path& path);

} // namespace Renderer

} // namespace tarpelix::platform
