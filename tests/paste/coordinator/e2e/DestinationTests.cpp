#include "PasteOverSSHFixture.h"

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

using Stage = DiagnosticStage;
using Outcome = TransferOutcome;

// Pastes into the pane, whose shell waits for a line, and checks that the path arrived there
// and that everything the paste left behind tells a typed paste.
class Destinations : public PasteOverSSH {
protected:
    platform::Uuid pasteTyped(const std::string& handle, const std::string& transport) {
        shellReadsALine(handle);
        startArmed();
        auto id = paste();
        const auto path = uploads() + "/" + id.uuidString() + ".png";
        EXPECT_EQ(lineTheShellReceived(handle), path);
        EXPECT_TRUE(reported("Image path inserted"));
        EXPECT_EQ(readFile(path), std::string(png.begin(), png.end())) << "the PNG arrives unchanged";
        auto ending = typedEnding;
        ending.transport = transport;
        expectEnding(id, ending);
        return id;
    }
};

class DirectSSH : public Destinations, public ::testing::WithParamInterface<SimulatedTerminal::Kind> {
protected:
    void SetUp() override {
        terminalKind = GetParam();
        Destinations::SetUp();
    }
};

std::string kindName(const ::testing::TestParamInfo<SimulatedTerminal::Kind>& info) {
    switch (info.param) {
    case SimulatedTerminal::Kind::ghostty: return "Ghostty";
    case SimulatedTerminal::Kind::iTerm2: return "iTerm2";
    case SimulatedTerminal::Kind::terminalApp: break;
    }
    return "Terminal";
}

} // namespace

TEST_P(DirectSSH, ThePathOfTheUploadedImageIsTypedIntoTheRemoteShell) {
    auto remote = openPane({"ssh", SSHServer::alias});
    ASSERT_TRUE(shellAnswers(remote));
    auto id = pasteTyped(remote, "ssh");
    EXPECT_TRUE(reported("Uploading…"));
    // What the user saw, stage by stage.
    auto seen = feedbackOf(id);
    std::vector<PasteFeedback::Stage> stages;
    for (const auto& feedback : seen) stages.push_back(feedback.stage);
    using S = PasteFeedback::Stage;
    EXPECT_EQ(stages, (std::vector<S>{S::preparing, S::resolving, S::uploading, S::inserting, S::inserting}));
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[1].destination, destination());
}

INSTANTIATE_TEST_SUITE_P(Terminals, DirectSSH,
                         ::testing::Values(SimulatedTerminal::Kind::ghostty, SimulatedTerminal::Kind::iTerm2,
                                           SimulatedTerminal::Kind::terminalApp),
                         kindName);

TEST_F(Destinations, SSHInsideLocalTmux) {
    auto tmux = openPane({"tmux", "-f", "/dev/null", "new-session", "exec ssh " + SSHServer::alias});
    ASSERT_TRUE(shellAnswers(tmux));
    pasteTyped(tmux, "ssh");
}

TEST_F(Destinations, RemoteTmuxInsideSSH) {
    auto remote = openPane({"ssh", SSHServer::alias});
    ASSERT_TRUE(shellAnswers(remote));
    terminal->type(remote, "exec tmux -f /dev/null -L remote new-session\n");
    ASSERT_TRUE(shellAnswers(remote, "INSIDE"));
    pasteTyped(remote, "ssh");
}

TEST_F(Destinations, MoshUploadsOverSSHToTheMoshHost) {
    auto mosh = openPane({TARPELIX_MOSH_CLIENT, "-# " + SSHServer::alias + " |", "127.0.0.1", "60001"});
    ASSERT_TRUE(shellAnswers(mosh));
    pasteTyped(mosh, "mosh");
}
TEST_F(Destinations, ALocalShellGetsANormalPasteAndNothingIsUploaded) {
    terminal->type(pane, "stty -iexten\n"); // ^V is a character like any other
    ASSERT_TRUE(shellAnswers(pane));          // and stty is no longer the foreground job
    shellReadsALine(pane);
    terminal->focusPane(pane);
    startArmed();
    auto id = paste();
    EXPECT_TRUE(reported("Normal paste"));
    EXPECT_TRUE(runMainUntil([&] { return replays() == 1; }));
    EXPECT_EQ(lineTheShellReceived(pane), "\x16") << "the terminal's own Control+V";
    EXPECT_FALSE(exists(uploads() + "/" + id.uuidString() + ".png"));
    EXPECT_FALSE(storage->latestRetainedImage());
    EXPECT_TRUE(feedbacks.empty()) << "a local destination opens no feedback";
    // The overlay was placed over the terminal's window, and the resolution was logged.
    EXPECT_EQ(origins.back().second, (PasteCoordinator::Rect{{80, 60}, {960, 640}}));
    auto events = eventsOf(id);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].stage, Stage::resolution);
    EXPECT_EQ(events[0].outcome, Outcome::succeeded);
    EXPECT_EQ(events[0].transport, DiagnosticTransport::unknown);
    EXPECT_EQ(events[0].terminal, DiagnosticTerminal::ghostty);
}

TEST_F(Destinations, NestedLocalTmuxIsRefusedAndNothingIsTyped) {
    auto nested = openPane({"tmux", "-f", "/dev/null", "new-session",
                            "env -u TMUX tmux -f /dev/null -L inner new-session"});
    ASSERT_TRUE(shellAnswers(nested));
    shellReadsALine(nested);
    startArmed();
    auto id = paste();
    const std::string refusal = "Unsupported: Nested local tmux is unsupported";
    EXPECT_TRUE(reported(refusal)) << ::testing::PrintToString(reports);
    auto seen = feedbackOf(id);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().outcome, PasteFeedback::Outcome::failed);
    EXPECT_EQ(seen.back().explanation, explanationFor(PasteFeedback::Outcome::failed, refusal));
    EXPECT_EQ(lineTheShellReceived(nested), "");
    EXPECT_EQ(replays(), 0u);
    auto events = eventsOf(id);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].stage, Stage::resolution);
    EXPECT_EQ(events[0].outcome, Outcome::failed);
    EXPECT_FALSE(storage->latestRetainedImage());
    EXPECT_FALSE(exists(uploads() + "/" + id.uuidString() + ".png"));
}
