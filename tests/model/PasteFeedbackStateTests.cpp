#include "model/PasteFeedbackState.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace tarpelix;
using Outcome = PasteFeedback::Outcome;
using Stage = PasteFeedback::Stage;

namespace {

class FeedbackStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        state.publish = [this](const PasteFeedback& feedback) {
            // The holder's current value is already the published one.
            EXPECT_EQ(state.current(), feedback);
            published.push_back(feedback);
        };
    }

    PasteFeedbackState state;
    std::vector<PasteFeedback> published;
    platform::Uuid a = platform::Uuid::random();
    platform::Uuid b = platform::Uuid::random();
};

} // namespace

TEST_F(FeedbackStateTest, BeginPublishesOnceAndAnUnfinishedPasteKeepsTheDisplay) {
    state.begin(a);
    state.begin(a);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].operationID, a);
    EXPECT_EQ(published[0].stage, Stage::preparing);

    state.begin(b);
    EXPECT_EQ(published.size(), 1u);

    state.complete(a, Outcome::failed, "x", false);
    state.complete(a, Outcome::ambiguous, std::nullopt, true); // a failure takes no second completion
    state.begin(b);
    ASSERT_EQ(published.size(), 3u);
    EXPECT_EQ(published.back().operationID, b);
    EXPECT_FALSE(published.back().outcome);
    EXPECT_FALSE(published.back().explanation);
    EXPECT_FALSE(published.back().nextStep);
}

TEST_F(FeedbackStateTest, AdvanceNeverMovesBackAndSkipsRepeats) {
    state.begin(a);
    state.advance(a, Stage::uploading, "host");
    state.advance(a, Stage::resolving, std::nullopt);
    state.advance(a, Stage::uploading, "host");
    ASSERT_EQ(published.size(), 2u);
    state.advance(a, Stage::uploading, "other");
    ASSERT_EQ(published.size(), 3u);
    state.advance(a, Stage::inserting, std::nullopt);
    ASSERT_EQ(published.size(), 4u);
    EXPECT_EQ(published.back().destination, "other");
    state.advance(b, Stage::inserting, "x");
    EXPECT_EQ(published.size(), 4u);
}

TEST_F(FeedbackStateTest, DismissIsFinal) {
    state.begin(a);
    state.dismiss(a);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published.back().outcome, Outcome::normalPaste);
    EXPECT_EQ(published.back().explanation, "The image was passed to normal paste.");
    state.complete(a, Outcome::failed, "x", false);
    state.advance(a, Stage::inserting, std::nullopt);
    state.dismiss(a);
    EXPECT_EQ(published.size(), 2u);
    EXPECT_EQ(state.current()->outcome, Outcome::normalPaste);

    // Dismissing a finished paste publishes nothing, but no revision follows it.
    state.begin(b);
    state.complete(b, Outcome::cancelled, "Paste cancelled", false);
    state.dismiss(b);
    state.complete(b, Outcome::ambiguous, std::nullopt, true);
    EXPECT_EQ(published.size(), 4u);
    EXPECT_EQ(state.current()->outcome, Outcome::cancelled);
}

TEST_F(FeedbackStateTest, OnlyAConfirmedUploadRevisesACancellation) {
    state.begin(a);
    state.complete(a, Outcome::cancelled, "Paste cancelled", false);
    state.complete(a, Outcome::uploadedWithoutInsertion, std::nullopt, false); // needs the upload
    state.complete(b, Outcome::ambiguous, std::nullopt, true);                 // another paste
    ASSERT_EQ(published.size(), 2u);

    state.complete(a, Outcome::ambiguous, std::nullopt, true);
    ASSERT_EQ(published.size(), 3u);
    EXPECT_TRUE(published.back().isRevision);
    EXPECT_TRUE(published.back().uploadConfirmed);
    EXPECT_EQ(published.back().explanation, "The image was uploaded, but terminal handoff could not be confirmed.");

    state.complete(a, Outcome::success, std::nullopt, true);
    EXPECT_EQ(published.size(), 3u);
}

TEST(FeedbackStateDeathTest, EveryChangeStopsOffTheMainThread) {
    using Change = std::function<void(PasteFeedbackState&, const platform::Uuid&)>;
    const std::vector<std::pair<std::string, Change>> changes = {
        {"begin", [](auto& state, const auto& id) { state.begin(id); }},
        {"advance",
         [](auto& state, const auto& id) { state.advance(id, PasteFeedback::Stage::uploading, std::nullopt); }},
        {"complete",
         [](auto& state, const auto& id) { state.complete(id, PasteFeedback::Outcome::success, std::nullopt, true); }},
        {"dismiss", [](auto& state, const auto& id) { state.dismiss(id); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        EXPECT_DEATH(
            {
                PasteFeedbackState state;
                const auto id = platform::Uuid::random();
                state.begin(id); // so that a change that is not checked would be accepted, not dropped
                std::thread([&] { change(state, id); }).join();
            },
            "fatal: PasteFeedbackState\\." + name + " must be called on the main thread");
    }
}
