#pragma once

#include "platform/desktop/Pasteboard.h"
#include "platform/foundation/Bytes.h"
#include "platform/imageio/Image.h"
#include "model/TerminalUnavailable.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// One image captured from the clipboard, and the conversion of it to PNG of bounded size.
// Every failure is a TerminalUnavailable whose reason is shown to the user.
struct ClipboardImage {
    // The data of the chosen type exactly as the pasteboard gave it.
    platform::Bytes bytes;
    // PasteboardType::png or PasteboardType::tiff.
    std::string type;
    // The pasteboard's change count read at the start of the capture.
    long changeCount = 0;

    // A decimal hundred million bytes.
    static constexpr std::int64_t byteLimit = 100'000'000;
    static inline const TerminalUnavailable changed{"Clipboard changed during image capture — paste again"};
    static inline const TerminalUnavailable tooLarge{
        "Image exceeds the 100 MB processing limit — resize it and paste again"};

    // The cheap test when Control+V arrives: whether the clipboard may hold an image.
    // Reads the types once and no data.
    static bool hasImageCandidate(const platform::Pasteboard& pasteboard = platform::Pasteboard::general());

    // True when the clipboard holds nothing this pipeline would upload, so the key press
    // belongs to the ordinary paste. Throws only `changed`.
    static bool isNativeOnly(const platform::Pasteboard& pasteboard);

    // Reads the clipboard's one PNG or TIFF image. None when it holds no image for the
    // pipeline; throws when it should hold one but it cannot be read. Main thread.
    static std::optional<ClipboardImage> capture(const platform::Pasteboard& pasteboard = platform::Pasteboard::general());

    // PNG bytes of at most `byteLimit` bytes: PNG passed through unchanged once it proves to
    // be one readable image within the limit, TIFF re-encoded.
    platform::Bytes pngData(std::int64_t byteLimit) const;

    // Encodes one decoded image as PNG into a sink that refuses to hold more than
    // `byteLimit` bytes.
    static platform::Bytes encodePNG(std::shared_ptr<const platform::Image> image, std::int64_t byteLimit);

    bool operator==(const ClipboardImage&) const = default;
};

} // namespace tarpelix
