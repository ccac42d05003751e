#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/Renderer.h"
#include "platform/appkit/Symbols.h"
#include "platform/desktop/Desktop.h"
#include "platform/foundation/Bundle.h"
#include "platform/imageio/Image.h"
#include "support/TemporaryDirectory.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

class ImageTest : public ::testing::Test {
protected:
    void TearDown() override { Desktop::shared().reset(); }
};

// How many pixels of the image are not transparent.
std::size_t inkedPixels(const Image& image) {
    std::size_t count = 0;
    const Bytes& pixels = *image.pixels.get();
    for (std::size_t i = 3; i < pixels.size(); i += 4) count += pixels[i] > 64 ? 1 : 0;
    return count;
}

TEST_F(ImageTest, EveryToolkitSymbolIsADrawingThatFollowsItsConfiguration) {
    ASSERT_EQ(symbols::names().size(), 32u);
    for (const auto& name : symbols::names()) {
        auto symbol = GraphicsImage::systemSymbol(name, "description");
        ASSERT_TRUE(symbol) << name;
        EXPECT_TRUE(symbol->isTemplate());
        EXPECT_EQ(symbol->accessibilityDescription(), "description");
        const auto large = symbol->withSymbolConfiguration({24, FontWeight::bold, true});
        EXPECT_EQ(large.size().height, 24 * 1.2);
        RecordingContext recording(large.size());
        recording.drawImage(large, {{0, 0}, large.size()}, Color::systemRed());
        const auto picture = Renderer::render(recording);
        // Drawn in the tint, visibly but not as a filled block.
        const std::size_t ink = inkedPixels(*picture);
        EXPECT_GT(ink, picture->width * picture->height / 20) << name;
        EXPECT_LT(ink, picture->width * picture->height * 3 / 4) << name;
    }
    EXPECT_FALSE(GraphicsImage::systemSymbol("rectangle.grid.3x3"));
}

TEST_F(ImageTest, AWithdrawnSymbolGivesNoImageUntilRestored) {
    AppKitControl::withdrawSymbol("lock.shield");
    EXPECT_FALSE(GraphicsImage::systemSymbol("lock.shield"));
    EXPECT_TRUE(GraphicsImage::systemSymbol("power"));
    Desktop::shared().reset();
    EXPECT_TRUE(GraphicsImage::systemSymbol("lock.shield"));
}

TEST_F(ImageTest, BundleImagesLoadByNameAndTemplatesDrawInTheirTint) {
    tarpelix::testing::TemporaryDirectory resources;
    RecordingContext square({4, 3});
    square.fill(Path::rect({0, 0, 4, 3}), Color::rgb(0, 0.5, 0));
    const auto png = Renderer::pngData(Renderer::render(square, 1));
    ASSERT_TRUE(png);
    std::ofstream(resources.file("MenuBarIcon.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(png->data()), std::streamsize(png->size()));
    resources.write("Broken.png", "not a png");
    BundleControl::setResourceDirectory(resources.path());

    auto icon = GraphicsImage::named("MenuBarIcon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), (Size{4, 3}));
    EXPECT_FALSE(GraphicsImage::named("Broken"));
    EXPECT_FALSE(GraphicsImage::named("Missing"));

    icon->setTemplate(true);
    RecordingContext recording({8, 6});
    recording.drawImage(*icon, {0, 0, 8, 6}, Color::rgb(1, 0, 0));
    const auto& bitmap = std::get<drawing::Bitmap>(recording.operations().at(0));
    EXPECT_EQ(bitmap.tint, (RGBA{1, 0, 0, 1}));
    const auto drawn = Renderer::render(recording, 1);
    const Bytes& pixels = *drawn->pixels.get();
    EXPECT_EQ((Bytes{pixels[0], pixels[1], pixels[2], pixels[3]}), (Bytes{255, 0, 0, 255}));
}

TEST_F(ImageTest, TheApplicationIconIsDrawnAtAnySize) {
    const auto icon = GraphicsImage::applicationIcon();
    EXPECT_EQ(icon.size(), (Size{512, 512}));
    RecordingContext recording({64, 64});
    recording.drawImage(icon, {0, 0, 64, 64});
    const auto picture = Renderer::render(recording);
    EXPECT_GT(inkedPixels(*picture), picture->width * picture->height / 2);
}

} // namespace
