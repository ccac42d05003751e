#include "OverlayFixture.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/RunLoop.h"
#include "windows/PasteOverlaySurface.h"

#include <gtest/gtest.h>

#include <variant>

using namespace tarpelix;
using namespace tarpelix::platform;
using Stage = PasteFeedback::Stage;
using Outcome = PasteFeedback::Outcome;

namespace {

using OverlayViewsTest = tarpelix::testing::OverlayFixture;

bool runUntil(const std::function<bool()>& predicate) { return RunLoop::main()->runUntil(predicate, 10); }

bool rotates(const PasteOverlayActivityIndicator& spinner) {
    return spinner.arc().animation(PasteOverlayActivityIndicator::rotationKey).has_value();
}

TEST_F(OverlayViewsTest, AClickOnTheFloatingOverlayReachesTheWindowBeneathAndChangesNoFocus) {
    const auto& panel = overlay->panel();
    EXPECT_FALSE(panel.canBecomeKeyWindow());
    EXPECT_FALSE(panel.canBecomeMainWindow());
    EXPECT_EQ(panel.level(), WindowLevels::floating);
    // Every space, beside full-screen windows, out of window cycling.
    EXPECT_EQ(panel.collectionBehavior(), 262465u);

    // One of our windows is key, elsewhere on the screen; a terminal is the frontmost application.
    auto window = Window::create({100, 500, 400, 200}, WindowStyle::titled);
    window->makeKeyAndOrderFront();
    const pid_t terminal = WorkspaceControl::launchApplication(
        {.bundleIdentifier = "com.mitchellh.ghostty", .localizedName = "Ghostty", .activate = true});
    overlay->setOrigin(a, onPrimary);
    overlay->receive(feedback(a, Stage::uploading));
    ASSERT_TRUE(shown());
    EXPECT_NE(Application::shared().keyWindow(), &overlay->panel());
    EXPECT_EQ(Application::shared().keyWindow(), window.get());

    const Point centre = overlay->panel().frame().center();
    AppKitControl::clickAt(centre);
    const auto received = InputEventsControl::receivedEvents(terminal);
    ASSERT_EQ(received.size(), 2u); // mouse down and up
    EXPECT_EQ(received[0]->location(), centre);
    EXPECT_EQ(Workspace::frontmostApplication()->processIdentifier, terminal);
    EXPECT_EQ(Application::shared().keyWindow(), window.get());
    EXPECT_TRUE(shown());
}

TEST_F(OverlayViewsTest, TheScreenReaderHearsOnlyTheLabel) {
    overlay->setOrigin(a, onPrimary);
    overlay->receive(feedback(a, Stage::uploading));
    EXPECT_EQ(ScreenReader::read(overlay->panel()), std::vector<std::string>{"Pasting image…"});
    overlay->receive(feedback(a, Stage::inserting, Outcome::uploadedWithoutInsertion));
    EXPECT_EQ(ScreenReader::read(overlay->panel()), std::vector<std::string>{"Uploaded; path not pasted"});

    // The longest text fits the 208 points the label has, in one line of 13-point text.
    const auto& label = overlay->stageLabel();
    EXPECT_EQ(label.frame().width(), 208);
    EXPECT_FALSE(label.isTruncated());
    EXPECT_NEAR(label.intrinsicContentSize().width, 174, 6);
    // The symbol takes the spinner's place.
    EXPECT_EQ(overlay->symbol().frame(), (Rect{14, 13, 18, 18}));
}

TEST_F(OverlayViewsTest, ReduceMotionStopsTheRotationAtItsNotificationWithoutRestartingTheSpinner) {
    // Started under Reduce Motion: a still ring.
    bool reduce = true;
    auto still = PasteOverlayActivityIndicator::create([&] { return reduce; });
    still->startAnimation();
    EXPECT_FALSE(still->isHidden());
    EXPECT_FALSE(rotates(*still));
    reduce = false;
    still->startAnimation();
    EXPECT_TRUE(rotates(*still));

    overlay->setOrigin(a, onPrimary);
    overlay->receive(feedback(a, Stage::preparing));
    const auto& spinner = overlay->spinner();
    ASSERT_TRUE(rotates(spinner));
    const auto rotation = *spinner.arc().animation(PasteOverlayActivityIndicator::rotationKey);
    EXPECT_EQ(rotation.keyPath, "transform.rotation.z");
    EXPECT_EQ(rotation.repeatCount, BasicAnimation::repeatForever);

    DesktopControl::setReduceMotion(true);
    ASSERT_TRUE(runUntil([&] { return !rotates(spinner); }));
    EXPECT_TRUE(spinner.isRunning());
    EXPECT_FALSE(spinner.isHidden()); // a still ring with its arc

    DesktopControl::setReduceMotion(false);
    ASSERT_TRUE(runUntil([&] { return rotates(spinner); }));
    overlay->receive(feedback(a, Stage::uploading)); // started again while it rotates
    EXPECT_EQ(spinner.arc().animationKeys(), std::vector<std::string>{"rotation"});

    // Light to dark recolours the ring and keeps the rotation.
    const auto lightArc = spinner.arc().strokeColor();
    const auto lightTrack = spinner.track().strokeColor();
    DesktopControl::setAppearance(Appearance::dark);
    ASSERT_TRUE(runUntil([&] { return spinner.arc().strokeColor() != lightArc; }));
    EXPECT_EQ(spinner.arc().strokeColor(), Color::controlAccentColor().cgColor());
    EXPECT_NE(spinner.track().strokeColor(), lightTrack);
    EXPECT_EQ(spinner.track().strokeColor()->resolved().alpha, 0.18);
    EXPECT_EQ(spinner.arc().animationKeys(), std::vector<std::string>{"rotation"});

    // A result stops it.
    overlay->receive(feedback(a, Stage::inserting, Outcome::success));
    EXPECT_FALSE(rotates(spinner));
    EXPECT_TRUE(spinner.isHidden());
}

// The alpha of the surface's border as drawn now.
double borderAlpha(PasteOverlaySurface& surface) {
    RecordingContext recording(surface.bounds().size);
    surface.draw(recording, surface.bounds());
    for (const auto& operation : recording.operations()) {
        if (const auto* stroke = std::get_if<drawing::Stroke>(&operation)) return stroke->color.alpha;
    }
    ADD_FAILURE() << "the surface drew no border";
    return -1;
}

TEST_F(OverlayViewsTest, TheBorderTurnsOpaqueWhenIncreaseContrastTurnsOn) {
    auto surface = PasteOverlaySurface::create({0, 0, 264, 44});
    EXPECT_DOUBLE_EQ(borderAlpha(*surface), 0.45);
    surface->setNeedsDisplay(false);
    DesktopControl::setIncreaseContrast(true);
    ASSERT_TRUE(runUntil([&] { return surface->needsDisplay(); }));
    EXPECT_DOUBLE_EQ(borderAlpha(*surface), 1.0);
}

} // namespace
