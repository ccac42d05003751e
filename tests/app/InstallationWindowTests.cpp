#include "app/InstallationWindowController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/TitleBar.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;

struct InstallationWindowTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }
};

TEST_F(InstallationWindowTest, ReturnOpensTheApplicationsFolderAndEscapeOrCloseQuits) {
    testing::TemporaryDirectory applications{"tarpelix-applications"};
    ASSERT_TRUE(WorkspaceControl::setApplicationsDirectory(applications.path()));
    int quits = 0;
    auto controller = InstallationWindowController::create({}, [&] { ++quits; });
    Window& window = controller->window();
    controller->show();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isKeyWindow());
    EXPECT_TRUE(Application::shared().isActive());

    window.displayIfNeeded(); // drawn, as the user sees it before clicking
    AppKitControl::typeKey(KeyCode::returnKey, "\r");
    EXPECT_EQ(WorkspaceControl::openedURLs(), (std::vector<std::string>{"file://" + applications.path() + "/"}));
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(window.isVisible()) << "opening the folder leaves the window up";

    AppKitControl::typeKey(KeyCode::escape, "\x1b");
    EXPECT_EQ(quits, 1);
    AppKitControl::click(*window.standardWindowButton(WindowButtonKind::close));
    EXPECT_EQ(quits, 2);
    EXPECT_TRUE(window.isVisible()) << "the close button quits instead of closing";
    EXPECT_EQ(WorkspaceControl::openedURLs().size(), 1u);

    AppKitControl::click(controller->openApplicationsButton());
    AppKitControl::click(controller->quitButton());
    EXPECT_EQ(WorkspaceControl::openedURLs().size(), 2u);
    EXPECT_EQ(quits, 3);
}

TEST_F(InstallationWindowTest, ReadsAsOneMessageWithItsTwoChoices) {
    auto controller = InstallationWindowController::create([] {}, [] {});
    Window& window = controller->window();
    window.layoutIfNeeded();
    EXPECT_EQ(ScreenReader::read(window),
              (std::vector<std::string>{"Install Tarpelix", "Move Tarpelix to Applications",
                                        "Move Tarpelix to the Applications folder in Finder, then open it there.",
                                        "Quit, button", "Open Applications, button"}));
    EXPECT_EQ(window.contentView()->frame().size, (Size{440, 180}));
}

// Each entry point stops on its own check, before any view of its window can stop on one of its own;
// the actions do nothing, so an entry point without its check would return.
TEST(InstallationWindowDeathTest, StopsOffTheMainThread) {
    EXPECT_DEATH(std::thread([] { InstallationWindowController::create([] {}, [] {}); }).join(),
                 "fatal: InstallationWindowController must be called on the main thread");
    using EntryPoint = std::function<void(InstallationWindowController&)>;
    const std::vector<std::pair<std::string, EntryPoint>> entryPoints = {
        {"show", [](auto& controller) { controller.show(); }},
        {"openApplicationsClicked", [](auto& controller) { controller.openApplicationsClicked(); }},
        {"quitClicked", [](auto& controller) { controller.quitClicked(); }},
        {"windowShouldClose", [](auto& controller) { controller.windowShouldClose(controller.window()); }},
    };
    for (const auto& [name, call] : entryPoints) {
        SCOPED_TRACE(name);
        EXPECT_DEATH(
            {
                auto controller = InstallationWindowController::create([] {}, [] {});
                std::thread([&] { call(*controller); }).join();
            },
            "fatal: InstallationWindowController::" + name + " must be called on the main thread");
    }
}

} // namespace
} // namespace tarpelix
