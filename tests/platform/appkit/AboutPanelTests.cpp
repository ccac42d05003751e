#include "platform/appkit/AboutPanel.h"
#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/foundation/Bundle.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;
using tarpelix::testing::TemporaryDirectory;

namespace {

struct AboutPanelTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }

    // Points the main bundle at an information dictionary with these string entries.
    void useInfo(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::string plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>)";
        for (const auto& [key, value] : entries)
            plist += "<key>" + key + "</key><string>" + value + "</string>";
        resources.write("Info.plist", plist + "</dict></plist>");
        BundleControl::setResourceDirectory(resources.path());
    }

    static const GraphicsImage& shownIcon(Window& window) {
        auto* icon = dynamic_cast<ImageView*>(window.contentView()->viewWithIdentifier("about.icon"));
        EXPECT_NE(icon, nullptr);
        return *icon->image();
    }

    TemporaryDirectory resources;
};

TEST_F(AboutPanelTest, ShowsAndRecordsTheOptionsGiven) {
    useInfo({{"CFBundleName", "Bundle Name"},
             {"CFBundleShortVersionString", "9.9"},
             {"CFBundleVersion", "99"},
             {"NSHumanReadableCopyright", "Bundle notice"}});
    const std::string creditsText =
        "Made with care by people who paste screenshots into remote shells all day.";
    const auto icon = GraphicsImage::drawing({32, 32}, {}, false);
    Application::shared().orderFrontStandardAboutPanel({.applicationName = "Clipper",
                                                        .applicationVersion = "2.3",
                                                        .version = "45",
                                                        .credits = AttributedString(creditsText),
                                                        .applicationIcon = icon,
                                                        .copyright = "© 2025 Clipper Makers"});

    const auto recorded = AppKitControl::aboutPanelOptions();
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->applicationName, "Clipper");
    EXPECT_EQ(recorded->credits->string(), creditsText);
    Window* window = AppKitControl::aboutPanelWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(ScreenReader::read(*window), (std::vector<std::string>{"Clipper", "Version 2.3 (45)",
                                                                     creditsText, "© 2025 Clipper Makers"}));
    EXPECT_EQ(shownIcon(*window).size(), (Size{32, 32}));
    window->layoutIfNeeded();
    EXPECT_TRUE(window->layoutIssues().empty()) << "the window fits its texts";
    auto* credits = dynamic_cast<Label*>(window->contentView()->viewWithIdentifier("about.credits"));
    ASSERT_NE(credits, nullptr);
    EXPECT_FALSE(credits->isTruncated()) << "long credits wrap";
    EXPECT_EQ(window->contentView()->viewWithIdentifier("about.icon")->frame().size,
              (Size{AboutPanel::iconSize, AboutPanel::iconSize}));
}

TEST_F(AboutPanelTest, OptionsLeftOutFallBackToTheBundleAndTheApplicationIcon) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> info;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{{"CFBundleDisplayName", "Display"},
          {"CFBundleName", "Clipper"},
          {"CFBundleShortVersionString", "1.4"},
          {"CFBundleVersion", "7"},
          {"NSHumanReadableCopyright", "© Clipper Makers"}},
         {"Clipper", "Version 1.4 (7)", "© Clipper Makers"}},
        {{{"CFBundleName", "Clipper"}, {"CFBundleShortVersionString", "1.4"}}, {"Clipper", "Version 1.4"}},
        {{{"CFBundleName", "Clipper"}, {"CFBundleVersion", "7"}}, {"Clipper", "Version 7"}},
        {{{"CFBundleName", "Clipper"}, {"CFBundleShortVersionString", "2"}, {"CFBundleVersion", "2"}},
         {"Clipper", "Version 2"}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        useInfo(c.info);
        Application::shared().orderFrontStandardAboutPanel();
        Window* window = AppKitControl::aboutPanelWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ScreenReader::read(*window), c.lines);
        EXPECT_EQ(shownIcon(*window).size(), GraphicsImage::applicationIcon().size());
    }
    EXPECT_FALSE(AppKitControl::aboutPanelOptions()->applicationName)
        << "recorded as given, not as filled in";

    Application::shared().setApplicationIconImage(GraphicsImage::drawing({16, 16}, {}, false));
    Application::shared().orderFrontStandardAboutPanel();
    EXPECT_EQ(shownIcon(*AppKitControl::aboutPanelWindow()).size(), (Size{16, 16}))
        << "the application's own icon";
}

TEST_F(AboutPanelTest, ShowingAgainBringsTheSameWindowToTheFront) {
    EXPECT_EQ(AppKitControl::aboutPanelWindow(), nullptr);
    EXPECT_TRUE(
        Application::shared().sendAction(StandardAction::orderFrontStandardAboutPanel, nullptr, nullptr));
    Window* about = AppKitControl::aboutPanelWindow();
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(AppKitControl::aboutPanelOptions());
    EXPECT_FALSE(AppKitControl::aboutPanelOptions()->applicationVersion) << "the action gives no options";

    auto other = Window::create({0, 0, 200, 100}, WindowStyle::titled);
    other->makeKeyAndOrderFront();
    about->close();
    Application::shared().orderFrontStandardAboutPanel({.applicationName = "Renamed"});
    EXPECT_EQ(AppKitControl::aboutPanelWindow(), about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(Application::shared().orderedWindows().front(), about);
    EXPECT_EQ(ScreenReader::read(*about).front(), "Renamed");
    const auto windows = Application::shared().windows();
    EXPECT_EQ(std::count(windows.begin(), windows.end(), about), 1);
}

} // namespace
