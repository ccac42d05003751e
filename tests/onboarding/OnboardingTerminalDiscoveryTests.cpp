#include "onboarding/OnboardingFixture.h"
#include "onboarding/OnboardingTerminalDiscovery.h"

#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using namespace tarpelix::platform;

namespace {

TEST(OnboardingTerminalDiscoveryTest, PreferredIDKeepsTheSavedOneThenTheOnlyRunningOneThenTheFirst) {
    using Snapshot = OnboardingTerminalDiscovery::Snapshot;
    struct Case {
        const char* name;
        Snapshot snapshot;
        std::optional<std::string> saved;
        std::optional<std::string> preferred;
    };
    const Case cases[] = {
        {"nothing installed", {}, itermID, std::nullopt},
        {"saved and listed wins over the only running one", {{terminal(ghosttyID), terminal(itermID, true)}},
         ghosttyID, ghosttyID},
        {"saved but gone: the only running one", {{terminal(ghosttyID), terminal(itermID, true)}}, terminalAppID,
         itermID},
        {"two running: the first listed", {{terminal(itermID, true), terminal(terminalAppID, true)}}, std::nullopt,
         itermID},
        {"none running: the first listed", {{terminal(itermID), terminal(terminalAppID)}}, std::nullopt, itermID},
        {"one running among three", {{terminal(ghosttyID), terminal(itermID), terminal(terminalAppID, true)}},
         std::nullopt, terminalAppID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.snapshot.preferredID(c.saved), c.preferred);
    }
}

TEST(OnboardingTerminalDiscoveryTest, LiveDiscoveryListsInstalledTerminalsInTableOrderWithTheirRunningState) {
    DesktopControl::reset();
    const OnboardingTerminalDiscovery discovery(OnboardingTerminalDiscovery::Dependencies::live());
    EXPECT_TRUE(discovery.discover().terminals.empty());

    WorkspaceControl::installApplication({terminalAppID, "Terminal", "/System/Applications/Utilities/Terminal.app"});
    WorkspaceControl::installApplication({ghosttyID, "Ghostty", "/Applications/Ghostty.app"});
    const pid_t pid = WorkspaceControl::launchApplication({.bundleIdentifier = terminalAppID, .localizedName = "Terminal"});
    using Terminal = OnboardingTerminalDiscovery::Terminal;
    EXPECT_EQ(discovery.discover().terminals,
              (std::vector<Terminal>{{ghosttyID, "Ghostty", "/Applications/Ghostty.app", false},
                                     {terminalAppID, "Terminal", "/System/Applications/Utilities/Terminal.app", true}}));

    WorkspaceControl::quitApplication(pid);
    EXPECT_FALSE(discovery.discover().terminals.back().isRunning);
    WorkspaceControl::uninstallApplication(ghosttyID);
    ASSERT_EQ(discovery.discover().terminals.size(), 1u);
    EXPECT_EQ(discovery.discover().terminals.front().id, terminalAppID);
    DesktopControl::reset();
}

} // namespace
