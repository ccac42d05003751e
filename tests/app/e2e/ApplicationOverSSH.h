// The whole application on the simulated Mac with a Ghostty pane whose foreground job is ssh
// to a private sshd on 127.0.0.1.
#pragma once

#include "app/integration/ApplicationFixture.h"
#include "session/LocalTmuxResolver.h"
#include "ssh/SSHConfiguration.h"
#include "support/SSHServer.h"

namespace tarpelix::testing {

class ApplicationOverSSH : public ApplicationTest {
protected:
    void SetUp() override {
        ApplicationTest::SetUp();
        if (IsSkipped()) return;
        LocalTmuxResolver::clearCachedRoute();
        SSHConfigurationEvaluator::clearCache();
        server = std::make_unique<SSHServer>();
    }

    void TearDown() override {
        ApplicationTest::TearDown();
        server.reset();
    }

    // A new focused tab whose shell runs on the server, once that shell answers; the main
    // loop runs meanwhile, so the application has seen the focus move there.
    std::string openRemoteShell() {
        const auto remote = terminal->openTab(pane, {"/usr/bin/ssh", SSHServer::alias});
        terminal->type(remote, "echo RE''ADY\n");
        EXPECT_TRUE(runMainUntil([&] { return terminal->output(remote).find("READY") != std::string::npos; }, 30));
        return remote;
    }

    // Brings the terminal back to the front, as the user does after reading a window of ours.
    void activateTerminal() {
        platform::WorkspaceControl::activateApplication(terminal->pid());
        ASSERT_TRUE(runMainUntil([&] {
            const auto frontmost = platform::Workspace::frontmostApplication();
            return frontmost && frontmost->processIdentifier == terminal->pid();
        }));
    }

    std::string uploads() const { return server->home() + "/.cache/tarpelix/uploads/"; }

    std::unique_ptr<SSHServer> server;
};

} // namespace tarpelix::testing
