#include "PasteOverSSHFixture.h"

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

using Stage = DiagnosticStage;
using Outcome = TransferOutcome;
using Events = std::vector<std::pair<Stage, Outcome>>;

const Events typedEvents = {{Stage::capture, Outcome::succeeded},
                            {Stage::resolution, Outcome::succeeded},
                            {Stage::upload, Outcome::succeeded},
                            {Stage::insertion, Outcome::succeeded}};

class DirectSSH : public PasteOverSSH, public ::testing::WithParamInterface<SimulatedTerminal::Kind> {
protected:
    void SetUp() override {
        terminalKind = GetParam();
        PasteOverSSH::SetUp();
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

class Destinations : public PasteOverSSH {
protected:
    // Pastes into the pane, whose shell waits for a line, and checks the path arrived there.
    platform::Uuid pasteTyped(const std::string& handle, const std::string& transport) {
        shellReadsALine(handle);
        startArmed();
        auto id = paste();
        const auto path = uploads() + "/" + id.uuidString() + ".png";
        EXPECT_EQ(lineTheShellReceived(handle), path);
        EXPECT_TRUE(reported("Image path inserted"));
        EXPECT_EQ(readFile(path), std::string(png.begin(), png.end()));
        auto record = storage->latestConfirmedUpload();
        EXPECT_TRUE(record && record->id == id);
        if (record) {
            EXPECT_EQ(record->transport, transport);
        }
        EXPECT_EQ(eventsOf(id), typedEvents);
        return id;
    }
};

} // namespace

TEST_P(DirectSSH, ThePathOfTheUploadedImageIsTypedIntoTheRemoteShell) {
    auto remote = openPane({"ssh", SSHServer::alias});
    ASSERT_TRUE(shellAnswers(remote));
    shellReadsALine(remote);
    startArmed();
    auto id = paste();
    const auto path = uploads() + "/" + id.uuidString() + ".png";
    EXPECT_EQ(lineTheShellReceived(remote), path);
    EXPECT_EQ(readFile(path), std::string(png.begin(), png.end())) << "the PNG arrives unchanged";
    EXPECT_TRUE(reported("Uploading…"));
    EXPECT_TRUE(reported("Image path inserted"));

    // What the user saw, stage by stage.
    auto seen = feedbackOf(id);
    std::vector<PasteFeedback::Stage> stages;
    for (const auto& feedback : seen) stages.push_back(feedback.stage);
    using S = PasteFeedback::Stage;
    EXPECT_EQ(stages, (std::vector<S>{S::preparing, S::resolving, S::uploading, S::inserting, S::inserting}));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[1].destination, destination());
    EXPECT_EQ(seen.back().outcome, PasteFeedback::Outcome::success);
    EXPECT_TRUE(seen.back().uploadConfirmed);

    // The record, the events and the latest attempt agree with it.
    auto record = storage->latestConfirmedUpload();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->id, id);
    EXPECT_EQ(record->terminal, terminal->bundleIdentifier());
    EXPECT_EQ(record->transport, "ssh");
    EXPECT_EQ(record->destinationIdentity, destination());
    EXPECT_EQ(record->imageSize, static_cast<std::int64_t>(png.size()));
    EXPECT_EQ(record->confirmedRemotePath, path);
    EXPECT_EQ(record->uploadOutcome, Outcome::succeeded);
    EXPECT_EQ(record->insertionOutcome, Outcome::succeeded);
    EXPECT_EQ(record->failureCategory, std::nullopt);
    EXPECT_EQ(eventsOf(id), typedEvents);
    const auto terminalCategory = PasteTransfer::terminalCategory(terminal->bundleIdentifier());
    for (const auto& event : eventValuesOf(id)) {
        EXPECT_EQ(event.terminal, terminalCategory);
        EXPECT_EQ(event.transport, event.stage == Stage::capture ? DiagnosticTransport::unknown : DiagnosticTransport::ssh);
        EXPECT_EQ(event.byteCount, static_cast<std::int64_t>(png.size()));
        EXPECT_EQ(event.failureCategory, std::nullopt);
    }
    auto attempt = latestAttempt();
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->feedback, seen.back());
    EXPECT_EQ(attempt->terminal, rawValue(terminalCategory));
    EXPECT_EQ(attempt->transport, "ssh");
    EXPECT_EQ(attempt->uploadOutcome, Outcome::succeeded);
    EXPECT_EQ(attempt->insertionOutcome, Outcome::succeeded);

    restartStorage();
    EXPECT_EQ(latestAttempt(), attempt);
    EXPECT_EQ(storage->latestConfirmedUpload(), record);
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
    auto id = pasteTyped(mosh, "mosh");
    for (const auto& event : eventValuesOf(id)) {
        if (event.stage != Stage::capture) {
            EXPECT_EQ(event.transport, DiagnosticTransport::mosh);
        }
    }
    ASSERT_TRUE(latestAttempt());
    EXPECT_EQ(latestAttempt()->transport, "mosh");
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
    auto events = eventValuesOf(id);
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
    EXPECT_EQ(eventsOf(id), (Events{{Stage::resolution, Outcome::failed}}));
    EXPECT_FALSE(storage->latestRetainedImage());
    EXPECT_FALSE(exists(uploads() + "/" + id.uuidString() + ".png"));
}
