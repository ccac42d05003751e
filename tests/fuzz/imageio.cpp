// Fuzzes the image source over arbitrary bytes: type, count, header properties, the check of
// a PNG's chunks, decoding of images whose header stays within a small pixel budget, and a
// PNG round trip of what decodes (opaque alpha is left out of the written file).
#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/ImageSource.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <variant>

namespace {

using namespace tarpelix::platform;

// The decoded bytes a header may claim before it is decoded here (as the clipboard bounds
// it: four samples of whole bytes per pixel).
constexpr std::int64_t pixelBudget = 4 << 20;

bool withinBudget(const ImageProperties& properties) {
    auto integer = [&](std::string_view key) -> std::int64_t {
        auto found = properties.find(key);
        if (found == properties.end() || !std::holds_alternative<std::int64_t>(found->second)) return -1;
        return std::get<std::int64_t>(found->second);
    };
    std::int64_t width = integer(ImagePropertyPixelWidth), height = integer(ImagePropertyPixelHeight),
                 depth = integer(ImagePropertyDepth);
    if (width < 1 || height < 1 || depth < 1 || depth > 64) return false;
    return pixelBudget / (4 * ((depth + 7) / 8)) / height >= width;
}

void roundTrip(const std::shared_ptr<const Image>& image) {
    const Bytes* pixels = image->pixels.get();
    if (!pixels) return; // structure good, pixels not
    auto sampleBytes = static_cast<std::size_t>(image->bitsPerComponent / 8);
    auto pixelBytes = static_cast<std::size_t>(image->components) * sampleBytes;
    if (image->width == 0 || image->height == 0 || image->bytesPerRow < image->width * pixelBytes ||
        pixels->size() < image->bytesPerRow * image->height) {
        std::abort();
    }
    Bytes png;
    auto consumer = DataConsumer::create([&](const std::uint8_t* bytes, std::size_t count) -> std::size_t {
        if (png.size() + count > 2 * static_cast<std::size_t>(pixelBudget)) return 0;
        png.insert(png.end(), bytes, bytes + count);
        return count;
    });
    auto destination = ImageDestination::createWithDataConsumer(consumer, ImageType::png, 1);
    destination->addImage(image);
    if (!destination->finalize()) return;
    auto decoded = ImageSource::create(png)->createImageAtIndex(0);
    if (!decoded || !decoded->pixels.get() || decoded->width != image->width) std::abort();
    // Every sample but an alpha that was left out comes back.
    auto kept = static_cast<std::size_t>(decoded->components) * sampleBytes;
    if (kept > pixelBytes || decoded->bitsPerComponent != image->bitsPerComponent) std::abort();
    const Bytes& back = *decoded->pixels.get();
    for (std::size_t y = 0; y < image->height; ++y) {
        for (std::size_t x = 0; x < image->width; ++x) {
            const std::uint8_t* in = pixels->data() + y * image->bytesPerRow + x * pixelBytes;
            const std::uint8_t* out = back.data() + y * decoded->bytesPerRow + x * kept;
            if (!std::equal(in, in + kept, out)) std::abort();
            if (kept < pixelBytes && !std::all_of(in + kept, in + pixelBytes, [](std::uint8_t b) { return b == 0xff; })) {
                std::abort();
            }
        }
    }
}

constexpr std::size_t thumbnailSize = 48;

// A thumbnail exists exactly when the image's pixels decode, and has the image's sides (or
// their swap, when turned), scaled to fit, in packed 8-bit RGBA.
void checkThumbnail(const std::shared_ptr<const Image>& image, const std::shared_ptr<const Image>& thumbnail) {
    bool decodes = image && image->pixels.get();
    if (decodes != static_cast<bool>(thumbnail)) std::abort();
    if (!thumbnail) return;
    std::size_t longest = std::max(image->width, image->height);
    std::size_t expectedLongest = std::min(longest, thumbnailSize);
    const Bytes* pixels = thumbnail->pixels.get();
    if (std::max(thumbnail->width, thumbnail->height) != expectedLongest || thumbnail->width == 0 ||
        thumbnail->height == 0 || thumbnail->components != 4 || thumbnail->bitsPerComponent != 8 ||
        thumbnail->bytesPerRow != thumbnail->width * 4 || !pixels ||
        pixels->size() != thumbnail->bytesPerRow * thumbnail->height) {
        std::abort();
    }
    bool sameSides = thumbnail->width <= image->width && thumbnail->height <= image->height;
    bool swapped = thumbnail->width <= image->height && thumbnail->height <= image->width;
    if (!sameSides && !swapped) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto source = ImageSource::create(std::span<const std::uint8_t>(data, size));
    if (!source) return 0;
    (void)source->type();
    std::size_t count = std::min<std::size_t>(source->count(), 4);
    for (std::size_t index = 0; index < count; ++index) {
        auto properties = source->propertiesAtIndex(index);
        if (!properties || !withinBudget(*properties)) continue;
        auto image = source->createImageAtIndex(index);
        if (image) roundTrip(image);
        checkThumbnail(image, source->createThumbnailAtIndex(index, thumbnailSize));
    }
    return 0;
}
