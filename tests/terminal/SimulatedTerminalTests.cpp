#include "TerminalFixture.h"

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/PseudoTerminalSession.h"
#include "platform/dispatch/RunLoop.h"
#include "support/MainLoop.h"
#include "support/Eventually.h"
#include "support/Processes.h"

#include <csignal>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::receivingProgram;
using tarpelix::testing::runMainUntil;
using tarpelix::testing::TerminalTest;

TEST(PseudoTerminalSession, StoppingEndsEveryProcessOfThePaneAndReapsIt) {
    auto session = std::make_unique<PseudoTerminalSession>(PseudoTerminalSession::Options{
        {"sh", "-c", "sleep 300 & sleep 300 & echo STARTED; exec sleep 300"}, {}, {}});
    ASSERT_TRUE(session->waitForOutput("STARTED"));
    EXPECT_EQ(session->tty().rfind("/dev/pts/", 0), 0u);
    pid_t leader = session->pid();
    ASSERT_TRUE(tarpelix::testing::waitUntil(
        [&] { return tarpelix::testing::livingProcessesInSession(leader).size() == 3; }));
    session.reset();
    EXPECT_TRUE(tarpelix::testing::livingProcessesInSession(leader).empty());
    EXPECT_NE(::kill(leader, 0), 0); // reaped, not a zombie of ours
}

TEST(PseudoTerminalSession, AProgramThatPrintsALotNeverBlocksOnItsTerminal) {
    PseudoTerminalSession session({{"sh", "-c", "head -c 2000000 /dev/zero | tr '\\0' x; echo; echo DONE"}, {}, {}});
    EXPECT_TRUE(session.waitForOutput("DONE"));
    EXPECT_GE(session.output().size(), 2'000'000u);
    EXPECT_THROW(PseudoTerminalSession({{}, {}, {}}), std::system_error);
}

TEST_P(TerminalTest, KeyboardTextReachesTheFocusedPaneOnly) {
    auto other = terminal->openTab(pane, receivingProgram);
    ASSERT_TRUE(terminal->waitForOutput(other, "READY"));
    auto typed = [](const std::string& text) {
        auto event = InputEventsControl::keyEvent(0, true);
        std::u16string units(text.begin(), text.end());
        event->keyboardSetUnicodeString(units);
        return event;
    };
    InputEventsControl::deliver(typed("first"));                        // to the frontmost application
    Event::postToPid(terminal->pid(), typed("second"));                 // to its process
    InputEventsControl::deliver(InputEventsControl::keyEvent(9, true)); // no text: nothing typed
    InputEventsControl::waitUntilDelivered();
    EXPECT_TRUE(terminal->waitForOutput(other, "READY\r\nfirstsecond"));
    terminal->focusSearchField();
    InputEventsControl::deliver(typed("lost"));
    terminal->focusPane(pane);
    InputEventsControl::deliver(typed("third"));
    EXPECT_TRUE(terminal->waitForOutput(pane, "READY\r\nthird"));
    EXPECT_EQ(terminal->output(other), "READY\r\nfirstsecond");
}

namespace {
struct Heard {
    std::vector<std::string> notifications;
    static void callback(AXObserver&, const AXUIElementRef&, const std::string& notification, void* refcon) {
        static_cast<Heard*>(refcon)->notifications.push_back(notification);
    }
};
} // namespace

TEST_P(TerminalTest, FocusChangesAreToldToAccessibilityObservers) {
    Heard heard;
    auto observer = AXObserver::create(terminal->pid(), &Heard::callback).observer;
    ASSERT_NE(observer, nullptr);
    auto application = AXUIElement::createApplication(terminal->pid());
    observer->addNotification(application, "AXFocusedUIElementChanged", &heard);
    observer->addNotification(application, "AXFocusedWindowChanged", &heard);
    observer->addToRunLoop(RunLoop::main());

    auto tab = terminal->openTab(pane, receivingProgram); // same window, another text area
    ASSERT_TRUE(runMainUntil([&] { return heard.notifications.size() == 1; }));
    EXPECT_EQ(heard.notifications.back(), "AXFocusedUIElementChanged");
    terminal->openWindow(receivingProgram);
    ASSERT_TRUE(runMainUntil([&] { return heard.notifications.size() == 3; }));
    EXPECT_EQ(heard.notifications[1], "AXFocusedWindowChanged");
    terminal->focusPane(tab); // the first window again
    ASSERT_TRUE(runMainUntil([&] { return heard.notifications.size() == 5; }));
    auto focused = application->copyAttributeValue("AXFocusedUIElement");
    EXPECT_TRUE(isEqual(std::get<AXUIElementRef>(*focused.value), terminal->paneElement(tab)));
}
