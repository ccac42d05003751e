#include "OverlayFixture.h"

#include "platform/desktop/Screen.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Rect;
using Stage = PasteFeedback::Stage;
using Outcome = PasteFeedback::Outcome;

namespace {

using OverlayControllerTest = OverlayFixture;

constexpr const char* pasting = "Pasting image…";

TEST_F(OverlayControllerTest, FeedbackIsFilteredToOneForwardPathAndOneFinalOutcome) {
    struct Case {
        const char* name;
        std::vector<PasteFeedback> offered; // after setOrigin(a) on the primary display
        std::vector<std::string> drawn;
        std::vector<double> timers;
        std::optional<PasteFeedback> latest;
        bool shownAtEnd;
    };
    const auto preparing = feedback(a, Stage::preparing);
    const auto uploading = feedback(a, Stage::uploading, std::nullopt, "to build-host");
    const auto success = feedback(a, Stage::inserting, Outcome::success);
    const auto revision = feedback(a, Stage::inserting, Outcome::ambiguous, "Check the prompt", true);
    const Case cases[] = {
        {"another operation", {feedback(b, Stage::preparing)}, {}, {}, std::nullopt, false},
        {"a duplicate is drawn once", {preparing, preparing}, {pasting}, {}, preparing, true},
        {"an equal stage with another explanation is redrawn",
         {uploading, feedback(a, Stage::uploading, std::nullopt, "to db-host")},
         {pasting, pasting},
         {},
         feedback(a, Stage::uploading, std::nullopt, "to db-host"),
         true},
        {"a stage going back is dropped", {uploading, feedback(a, Stage::resolving)}, {pasting}, {}, uploading, true},
        {"a second final outcome is dropped",
         {uploading, success, feedback(a, Stage::inserting, Outcome::failed, "Connection lost")},
         {pasting, "Path sent to terminal"},
         {0.5},
         success,
         true},
        {"a revision after the outcome is kept, not drawn", {success, revision}, {"Path sent to terminal"}, {0.5},
         revision, true},
        {"a revision before any outcome is dropped", {uploading, revision}, {pasting}, {}, uploading, true},
        {"a normal paste hides and arms nothing", {preparing, feedback(a, Stage::resolving, Outcome::normalPaste)},
         {pasting}, {}, feedback(a, Stage::resolving, Outcome::normalPaste), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        overlay = make(true);
        drawn.clear();
        timers.clear();
        overlay->setOrigin(a, onPrimary);
        for (const auto& f : c.offered) overlay->receive(f);
        EXPECT_EQ(drawn, c.drawn);
        std::vector<double> seconds;
        for (const auto& t : timers) seconds.push_back(t.seconds);
        EXPECT_EQ(seconds, c.timers);
        EXPECT_EQ(overlay->latestFeedback(), c.latest);
        EXPECT_EQ(shown(), c.shownAtEnd);
        if (c.shownAtEnd) {
            EXPECT_EQ(overlay->panel().frame(), shownFrame);
        }
    }
}

TEST_F(OverlayControllerTest, EachResultShowsItsTextSymbolAndTintAndHidesAfterItsDelay) {
    struct Case {
        Outcome outcome;
        std::string text;
        std::string symbol;
        platform::Color tint;
        double delay;
    };
    const Case cases[] = {
        {Outcome::success, "Path sent to terminal", "checkmark.circle", platform::Color::systemGreen(), 0.5},
        {Outcome::failed, "Couldn’t paste image", "exclamationmark.triangle", platform::Color::systemOrange(), 1.2},
        {Outcome::cancelled, "Paste stopped", "xmark.circle", platform::Color::secondaryLabelColor(), 1.2},
        {Outcome::uploadedWithoutInsertion, "Uploaded; path not pasted", "exclamationmark.triangle",
         platform::Color::systemOrange(), 1.2},
        {Outcome::ambiguous, "Check terminal input", "questionmark.circle", platform::Color::systemOrange(), 1.2},
        {Outcome::interrupted, "Paste stopped", "xmark.circle", platform::Color::secondaryLabelColor(), 1.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        timers.clear();
        const auto id = platform::Uuid::random();
        overlay->setOrigin(id, onPrimary);
        overlay->receive(feedback(id, Stage::uploading));
        EXPECT_TRUE(overlay->spinner().isRunning());
        EXPECT_TRUE(overlay->symbol().isHidden());
        auto result = feedback(id, Stage::inserting, c.outcome, "Never shown", false);
        result.destination = "build-host";
        result.nextStep = "Never shown either";
        overlay->receive(result);

        EXPECT_EQ(overlay->stageLabel().stringValue(), c.text);
        EXPECT_FALSE(overlay->spinner().isRunning());
        EXPECT_TRUE(overlay->spinner().isHidden());
        EXPECT_FALSE(overlay->symbol().isHidden());
        ASSERT_TRUE(overlay->symbol().image());
        EXPECT_EQ(overlay->symbol().image()->symbolName(), c.symbol);
        EXPECT_EQ(overlay->symbol().contentTintColor(), c.tint);

        ASSERT_EQ(timers.size(), 1u);
        EXPECT_EQ(timers[0].seconds, c.delay);
        EXPECT_TRUE(shown());
        timers[0].action();
        EXPECT_FALSE(shown());
    }
}

TEST_F(OverlayControllerTest, ANewOperationCancelsTheOldTimerAndAStaleTimerLeavesTheOverlayAlone) {
    overlay->setOrigin(a, onPrimary);
    overlay->receive(feedback(a, Stage::inserting, Outcome::success));
    ASSERT_EQ(timers.size(), 1u);

    // The next paste 0.3 s later: the old result goes at once and its timer is cancelled.
    overlay->setOrigin(b, onPrimary);
    EXPECT_FALSE(shown());
    EXPECT_TRUE(timers[0].cancelled);
    overlay->receive(feedback(b, Stage::preparing));
    EXPECT_TRUE(shown());
    timers[0].action(); // fires anyway: another operation
    EXPECT_TRUE(shown());
    EXPECT_EQ(overlay->stageLabel().stringValue(), pasting);

    // The same operation announced again has a new token: the old timer still does nothing.
    overlay->receive(feedback(b, Stage::inserting, Outcome::failed));
    ASSERT_EQ(timers.size(), 2u);
    overlay->setOrigin(a, onPrimary);
    overlay->receive(feedback(a, Stage::preparing));
    ASSERT_TRUE(shown());
    timers[0].action();
    timers[1].action();
    EXPECT_TRUE(shown());

    // Announcing the operation it already follows changes nothing.
    overlay->setOrigin(a, onPrimary);
    EXPECT_TRUE(shown());
    EXPECT_EQ(overlay->latestFeedback(), feedback(a, Stage::preparing));
}

TEST_F(OverlayControllerTest, TheSettingOffHidesAndKeepsTheOperationUnshownUntilTheNext) {
    // Off when the paste began: filtered and stored, never drawn, even once switched on.
    overlay = make(false);
    overlay->setOrigin(a, onPrimary);
    overlay->receive(feedback(a, Stage::preparing));
    EXPECT_EQ(overlay->latestFeedback(), feedback(a, Stage::preparing));
    overlay->setEnabled(true);
    overlay->receive(feedback(a, Stage::uploading));
    EXPECT_EQ(overlay->latestFeedback(), feedback(a, Stage::uploading));
    EXPECT_TRUE(drawn.empty());
    EXPECT_FALSE(shown());

    // The next paste shows; switching off while it is shown hides it and cancels its timer.
    overlay->setOrigin(b, onPrimary);
    overlay->receive(feedback(b, Stage::inserting, Outcome::success));
    EXPECT_TRUE(shown());
    overlay->setEnabled(false);
    EXPECT_FALSE(shown());
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_TRUE(timers[0].cancelled);
    overlay->setEnabled(true);
    EXPECT_FALSE(shown());
    EXPECT_EQ(drawn, std::vector<std::string>{"Path sent to terminal"});
}

TEST_F(OverlayControllerTest, AnOperationWithoutAUsableFrameOnADisplayIsNeverShown) {
    overlay->receive(feedback(a, Stage::preparing)); // before any origin
    EXPECT_EQ(overlay->latestFeedback(), std::nullopt);
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::optional<Rect> frames[] = {std::nullopt, Rect{inf, 60, 960, 640}, Rect{80, 60, 0, 0},
                                          Rect{5000, 60, 960, 640}};
    for (const auto& frame : frames) {
        overlay = make(true);
        const auto id = platform::Uuid::random();
        overlay->setOrigin(id, frame);
        EXPECT_EQ(overlay->screenID(), std::nullopt);
        overlay->receive(feedback(id, Stage::uploading));
        overlay->receive(feedback(id, Stage::preparing)); // still filtered: the stage never goes back
        EXPECT_EQ(overlay->latestFeedback(), feedback(id, Stage::uploading));
    }
    screens.clear();
    overlay->setOrigin(a, onPrimary);
    EXPECT_EQ(overlay->screenID(), std::nullopt);
    EXPECT_TRUE(drawn.empty());
    EXPECT_FALSE(shown());
}

// Posts the screen-parameters notification and lets the main queue deliver it.
void displaysChanged() {
    platform::NotificationCenter::defaultCenter().post(platform::applicationDidChangeScreenParametersNotification);
    bool delivered = false;
    platform::DispatchQueue::main()->async([&] { delivered = true; });
    ASSERT_TRUE(platform::RunLoop::main()->runUntil([&] { return delivered; }, 10));
}

TEST_F(OverlayControllerTest, TheOverlayFollowsItsDisplayAndHidesWhenItIsUnplugged) {
    const PasteOverlayScreen second{2, {1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}};
    screens = {primary, second};
    overlay->setOrigin(a, Rect{1600, 100, 800, 600});
    EXPECT_EQ(overlay->screenID(), 2u);
    overlay->receive(feedback(a, Stage::uploading));
    EXPECT_EQ(overlay->panel().frame(), (Rect{2268, 24, 264, 44}));

    // Rearranged: the second display now sits left of the primary.
    screens = {primary, {2, {-1920, 0, 1920, 1080}, {-1920, 0, 1920, 1055}}};
    displaysChanged();
    EXPECT_EQ(overlay->panel().frame(), (Rect{-1092, 24, 264, 44}));
    EXPECT_TRUE(shown());

    screens = {primary};
    displaysChanged();
    EXPECT_FALSE(shown());
    EXPECT_FALSE(overlay->spinner().isRunning());
    // Dismissed: the display coming back shows nothing for this operation.
    screens = {primary, second};
    displaysChanged();
    EXPECT_FALSE(shown());
    overlay->receive(feedback(a, Stage::inserting));
    EXPECT_FALSE(shown());
}

TEST(OverlayTimerTest, TheDefaultTimerFiresWhileAMenuTracksAndItsCancellerStopsIt) {
    platform::DesktopControl::reset();
    std::vector<std::string> fired;
    auto cancel = PasteOverlayController::scheduleTimer(0, [&] { fired.push_back("cancelled"); });
    cancel();
    PasteOverlayController::scheduleTimer(0.01, [&] { fired.push_back("kept"); });
    // Timers fire in deadline order, so the cancelled one would have fired first.
    ASSERT_TRUE(platform::RunLoop::main()->runUntil([&] { return !fired.empty(); }, 10,
                                                    platform::RunLoopMode::eventTracking));
    EXPECT_EQ(fired, std::vector<std::string>{"kept"});
}

TEST(PasteOverlayControllerDeathTest, ThePublicEntriesStopOffTheMainThread) {
    const auto offMain = [](const std::function<void(PasteOverlayController&)>& call) {
        auto overlay = PasteOverlayController::create(true, [] { return std::vector<PasteOverlayScreen>{}; });
        std::thread([&] { call(*overlay); }).join();
    };
    const auto id = platform::Uuid::random();
    EXPECT_DEATH(offMain([](auto& o) { o.setEnabled(false); }), "PasteOverlayController::setEnabled");
    EXPECT_DEATH(offMain([&](auto& o) { o.setOrigin(id, std::nullopt); }), "PasteOverlayController::setOrigin");
    EXPECT_DEATH(offMain([&](auto& o) { o.receive(OverlayFixture::feedback(id, Stage::preparing)); }),
                 "PasteOverlayController::receive");
    EXPECT_DEATH(offMain([](auto& o) { o.screenParametersChanged(); }),
                 "PasteOverlayController::screenParametersChanged");
}

} // namespace
