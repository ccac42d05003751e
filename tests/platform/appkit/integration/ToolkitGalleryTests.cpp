#include "gallery/GalleryAudit.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

TEST(ToolkitGalleryTest, EveryStateTruncatesOnlyByDesignFocusesOneControlAndAHiddenStageTakesNoSpace) {
    DesktopControl::reset();
    const auto& all = gallery::scenes();
    const auto scene = std::ranges::find_if(all, [](const auto& s) { return s.name == "toolkit"; });
    ASSERT_NE(scene, all.end());
    EXPECT_EQ(scene->states, (std::vector<std::string>{"light", "dark", "contrast"}));
    for (const auto& state : scene->states) {
        const auto audited = gallery::audit(*scene, state);
        EXPECT_EQ(audited.windows, 1) << state;
        EXPECT_TRUE(audited.findings.empty()) << state << ": " << audited.findings.front();
        const auto texts = audited.recording.texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts[0].text.string(), "Toolkit");
        EXPECT_GE(texts[0].frame.minY(), scene->size.height - Window::titleBarHeight);

        std::vector<std::string> truncated;
        const drawing::Text* captured = nullptr;
        const drawing::Text* uploaded = nullptr;
        for (const auto& text : texts) {
            const std::string& s = text.text.string();
            if (text.layout.truncated || s.ends_with("…")) truncated.push_back(s.substr(0, 12));
            if (s == "Captured the image") captured = &text;
            if (s == "Uploaded to build-host") uploaded = &text;
            EXPECT_NE(s, "Converted to PNG") << state; // hidden
        }
        // Two titles that end in an ellipsis of their own, the two-line label cut with one and the
        // path truncated at its tail; nothing else.
        EXPECT_EQ(truncated, (std::vector<std::string>{"Save…", "Open Help…", "Two lines at", "/home/develo"})) << state;
        const auto rings = std::ranges::count_if(audited.recording.operations(), [](const auto& op) {
            return std::holds_alternative<drawing::FocusRingMask>(op);
        });
        EXPECT_EQ(rings, 1) << state;
        // The hidden stage between them leaves only the stack's spacing of 6 below the first
        // label (as tall as its text, rounded up).
        ASSERT_TRUE(captured && uploaded) << state;
        EXPECT_DOUBLE_EQ(captured->frame.maxY() - uploaded->frame.maxY(), std::ceil(captured->frame.height()) + 6) << state;
    }
    DesktopControl::reset();
}

} // namespace
