#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/ImageSource.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

// The largest single allocation through operator new since the last reset, so that a test
// can show that a refused image was never allocated.
namespace {
std::atomic<std::size_t> largestAllocation{0};
}

// All out of line, so that the compiler does not pair malloc and free with new and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
    for (std::size_t seen = largestAllocation.load(); size > seen && !largestAllocation.compare_exchange_weak(seen, size);) {
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace tarpelix::platform {
namespace {

using testing::gradientSamples;
using testing::makePNG;
using testing::makeTIFF;
using testing::PngSpec;
using testing::SampleFunction;
using testing::TiffPage;

std::int64_t integerProperty(const ImageProperties& properties, std::string_view key) {
    auto found = properties.find(key);
    if (found == properties.end() || !std::holds_alternative<std::int64_t>(found->second)) return -1;
    return std::get<std::int64_t>(found->second);
}

// The image's samples, decoded when needed; empty when they do not decode.
const Bytes& samplesOf(const Image& image) {
    static const Bytes none;
    const Bytes* pixels = image.pixels.get();
    return pixels ? *pixels : none;
}

std::uint32_t sampleAt(const Image& image, std::size_t x, std::size_t y, int c) {
    const std::uint8_t* at = samplesOf(image).data() + y * image.bytesPerRow +
                             (x * image.components + c) * (image.bitsPerComponent / 8);
    if (image.bitsPerComponent == 16) {
        std::uint16_t value;
        std::memcpy(&value, at, 2);
        return value;
    }
    return *at;
}

// Every sample of the decoded image equals the generator's.
void expectSamples(const Image& image, const SampleFunction& samples, int components) {
    for (std::size_t y = 0; y < image.height; ++y) {
        for (std::size_t x = 0; x < image.width; ++x) {
            for (int c = 0; c < components; ++c) {
                ASSERT_EQ(sampleAt(image, x, y, c), samples(x, y, c)) << "at " << x << "," << y << " channel " << c;
            }
        }
    }
}

// The file holds one image of these dimensions, which decodes to samples of this layout,
// packed rows of straight samples; gives the decoded image (none on a failure).
std::shared_ptr<const Image> decodeOne(const Bytes& file, std::size_t width, std::size_t height, int depth,
                                       int components, int bits) {
    auto source = ImageSource::create(file);
    EXPECT_EQ(source->count(), 1u);
    auto properties = source->propertiesAtIndex(0);
    EXPECT_TRUE(properties);
    if (properties) {
        EXPECT_EQ(integerProperty(*properties, ImagePropertyPixelWidth), static_cast<std::int64_t>(width));
        EXPECT_EQ(integerProperty(*properties, ImagePropertyPixelHeight), static_cast<std::int64_t>(height));
        EXPECT_EQ(integerProperty(*properties, ImagePropertyDepth), depth);
    }
    auto image = source->createImageAtIndex(0);
    EXPECT_TRUE(image);
    if (!image) return nullptr;
    EXPECT_EQ(image->width, width);
    EXPECT_EQ(image->height, height);
    EXPECT_EQ(image->components, components);
    EXPECT_EQ(image->bitsPerComponent, bits);
    EXPECT_EQ(image->hasAlpha, components % 2 == 0);
    EXPECT_EQ(image->bytesPerRow, width * static_cast<std::size_t>(components * bits / 8));
    EXPECT_EQ(samplesOf(*image).size(), image->bytesPerRow * height);
    return image;
}

struct PngCase {
    const char* name;
    int colorType;
    int bitDepth;
    bool interlaced;
    int decodedComponents;
    int decodedBits;
    int transparentEntries = 0;
    friend void PrintTo(const PngCase& c, std::ostream* os) { *os << c.name; }
};

class PngDecoding : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngDecoding, HeaderAndPixelsMatchTheFile) {
    const auto& param = GetParam();
    auto file = makePNG(PngSpec{.width = 13, .height = 7, .colorType = param.colorType, .bitDepth = param.bitDepth,
                                .interlaced = param.interlaced, .transparentEntries = param.transparentEntries});
    EXPECT_EQ(ImageSource::create(file)->type(), std::string(ImageType::png));
    EXPECT_FALSE(ImageSource::create(file)->propertiesAtIndex(1));
    auto image = decodeOne(file, 13, 7, param.bitDepth, param.decodedComponents, param.decodedBits);
    ASSERT_TRUE(image);
    if (param.colorType != PNG_COLOR_TYPE_PALETTE && param.bitDepth >= 8) {
        expectSamples(*image, gradientSamples(param.bitDepth), param.decodedComponents);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PngDecoding,
    ::testing::Values(PngCase{"gray1", PNG_COLOR_TYPE_GRAY, 1, false, 1, 8},
                      PngCase{"gray8", PNG_COLOR_TYPE_GRAY, 8, false, 1, 8},
                      PngCase{"gray16", PNG_COLOR_TYPE_GRAY, 16, false, 1, 16},
                      PngCase{"grayAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 2, 8},
                      PngCase{"palette4", PNG_COLOR_TYPE_PALETTE, 4, false, 3, 8},
                      PngCase{"palette8Transparent", PNG_COLOR_TYPE_PALETTE, 8, false, 4, 8, 4},
                      PngCase{"rgb8", PNG_COLOR_TYPE_RGB, 8, false, 3, 8},
                      PngCase{"rgb16", PNG_COLOR_TYPE_RGB, 16, false, 3, 16},
                      PngCase{"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 4, 8},
                      PngCase{"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 4, 16},
                      PngCase{"rgba8Interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, 4, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PngSource, CountsTheFramesOfAnAnimation) {
    EXPECT_EQ(ImageSource::create(makePNG(PngSpec{.animationFrames = 3}))->count(), 3u);
    EXPECT_EQ(ImageSource::create(makePNG(PngSpec{.animationFrames = 1}))->count(), 1u);
}

TEST(PngSource, ReadsTheBytesAgainOnEveryQuery) {
    auto file = makePNG(PngSpec{.width = 5});
    auto source = ImageSource::create(file);
    ASSERT_EQ(integerProperty(*source->propertiesAtIndex(0), ImagePropertyPixelWidth), 5);
    file[16 + 3] = 9; // the low byte of the header's width
    EXPECT_EQ(integerProperty(*source->propertiesAtIndex(0), ImagePropertyPixelWidth), 9);
}

TEST(ImageSourceType, RecognisesFilesBySignatureOnly) {
    auto text = bytesOf("not an image at all");
    EXPECT_FALSE(ImageSource::create(text)->type());
    EXPECT_EQ(ImageSource::create(text)->count(), 0u);
    auto bigEndianHeader = Bytes{'M', 'M', 0, 42, 0, 0, 0, 8}; // a TIFF header pointing at no directory
    EXPECT_EQ(ImageSource::create(bigEndianHeader)->type(), std::string(ImageType::tiff));
    EXPECT_EQ(ImageSource::create(bigEndianHeader)->count(), 0u);
}

struct TiffCase {
    const char* name;
    TiffPage page;
    int decodedComponents;
    int decodedBits;
    bool exactSamples; // decoded samples equal the written ones
    friend void PrintTo(const TiffCase& c, std::ostream* os) { *os << c.name; }
};

class TiffDecoding : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffDecoding, HeaderAndPixelsMatchTheFile) {
    const auto& param = GetParam();
    auto page = param.page;
    page.width = 21;
    page.height = 9;
    auto image = decodeOne(makeTIFF(page), 21, 9, page.bitsPerSample, param.decodedComponents, param.decodedBits);
    ASSERT_TRUE(image);
    auto written = page.samples ? page.samples : gradientSamples(page.bitsPerSample);
    if (param.exactSamples) expectSamples(*image, written, param.decodedComponents);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffDecoding,
    ::testing::Values(
        TiffCase{"rgba8", TiffPage{}, 4, 8, true},
        TiffCase{"rgb8Deflate", TiffPage{.samplesPerPixel = 3, .compression = COMPRESSION_ADOBE_DEFLATE}, 3, 8, true},
        TiffCase{"rgb16Lzw", TiffPage{.samplesPerPixel = 3, .bitsPerSample = 16, .compression = COMPRESSION_LZW}, 3,
                 16, true},
        TiffCase{"rgba16", TiffPage{.bitsPerSample = 16}, 4, 16, true},
        TiffCase{"gray8", TiffPage{.samplesPerPixel = 1, .photometric = PHOTOMETRIC_MINISBLACK}, 1, 8, true},
        TiffCase{"grayAlpha8", TiffPage{.samplesPerPixel = 2, .photometric = PHOTOMETRIC_MINISBLACK}, 2, 8, true},
        TiffCase{"tiledRgbOpaque", TiffPage{.samplesPerPixel = 3, .tileSize = 16}, 3, 8, true},
        TiffCase{"palette4", TiffPage{.samplesPerPixel = 1, .bitsPerSample = 4, .photometric = PHOTOMETRIC_PALETTE},
                 3, 8, false},
        TiffCase{"bilevel", TiffPage{.samplesPerPixel = 1, .bitsPerSample = 1, .photometric = PHOTOMETRIC_MINISWHITE},
                 3, 8, false},
        TiffCase{"cmyk", TiffPage{.photometric = PHOTOMETRIC_SEPARATED, .extraSample = std::nullopt}, 3, 8, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TiffSource, PremultipliedAlphaIsMadeStraight) {
    // Colour 100 premultiplied by alpha 128 is stored as 50.
    auto samples = [](std::uint32_t, std::uint32_t, int c) -> std::uint32_t { return c == 3 ? 128 : 50; };
    for (auto tiled : {false, true}) {
        TiffPage page{.extraSample = EXTRASAMPLE_ASSOCALPHA, .samples = samples};
        if (tiled) page.tileSize = 16;
        auto image = ImageSource::create(makeTIFF(page))->createImageAtIndex(0);
        ASSERT_TRUE(image);
        EXPECT_EQ(sampleAt(*image, 1, 1, 0), 100u) << (tiled ? "tiled" : "strips");
        EXPECT_EQ(sampleAt(*image, 1, 1, 3), 128u);
    }
}

TEST(TiffSource, EveryPageIsAnImage) {
    auto file = makeTIFF({TiffPage{.width = 3, .height = 2}, TiffPage{.width = 8, .height = 5, .bitsPerSample = 16}});
    auto source = ImageSource::create(file);
    EXPECT_EQ(source->count(), 2u);
    auto second = source->propertiesAtIndex(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(integerProperty(*second, ImagePropertyPixelWidth), 8);
    EXPECT_EQ(integerProperty(*second, ImagePropertyDepth), 16);
    auto image = source->createImageAtIndex(1);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 5u);
    EXPECT_FALSE(source->propertiesAtIndex(2));
    EXPECT_FALSE(source->createImageAtIndex(2));
}

TEST(ImageSourceDecoding, TruncatedOrCorruptFilesNeverDecode) {
    struct Case {
        const char* name;
        Bytes file;
        std::size_t tail; // bytes at the end whose loss is not noticed
    };
    Case cases[] = {
        {"PNG", makePNG(PngSpec{.width = 40, .height = 30, .samples = testing::noiseSamples(8)}), 0},
        // libtiff writes the pixels first and the directory last.
        {"TIFF", makeTIFF(TiffPage{.width = 30, .height = 20, .compression = COMPRESSION_ADOBE_DEFLATE,
                                   .samples = testing::noiseSamples(8)}), 0},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 1; cut + c.tail < c.file.size(); cut += 7) {
            Bytes prefix(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_FALSE(ImageSource::create(prefix)->createImageAtIndex(0)) << c.name << " cut at " << cut;
        }
        auto corrupt = c.file;
        for (std::size_t i = 60; i < 160; ++i) corrupt[i] ^= 0xA5; // inside the compressed pixels
        EXPECT_FALSE(ImageSource::create(corrupt)->createImageAtIndex(0)) << c.name;
    }
}

// A PNG file as its chunks (each whole: length, type, data, CRC), after the signature.
std::vector<Bytes> chunksOf(const Bytes& file) {
    std::vector<Bytes> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        std::size_t length = (std::size_t{file[at]} << 24) | (std::size_t{file[at + 1]} << 16) |
                             (std::size_t{file[at + 2]} << 8) | file[at + 3];
        chunks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                            file.begin() + static_cast<std::ptrdiff_t>(at + length + 12));
        at += length + 12;
    }
    return chunks;
}

Bytes fileOf(const std::vector<Bytes>& chunks) {
    Bytes file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const auto& chunk : chunks) file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

std::string typeOf(const Bytes& chunk) { return std::string(chunk.begin() + 4, chunk.begin() + 8); }

Bytes chunk(std::string_view type, std::string_view data) {
    std::string body{'\0', '\0', '\0', static_cast<char>(data.size())};
    body.append(type).append(data);
    Bytes out(body.begin(), body.end());
    auto crc = crc32(0, out.data() + 4, static_cast<uInt>(out.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(crc >> shift));
    return out;
}

std::size_t indexOf(const std::vector<Bytes>& chunks, std::string_view type) {
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (typeOf(chunks[i]) == type) return i;
    }
    ADD_FAILURE() << "no " << type << " chunk";
    return 0;
}

TEST(PngStructure, IsCheckedWithoutDecodingAndThePixelsDecodeWhenRead) {
    using namespace std::literals;
    // Several data chunks of noise, and a palette image with its palette.
    const auto rgba = chunksOf(makePNG(PngSpec{.width = 120, .height = 90, .samples = testing::noiseSamples(8)}));
    const auto palette = chunksOf(makePNG(PngSpec{.width = 9, .height = 5, .colorType = PNG_COLOR_TYPE_PALETTE}));
    ASSERT_GE(std::count_if(rgba.begin(), rgba.end(), [](const Bytes& c) { return typeOf(c) == "IDAT"; }), 2);
    auto edited = [](std::vector<Bytes> chunks, const std::function<void(std::vector<Bytes>&)>& edit) {
        edit(chunks);
        return fileOf(chunks);
    };
    auto flipCrcOf = [&](std::string_view type) {
        return [type](std::vector<Bytes>& c) { c[indexOf(c, type)].back() ^= 1; };
    };
    const std::size_t firstData = indexOf(rgba, "IDAT");
    struct Case {
        const char* name;
        Bytes file;
        bool accepted;
    };
    Case cases[] = {
        {"whole", fileOf(rgba), true},
        {"bad signature", [&] { auto f = fileOf(rgba); f[1] = 'Q'; return f; }(), false},
        {"header CRC", edited(rgba, flipCrcOf("IHDR")), false},
        {"data CRC", edited(rgba, flipCrcOf("IDAT")), false},
        {"end CRC", edited(rgba, flipCrcOf("IEND")), false},
        {"palette CRC", edited(palette, flipCrcOf("PLTE")), false},
        {"no end chunk", edited(rgba, [](auto& c) { c.pop_back(); }), false},
        {"cut at a data chunk boundary", edited(rgba, [&](auto& c) { c.resize(firstData + 1); }), false},
        {"cut inside the end chunk", [&] { auto f = fileOf(rgba); f.pop_back(); return f; }(), false},
        {"no data", edited(rgba, [](auto& c) { std::erase_if(c, [](const Bytes& k) { return typeOf(k) == "IDAT"; }); }),
         false},
        {"palette image without its palette", edited(palette, [](auto& c) { c.erase(c.begin() + indexOf(c, "PLTE")); }),
         false},
        {"palette after the data", edited(palette, [](auto& c) {
             auto plte = c[indexOf(c, "PLTE")];
             c.erase(c.begin() + indexOf(c, "PLTE"));
             c.insert(c.end() - 1, plte);
         }), false},
        {"two palettes", edited(palette, [](auto& c) { c.insert(c.begin() + indexOf(c, "PLTE"), c[indexOf(c, "PLTE")]); }),
         false},
        {"data chunks split by another chunk",
         edited(rgba, [&](auto& c) { c.insert(c.begin() + static_cast<std::ptrdiff_t>(firstData + 1), chunk("tEXt", "a\0b"sv)); }),
         false},
        {"end before the data", edited(rgba, [&](auto& c) { c.insert(c.begin() + static_cast<std::ptrdiff_t>(firstData), c.back()); }),
         false},
        {"second header", edited(rgba, [&](auto& c) { c.insert(c.begin() + 1, c.front()); }), false},
        {"unknown critical chunk", edited(rgba, [&](auto& c) { c.insert(c.begin() + 1, chunk("ZZZZ", "")); }), false},
        {"ancillary chunk with a bad CRC", edited(rgba, [&](auto& c) {
             auto text = chunk("tEXt", "Title\0shot"sv);
             text.back() ^= 1;
             c.insert(c.begin() + static_cast<std::ptrdiff_t>(firstData), text);
         }), true},
    };
    auto original = ImageSource::create(fileOf(rgba))->createImageAtIndex(0);
    ASSERT_TRUE(original && original->pixels.get());
    for (const auto& c : cases) {
        auto image = ImageSource::create(c.file)->createImageAtIndex(0);
        EXPECT_EQ(image != nullptr, c.accepted) << c.name;
        if (image && c.accepted) {
            EXPECT_EQ(samplesOf(*image), samplesOf(*original)) << c.name;
        }
    }

    // Damaged compressed data under a good CRC passes the check; its pixels then do not decode.
    auto damaged = rgba;
    auto& data = damaged[firstData];
    for (std::size_t i = 20; i < 120; ++i) data[i] ^= 0x5A;
    data.resize(data.size() - 4);
    auto crc = crc32(0, data.data() + 4, static_cast<uInt>(data.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<std::uint8_t>(crc >> shift));
    auto file = fileOf(damaged);
    auto image = ImageSource::create(file)->createImageAtIndex(0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 90u);
    EXPECT_FALSE(image->pixels.get());
}

TEST(PngStructure, PixelsAreDecodedOnceForEveryThreadAndOutliveTheFile) {
    std::shared_ptr<const Image> image;
    {
        auto file = makePNG(PngSpec{.width = 64, .height = 48});
        image = ImageSource::create(file)->createImageAtIndex(0);
    }
    ASSERT_TRUE(image);
    std::vector<const Bytes*> seen(4);
    {
        std::vector<std::jthread> readers;
        for (auto& pixels : seen) readers.emplace_back([&pixels, image] { pixels = image->pixels.get(); });
    }
    ASSERT_TRUE(seen[0]);
    for (auto* pixels : seen) EXPECT_EQ(pixels, seen[0]);
    expectSamples(*image, gradientSamples(8), 4);
}

TEST(ImageSourceDecoding, CountsAttempts) {
    auto file = makePNG(PngSpec{});
    auto before = ImageSource::decodeAttempts();
    auto source = ImageSource::create(file);
    (void)source->count();
    (void)source->propertiesAtIndex(0);
    EXPECT_EQ(ImageSource::decodeAttempts(), before);
    (void)source->createImageAtIndex(0);
    EXPECT_EQ(ImageSource::decodeAttempts(), before + 1);
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 320));
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 320)) << "nothing is cached: a second thumbnail decodes again";
    EXPECT_EQ(ImageSource::decodeAttempts(), before + 3);
    EXPECT_FALSE(source->createThumbnailAtIndex(1, 320)) << "a PNG holds one image";
    EXPECT_EQ(ImageSource::decodeAttempts(), before + 4) << "a refused thumbnail still counts";
}

// Encodes into a growing buffer; `refuseFrom` makes the consumer refuse that block and later ones.
struct Capture {
    Bytes bytes{};
    std::size_t blocks = 0;
    std::size_t refuseFrom = SIZE_MAX;
};

bool encode(std::shared_ptr<const Image> image, Capture& capture) {
    auto consumer = DataConsumer::create([&capture](const std::uint8_t* bytes, std::size_t count) -> std::size_t {
        if (capture.blocks++ >= capture.refuseFrom) return 0;
        capture.bytes.insert(capture.bytes.end(), bytes, bytes + count);
        return count;
    });
    auto destination = ImageDestination::createWithDataConsumer(consumer, ImageType::png, 1);
    destination->addImage(std::move(image));
    return destination->finalize();
}

TEST(PngDestination, RoundTripsEveryLayoutAndLeavesOutOpaqueAlpha) {
    auto opaqueGradient = [](int bits) -> SampleFunction {
        return [bits](std::uint32_t x, std::uint32_t y, int c) {
            return c == 3 || (c == 1 && bits == 16) ? (1u << bits) - 1 : gradientSamples(bits)(x, y, c);
        };
    };
    struct Layout {
        const char* name;
        int colorType;
        int bits;
        std::uint32_t width = 17;
        std::uint32_t height = 5;
        SampleFunction samples{};
        int writtenComponents = 0; // when alpha is left out
    };
    Layout layouts[] = {
        {"grey", PNG_COLOR_TYPE_GRAY, 8},
        {"grey and alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 16},
        {"RGB", PNG_COLOR_TYPE_RGB, 8},
        {"RGB 16", PNG_COLOR_TYPE_RGB, 16},
        {"RGBA", PNG_COLOR_TYPE_RGB_ALPHA, 8},
        {"RGBA 16", PNG_COLOR_TYPE_RGB_ALPHA, 16},
        {"opaque RGBA", PNG_COLOR_TYPE_RGB_ALPHA, 8, 17, 5, opaqueGradient(8), 3},
        {"opaque grey and alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, 17, 5, opaqueGradient(16), 1},
        // Compressed in several pieces, on several threads where there are cores.
        {"large opaque RGBA", PNG_COLOR_TYPE_RGB_ALPHA, 8, 700, 600, opaqueGradient(8), 3},
        {"large noise", PNG_COLOR_TYPE_RGB, 16, 300, 700, testing::noiseSamples(16)},
    };
    for (const auto& layout : layouts) {
        auto original = makePNG(PngSpec{.width = layout.width, .height = layout.height, .colorType = layout.colorType,
                                        .bitDepth = layout.bits, .samples = layout.samples});
        auto image = ImageSource::create(original)->createImageAtIndex(0);
        ASSERT_TRUE(image);
        Capture capture;
        ASSERT_TRUE(encode(image, capture)) << layout.name;
        auto decoded = ImageSource::create(capture.bytes)->createImageAtIndex(0);
        ASSERT_TRUE(decoded) << layout.name;
        int components = layout.writtenComponents ? layout.writtenComponents : image->components;
        EXPECT_EQ(decoded->components, components) << layout.name;
        EXPECT_EQ(decoded->bitsPerComponent, layout.bits) << layout.name;
        expectSamples(*decoded, layout.samples ? layout.samples : gradientSamples(layout.bits), components);
    }
}

TEST(PngDestination, HonoursPaddedRows) {
    auto image = std::make_shared<Image>(Image{.width = 2, .height = 2, .bitsPerComponent = 8, .components = 1,
                                               .hasAlpha = false, .bytesPerRow = 5,
                                               .pixels = Bytes{1, 2, 99, 99, 99, 3, 4, 99, 99, 99}});
    Capture capture;
    ASSERT_TRUE(encode(image, capture));
    auto decoded = ImageSource::create(capture.bytes)->createImageAtIndex(0);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(samplesOf(*decoded), (Bytes{1, 2, 3, 4}));
}

TEST(PngDestination, ARefusedBlockEndsTheEncoding) {
    auto image = ImageSource::create(makePNG(PngSpec{.width = 300, .height = 300, .samples = testing::noiseSamples(8)}))
                     ->createImageAtIndex(0);
    Capture whole;
    ASSERT_TRUE(encode(image, whole));
    ASSERT_GT(whole.blocks, 3u);
    for (std::size_t refuse : {std::size_t{0}, std::size_t{1}, whole.blocks - 1}) {
        Capture capture{.refuseFrom = refuse};
        EXPECT_FALSE(encode(image, capture));
        EXPECT_EQ(capture.blocks, refuse + 1) << "no block is offered after the refusal";
        EXPECT_LT(capture.bytes.size(), whole.bytes.size());
    }
    auto throwing = DataConsumer::create([](const std::uint8_t*, std::size_t) -> std::size_t {
        throw std::runtime_error("disk full");
    });
    auto destination = ImageDestination::createWithDataConsumer(throwing, ImageType::png, 1);
    destination->addImage(image);
    EXPECT_FALSE(destination->finalize()) << "an exception counts as a refusal";
}

TEST(PngDestination, WritesOnlyOneWellFormedImage) {
    auto consumer = DataConsumer::create([](const std::uint8_t*, std::size_t count) { return count; });
    auto destination = [&] { return ImageDestination::createWithDataConsumer(consumer, ImageType::png, 1); };
    EXPECT_FALSE(destination()->finalize()) << "no image added";
    auto twice = destination();
    twice->addImage(ImageSource::create(makePNG(PngSpec{}))->createImageAtIndex(0));
    EXPECT_TRUE(twice->finalize());
    EXPECT_FALSE(twice->finalize());
    for (auto broken : {Image{.width = 1, .height = 1, .components = 5, .bytesPerRow = 5, .pixels = Bytes(5)},
                        Image{.width = 1, .height = 1, .bitsPerComponent = 12, .bytesPerRow = 8, .pixels = Bytes(8)},
                        Image{.width = 4, .height = 4, .bytesPerRow = 16, .pixels = Bytes(15)}, // short of pixels
                        Image{.width = 0, .height = 4, .bytesPerRow = 0, .pixels = {}}}) {
        auto one = destination();
        one->addImage(std::make_shared<Image>(broken));
        EXPECT_FALSE(one->finalize());
    }
}


// Thumbnails ---------------------------------------------------------------------------------

// Opaque 8-bit RGB of a thumbnail as one red value per pixel, row by row.
std::vector<std::vector<std::uint32_t>> redsOf(const Image& image) {
    std::vector<std::vector<std::uint32_t>> rows(image.height);
    for (std::size_t y = 0; y < image.height; ++y) {
        for (std::size_t x = 0; x < image.width; ++x) rows[y].push_back(sampleAt(image, x, y, 0));
    }
    return rows;
}

// An eXIf chunk holding one Orientation entry, in either byte order.
Bytes exifChunk(std::uint16_t orientation, bool littleEndian) {
    std::string data = littleEndian ? "II" : "MM";
    auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            int shift = 8 * (littleEndian ? i : bytes - 1 - i);
            data += static_cast<char>((value >> shift) & 0xff);
        }
    };
    put(42, 2);
    put(8, 4); // the directory follows the header
    put(1, 2); // one entry: Orientation, SHORT, count 1, the value left-aligned in its field
    put(0x0112, 2);
    put(3, 2);
    put(1, 4);
    put(orientation, 2);
    put(0, 2);
    put(0, 4); // no next directory
    return chunk("eXIf", data);
}

Bytes withChunkBeforeData(const Bytes& png, const Bytes& extra) {
    auto chunks = chunksOf(png);
    chunks.insert(chunks.begin() + static_cast<std::ptrdiff_t>(indexOf(chunks, "IDAT")), extra);
    return fileOf(chunks);
}

TEST(Thumbnail, TurnsTheImageUprightForEveryOrientation) {
    // Stored 3 × 2, pixels a b c over d e f, told apart by their red sample.
    enum : std::uint32_t { a = 10, b = 20, c = 30, d = 40, e = 50, f = 60 };
    const std::uint32_t stored[2][3] = {{a, b, c}, {d, e, f}};
    auto samples = [&](std::uint32_t x, std::uint32_t y, int channel) -> std::uint32_t {
        return channel == 0 ? stored[y][x] : channel == 3 ? 255 : 0;
    };
    using Grid = std::vector<std::vector<std::uint32_t>>;
    const Grid upright[9] = {
        {},
        {{a, b, c}, {d, e, f}},
        {{c, b, a}, {f, e, d}},
        {{f, e, d}, {c, b, a}},
        {{d, e, f}, {a, b, c}},
        {{a, d}, {b, e}, {c, f}},
        {{d, a}, {e, b}, {f, c}},
        {{f, c}, {e, b}, {d, a}},
        {{c, f}, {b, e}, {a, d}},
    };
    auto plainPNG = makePNG(PngSpec{.width = 3, .height = 2, .samples = samples});
    for (std::uint16_t orientation = 1; orientation <= 8; ++orientation) {
        struct File {
            const char* name;
            Bytes bytes;
        } files[] = {
            {"TIFF strips", makeTIFF(TiffPage{.width = 3, .height = 2, .samples = samples, .orientation = orientation})},
            // Tiles go through libtiff's RGBA reader, which must not turn the image itself.
            {"TIFF tiles",
             makeTIFF(TiffPage{.width = 3, .height = 2, .tileSize = 16, .samples = samples, .orientation = orientation})},
            {"PNG eXIf", withChunkBeforeData(plainPNG, exifChunk(orientation, orientation % 2 == 0))},
        };
        for (const auto& file : files) {
            auto thumbnail = ImageSource::create(file.bytes)->createThumbnailAtIndex(0, 320);
            ASSERT_TRUE(thumbnail) << file.name << " orientation " << orientation;
            EXPECT_EQ(thumbnail->components, 4);
            EXPECT_EQ(thumbnail->bitsPerComponent, 8);
            EXPECT_EQ(thumbnail->bytesPerRow, thumbnail->width * 4);
            EXPECT_EQ(redsOf(*thumbnail), upright[orientation]) << file.name << " orientation " << orientation;
        }
    }
    // The image itself keeps the stored order; only the thumbnail is turned.
    auto tiled = makeTIFF(TiffPage{.width = 3, .height = 2, .tileSize = 16, .samples = samples, .orientation = 3});
    EXPECT_EQ(redsOf(*ImageSource::create(tiled)->createImageAtIndex(0)), upright[1]);
    // An out-of-range entry leaves the image as stored.
    EXPECT_EQ(redsOf(*ImageSource::create(withChunkBeforeData(plainPNG, exifChunk(9, false)))->createThumbnailAtIndex(0, 320)),
              upright[1]);
}

TEST(Thumbnail, AveragesAreasInPremultipliedSamples) {
    struct Case {
        const char* name;
        std::uint32_t width, height;
        std::vector<std::uint32_t> reds, alphas; // row by row
        std::size_t maxPixelSize;
        std::size_t outWidth, outHeight;
        std::vector<std::uint32_t> outReds, outAlphas;
    };
    const Case cases[] = {
        // Whole 2 × 2 blocks: (10+20+30+41)/4 = 25.25, (100+100+200+201)/4 = 150.25.
        {"halved", 4, 2, {10, 20, 100, 100, 30, 41, 200, 201}, {}, 2, 2, 1, {25, 150}, {255, 255}},
        // Three into two: each output takes one whole pixel and half the middle one, over 1.5.
        {"fractional", 3, 1, {0, 90, 180}, {}, 2, 2, 1, {30, 150}, {255, 255}},
        // Transparent pixels add no colour: red stays 200 at half coverage (alpha 127.5).
        {"transparent neighbour", 2, 1, {200, 0}, {255, 0}, 1, 1, 1, {200}, {128}},
        // The shorter side is rounded and never drops to nothing.
        {"thin", 8, 1, {8, 8, 8, 8, 16, 16, 16, 16}, {}, 4, 4, 1, {8, 8, 16, 16}, {255, 255, 255, 255}},
        {"sliver", 1, 5, {5, 5, 5, 5, 5}, {}, 2, 1, 2, {5, 5}, {255, 255}},
    };
    for (const auto& c : cases) {
        auto samples = [&](std::uint32_t x, std::uint32_t y, int channel) -> std::uint32_t {
            std::size_t i = y * c.width + x;
            if (channel == 0) return c.reds[i];
            if (channel == 3) return c.alphas.empty() ? 255 : c.alphas[i];
            return 0;
        };
        auto thumbnail = ImageSource::create(makePNG(PngSpec{.width = c.width, .height = c.height, .samples = samples}))
                             ->createThumbnailAtIndex(0, c.maxPixelSize);
        ASSERT_TRUE(thumbnail) << c.name;
        ASSERT_EQ(thumbnail->width, c.outWidth) << c.name;
        ASSERT_EQ(thumbnail->height, c.outHeight) << c.name;
        std::vector<std::uint32_t> reds, alphas;
        for (std::size_t y = 0; y < thumbnail->height; ++y) {
            for (std::size_t x = 0; x < thumbnail->width; ++x) {
                reds.push_back(sampleAt(*thumbnail, x, y, 0));
                alphas.push_back(sampleAt(*thumbnail, x, y, 3));
            }
        }
        EXPECT_EQ(reds, c.outReds) << c.name;
        EXPECT_EQ(alphas, c.outAlphas) << c.name;
    }
}

TEST(Thumbnail, NeverScalesUpAndKeepsEverySampleAtFullSize) {
    for (std::size_t maxPixelSize : {std::size_t{7}, std::size_t{320}}) {
        auto file = makePNG(PngSpec{.width = 7, .height = 5, .colorType = PNG_COLOR_TYPE_RGB, .bitDepth = 16});
        auto thumbnail = ImageSource::create(file)->createThumbnailAtIndex(0, maxPixelSize);
        ASSERT_TRUE(thumbnail);
        ASSERT_EQ(thumbnail->width, 7u);
        ASSERT_EQ(thumbnail->height, 5u);
        auto written = gradientSamples(16);
        for (std::uint32_t y = 0; y < 5; ++y) {
            for (std::uint32_t x = 0; x < 7; ++x) {
                for (int channel = 0; channel < 3; ++channel) {
                    auto expected = static_cast<std::uint32_t>(std::lround(written(x, y, channel) / 257.0));
                    ASSERT_EQ(sampleAt(*thumbnail, x, y, channel), expected) << x << "," << y;
                }
                ASSERT_EQ(sampleAt(*thumbnail, x, y, 3), 255u);
            }
        }
    }
    auto source = ImageSource::create(makePNG(PngSpec{}));
    EXPECT_FALSE(source->createThumbnailAtIndex(0, 0));
    EXPECT_FALSE(ImageSource::create(bytesOf("not an image"))->createThumbnailAtIndex(0, 320));
}

TEST(Thumbnail, AnImageOverTheDecodedBoundIsRefusedBeforeAllocating) {
    // 16-bit grey counts 8 bytes a pixel: 3125 × 4000 pixels are exactly the bound.
    auto grey16 = [](std::uint32_t height) {
        return makePNG(PngSpec{.width = 3125, .height = height, .colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 16,
                               .samples = [](std::uint32_t, std::uint32_t, int) { return 0x4000u; }});
    };
    auto atBound = ImageSource::create(grey16(4000))->createThumbnailAtIndex(0, 320);
    ASSERT_TRUE(atBound);
    EXPECT_EQ(atBound->width, 250u);
    EXPECT_EQ(atBound->height, 320u);
    EXPECT_EQ(sampleAt(*atBound, 100, 200, 1), 64u); // 0x4000 / 257

    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"PNG", grey16(4001)},
        // 8-bit samples count 4 bytes a pixel.
        {"TIFF", makeTIFF(TiffPage{.width = 5000, .height = 5001, .samplesPerPixel = 1,
                                   .photometric = PHOTOMETRIC_MINISBLACK, .compression = COMPRESSION_ADOBE_DEFLATE,
                                   .rowsPerStrip = 64, .samples = [](std::uint32_t, std::uint32_t, int) { return 9u; }})},
    };
    for (const auto& c : cases) {
        auto source = ImageSource::create(c.file);
        largestAllocation = 0;
        EXPECT_FALSE(source->createThumbnailAtIndex(0, 320)) << c.name;
        EXPECT_LT(largestAllocation.load(), std::size_t{1} << 20) << c.name << ": the pixels were allocated";
    }
}

} // namespace
} // namespace tarpelix::platform
