#include "TerminalFixture.h"

#include "platform/desktop/AccessibilityControl.h"
#include "platform/foundation/Bundle.h"
#include "platform/desktop/WorkspaceControl.h"
#include "support/TemporaryDirectory.h"

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::failureOf;
using tarpelix::testing::receivingProgram;
using tarpelix::testing::TerminalTest;

namespace {

const std::string focusContent = "Focus terminal content; search fields and dialogs are unsupported";

AppleEventDescriptor listOf(std::initializer_list<AppleEventDescriptor> items) {
    auto list = AppleEventDescriptor::list();
    for (const auto& item : items) list.insertDescriptor(item, 0);
    return list;
}

AppleEventDescriptor text(const std::string& value) { return AppleEventDescriptor::text(value); }

// Stands in for a terminal's script handlers: runs the terminal's own, then does something.
struct Interposer : ScriptableApplication {
    std::shared_ptr<SimulatedTerminal> terminal;
    std::function<void()> after;
    AppleEventDescriptor handleScriptCall(const std::string& handler,
                                          const std::vector<AppleEventDescriptor>& arguments) override {
        auto reply = terminal->handleScriptCall(handler, arguments);
        after();
        return reply;
    }
};

} // namespace

TEST_P(TerminalTest, CaptureNamesTheFocusedPaneAndValidationFollowsIt) {
    auto target = adapter->captureTarget();
    auto expected = terminal->pane(pane);
    EXPECT_EQ(target.applicationPID, terminal->pid());
    EXPECT_EQ(target.windowID, expected.windowID);
    EXPECT_EQ(target.tabID, expected.tabID);
    EXPECT_EQ(target.terminalID, expected.terminalID);
    EXPECT_EQ(target.tty, expected.tty);
    EXPECT_TRUE(isEqual(target.focusedElement, terminal->paneElement(pane)));
    EXPECT_EQ(failureOf([&] { adapter->validateTarget(target); }), "");

    const std::string changed = worded("Captured ", " target changed or disappeared \u2014 capture again");
    auto other = terminal->openTab(pane, receivingProgram); // the user switched to another tab
    EXPECT_EQ(failureOf([&] { adapter->validateTarget(target); }), changed);
    terminal->focusPane(pane);
    EXPECT_EQ(failureOf([&] { adapter->validateTarget(target); }), "");

    terminal->restartPane(pane, receivingProgram); // the same pane on another TTY
    EXPECT_EQ(failureOf([&] { adapter->validateTarget(target); }), changed);
    target = adapter->captureTarget();
    terminal->closePane(pane); // the pane closed; its neighbour has the focus now
    EXPECT_EQ(failureOf([&] { adapter->validateTarget(target); }), changed);
    EXPECT_EQ(adapter->captureTarget().tty, terminal->pane(other).tty);
}

TEST_P(TerminalTest, TheFocusedPaneTestSaysWhatIsWrong) {
    const std::string oneInstance = worded("Focus a pane in one running ", " instance");
    const std::string accessibility = worded("", " Accessibility unavailable (");
    std::shared_ptr<SimulatedTerminal> second;
    struct Row {
        const char* name;
        std::function<void()> arrange;
        std::string expected;
    };
    const Row rows[] = {
        {"not trusted", [] { InputEventsControl::setAccessibilityTrusted(false); },
         "Grant Tarpelix Accessibility in System Settings"},
        {"another application frontmost", [] { WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.editor"}); },
         oneInstance},
        {"nothing frontmost", [] { WorkspaceControl::activateApplication(0); }, oneInstance},
        {"two live instances", [&] { second = SimulatedTerminal::launch(GetParam().kind, false); }, oneInstance},
        {"a second instance that quit", [&] { SimulatedTerminal::launch(GetParam().kind, false)->quit(); }, ""},
        {"search field", [&] { terminal->focusSearchField(); }, focusContent},
        {"dialog", [&] { terminal->showDialog(); }, focusContent},
        {"content attribute unsupported",
         [&] {
             AccessibilityControl::setAttributeError(terminal->pid(), terminal->paneNode(pane),
                                                     GetParam().kind == SimulatedTerminal::Kind::ghostty ? "AXHelp"
                                                                                                          : "AXDescription",
                                                     AXErrorCode::attributeUnsupported);
         },
         accessibility + "-25205)"},
        {"application cannot answer",
         [&] {
             AccessibilityControl::setAttributeError(terminal->pid(), SimulatedTerminal::applicationNode,
                                                     "AXFocusedUIElement", AXErrorCode::cannotComplete);
         },
         accessibility + "-25204)"},
        {"no window", [&] { terminal->closePane(pane); }, accessibility + "-25212)"},
        // Without a timeout of its own (the default is six seconds) the read would wait and succeed.
        {"the text area does not answer within a second",
         [&] { AccessibilityControl::setAttributeLatency(terminal->pid(), terminal->paneNode(pane), "AXRole", 3.0); },
         accessibility + "-25204)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        row.arrange();
        EXPECT_EQ(failureOf([&] { adapter->captureTarget(); }), row.expected);
        second.reset();
    }
}

TEST_P(TerminalTest, ScriptCallsReportPermissionScriptErrorsAndRepliesByTheirText) {
    const std::string unsupported = worded("", " returned an unsupported target");
    const std::string unstable = worded("", " did not provide stable IDs and a terminal TTY");
    const std::string tty = terminal->pane(pane).tty;
    struct Row {
        const char* name;
        std::function<void()> arrange;
        std::string expected;
    };
    const Row rows[] = {
        {"Automation not yet asked",
         [&] { AppleEventsControl::setAutomationPermission(terminal->bundleIdentifier(), AutomationAnswer::wouldAsk); },
         worded("Request ", " Automation in Settings \u2192 Permissions (-1744)")},
        {"Automation denied",
         [&] { AppleEventsControl::setAutomationPermission(terminal->bundleIdentifier(), AutomationAnswer::denied); },
         worded("Request ", " Automation in Settings \u2192 Permissions (-1743)")},
        {"the script is refused",
         [] {
             AppleEventsControl::failNextExecution(
                 ScriptErrorDictionary{{AppleScriptErrorKey::number, std::int64_t{-1743}},
                                       {AppleScriptErrorKey::message, std::string("Not authorized")}});
         },
         worded("", " Automation denied \u2014 enable it in System Settings")},
        {"error without a dictionary", [] { AppleEventsControl::failNextExecution(std::nullopt); },
         worded("", " unavailable (0): Missing scripting capability")},
        {"number without a message",
         [] { AppleEventsControl::failNextExecution(ScriptErrorDictionary{{AppleScriptErrorKey::number, std::int64_t{-10810}}}); },
         worded("", " unavailable (-10810): Missing scripting capability")},
        {"number that is not an integer, and a message",
         [] {
             AppleEventsControl::failNextExecution(ScriptErrorDictionary{
                 {AppleScriptErrorKey::number, 2.5}, {AppleScriptErrorKey::message, std::string("boom")}});
         },
         worded("", " unavailable (0): boom")},
        {"three items", [&] { AppleEventsControl::replaceNextReply(listOf({text("1"), text("2"), text(tty)})); },
         unsupported},
        {"five items",
         [&] { AppleEventsControl::replaceNextReply(listOf({text("1"), text("2"), text("3"), text(tty), text("5")})); },
         unsupported},
        {"a single text", [&] { AppleEventsControl::replaceNextReply(text(tty)); }, unsupported},
        {"an item without text",
         [&] { AppleEventsControl::replaceNextReply(listOf({text("1"), AppleEventDescriptor::list(), text("3"), text(tty)})); },
         unstable},
        {"an empty identifier",
         [&] { AppleEventsControl::replaceNextReply(listOf({text("1"), text(""), text("3"), text(tty)})); }, unstable},
        {"a device that is no terminal",
         [] { AppleEventsControl::replaceNextReply(listOf({text("1"), text("2"), text("3"), text("/dev/tty")})); },
         unstable},
        {"numbers and a macOS device",
         [] {
             AppleEventsControl::replaceNextReply(listOf({AppleEventDescriptor::integer(7), AppleEventDescriptor::integer(2),
                                                          text("3"), text("/dev/ttys004")}));
         },
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.arrange();
        EXPECT_EQ(failureOf([&] { adapter->captureTarget(); }), row.expected);
        AppleEventsControl::setAutomationPermission(terminal->bundleIdentifier(), AutomationAnswer::granted);
    }
}

TEST_P(TerminalTest, AMissingOrBrokenScriptIsReported) {
    tarpelix::testing::TemporaryDirectory resources;
    BundleControl::setResourceDirectory(resources.path());
    const std::string name = GetParam().word; // the resource is named after the terminal
    EXPECT_EQ(failureOf([&] { adapter->captureTarget(); }), worded("Bundled ", " script is missing"));
    resources.write(name + ".applescript", "on capturetarget()\n\xff\xfe\nend capturetarget\n");
    EXPECT_EQ(failureOf([&] { adapter->captureTarget(); }), worded("Bundled ", " script is missing"));
    resources.write(name + ".applescript", "on capturetarget()\n\ttell application id \"x\"\nend capturetarget\n");
    auto reason = failureOf([&] { adapter->captureTarget(); });
    EXPECT_EQ(reason.rfind(worded("", " unavailable (-2741): "), 0), 0u) << reason;
}

TEST_P(TerminalTest, FocusMovingDuringACaptureIsNoticed) {
    auto other = terminal->openTab(pane, receivingProgram);
    terminal->focusPane(pane);
    auto interposer = std::make_shared<Interposer>();
    interposer->terminal = terminal;
    interposer->after = [&] { terminal->focusPane(other); };
    AppleEventsControl::setScriptableApplication(terminal->pid(), interposer);
    EXPECT_EQ(failureOf([&] { adapter->captureTarget(); }), "Focus changed during target capture");
}

TEST_P(TerminalTest, TheScriptIsCompiledAgainOnlyForANewProcessOrAfterAnExecutionError) {
    adapter->captureTarget();
    adapter->captureTarget();
    EXPECT_EQ(AppleEventsControl::compilations(), 1);

    AppleEventsControl::failNextExecution(std::nullopt);
    EXPECT_NE(failureOf([&] { adapter->captureTarget(); }), "");
    adapter->captureTarget();
    EXPECT_EQ(AppleEventsControl::compilations(), 2);

    // The terminal quits and starts again: a new process.
    terminal.reset();
    terminal = SimulatedTerminal::launch(GetParam().kind);
    pane = terminal->openWindow(receivingProgram);
    auto target = adapter->captureTarget();
    EXPECT_EQ(target.applicationPID, terminal->pid());
    EXPECT_EQ(AppleEventsControl::compilations(), 3);
}

INSTANTIATE_TEST_SUITE_P(Terminals, TerminalTest,
                         ::testing::Values(tarpelix::testing::ghosttyKind, tarpelix::testing::iTerm2Kind,
                                           tarpelix::testing::terminalAppKind),
                         tarpelix::testing::kindName);
