#include "platform/desktop/Screen.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "windows/PasteOverlayController.h"
#include "windows/PasteOverlayPlacement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

using namespace tarpelix;
using platform::Rect;

namespace {

constexpr platform::Size overlay{264, 44};
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// A 1440 × 900 primary display whose menu bar takes 25 points.
const PasteOverlayScreen primary{1, {0, 0, 1440, 900}, {0, 0, 1440, 875}};

// Where the overlay goes for a window (Accessibility coordinates) on these displays, the first
// being the primary one; none when it has no display or no frame there.
std::optional<Rect> place(const Rect& window, const std::vector<PasteOverlayScreen>& screens) {
    if (screens.empty()) return std::nullopt;
    const auto screen = PasteOverlayPlacement::screen(window, screens, screens.front().frame);
    if (!screen) return std::nullopt;
    return PasteOverlayPlacement::frame(*screen, overlay);
}

TEST(PasteOverlayPlacementTest, TheOverlaySitsAtTheBottomCentreOfTheDisplayHoldingTheWindow) {
    // Accessibility frames are y down from the primary display's top-left corner.
    const PasteOverlayScreen right{2, {1440, 0, 1920, 1080}, {1440, 0, 1920, 1055}};
    const PasteOverlayScreen above{3, {0, 900, 1440, 900}, {0, 900, 1440, 875}};
    const PasteOverlayScreen leftAbove{4, {-1280, 900, 1280, 800}, {-1280, 900, 1280, 775}};
    const PasteOverlayScreen notched{1, {0, 0, 1512, 982}, {0, 64, 1512, 881}}; // menu bar 37, Dock 64
    struct Row {
        const char* name;
        Rect window;
        std::vector<PasteOverlayScreen> screens;
        std::optional<Rect> expected;
    };
    const Row rows[] = {
        {"primary only", {80, 60, 960, 640}, {primary}, Rect{588, 24, 264, 44}},
        {"second display right of the primary", {1600, 100, 800, 600}, {primary, right}, Rect{2268, 24, 264, 44}},
        // y = 900 − (−800 + 600) = 1100: on the display above, not below the primary.
        {"display above the primary", {100, -800, 800, 600}, {primary, above}, Rect{588, 924, 264, 44}},
        {"display left of and above the primary", {-1200, -700, 1000, 500}, {primary, leftAbove},
         Rect{-772, 924, 264, 44}},
        {"notched primary with a Dock", {100, 50, 1000, 700}, {notched}, Rect{624, 88, 264, 44}},
        {"window below every display", {100, 1000, 400, 300}, {primary, right}, std::nullopt},
        {"no displays", {80, 60, 960, 640}, {}, std::nullopt},
        {"NaN origin", {nan, 60, 960, 640}, {primary}, std::nullopt},
        {"infinite width", {80, 60, inf, 640}, {primary}, std::nullopt},
        {"zero width", {80, 60, 0, 640}, {primary}, std::nullopt},
        {"negative height", {80, 60, 960, -640}, {primary}, std::nullopt},
        {"far edge overflows", {1e308, 60, 1.7e308, 640}, {primary}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(place(row.window, row.screens), row.expected);
    }
}

TEST(PasteOverlayPlacementTest, AStraddlingWindowGoesToTheLargerShareAndOnATieToTheLowerNumber) {
    const PasteOverlayScreen five{5, {0, 0, 1440, 900}, {0, 0, 1440, 875}};
    const PasteOverlayScreen two{2, {1440, 0, 1440, 900}, {1440, 0, 1440, 900}};
    const Rect primaryFrame = five.frame;
    struct Row {
        const char* name;
        Rect window;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"200 points on each", {1240, 100, 400, 300}, 2},
        {"300 on the primary, 100 on the other", {1140, 100, 400, 300}, 5},
        {"100 on the primary, 300 on the other", {1340, 100, 400, 300}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& list : {std::vector{five, two}, std::vector{two, five}}) {
            const auto chosen = PasteOverlayPlacement::screen(row.window, list, primaryFrame);
            ASSERT_TRUE(chosen);
            EXPECT_EQ(chosen->id, row.expected);
        }
    }
}

TEST(PasteOverlayPlacementTest, UnusableRectanglesGiveNoDisplayAndNoFrame) {
    const Rect window{80, 60, 960, 640};
    // A display whose own frame is unusable is never chosen, even alone.
    const PasteOverlayScreen broken{1, {0, 0, nan, 900}, {0, 0, 1440, 875}};
    EXPECT_EQ(PasteOverlayPlacement::screen(window, {broken}, primary.frame), std::nullopt);
    EXPECT_EQ(PasteOverlayPlacement::screen(window, {broken, PasteOverlayScreen{7, primary.frame, primary.visibleFrame}},
                                            primary.frame)->id,
              7u);
    EXPECT_EQ(PasteOverlayPlacement::screen(window, {primary}, {0, 0, 0, 900}), std::nullopt);

    // A usable area of 40 × 30 insets by 10 × 7.5: the overlay shrinks to 20 × 15, never grows.
    const PasteOverlayScreen tiny{1, {0, 0, 40, 30}, {0, 0, 40, 30}};
    EXPECT_EQ(PasteOverlayPlacement::frame(tiny, overlay), (Rect{10, 7.5, 20, 15}));
    EXPECT_EQ(PasteOverlayPlacement::frame(primary, {0, 44}), std::nullopt);
    EXPECT_EQ(PasteOverlayPlacement::frame(primary, {264, nan}), std::nullopt);
    const PasteOverlayScreen visibleElsewhere{1, {0, 0, 1440, 900}, {2000, 0, 100, 100}};
    EXPECT_EQ(PasteOverlayPlacement::frame(visibleElsewhere, overlay), std::nullopt);
}

TEST(PasteOverlayPlacementTest, DisplaysWithoutANumberAreLeftOutOfTheCurrentScreens) {
    platform::DesktopControl::reset();
    const platform::Screen main{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 2, 69733378};
    const platform::Screen unnumbered{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}, 1, std::nullopt};
    const platform::Screen third{{-1280, 0, 1280, 800}, {-1280, 0, 1280, 800}, 2, 3};
    platform::DesktopControl::setScreens({main, unnumbered, third});
    const auto screens = PasteOverlayController::currentScreens();
    EXPECT_EQ(screens, (std::vector<PasteOverlayScreen>{{69733378, main.frame, main.visibleFrame},
                                                        {3, third.frame, third.visibleFrame}}));
    // A window wholly on the unnumbered display finds no display.
    EXPECT_EQ(PasteOverlayPlacement::screen({1600, 100, 800, 600}, screens, screens.front().frame), std::nullopt);
    platform::DesktopControl::reset();
}

} // namespace
