#include "paste/ClipboardImage.h"

#include "paste/ClipboardImageDimensions.h"
#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/ImageSource.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace tarpelix {

using platform::Pasteboard;
namespace PasteboardType = platform::PasteboardType;

namespace {

const char* const permissionUnavailable =
    "Clipboard permission unavailable — choose Always Allow in System Settings";
const char* const clipboardUnavailable = "Clipboard unavailable — check clipboard permission";
const char* const imageUnavailable = "Clipboard image unavailable — check clipboard permission";
const char* const notOneImage = "Clipboard must contain one valid PNG or TIFF image";
const char* const noDimensions = "Cannot read clipboard image dimensions";
const char* const cannotDecode = "Cannot decode clipboard image";
const char* const cannotCreatePNG = "Cannot create PNG image";
const char* const cannotConvert = "Cannot convert TIFF to PNG";

bool contains(const std::vector<std::string>& types, std::string_view type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// The sink of the PNG encoder: holds at most `limit` bytes, and once a block would pass
// the limit refuses it and every later one.
class BoundedImageOutput {
public:
    explicit BoundedImageOutput(std::int64_t limit) : limit_(std::max<std::int64_t>(limit, 0)) {}

    std::size_t put(const std::uint8_t* bytes, std::size_t count) {
        if (exceeded_) return 0;
        if (static_cast<std::uint64_t>(limit_) - data_.size() >= count) {
            data_.insert(data_.end(), bytes, bytes + count);
            return count;
        }
        exceeded_ = true;
        return 0;
    }

    bool exceeded() const { return exceeded_; }
    platform::Bytes takeData() { return std::move(data_); }

private:
    std::int64_t limit_;
    platform::Bytes data_;
    bool exceeded_ = false;
};

} // namespace

namespace clipboard_image {

std::optional<Dimensions> dimensions(const platform::ImageProperties& properties) {
    auto integer = [&](std::string_view key) -> std::optional<std::int64_t> {
        auto found = properties.find(key);
        if (found == properties.end()) return std::nullopt;
        if (auto* value = std::get_if<std::int64_t>(&found->second)) return *value;
        if (auto* real = std::get_if<double>(&found->second)) {
            // A number stored as a real converts only when it is whole and in range.
            if (std::isfinite(*real) && std::trunc(*real) == *real && std::fabs(*real) < 0x1p62) {
                return static_cast<std::int64_t>(*real);
            }
        }
        return std::nullopt;
    };
    auto width = integer(platform::ImagePropertyPixelWidth);
    auto height = integer(platform::ImagePropertyPixelHeight);
    auto depth = integer(platform::ImagePropertyDepth);
    if (!width || !height || !depth || *width < 1 || *height < 1 || *depth < 1 || *depth > 64) return std::nullopt;
    return Dimensions{*width, *height, *depth};
}

} // namespace clipboard_image

bool ClipboardImage::hasImageCandidate(const Pasteboard& pasteboard) {
    auto types = pasteboard.types().value_or(std::vector<std::string>{});
    if (contains(types, PasteboardType::fileURL)) return false;
    return contains(types, PasteboardType::png) || contains(types, PasteboardType::tiff);
}

bool ClipboardImage::isNativeOnly(const Pasteboard& pasteboard) {
    long start = pasteboard.changeCount();
    auto movedSinceStart = [&] { return pasteboard.changeCount() != start; };
    if (!hasImageCandidate(pasteboard)) {
        if (movedSinceStart()) throw changed;
        return true;
    }
    auto items = pasteboard.pasteboardItems();
    if (!items) {
        if (movedSinceStart()) throw changed;
        return false; // the capture reports the permission problem
    }
    if (movedSinceStart()) throw changed;
    if (items->size() != 1) return true;
    auto types = items->front().types().value_or(std::vector<std::string>{});
    if (movedSinceStart()) throw changed;
    if (contains(types, PasteboardType::fileURL)) return true;
    for (const auto& type : types) {
        if (type == PasteboardType::png || type == PasteboardType::tiff) return false;
    }
    return true;
}

std::optional<ClipboardImage> ClipboardImage::capture(const Pasteboard& pasteboard) {
    long start = pasteboard.changeCount();
    auto types = pasteboard.types().value_or(std::vector<std::string>{});
    auto throwIfChanged = [&] {
        if (pasteboard.changeCount() != start) throw changed;
    };
    throwIfChanged();
    if (contains(types, PasteboardType::fileURL) ||
        (!contains(types, PasteboardType::png) && !contains(types, PasteboardType::tiff))) {
        return std::nullopt;
    }
    using platform::PasteboardAccessBehavior;
    if (pasteboard.accessBehavior() == PasteboardAccessBehavior::alwaysDeny) {
        throw TerminalUnavailable(permissionUnavailable);
    }
    if (pasteboard.name() == platform::PasteboardNameGeneral &&
        pasteboard.accessBehavior() != PasteboardAccessBehavior::alwaysAllow) {
        throw TerminalUnavailable(permissionUnavailable);
    }
    auto items = pasteboard.pasteboardItems();
    if (!items) throw TerminalUnavailable(clipboardUnavailable);
    throwIfChanged();
    if (items->size() != 1) return std::nullopt;
    const auto& item = items->front();
    auto itemTypes = item.types().value_or(std::vector<std::string>{});
    if (contains(itemTypes, PasteboardType::fileURL)) return std::nullopt;
    std::string imageType;
    if (contains(itemTypes, PasteboardType::png)) {
        imageType = PasteboardType::png;
    } else if (contains(itemTypes, PasteboardType::tiff)) {
        imageType = PasteboardType::tiff;
    } else {
        return std::nullopt;
    }
    auto data = item.dataForType(imageType);
    if (!data) {
        throwIfChanged();
        throw TerminalUnavailable(imageUnavailable);
    }
    throwIfChanged();
    if (data->empty()) throw TerminalUnavailable(imageUnavailable);
    throwIfChanged();
    if (static_cast<std::int64_t>(data->size()) > byteLimit) throw tooLarge;
    return ClipboardImage{std::move(*data), std::move(imageType), start};
}

platform::Bytes ClipboardImage::pngData(std::int64_t limit) const {
    if (limit < 1 || static_cast<std::uint64_t>(bytes.size()) > static_cast<std::uint64_t>(limit)) throw tooLarge;
    auto source = platform::ImageSource::create(bytes);
    auto expected = type == PasteboardType::png ? platform::ImageType::png : platform::ImageType::tiff;
    auto sourceType = source ? source->type() : std::nullopt;
    if (!source || source->count() != 1 || !sourceType || *sourceType != expected) {
        throw TerminalUnavailable(notOneImage);
    }
    auto properties = source->propertiesAtIndex(0);
    auto size = properties ? clipboard_image::dimensions(*properties) : std::nullopt;
    if (!size) throw TerminalUnavailable(noDimensions);

    // Four samples of whole bytes per pixel, checked without multiplying.
    std::int64_t bytesPerPixel = 4 * ((size->depth + 7) / 8);
    if (limit / bytesPerPixel / size->height < size->width) throw tooLarge;

    auto image = source->createImageAtIndex(0);
    if (!image) throw TerminalUnavailable(cannotDecode);
    if (image->height < 1 || image->bytesPerRow > static_cast<std::uint64_t>(limit) / image->height) throw tooLarge;
    if (type == PasteboardType::png) return bytes;
    return encodePNG(std::move(image), limit);
}

platform::Bytes ClipboardImage::encodePNG(std::shared_ptr<const platform::Image> image, std::int64_t limit) {
    auto output = std::make_shared<BoundedImageOutput>(limit);
    // The encoder's threads hold no more output between them than the sink will take.
    auto consumer = platform::DataConsumer::create(
        [output](const std::uint8_t* bytes, std::size_t count) { return output->put(bytes, count); },
        static_cast<std::size_t>(std::max<std::int64_t>(limit, 0)));
    if (!consumer) throw TerminalUnavailable(cannotCreatePNG);
    auto destination = platform::ImageDestination::createWithDataConsumer(consumer, platform::ImageType::png, 1);
    if (!destination) throw TerminalUnavailable(cannotCreatePNG);
    destination->addImage(std::move(image));
    bool finalized = destination->finalize();
    if (output->exceeded()) throw tooLarge;
    if (!finalized) throw TerminalUnavailable(cannotConvert);
    return output->takeData();
}

} // namespace tarpelix
