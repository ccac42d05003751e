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

const Bytes& screenshotTIFF() {
    static const Bytes file = [] {
        auto bytes = tarpelix::testing::makeTIFF(tarpelix::testing::TiffPage{
            .width = 5120, .height = 2880, .samplesPerPixel = 4, .bitsPerSample = 8, .rowsPerStrip = 16,
            .samples = tarpelix::testing::screenshotSamples(5120, 2880)});
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
