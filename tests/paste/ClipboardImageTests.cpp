#include "paste/ClipboardImage.h"
#include "paste/ClipboardImageDimensions.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/imageio/ImageSource.h"
#include "support/Failures.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace tarpelix {
namespace {

namespace Control = platform::DesktopControl;
namespace PasteboardType = platform::PasteboardType;
using platform::Bytes;
using platform::PasteboardEntry;
using platform::PasteboardItemContents;

const char* const permissionText = "Clipboard permission unavailable — choose Always Allow in System Settings";
const char* const changedText = "Clipboard changed during image capture — paste again";
const char* const tooLargeText = "Image exceeds the 100 MB processing limit — resize it and paste again";
const char* const notOneImageText = "Clipboard must contain one valid PNG or TIFF image";
const char* const dimensionsText = "Cannot read clipboard image dimensions";
const char* const decodeText = "Cannot decode clipboard image";

PasteboardEntry entry(std::string_view type, Bytes data) { return PasteboardEntry{std::string(type), std::move(data)}; }

using testing::failureOf;

// A simulated Mac whose general pasteboard is always allowed and holds `png` when given.
void freshClipboard(const Bytes* png = nullptr) {
    Control::reset();
    Control::setPasteboardAccessBehavior(2);
    if (png) Control::copyPNG(*png);
}

class ClipboardImageTest : public ::testing::Test {
protected:
    void SetUp() override { freshClipboard(); }
    void TearDown() override { Control::reset(); }

    const Bytes png = testing::makePNG(testing::PngSpec{.width = 6, .height = 4});
    const Bytes tiff = testing::makeTIFF(testing::TiffPage{.width = 6, .height = 4});
};

TEST_F(ClipboardImageTest, TheClipboardsContentsDecideWhatIsAnImage) {
    const Bytes fileURL = platform::bytesOf("file:///Users/me/shot.png");
    struct Case {
        const char* name;
        std::vector<PasteboardItemContents> items;
        bool candidate;
        bool nativeOnly;
        std::optional<std::string_view> captured; // the type captured
    };
    Case cases[] = {
        {"PNG and TIFF on one item", {{entry(PasteboardType::tiff, tiff), entry(PasteboardType::png, png)}}, true,
         false, PasteboardType::png},
        {"TIFF only", {{entry(PasteboardType::tiff, tiff)}}, true, false, PasteboardType::tiff},
        {"PNG with a file URL", {{entry(PasteboardType::png, png), entry(PasteboardType::fileURL, fileURL)}}, false,
         true, std::nullopt},
        {"two PNG items", {{entry(PasteboardType::png, png)}, {entry(PasteboardType::png, png)}}, true, true,
         std::nullopt},
        {"text", {{entry(PasteboardType::string, platform::bytesOf("hello"))}}, false, true, std::nullopt},
        {"nothing", {}, false, true, std::nullopt},
    };
    for (const auto& c : cases) {
        Control::copyItems(c.items);
        auto& general = platform::Pasteboard::general();
        EXPECT_EQ(ClipboardImage::hasImageCandidate(), c.candidate) << c.name;
        EXPECT_EQ(ClipboardImage::isNativeOnly(general), c.nativeOnly) << c.name;
        auto image = ClipboardImage::capture();
        ASSERT_EQ(image.has_value(), c.captured.has_value()) << c.name;
        if (image) {
            EXPECT_EQ(image->type, *c.captured) << c.name;
            EXPECT_EQ(image->bytes, *c.captured == PasteboardType::png ? png : tiff) << c.name;
            EXPECT_EQ(image->changeCount, general.changeCount()) << c.name;
        }
    }
}

TEST_F(ClipboardImageTest, AnItemThatGivesNoTypesIsNotAnImage) {
    Control::copyPNG(png);
    Control::setPasteboardAccessorUnavailable(platform::PasteboardAccessor::itemTypes, true);
    EXPECT_TRUE(ClipboardImage::isNativeOnly(platform::Pasteboard::general()));
    EXPECT_FALSE(ClipboardImage::capture());
}

TEST_F(ClipboardImageTest, TheGeneralPasteboardNeedsAlwaysAllow) {
    Control::copyPNG(png);
    Control::setPasteboardPromptAnswer(platform::PasteboardPromptAnswer::alwaysAllow);
    // Were the item list read first, this would be the reason instead.
    Control::setPasteboardAccessorUnavailable(platform::PasteboardAccessor::items, true);
    for (int behavior : {0, 1, 3}) {
        Control::setPasteboardAccessBehavior(behavior);
        EXPECT_EQ(failureOf([] { ClipboardImage::capture(); }), permissionText) << behavior;
    }
    EXPECT_EQ(Control::pasteboardPromptsShown(), 0) << "no item data is read before the check";
    // No permission is needed to decide whether a paste concerns an image.
    EXPECT_TRUE(ClipboardImage::hasImageCandidate());
    // Without an item list the paste stays with the pipeline, whose capture then explains.
    EXPECT_FALSE(ClipboardImage::isNativeOnly(platform::Pasteboard::general()));
}

TEST_F(ClipboardImageTest, AnotherPasteboardIsRefusedOnlyWhenAlwaysDenied) {
    auto& other = platform::Pasteboard::named("test.capture");
    Control::copyPNG(png, "test.capture");
    for (int behavior : {0, 1, 2, 3}) {
        Control::setPasteboardAccessBehavior(behavior, "test.capture");
        EXPECT_EQ(failureOf([&] { ASSERT_TRUE(ClipboardImage::capture(other)); }), behavior == 3 ? permissionText : "")
            << behavior;
    }
}

TEST_F(ClipboardImageTest, UnreadableClipboardsSayWhatToCheck) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* reason;
    };
    using platform::PasteboardAccessor;
    Case cases[] = {
        {"no item list", [] { Control::setPasteboardAccessorUnavailable(PasteboardAccessor::items, true); },
         "Clipboard unavailable — check clipboard permission"},
        {"no data", [] { Control::setPasteboardAccessorUnavailable(PasteboardAccessor::itemData, true); },
         "Clipboard image unavailable — check clipboard permission"},
        {"empty data", [] { Control::copyPNG(Bytes{}); }, "Clipboard image unavailable — check clipboard permission"},
    };
    for (const auto& c : cases) {
        freshClipboard(&png);
        c.arrange();
        EXPECT_EQ(failureOf([] { ClipboardImage::capture(); }), c.reason) << c.name;
    }
}

TEST_F(ClipboardImageTest, CapturesUpToAHundredMillionBytes) {
    Control::copyTIFF(Bytes(100'000'000, 0x2a));
    auto image = ClipboardImage::capture();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bytes.size(), 100'000'000u);
    image.reset();
    Control::copyTIFF(Bytes(100'000'001, 0x2a));
    EXPECT_EQ(failureOf([] { ClipboardImage::capture(); }), tooLargeText);
}

// Runs `read` once to count its pasteboard reads, then once for each read with another
// application copying just before it; gives what each run did.
std::vector<std::string> withACopyAtEveryRead(const Bytes& png, const std::function<void()>& read) {
    freshClipboard(&png);
    read();
    long reads = Control::pasteboardReadCount();
    std::vector<std::string> outcomes;
    for (long k = 1; k <= reads; ++k) {
        freshClipboard(&png);
        Control::changePasteboardAtRead(k, {{entry(PasteboardType::png, png)}});
        outcomes.push_back(failureOf(read));
    }
    return outcomes;
}

TEST_F(ClipboardImageTest, ACopyDuringAReadingIsAlwaysNoticed) {
    std::pair<const char*, std::function<void()>> readings[] = {
        {"capture", [] { ASSERT_TRUE(ClipboardImage::capture()); }},
        {"native-only test", [] { ClipboardImage::isNativeOnly(platform::Pasteboard::general()); }},
    };
    for (const auto& [name, read] : readings) {
        auto outcomes = withACopyAtEveryRead(png, read);
        ASSERT_GE(outcomes.size(), 6u) << name;
        // A copy before the first read is simply what is read.
        EXPECT_EQ(outcomes.front(), "") << name;
        for (std::size_t k = 1; k < outcomes.size(); ++k) {
            EXPECT_EQ(outcomes[k], changedText) << name << ": copy at read " << k + 1;
        }
    }
}

ClipboardImage imageOf(Bytes bytes, std::string_view type) {
    return ClipboardImage{std::move(bytes), std::string(type), 1};
}

std::shared_ptr<const platform::Image> decode(const Bytes& file) {
    return platform::ImageSource::create(file)->createImageAtIndex(0);
}

// Why converting these bytes of the declared type fails ("" when it succeeds).
std::string conversionFailure(const Bytes& bytes, std::string_view type, std::int64_t limit = ClipboardImage::byteLimit) {
    return failureOf([&] { imageOf(bytes, type).pngData(limit); });
}

TEST_F(ClipboardImageTest, PngPassesThroughAndTiffBecomesPngOfTheSamePixels) {
    EXPECT_EQ(imageOf(png, PasteboardType::png).pngData(ClipboardImage::byteLimit), png);
    auto opaque = [](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t { return c == 3 ? 255 : x * 5 + y * 3 + c; };
    struct Case {
        testing::TiffPage page;
        int components; // in the PNG
    };
    for (const auto& c : {Case{testing::TiffPage{.width = 40, .height = 30}, 4},
                          Case{testing::TiffPage{.width = 40, .height = 30, .samplesPerPixel = 3, .bitsPerSample = 16,
                                                 .compression = COMPRESSION_LZW}, 3},
                          // Opaque alpha is left out of the PNG.
                          Case{testing::TiffPage{.width = 40, .height = 30, .samples = opaque}, 3}}) {
        auto file = testing::makeTIFF(c.page);
        auto converted = imageOf(file, PasteboardType::tiff).pngData(ClipboardImage::byteLimit);
        auto source = platform::ImageSource::create(converted);
        ASSERT_EQ(source->type(), std::string(platform::ImageType::png));
        auto image = source->createImageAtIndex(0);
        ASSERT_TRUE(image && image->pixels.get());
        EXPECT_EQ(image->bitsPerComponent, c.page.bitsPerSample);
        ASSERT_EQ(image->components, c.components);
        auto original = decode(file);
        const auto& pixels = *original->pixels.get();
        auto sampleBytes = static_cast<std::size_t>(c.page.bitsPerSample / 8);
        platform::Bytes expected;
        for (std::size_t at = 0; at < pixels.size(); at += original->components * sampleBytes) {
            expected.insert(expected.end(), pixels.begin() + static_cast<std::ptrdiff_t>(at),
                            pixels.begin() + static_cast<std::ptrdiff_t>(at + c.components * sampleBytes));
        }
        EXPECT_EQ(*image->pixels.get(), expected);
    }
}

TEST_F(ClipboardImageTest, OnlyOneImageOfTheDeclaredTypeConverts) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string_view type;
    };
    Case cases[] = {
        {"PNG declared as TIFF", png, PasteboardType::tiff},
        {"TIFF declared as PNG", tiff, PasteboardType::png},
        {"two-page TIFF", testing::makeTIFF({testing::TiffPage{}, testing::TiffPage{}}), PasteboardType::tiff},
        {"animated PNG of two frames", testing::makePNG(testing::PngSpec{.animationFrames = 2}), PasteboardType::png},
        {"not an image", platform::bytesOf("GIF89a..."), PasteboardType::png},
        {"PNG without a valid header", Bytes(png.begin(), png.begin() + 20), PasteboardType::png},
        {"TIFF without a directory", Bytes(tiff.begin(), tiff.begin() + 8), PasteboardType::tiff},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(conversionFailure(c.bytes, c.type), notOneImageText) << c.name;
    }
}

TEST_F(ClipboardImageTest, DimensionsMustBeWholeNumbersInRange) {
    using platform::ImageProperties;
    auto properties = [](platform::ImagePropertyValue width, platform::ImagePropertyValue depth) {
        return ImageProperties{{"PixelWidth", width}, {"PixelHeight", std::int64_t{3}}, {"Depth", depth}};
    };
    struct Case {
        const char* name;
        ImageProperties properties;
        bool readable;
    };
    Case cases[] = {
        {"integers", properties(std::int64_t{5}, std::int64_t{8}), true},
        {"whole real", properties(5.0, std::int64_t{8}), true},
        {"fractional width", properties(5.5, std::int64_t{8}), false},
        {"text width", properties(std::string("5"), std::int64_t{8}), false},
        {"zero width", properties(std::int64_t{0}, std::int64_t{8}), false},
        {"depth 64", properties(std::int64_t{5}, std::int64_t{64}), true},
        {"depth 65", properties(std::int64_t{5}, std::int64_t{65}), false},
        {"no height", ImageProperties{{"PixelWidth", std::int64_t{5}}, {"Depth", std::int64_t{8}}}, false},
        {"no depth", ImageProperties{{"PixelWidth", std::int64_t{5}}, {"PixelHeight", std::int64_t{3}}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clipboard_image::dimensions(c.properties).has_value(), c.readable) << c.name;
    }
}

// Gives a tag of the first directory of a little-endian TIFF one LONG value, in place.
bool setTiffTag(Bytes& file, std::uint16_t tag, std::uint32_t value) {
    if (file.size() < 8 || file[0] != 'I') return false;
    std::uint32_t directory;
    std::memcpy(&directory, file.data() + 4, 4);
    std::uint16_t entries;
    std::memcpy(&entries, file.data() + directory, 2);
    for (std::uint16_t i = 0; i < entries; ++i) {
        std::uint8_t* at = file.data() + directory + 2 + i * 12;
        std::uint16_t found;
        std::memcpy(&found, at, 2);
        if (found != tag) continue;
        std::uint16_t type = TIFF_LONG;
        std::uint32_t count = 1;
        std::memcpy(at + 2, &type, 2);
        std::memcpy(at + 4, &count, 4);
        std::memcpy(at + 8, &value, 4);
        return true;
    }
    return false;
}

testing::TiffPage grayPage(std::uint32_t side) {
    return testing::TiffPage{.width = side, .height = side, .samplesPerPixel = 1,
                             .photometric = PHOTOMETRIC_MINISBLACK, .rowsPerStrip = 0xffffffffu};
}

TEST_F(ClipboardImageTest, HeadersOutOfRangeAreRefused) {
    struct Case {
        const char* name;
        std::uint16_t tag;
        std::uint32_t value;
        const char* reason;
    };
    for (auto c : {Case{"depth 65", TIFFTAG_BITSPERSAMPLE, 65, dimensionsText},
                   Case{"depth 128", TIFFTAG_BITSPERSAMPLE, 128, dimensionsText},
                   // libtiff does not take a directory without pixels as an image at all.
                   Case{"width 0", TIFFTAG_IMAGEWIDTH, 0, notOneImageText},
                   Case{"height 0", TIFFTAG_IMAGELENGTH, 0, notOneImageText}}) {
        auto file = testing::makeTIFF(grayPage(4));
        ASSERT_TRUE(setTiffTag(file, c.tag, c.value)) << c.name;
        EXPECT_EQ(conversionFailure(file, PasteboardType::tiff), c.reason) << c.name;
    }
}

TEST_F(ClipboardImageTest, OversizedImagesAreRefusedBeforeDecoding) {
    // A PNG's signature and header chunk alone: decoding it fails, so a size refusal proves
    // that the size was checked first.
    auto header = [](std::uint32_t width, std::uint32_t height, int colorType, int bitDepth) {
        auto file = testing::makePNG(testing::PngSpec{.width = 1, .height = 1, .colorType = colorType, .bitDepth = bitDepth});
        Bytes cut(file.begin(), file.begin() + 33);
        for (int i = 0; i < 4; ++i) {
            cut[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
            cut[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
        }
        return cut;
    };
    // A small TIFF whose directory claims 100,000 x 100,000 pixels in its one strip.
    auto hugeTiff = testing::makeTIFF(grayPage(4));
    ASSERT_TRUE(setTiffTag(hugeTiff, TIFFTAG_IMAGEWIDTH, 100000));
    ASSERT_TRUE(setTiffTag(hugeTiff, TIFFTAG_IMAGELENGTH, 100000));
    struct Case {
        const char* name;
        Bytes bytes;
        std::string_view type;
    };
    Case cases[] = {
        // 100,000,000 / 8 / 6,000 = 2,083 < 6,000.
        {"16-bit 6000 x 6000", header(6000, 6000, PNG_COLOR_TYPE_RGB_ALPHA, 16), PasteboardType::png},
        {"8-bit 5001 x 5000", header(5001, 5000, PNG_COLOR_TYPE_GRAY, 8), PasteboardType::png},
        {"TIFF claiming 100000 x 100000", hugeTiff, PasteboardType::tiff},
    };
    for (const auto& c : cases) {
        auto before = platform::ImageSource::decodeAttempts();
        EXPECT_EQ(conversionFailure(c.bytes, c.type), tooLargeText) << c.name;
        EXPECT_EQ(platform::ImageSource::decodeAttempts(), before) << c.name << ": nothing was decoded";
    }
    // Just within the estimate, the same kind of header goes on to decoding, which fails.
    EXPECT_EQ(conversionFailure(header(5000, 5000, PNG_COLOR_TYPE_GRAY, 8), PasteboardType::png), decodeText);
}

TEST_F(ClipboardImageTest, NeitherTheInputNorTheEncoderPassesTheLimit) {
    for (std::int64_t limit : {std::int64_t{0}, std::int64_t{-5}, static_cast<std::int64_t>(png.size()) - 1}) {
        EXPECT_EQ(conversionFailure(png, PasteboardType::png, limit), tooLargeText) << limit;
    }
    // A small image, and one compressed in several pieces (on several threads where there are
    // cores), whose output is held until it can be written in order.
    for (std::uint32_t height : {64u, 700u}) {
        auto noisy = testing::makeTIFF(testing::TiffPage{.width = 500, .height = height, .rowsPerStrip = 64,
                                                         .samples = testing::noiseSamples(8)});
        auto image = decode(noisy);
        auto whole = ClipboardImage::encodePNG(image, ClipboardImage::byteLimit);
        auto size = static_cast<std::int64_t>(whole.size());
        EXPECT_EQ(ClipboardImage::encodePNG(image, size), whole);
        // The output would pass the limit: that, not the failed encoding, is the reason.
        for (std::int64_t limit : {size - 1, size / 2, std::int64_t{100}, std::int64_t{-1}}) {
            EXPECT_EQ(failureOf([&] { ClipboardImage::encodePNG(image, limit); }), tooLargeText) << height << ": " << limit;
        }
    }
}

TEST_F(ClipboardImageTest, AnImageTheEncoderCannotWriteIsNotConverted) {
    auto odd = std::make_shared<platform::Image>(
        platform::Image{.width = 2, .height = 2, .bitsPerComponent = 12, .components = 3, .hasAlpha = false,
                        .bytesPerRow = 9, .pixels = Bytes(18)});
    EXPECT_EQ(failureOf([&] { ClipboardImage::encodePNG(odd, ClipboardImage::byteLimit); }), "Cannot convert TIFF to PNG");
}

} // namespace
} // namespace tarpelix
