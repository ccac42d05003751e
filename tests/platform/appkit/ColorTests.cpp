#include "platform/appkit/Color.h"
#include "platform/desktop/Desktop.h"
#include "platform/desktop/SystemSettingsControl.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

constexpr DrawingAppearance light{Appearance::light, false};
constexpr DrawingAppearance dark{Appearance::dark, false};
constexpr DrawingAppearance lightContrast{Appearance::light, true};
constexpr DrawingAppearance darkContrast{Appearance::dark, true};

double luminance(const RGBA& c) { return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue; }

class ColorTest : public ::testing::Test {
protected:
    void TearDown() override { Desktop::shared().reset(); }
};

TEST_F(ColorTest, LabelColoursStayLegibleOnTheirBackgroundsInEveryAppearance) {
    for (auto appearance : {light, dark, lightContrast, darkContrast}) {
        const RGBA background = Color::windowBackgroundColor().resolved(appearance);
        for (const Color& label : {Color::labelColor(), Color::secondaryLabelColor()}) {
            const RGBA c = label.resolved(appearance);
            // Composite the label over the background and ask for a clear lightness step.
            const double composed = luminance(c) * c.alpha + luminance(background) * (1 - c.alpha);
            EXPECT_GT(std::abs(composed - luminance(background)), 0.35) << label.name();
        }
    }
    // Increase Contrast strengthens separators and secondary text.
    EXPECT_GT(Color::separatorColor().resolved(lightContrast).alpha, Color::separatorColor().resolved(light).alpha);
    EXPECT_GT(Color::secondaryLabelColor().resolved(darkContrast).alpha,
              Color::secondaryLabelColor().resolved(dark).alpha);
}

TEST_F(ColorTest, DynamicColoursResolveAgainstTheInnermostScopeElseTheDesktop) {
    DesktopControl::setAppearance(Appearance::dark);
    EXPECT_EQ(Color::labelColor().resolved(), Color::labelColor().resolved(dark));
    {
        DrawingAppearanceScope outer(light);
        EXPECT_EQ(Color::controlBackgroundColor().resolved(), Color::controlBackgroundColor().resolved(light));
        {
            DrawingAppearanceScope inner(darkContrast);
            EXPECT_EQ(DrawingAppearanceScope::current(), darkContrast);
        }
        EXPECT_EQ(DrawingAppearanceScope::current(), light);
    }
    DesktopControl::setIncreaseContrast(true);
    EXPECT_EQ(DrawingAppearanceScope::current(), darkContrast);
}

TEST_F(ColorTest, AlphaIsReplacedAndADynamicColourStaysDynamic) {
    const Color faint = Color::separatorColor().withAlphaComponent(0.35);
    EXPECT_TRUE(faint.isDynamic());
    const RGBA inDark = faint.resolved(dark);
    const RGBA base = Color::separatorColor().resolved(dark);
    EXPECT_EQ(inDark, (RGBA{base.red, base.green, base.blue, 0.35}));
    EXPECT_NE(faint, Color::separatorColor());
    EXPECT_EQ(faint, Color::separatorColor().withAlphaComponent(0.35));
    EXPECT_EQ(Color::rgb(1, 0, 0).withAlphaComponent(2).resolved().alpha, 1);
}

TEST_F(ColorTest, BlendingMixesTheResolvedColoursAndRefusesANonNumber) {
    const auto mixed = Color::rgb(0, 0, 0).blended(0.25, Color::rgb(1, 0.5, 0, 0));
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->resolved(), (RGBA{0.25, 0.125, 0, 0.75}));
    EXPECT_EQ(Color::rgb(0, 0, 0).blended(3, Color::whiteColor())->resolved(), Color::whiteColor().resolved());
    EXPECT_FALSE(Color::labelColor().blended(std::nan(""), Color::whiteColor()));

    // A provider that blends system colours gives each appearance its own mix.
    const Color value = Color::dynamic("value", [](const DrawingAppearance&) {
        return Color::controlAccentColor().blended(0.25, Color::labelColor()).value_or(Color::labelColor());
    });
    for (auto appearance : {light, dark}) {
        DrawingAppearanceScope scope(appearance);
        EXPECT_EQ(value.resolved(), Color::controlAccentColor().blended(0.25, Color::labelColor())->resolved());
    }
    EXPECT_NE(value.resolved(light), value.resolved(dark));
}

} // namespace
