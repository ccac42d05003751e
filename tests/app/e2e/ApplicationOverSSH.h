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

    // The remote shell waits for one line and prints it between "GOT[" and "]".
    void shellReadsALine(const std::string& handle) {
        terminal->type(handle, "IFS= read -r line; echo \"GO\"\"T[$line]\"\n");
    }

    // Ends the line the shell waits for and answers what it received.
    std::string lineTheShellReceived(const std::string& handle) {
        platform::InputEventsControl::waitUntilDelivered();
        terminal->type(handle, "\n");
        std::string text;
        runMainUntil(
            [&] {
                text = terminal->output(handle);
                const auto start = text.rfind("GOT[");
                return start != std::string::npos && text.find(']', start) != std::string::npos;
            },
            30);
        auto start = text.rfind("GOT[");
        if (start == std::string::npos) return "<nothing: " + text + ">";
        start += 4;
        return text.substr(start, text.find(']', start) - start);
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
