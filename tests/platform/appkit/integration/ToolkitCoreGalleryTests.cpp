#include "gallery/GalleryScenes.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

TEST(ToolkitCoreGalleryTest, TheWindowDrawsItsTitleInTheTitleBarAndEveryTextFitsWithoutOverlap) {
    DesktopControl::reset();
    const auto& all = gallery::scenes();
    const auto scene = std::find_if(all.begin(), all.end(), [](const auto& s) { return s.name == "toolkit-core"; });
    ASSERT_NE(scene, all.end());
    for (const auto& state : scene->states) {
        const auto recording = gallery::record(*scene, state);
        EXPECT_TRUE(auditLayout(recording).empty()) << state;
        const auto texts = recording.texts();
        ASSERT_EQ(texts.size(), 8u) << state;
        EXPECT_EQ(texts[0].text.string(), "Toolkit Core");
        EXPECT_GE(texts[0].frame.minY(), scene->size.height - Window::titleBarHeight);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            for (std::size_t j = i + 1; j < texts.size(); ++j) {
                // Laid-out text of one view never runs into another's.
                const Rect a{texts[i].frame.origin, {texts[i].layout.size.width, texts[i].frame.height()}};
                const Rect b{texts[j].frame.origin, {texts[j].layout.size.width, texts[j].frame.height()}};
                EXPECT_FALSE(a.intersects(b)) << texts[i].text.string() << " / " << texts[j].text.string();
            }
        }
    }
    DesktopControl::reset();
}

} // namespace
