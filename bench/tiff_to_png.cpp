// TIFF to PNG conversion of a clipboard screenshot: a 5120 x 2880 RGBA image with flat
// window backgrounds, text-like detail, a gradient desktop and a noisy photo. Set
// TARPELIX_BENCH_TIFF to a path to also write the TIFF there (bench/tiff_to_png_vs_convert
// compares with ImageMagick on that file). The PNG's size is set beside what plain libpng
// writes for the same pixels at level 6 with its default filters (alpha left out, as every
// pixel is opaque).
#include "paste/ClipboardImage.h"
#include "platform/imageio/ImageSource.h"
#include "support/TestImages.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

using tarpelix::ClipboardImage;
using tarpelix::platform::Bytes;

std::uint32_t hash(std::uint32_t a, std::uint32_t b) {
    std::uint32_t v = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    v ^= v >> 13;
    v *= 0xC2B2AE3Du;
    return v ^ (v >> 16);
}

// One sample of the screenshot.
std::uint32_t screenshot(std::uint32_t x, std::uint32_t y, int c) {
    if (c == 3) return 255;
    if (y < 50) return c == 2 ? 240 : 232; // menu bar
    bool inWindow = x >= 240 && x < 3000 && y >= 160 && y < 2200;
    bool inTerminal = x >= 2600 && x < 4960 && y >= 760 && y < 2760;
    if (inTerminal) {
        if (y < 816) return 60;
        // Coloured monospaced text on a dark background.
        std::uint32_t column = (x - 2600) / 18, line = (y - 816) / 40;
        bool glyphRow = (y - 816) % 40 < 28;
        bool ink = glyphRow && hash(column, line) % 5 != 0 && hash(x / 3, y / 3) % 3 == 0 && column < 40 + line % 60;
        if (!ink) return 30;
        return static_cast<std::uint32_t>(c) == line % 3 ? 220 : 120;
    }
    if (inWindow) {
        if (y < 216) return 236; // title bar
        if (x >= 1800 && y >= 1200) { // a photo in the document
            return 60 + ((x * 3 + y * (c + 1)) % 140) + hash(x, y * 3 + c) % 40;
        }
        std::uint32_t line = (y - 216) / 36;
        bool glyphRow = (y - 216) % 36 < 24;
        bool ink = glyphRow && x >= 320 && x < 320 + (hash(line, 1) % 2200) && hash(x / 7, line) % 6 != 0 &&
                   hash(x / 2, y / 2) % 4 == 0;
        return ink ? 25 : 255;
    }
    // Desktop: a smooth gradient.
    return c == 0 ? 40 + y / 24 : c == 1 ? 80 + x / 40 : 160 + (x + y) / 80;
}

const Bytes& screenshotTIFF() {
    static const Bytes file = [] {
        auto bytes = tarpelix::testing::makeTIFF(tarpelix::testing::TiffPage{
            .width = 5120, .height = 2880, .samplesPerPixel = 4, .bitsPerSample = 8, .rowsPerStrip = 16,
            .samples = screenshot});
        if (const char* path = std::getenv("TARPELIX_BENCH_TIFF")) {
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                        static_cast<std::streamsize>(bytes.size()));
        }
        return bytes;
    }();
    return file;
}

// The size of the PNG libpng writes for the image's pixels at level 6 with its default
// (adaptive) filters; opaque alpha is left out. 8-bit samples only, as in the screenshot.
std::size_t libpngLevel6Size(const tarpelix::platform::Image& image) {
    const Bytes& pixels = *image.pixels.get();
    bool opaque = image.hasAlpha;
    for (std::size_t y = 0; opaque && y < image.height; ++y) {
        for (std::size_t x = 0; opaque && x < image.width; ++x) {
            opaque = pixels[y * image.bytesPerRow + x * image.components + image.components - 1] == 255;
        }
    }
    int components = image.components - (opaque ? 1 : 0);
    std::vector<png_byte> row(image.width * static_cast<std::size_t>(components));
    std::size_t size = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &size, [](png_structp p, png_bytep, std::size_t n) { *static_cast<std::size_t*>(png_get_io_ptr(p)) += n; },
        [](png_structp) {});
    png_set_compression_level(png, 6);
    static constexpr int colorTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                         PNG_COLOR_TYPE_RGB_ALPHA};
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 colorTypes[components - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::size_t y = 0; y < image.height; ++y) {
        const std::uint8_t* in = pixels.data() + y * image.bytesPerRow;
        for (std::size_t x = 0; x < image.width; ++x) {
            std::memcpy(row.data() + x * static_cast<std::size_t>(components), in + x * image.components,
                        static_cast<std::size_t>(components));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return size;
}

// The whole conversion the paste queue runs.
void BM_TiffToPng(benchmark::State& state) {
    ClipboardImage image{screenshotTIFF(), std::string(tarpelix::platform::PasteboardType::tiff), 1};
    std::size_t outputSize = 0;
    for (auto _ : state) {
        auto png = image.pngData(ClipboardImage::byteLimit);
        outputSize = png.size();
        benchmark::DoNotOptimize(png.data());
    }
    state.counters["tiff_MB"] = static_cast<double>(image.bytes.size()) / 1e6;
    state.counters["png_MB"] = static_cast<double>(outputSize) / 1e6;
    static const std::size_t reference =
        libpngLevel6Size(*tarpelix::platform::ImageSource::create(screenshotTIFF())->createImageAtIndex(0));
    state.counters["libpng6_MB"] = static_cast<double>(reference) / 1e6;
    state.counters["size_vs_libpng6"] = static_cast<double>(outputSize) / static_cast<double>(reference);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.bytes.size()));
}
BENCHMARK(BM_TiffToPng)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Its two halves.
void BM_DecodeTiff(benchmark::State& state) {
    auto source = tarpelix::platform::ImageSource::create(screenshotTIFF());
    for (auto _ : state) benchmark::DoNotOptimize(source->createImageAtIndex(0));
}
BENCHMARK(BM_DecodeTiff)->Unit(benchmark::kMillisecond);

void BM_EncodePng(benchmark::State& state) {
    auto decoded = tarpelix::platform::ImageSource::create(screenshotTIFF())->createImageAtIndex(0);
    for (auto _ : state) benchmark::DoNotOptimize(ClipboardImage::encodePNG(decoded, ClipboardImage::byteLimit));
}
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

} // namespace
