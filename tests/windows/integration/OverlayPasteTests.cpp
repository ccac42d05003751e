#include "support/CoordinatorFixture.h"
#include "windows/PasteOverlayController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/desktop/Screen.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"

#include <gtest/gtest.h>

namespace tarpelix::testing {
namespace {

using platform::AXPoint;
using platform::AXSize;
using platform::Rect;

// What the overlay showed while the coordinator's feedback callback still ran, before the
// main run loop could turn again.
struct Shown {
    bool visible = false;
    Rect frame;
    std::vector<std::string> drawnTexts;
    std::optional<pid_t> frontmost;
};

class OverlayPasteTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        if (!privateNamespaceUnavailableReason().empty()) GTEST_SKIP() << privateNamespaceUnavailableReason();
        // The primary display with its menu bar, and a larger one to its right.
        platform::DesktopControl::setScreens({
            {{0, 0, 1440, 900}, {0, 0, 1440, 875}, 2, 1},
            {{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}, 2, 2},
        });
        overlay = PasteOverlayController::create(true);
        remote = openRemotePane();
        makeCoordinator();
        // The application forwards the coordinator's origin and feedback to the overlay.
        auto recordOrigin = coordinator->reportFeedbackOrigin;
        coordinator->reportFeedbackOrigin = [this, recordOrigin](const platform::Uuid& id,
                                                                 const std::optional<PasteCoordinator::Rect>& frame) {
            recordOrigin(id, frame);
            std::optional<Rect> accessibilityFrame;
            if (frame) accessibilityFrame = Rect{frame->origin.x, frame->origin.y, frame->size.width, frame->size.height};
            overlay->setOrigin(id, accessibilityFrame);
        };
        auto recordFeedback = coordinator->reportFeedback;
        coordinator->reportFeedback = [this, recordFeedback](const PasteFeedback& feedback) {
            recordFeedback(feedback);
            overlay->receive(feedback);
            const auto& panel = overlay->panel();
            Shown now{panel.isVisible(), panel.frame(), {}, std::nullopt};
            if (panel.backingStore()) {
                for (const auto& text : panel.backingStore()->texts()) now.drawnTexts.push_back(text.text.string());
            }
            if (auto front = platform::Workspace::frontmostApplication()) now.frontmost = front->processIdentifier;
            shown.push_back(now);
        };
        startArmed();
        platform::DesktopControl::copyPNG(screenshotPNG());
    }

    void TearDown() override {
        overlay.reset();
        CoordinatorTest::TearDown();
    }

    std::shared_ptr<PasteOverlayController> overlay;
    std::string remote;
    std::vector<Shown> shown;
};

bool contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(OverlayPasteTest, APasteOnTheSecondScreenShowsItsProgressThereAndHidesItsResultByItself) {
    // Accessibility frame (y down from the primary's top): entirely on the second screen.
    terminal->moveWindow(remote, AXPoint{1540, 100}, AXSize{1200, 800});
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(runMainUntil([&] { return transport.calls() == 1; }));
    ASSERT_EQ(origins.size(), 1u);
    EXPECT_EQ(origins.back().second, (PasteCoordinator::Rect{{1540, 100}, {1200, 800}}));

    // The second screen's bottom centre: 24 points up, centred on x 1440 + 960.
    const Rect bottomCentre{2268, 24, 264, 44};
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown.front().visible);
    EXPECT_EQ(shown.front().frame, bottomCentre);
    EXPECT_TRUE(contains(shown.front().drawnTexts, "Pasting image…"));
    for (const auto& state : shown) EXPECT_EQ(state.frontmost, terminal->pid()) << "the overlay never activates";
    EXPECT_TRUE(coordinator->isBusy());
    EXPECT_EQ(overlay->stageLabel().stringValue(), "Pasting image…");

    transport.release();
    ASSERT_TRUE(runMainUntil([&] { return lastFeedback() && lastFeedback()->outcome; }));
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::success);
    EXPECT_TRUE(shown.back().visible);
    EXPECT_TRUE(contains(shown.back().drawnTexts, "Path sent to terminal"));
    EXPECT_EQ(shown.back().frame, bottomCentre);

    // The auto-hide timer fires while a menu tracks (event-tracking mode).
    EXPECT_TRUE(platform::RunLoop::main()->runUntil([&] { return !overlay->panel().isVisible(); }, 5,
                                                     platform::RunLoopMode::eventTracking));
    ASSERT_TRUE(waitIdle());
}

TEST_F(OverlayPasteTest, AWindowFrameThatCannotBeReadPastesWithoutTheOverlay) {
    platform::AccessibilityControl::setAttributeError(terminal->pid(), terminal->windowNode(remote), "AXPosition",
                                                      platform::AXErrorCode::failure);
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(runMainUntil([&] { return transport.calls() == 1; }));
    transport.release();
    ASSERT_TRUE(runMainUntil([&] { return lastFeedback() && lastFeedback()->outcome; }));
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::success);
    ASSERT_EQ(origins.size(), 1u);
    EXPECT_EQ(origins.back().second, std::nullopt);
    ASSERT_FALSE(shown.empty());
    for (const auto& state : shown) EXPECT_FALSE(state.visible);
    ASSERT_TRUE(waitIdle());
}

} // namespace
} // namespace tarpelix::testing
