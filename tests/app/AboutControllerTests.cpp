#include "app/AboutController.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/foundation/Bundle.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarpelix {
namespace {

using namespace platform;
using Metadata = AboutController::Metadata;

struct AboutControllerTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }
};

TEST_F(AboutControllerTest, MetadataKeepsOnlyStringEntries) {
    using Info = PropertyListValue::Dictionary;
    struct Case {
        const char* name;
        Info info;
        Metadata expected;
    };
    const Case cases[] = {
        {"full",
         {{"CFBundleDisplayName", "Tarpelix"},
          {"CFBundleName", "tarpelix"},
          {"CFBundleShortVersionString", "1.2"},
          {"CFBundleVersion", "34"}},
         {"Tarpelix", "1.2", "34"}},
        {"no display name", {{"CFBundleName", "tarpelix"}, {"CFBundleVersion", "34"}}, {"tarpelix", std::nullopt, "34"}},
        {"display name not a string",
         {{"CFBundleDisplayName", 7}, {"CFBundleName", "tarpelix"}},
         {"tarpelix", std::nullopt, std::nullopt}},
        {"empty display name is a name", {{"CFBundleDisplayName", ""}, {"CFBundleName", "tarpelix"}}, {"", {}, {}}},
        {"versions not strings",
         {{"CFBundleShortVersionString", 1.5}, {"CFBundleVersion", true}},
         {std::nullopt, std::nullopt, std::nullopt}},
        {"empty", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Metadata::fromInfoDictionary(c.info), c.expected);
    }
}

TEST_F(AboutControllerTest, ShowGivesEmptyCreditsTheMetadataAndTheIcon) {
    std::optional<AboutPanelOptions> shown;
    const auto icon = GraphicsImage::drawing({64, 64}, {}, false);
    AboutController full({"Tarpelix", "1.2", "34"}, [&] { return icon; },
                         [&](const AboutPanelOptions& options) { shown = options; });
    full.show();
    ASSERT_TRUE(shown);
    ASSERT_TRUE(shown->credits);
    EXPECT_EQ(shown->credits->string(), "");
    EXPECT_EQ(shown->applicationName, "Tarpelix");
    EXPECT_EQ(shown->applicationVersion, "1.2");
    EXPECT_EQ(shown->version, "34");
    ASSERT_TRUE(shown->applicationIcon);
    EXPECT_EQ(shown->applicationIcon->size(), (Size{64, 64}));
    EXPECT_EQ(shown->copyright, std::nullopt);

}

TEST_F(AboutControllerTest, TheDefaultsShowTheStandardPanelFromTheMainBundleLeavingMissingValuesOut) {
    testing::TemporaryDirectory resources{"tarpelix-about"};
    resources.write("Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleName</key><string>Clipper</string>
<key>CFBundleVersion</key><string>42</string></dict></plist>)");
    BundleControl::setResourceDirectory(resources.path());

    AboutController().show();
    auto& application = Application::shared();
    EXPECT_TRUE(application.isActive());
    ASSERT_NE(application.aboutPanel(), nullptr);
    const auto& options = application.aboutPanel()->lastOptions();
    ASSERT_TRUE(options);
    EXPECT_EQ(options->applicationName, "Clipper");
    EXPECT_EQ(options->applicationVersion, std::nullopt);
    EXPECT_EQ(options->version, "42");
    ASSERT_TRUE(options->credits);
    EXPECT_EQ(options->credits->string(), "");
    EXPECT_TRUE(application.aboutPanel()->window()->isVisible());
}

} // namespace
} // namespace tarpelix
