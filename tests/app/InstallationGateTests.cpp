#include "app/InstallationGate.h"

#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace tarpelix {
namespace {

using platform::URL;
namespace fs = std::filesystem;

struct InstallationGateTest : ::testing::Test {
    void SetUp() override { platform::DesktopControl::reset(); }
    void TearDown() override { platform::DesktopControl::reset(); }
    testing::TemporaryDirectory root{"tarpelix-gate"};
};

TEST_F(InstallationGateTest, OnlyTheInstalledBundleOfANonDevelopmentBuildRuns) {
    // <root>/Applications holds the real bundle; <root>/Linked/Applications holds a link to a
    // copy elsewhere; <root>/Aliased is a link to <root>/Applications itself.
    const std::string applications = root.file("Applications");
    const std::string linked = root.file("Linked/Applications");
    fs::create_directories(applications + "/Tarpelix.app");
    fs::create_directories(linked);
    fs::create_directories(root.file("Elsewhere/Tarpelix.app"));
    fs::create_directory_symlink(root.file("Elsewhere/Tarpelix.app"), linked + "/Tarpelix.app");
    fs::create_directory_symlink(applications, root.file("Aliased"));

    struct Case {
        const char* name;
        std::optional<std::string> rawMode; // as the information dictionary writes it
        std::string applicationsFolder;     // empty: the desktop's default
        std::string bundleURL;
        bool gated;
    };
    const std::string installed = "file://" + applications + "/Tarpelix.app/";
    const std::vector<Case> cases = {
        {"development, from Downloads", "development", "", "file:///home/ada/Downloads/Tarpelix.app/", false},
        {"development, not even a file", "development", "", "https://example.com/Tarpelix.app/", false},
        {"distribution, in /Applications", "distribution", "", "file:///Applications/Tarpelix.app/", false},
        {"distribution, with a dot segment", "distribution", "", "file:///Applications/./Tarpelix.app/", false},
        {"missing mode, in /Applications", std::nullopt, "", "file:///Applications/Tarpelix.app/", false},
        {"missing mode, from Downloads", std::nullopt, "", "file:///home/ada/Downloads/Tarpelix.app/", true},
        {"invalid mode, from Downloads", "Development", "", "file:///home/ada/Downloads/Tarpelix.app/", true},
        {"from Downloads", "distribution", "", "file:///home/ada/Downloads/Tarpelix.app/", true},
        {"from a disk image", "distribution", "", "file:///Volumes/Tarpelix/Tarpelix.app/", true},
        {"not a file URL", "distribution", "", "https://example.com/Applications/Tarpelix.app/", true},
        {"lower-case folder", "distribution", "", "file:///applications/Tarpelix.app/", true},
        {"inside a folder of Applications", "distribution", "", "file:///Applications/Tools/Tarpelix.app/", true},
        {"installed in a moved folder", "distribution", applications, installed, false},
        {"moved folder, still /Applications", "distribution", applications, "file:///Applications/Tarpelix.app/",
         true},
        {"a link to a copy elsewhere", "distribution", linked, "file://" + linked + "/Tarpelix.app/", true},
        {"the folder itself reached by a link", "distribution", root.file("Aliased"),
         "file://" + root.file("Aliased") + "/Tarpelix.app/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::DesktopControl::reset();
        if (!c.applicationsFolder.empty()) {
            ASSERT_TRUE(platform::WorkspaceControl::setApplicationsDirectory(c.applicationsFolder));
        }
        const auto url = URL::parse(c.bundleURL);
        ASSERT_TRUE(url);
        const InstallationGate gate{c.rawMode ? distributionModeFromRawValue(*c.rawMode) : std::nullopt, *url};
        EXPECT_EQ(gate.requiresInstallation(), c.gated);
    }
}

TEST_F(InstallationGateTest, TheApplicationsFolderMovesOnlyToARealDirectory) {
    EXPECT_EQ(platform::Workspace::applicationsDirectory().absoluteString(), "file:///Applications/");
    EXPECT_FALSE(platform::WorkspaceControl::setApplicationsDirectory(root.file("missing")));
    EXPECT_FALSE(platform::WorkspaceControl::setApplicationsDirectory(root.write("file", "")));
    EXPECT_EQ(platform::Workspace::applicationsDirectory().path(), "/Applications");
    ASSERT_TRUE(platform::WorkspaceControl::setApplicationsDirectory(root.path()));
    EXPECT_EQ(platform::Workspace::applicationsDirectory().path(), root.path());
    platform::DesktopControl::reset();
    EXPECT_EQ(platform::Workspace::applicationsDirectory().path(), "/Applications");
}

} // namespace
} // namespace tarpelix
