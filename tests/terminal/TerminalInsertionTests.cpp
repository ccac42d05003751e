#include "TerminalFixture.h"

#include "platform/desktop/WorkspaceControl.h"
#include "terminal/SyntheticEventMarker.h"

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::failureOf;
using tarpelix::testing::receivingProgram;
using tarpelix::testing::TerminalTest;

namespace {

const std::string controlCharacters = "Insertion requires text without control characters";

// Insertion by the scripted adapters (Ghostty, iTerm2).
class ScriptedInsertionTest : public TerminalTest {};

// Insertion by posted keyboard events (Terminal.app).
class TerminalAppInsertionTest : public TerminalTest {
protected:
    TerminalAppAdapter& terminalAdapter() { return static_cast<TerminalAppAdapter&>(*adapter); }
};

} // namespace

TEST_P(ScriptedInsertionTest, TheTextReachesTheProgramInThePane) {
    auto target = adapter->captureTarget();
    int called = 0;
    adapter->insert("/home/me/.cache/tarpelix/uploads/\u00e9t\u00e9 \U0001F600.png", target, [&] { ++called; });
    EXPECT_EQ(called, 1);
    EXPECT_TRUE(terminal->waitForOutput(pane, "READY\r\n/home/me/.cache/tarpelix/uploads/\u00e9t\u00e9 \U0001F600.png"));
    adapter->insert(" more", target);
    EXPECT_TRUE(terminal->waitForOutput(pane, ".png more"));
}

TEST_P(ScriptedInsertionTest, NothingIsTypedWhenAnyCheckFails) {
    auto target = adapter->captureTarget();
    auto other = terminal->splitPane(pane, receivingProgram);
    terminal->focusPane(pane);
    struct Row {
        const char* name;
        std::string text;
        std::function<void()> arrange;
        std::function<void()> callback;
        std::string expected;
        bool callbackRuns;
    };
    const Row rows[] = {
        {"empty", "", [] {}, nullptr, controlCharacters, false},
        {"line feed", "path\n", [] {}, nullptr, controlCharacters, false},
        {"zero-width joiner", "a\u200Db", [] {}, nullptr, controlCharacters, false},
        {"focus on another pane", "x", [&] { terminal->focusPane(other); }, nullptr, "Terminal focus changed", false},
        {"the callback throws", "x", [] {}, [] { throw TerminalUnavailable("Paste cancelled"); }, "Paste cancelled", true},
        // Revoked after the capture: found only by running the handler, after the callback.
        {"Automation revoked",
         "x",
         [&] { AppleEventsControl::setAutomationPermission(terminal->bundleIdentifier(), AutomationAnswer::denied); },
         nullptr, worded("Request ", " Automation in Settings \u2192 Permissions (-1743)"), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        terminal->focusPane(pane);
        row.arrange();
        int executions = AppleEventsControl::executions();
        bool ran = false;
        EXPECT_EQ(failureOf([&] {
                      adapter->insert(row.text, target, [&] {
                          ran = true;
                          if (row.callback) row.callback();
                      });
                  }),
                  row.expected);
        EXPECT_EQ(ran, row.callbackRuns);
        EXPECT_EQ(AppleEventsControl::executions(), executions); // "inserttext" never ran
    }
    EXPECT_EQ(terminal->output(pane), "READY\r\n");
}

TEST_P(ScriptedInsertionTest, AnInsertionErrorOfTheScriptIsReportedAndDropsIt) {
    auto target = adapter->captureTarget();
    terminal->restartPane(pane, receivingProgram); // the handler finds another TTY and raises
    auto reason = failureOf([&] { adapter->insert("x", target); });
    EXPECT_EQ(reason.rfind(worded("", " unavailable (-1728): ") + GetParam().word + " got an error: ", 0), 0u)
        << reason;
    int compilations = AppleEventsControl::compilations();
    adapter->captureTarget();
    EXPECT_EQ(AppleEventsControl::compilations(), compilations + 1);
}

TEST_P(TerminalAppInsertionTest, TextIsSplitIntoChunksOfAtMostTwentyUnitsWithoutSplittingAScalar) {
    struct Row {
        const char* name;
        std::string text;
        std::vector<std::size_t> chunkUnits;
    };
    const Row rows[] = {
        {"twenty", std::string(20, 'a'), {20}},
        {"twenty-one", std::string(21, 'a'), {20, 1}},
        {"forty-five", std::string(45, 'a'), {20, 20, 5}},
        {"nineteen and an emoji", std::string(19, 'a') + "\U0001F600", {19, 2}},
        {"accents", "\u00e9\u00e8\u00ea", {3}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto pairs = TerminalAppAdapter::inputEvents(row.text);
        ASSERT_EQ(pairs.size(), row.chunkUnits.size());
        std::string joined;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const auto& [down, up] = pairs[i];
            EXPECT_EQ(down->type(), EventType::keyDown);
            EXPECT_EQ(up->type(), EventType::keyUp);
            EXPECT_EQ(down->unicodeString().size(), row.chunkUnits[i]);
            EXPECT_EQ(up->unicodeString(), down->unicodeString());
            for (const auto& event : {down, up}) {
                EXPECT_EQ(event->flags(), 0u);
                EXPECT_EQ(event->integerValueField(EventField::keyboardEventKeycode), 0);
                EXPECT_EQ(event->integerValueField(EventField::eventSourceUserData), syntheticEventMarker);
            }
            joined += down->unicodeStringUTF8();
        }
        EXPECT_EQ(joined, row.text);
    }
    EXPECT_EQ(failureOf([] { TerminalAppAdapter::inputEvents("a\nb"); }), controlCharacters);
    InputEventsControl::failNext(InputEventsControl::Failure::eventSource);
    EXPECT_EQ(failureOf([] { TerminalAppAdapter::inputEvents("ab"); }), controlCharacters);
    InputEventsControl::failNext(InputEventsControl::Failure::keyboardEvent);
    EXPECT_EQ(failureOf([] { TerminalAppAdapter::inputEvents("ab"); }), "Could not create Terminal input events");
}

TEST_P(TerminalAppInsertionTest, PostedKeysTypeTheTextIntoTheFocusedPane) {
    auto target = adapter->captureTarget();
    const std::string text = "/home/me/.cache/tarpelix/uploads/3F2A-\u00e9t\u00e9-\U0001F600.png";
    int pairs = 0;
    adapter->insert(text, target, [&] { ++pairs; });
    EXPECT_EQ(pairs, 3);
    EXPECT_TRUE(terminal->waitForOutput(pane, "READY\r\n" + text));
}

TEST_P(TerminalAppInsertionTest, AFocusChangeMidwayStopsTheTyping) {
    const std::string text = std::string(20, 'a') + std::string(20, 'b') + std::string(5, 'c');
    auto other = terminal->openTab(pane, receivingProgram);
    ASSERT_TRUE(terminal->waitForOutput(other, "READY"));
    terminal->focusPane(pane);
    struct Row {
        const char* name;
        std::function<void()> moveFocus;
        std::string expected;
    };
    const Row rows[] = {
        {"to another application", [] { WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.editor"}); },
         worded("Focus a pane in one running ", " instance")},
        {"to another tab", [&] { terminal->focusPane(other); }, "Terminal focus changed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WorkspaceControl::activateApplication(terminal->pid());
        terminal->focusPane(pane);
        auto target = adapter->captureTarget();
        int pairs = 0;
        EXPECT_EQ(failureOf([&] {
                      adapter->insert(text, target, [&] {
                          if (++pairs == 2) row.moveFocus(); // after the first pair, before the second is posted
                      });
                  }),
                  row.expected);
        EXPECT_EQ(pairs, 2);
        InputEventsControl::waitUntilDelivered();
        EXPECT_TRUE(terminal->waitForOutput(pane, std::string(20, 'a')));
        EXPECT_EQ((terminal->output(pane) + terminal->output(other)).find('c'), std::string::npos);
    }
}

TEST_P(TerminalAppInsertionTest, NothingIsTypedWhenValidationOrTheFirstCallbackFails) {
    auto target = adapter->captureTarget();
    EXPECT_EQ(failureOf([&] { adapter->insert("a\tb", target); }), controlCharacters);
    int executions = AppleEventsControl::executions();
    EXPECT_EQ(failureOf([&] { adapter->insert("x", target, [] { throw TerminalUnavailable("Paste cancelled"); }); }),
              "Paste cancelled");
    EXPECT_EQ(AppleEventsControl::executions(), executions + 1); // validated before the callback
    terminal->restartPane(pane, receivingProgram);
    EXPECT_EQ(failureOf([&] { adapter->insert("x", target); }),
              "Captured Terminal target changed or disappeared \u2014 capture again");
    InputEventsControl::waitUntilDelivered();
    EXPECT_TRUE(InputEventsControl::receivedEvents(terminal->pid()).empty());
}

INSTANTIATE_TEST_SUITE_P(Terminals, ScriptedInsertionTest,
                         ::testing::Values(tarpelix::testing::ghosttyKind, tarpelix::testing::iTerm2Kind),
                         tarpelix::testing::kindName);
INSTANTIATE_TEST_SUITE_P(Terminals, TerminalAppInsertionTest, ::testing::Values(tarpelix::testing::terminalAppKind),
                         tarpelix::testing::kindName);
