#include "gallery/GalleryScenes.h"
#include "platform/desktop/DesktopControl.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

TEST(ControlsGalleryTest, EveryStateFitsItsTextTruncatesOnlyByDesignAndFocusesOneButton) {
    DesktopControl::reset();
    const auto& all = gallery::scenes();
    const auto scene = std::find_if(all.begin(), all.end(), [](const auto& s) { return s.name == "toolkit-controls"; });
    ASSERT_NE(scene, all.end());
    EXPECT_EQ(scene->states, (std::vector<std::string>{"light", "dark", "contrast"}));
    for (const auto& state : scene->states) {
        const auto recording = gallery::record(*scene, state);
        EXPECT_TRUE(auditLayout(recording).empty()) << state;
        std::vector<std::string> truncated;
        for (const auto& text : recording.texts()) {
            const std::string& s = text.text.string();
            if (text.layout.truncated || s.ends_with("…")) truncated.push_back(s.substr(0, 12));
        }
        // Two titles that end in an ellipsis of their own, the two-line label cut with one and the
        // path truncated at its tail; nothing else.
        EXPECT_EQ(truncated, (std::vector<std::string>{"Save…", "Open Help…", "Two lines at", "/home/develo"})) << state;
        const auto rings = std::count_if(recording.operations().begin(), recording.operations().end(), [](const auto& op) {
            return std::holds_alternative<drawing::FocusRingMask>(op);
        });
        EXPECT_EQ(rings, 1) << state;
    }
    DesktopControl::reset();
}

} // namespace
