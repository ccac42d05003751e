#include "gallery/GalleryScenes.h"
#include "platform/appkit/Renderer.h"
#include "platform/imageio/ImageSource.h"
#include "support/TemporaryDirectory.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

std::shared_ptr<const Image> decode(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    auto source = ImageSource::create(bytes);
    if (!source) return nullptr;
    return source->createImageAtIndex(0);
}

// Pixels inside the frame (points, y up, on a canvas `height` points tall, at 2×) that stand
// clearly apart from the background.
std::size_t inkInside(const Image& image, const Rect& frame, double height, const RGBA& background) {
    const Bytes& pixels = *image.pixels.get();
    const auto x0 = std::size_t(std::floor(frame.minX() * 2)), x1 = std::size_t(std::ceil(frame.maxX() * 2));
    const auto y0 = std::size_t(std::floor((height - frame.maxY()) * 2));
    const auto y1 = std::size_t(std::ceil((height - frame.minY()) * 2));
    std::size_t ink = 0;
    for (std::size_t y = y0; y < std::min(y1, image.height); ++y) {
        for (std::size_t x = x0; x < std::min(x1, image.width); ++x) {
            const std::uint8_t* p = pixels.data() + y * image.bytesPerRow + x * std::size_t(image.components);
            const double distance = std::abs(p[0] / 255.0 - background.red) + std::abs(p[1] / 255.0 - background.green) +
                                    std::abs(p[2] / 255.0 - background.blue);
            ink += distance > 0.6 ? 1 : 0;
        }
    }
    return ink;
}

TEST(GalleryTest, TheTestWindowRendersLegibleTextInBothAppearancesAndPassesTheAudit) {
    tarpelix::testing::TemporaryDirectory directory;
    const auto& scene = gallery::scenes().at(0);
    ASSERT_EQ(scene.name, "test-window");
    ASSERT_EQ(scene.states, (std::vector<std::string>{"light", "dark"}));
    for (const auto& state : scene.states) {
        const auto recording = gallery::record(scene, state);
        EXPECT_TRUE(auditLayout(recording).empty()) << state;
        const auto path = directory.file(gallery::fileName(scene, state));
        Renderer::writePNG(recording, path);

        const auto image = decode(path);
        ASSERT_TRUE(image && image->pixels.get()) << path;
        EXPECT_EQ(image->width, 960u);
        EXPECT_EQ(image->height, 720u);
        const RGBA background = Color::windowBackgroundColor().resolved(gallery::appearance(state));
        const auto texts = recording.texts();
        ASSERT_GE(texts.size(), 11u);
        for (const auto& text : texts) {
            EXPECT_GT(inkInside(*image, text.frame, scene.size.height, background), 20u)
                << state << ": " << text.text.string();
        }
        // The symbol grid below the text is drawn too.
        EXPECT_GT(inkInside(*image, {0, 0, 480, 190}, scene.size.height, background), 20000u) << state;
    }
}

} // namespace
