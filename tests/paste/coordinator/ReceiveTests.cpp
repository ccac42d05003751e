#include "support/CoordinatorFixture.h"

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

const std::string clipboardChanged = "Clipboard changed during image capture — paste again";

class ReceiveTest : public CoordinatorTest {
protected:
    // The shell in the pane waits for a line; returns what it printed of it once it has one.
    void shellReadsALine() {
        terminal->type(pane, readOneLine);
        ASSERT_TRUE(terminal->waitForOutput(pane, "READY"));
    }
    bool shellReceivedControlV() {
        InputEventsControl::waitUntilDelivered(); // the replay has been typed
        terminal->type(pane, "\n");
        bool received = terminal->waitForOutput(pane, "026");
        if (!received) ADD_FAILURE() << "the shell printed: " << terminal->output(pane);
        return received;
    }
};

} // namespace

TEST_F(ReceiveTest, TextOnTheClipboardReachesTheShellAsANormalPasteWithoutFeedback) {
    startArmed();
    shellReadsALine();
    copyText("hello");
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(runMainUntil([&] { return replays() == 1; }));
    EXPECT_TRUE(shellReceivedControlV());
    settle();
    EXPECT_TRUE(feedbacks.empty());
    EXPECT_FALSE(coordinator->isBusy());
    EXPECT_EQ(transport.calls(), 0);
}

TEST_F(ReceiveTest, AChangeBetweenTheKeyPressAndThePreparationFailsThePaste) {
    struct Row {
        const char* name;
        std::function<void()> change;
        std::string reason;
    };
    const Row rows[] = {
        {"copy", [] { copyText("something else"); }, clipboardChanged},
        {"another window", [] { WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.editor"}); },
         focusOrInputChanged},
        {"Automation error at capture",
         [] {
             AppleEventsControl::failNextExecution(ScriptErrorDictionary{
                 {AppleScriptErrorKey::number, std::int64_t{-1743}}, {AppleScriptErrorKey::message, std::string("no")}});
         },
         "Ghostty Automation denied — enable it in System Settings"},
    };
    startArmed();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DesktopControl::copyPNG(screenshotPNG());
        WorkspaceControl::activateApplication(terminal->pid());
        ASSERT_TRUE(waitArmed());
        feedbacks.clear();
        reports.clear();
        const auto replayed = replays();
        betweenReceiveAndPrepare = row.change;
        EXPECT_TRUE(pressControlV().swallowed);
        ASSERT_TRUE(waitReported(row.reason));
        ASSERT_TRUE(waitIdle());
        ASSERT_FALSE(feedbacks.empty());
        auto last = feedbacks.back();
        ASSERT_TRUE(last.outcome == PasteFeedback::Outcome::failed || last.outcome == PasteFeedback::Outcome::cancelled);
        EXPECT_EQ(last.explanation, explanationFor(*last.outcome, row.reason));
        EXPECT_EQ(last.operationID, origins.back().first);
        EXPECT_EQ(replays(), replayed) << "nothing reaches the terminal";
        EXPECT_EQ(transport.calls(), 0);
        auto events = diagnosticEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().operationID, last.operationID);
        EXPECT_EQ(events.back().stage, DiagnosticStage::capture);
        EXPECT_EQ(events.back().failureCategory, TransferFailureCategory::unavailable);
    }
}

TEST_F(ReceiveTest, AFocusThatStopsBeingTheTextAreaTurnsControlVIntoANormalPasteAndCancelsTheUpload) {
    TARPELIX_REQUIRE_PRIVATE_NAMESPACE();
    auto remote = openRemotePane();
    startArmed();
    DesktopControl::copyPNG(screenshotPNG());
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(runMainUntil([&] { return transport.calls() == 1; }));
    ASSERT_TRUE(coordinator->isBusy());
    // A sheet covers the pane without the application telling anyone.
    AccessibilityControl::setAttribute(terminal->pid(), terminal->paneNode(remote), "AXRole", std::string("AXSheet"));
    EXPECT_TRUE(pressControlV().swallowed);
    ASSERT_TRUE(waitReported("Paste cancelled — normal paste"));
    ASSERT_TRUE(runMainUntil([&] { return replays() == 1; }));
    ASSERT_TRUE(lastFeedback());
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::cancelled);
    EXPECT_EQ(lastFeedback()->explanation,
              explanationFor(PasteFeedback::Outcome::cancelled, "Paste cancelled — normal paste"));
    transport.release();
    ASSERT_TRUE(waitIdle());
}

TEST(FeedbackWindowFrame, OnlyARealFrameOfTheFocusWindowPlacesTheOverlay) {
    auto focus = std::make_shared<AXUIElement>(70001, 5);
    auto window = std::make_shared<AXUIElement>(70001, 6);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* name;
        std::optional<AXValue> window;
        std::optional<AXValue> position;
        std::optional<AXValue> size;
        std::optional<PasteCoordinator::Rect> expected;
    };
    const Row rows[] = {
        {"frame", window, AXPoint{10, -20}, AXSize{300, 200}, PasteCoordinator::Rect{{10, -20}, {300, 200}}},
        {"no window", std::nullopt, AXPoint{10, 20}, AXSize{300, 200}, std::nullopt},
        {"window is text", std::string("w"), AXPoint{10, 20}, AXSize{300, 200}, std::nullopt},
        {"unreadable size", window, AXPoint{10, 20}, std::nullopt, std::nullopt},
        {"size of the wrong type", window, AXPoint{10, 20}, AXPoint{300, 200}, std::nullopt},
        {"zero width", window, AXPoint{10, 20}, AXSize{0, 200}, std::nullopt},
        {"negative height", window, AXPoint{10, 20}, AXSize{300, -1}, std::nullopt},
        {"infinite size", window, AXPoint{10, 20}, AXSize{inf, 200}, std::nullopt},
        {"origin not a number", window, AXPoint{nan, 20}, AXSize{300, 200}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto read = [&](const AXUIElementRef& element, const std::string& attribute) -> std::optional<AXValue> {
            if (attribute == "AXWindow") return isEqual(element, focus) ? row.window : std::nullopt;
            if (!isEqual(element, window)) return std::nullopt;
            if (attribute == "AXPosition") return row.position;
            if (attribute == "AXSize") return row.size;
            return std::nullopt;
        };
        EXPECT_EQ(PasteCoordinator::feedbackWindowFrame(focus, read), row.expected);
    }
}
