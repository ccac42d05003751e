#include "PasteOverSSHFixture.h"

#include "support/Command.h"
#include "support/Eventually.h"

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
    // Starts the coordinator once, and waits until the tap is armed for the focused pane (after
    // the focus change of a new pane has arrived, which makes earlier key presses stale).
    void arm() {
        if (!coordinator) return startArmed();
        settle();
        ASSERT_TRUE(waitArmed());
    }

    struct Resolved {
        SessionResolution resolution;
        int listings; // of processes, made by that resolution
    };
    // Waits until the pane resolves to a status that starts with `status`.
    std::optional<Resolved> resolvesTo(const std::string& handle, const std::string& status) {
        const SSHSessionResolver resolver{ProcessInspector(processTable)};
        std::optional<Resolved> resolved;
        const bool found = runMainUntil(
            [&] {
                const int before = processTable->listings();
                auto resolution = resolver.resolve(terminal->pane(handle).tty, nullptr);
                resolved = Resolved{resolution, processTable->listings() - before};
                return resolution.status().rfind(status, 0) == 0;
            },
            30);
        if (!found) {
            ADD_FAILURE() << "resolved as " << (resolved ? resolved->resolution.status() : "nothing");
            return std::nullopt;
        }
        return resolved;
    }

    // Runs `act` on the paste queue just before the `listing`-th listing of processes from now.
    void actAtListing(int listing, std::function<void()> act) {
        processTable->actBeforeListing(
            [at = processTable->listings() + listing, act = std::move(act)](int count) {
                if (count == at) act();
            });
    }

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
// Where the paste gives the key press back to the terminal, nothing is uploaded or stored.
TEST_F(Destinations, ALocalShellOrAnSSHPaneWithoutAClipboardImageGetsANormalPasteAndNothingIsUploaded) {
    struct Row {
        const char* name;
        std::function<std::string()> open; // the pane, its shell waiting for a line
        std::function<void()> duringResolution;
        bool local;
        Stage stage; // of the one event logged
    };
    const Row rows[] = {
        {"local shell",
         [&] {
             terminal->type(pane, "stty -iexten\n"); // ^V is a character like any other
             EXPECT_TRUE(shellAnswers(pane));         // and stty is no longer the foreground job
             shellReadsALine(pane);
             terminal->focusPane(pane);
             return pane;
         },
         nullptr, true, Stage::resolution},
        {"ssh whose clipboard read finds no image",
         [&] {
             auto remote = openPane({"ssh", SSHServer::alias});
             terminal->type(remote, "stty -iexten\n");
             EXPECT_TRUE(shellAnswers(remote));
             shellReadsALine(remote);
             return remote;
         },
         [] { DesktopControl::setPasteboardAccessorUnavailable(PasteboardAccessor::types, true); }, false,
         Stage::capture},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reports.clear();
        const auto handle = row.open();
        arm();
        if (row.duringResolution) actAtListing(1, row.duringResolution);
        const auto replayed = replays();
        auto id = paste();
        processTable->actBeforeListing(nullptr);
        DesktopControl::setPasteboardAccessorUnavailable(PasteboardAccessor::types, false);
        EXPECT_EQ(reported("Normal paste"), row.local);
        EXPECT_TRUE(runMainUntil([&] { return replays() == replayed + 1; }));
        EXPECT_EQ(lineTheShellReceived(handle), "\x16") << "the terminal's own Control+V";
        EXPECT_FALSE(exists(uploads() + "/" + id.uuidString() + ".png"));
        EXPECT_FALSE(storage->latestRetainedImage());
        auto seen = feedbackOf(id);
        if (row.local) {
            EXPECT_TRUE(feedbacks.empty()) << "a local destination opens no feedback";
        } else {
            ASSERT_FALSE(seen.empty()) << "the clipboard was read: the paste was shown";
            EXPECT_EQ(seen.back().outcome, PasteFeedback::Outcome::normalPaste);
        }
        // The overlay was placed over the terminal's window, and the resolution was logged.
        EXPECT_EQ(origins.back().second, (PasteCoordinator::Rect{{80, 60}, {960, 640}}));
        auto events = eventsOf(id);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].stage, row.stage);
        EXPECT_EQ(events[0].outcome, Outcome::succeeded);
        EXPECT_EQ(events[0].transport, DiagnosticTransport::unknown);
        EXPECT_EQ(events[0].terminal, DiagnosticTerminal::ghostty);
    }
}

// A local destination is checked again just before it gets the normal paste; a change since
// the resolution fails the paste, and nothing reaches the terminal.
TEST_F(Destinations, AChangeSinceTheResolutionFailsTheNormalPaste) {
    using Change = std::function<void(const std::string& pane, const SessionResolution&)>;
    auto foregroundBecomes = [&](const std::string& handle, const std::string& executable) {
        return waitUntil([&] { return foregroundIs(terminal->pane(handle).tty, executable); });
    };
    struct Row {
        const char* name;
        SimulatedTerminal::Program program;
        std::string setup;    // typed into the pane's shell
        std::string resolved; // how the pane resolves then (the start of its status)
        Change change;
        std::string reason;
    };
    const Row rows[] = {
        {"a tmux client leaves copy mode", {"tmux", "-f", "/dev/null", "new-session"}, "tmux copy-mode\n",
         "tmux input mode — normal paste",
         [](const std::string&, const SessionResolution& resolution) {
             const auto& target = resolution.as<SessionResolution::Passthrough>()->target;
             EXPECT_EQ(runCommand({"/usr/bin/tmux", "-S", target.socket.path, "send-keys", "-t",
                                   target.client.paneID, "-X", "cancel"})
                           .status,
                       0);
         },
         "tmux mode changed — paste cancelled"},
        {"a local shell starts a job", localShell, "", "Local shell",
         [&](const std::string& handle, const SessionResolution&) {
             terminal->type(handle, "sleep 1000\n");
             EXPECT_TRUE(foregroundBecomes(handle, "/usr/bin/sleep"));
         },
         "Local session changed — paste cancelled"},
        {"a local application ends", localShell, "sleep 1000\n", "Local application — normal paste",
         [&](const std::string& handle, const SessionResolution&) {
             terminal->type(handle, "\x03");
             EXPECT_TRUE(foregroundBecomes(handle, "/usr/bin/dash"));
         },
         "Local foreground processes exited, changed, or were replaced"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reports.clear();
        const auto handle = openPane(row.program);
        ASSERT_TRUE(shellAnswers(handle));
        terminal->type(handle, row.setup);
        arm();
        const auto resolution = resolvesTo(handle, row.resolved);
        ASSERT_TRUE(resolution);
        actAtListing(resolution->listings + 1, [&] { row.change(handle, resolution->resolution); });
        auto id = paste();
        processTable->actBeforeListing(nullptr);
        EXPECT_TRUE(reported(row.reason)) << ::testing::PrintToString(reports);
        auto seen = feedbackOf(id);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().outcome, PasteFeedback::Outcome::failed);
        EXPECT_EQ(seen.back().explanation, explanationFor(PasteFeedback::Outcome::failed, row.reason));
        EXPECT_EQ(replays(), 0u);
        auto events = eventsOf(id);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].stage, Stage::resolution);
        EXPECT_EQ(events[0].outcome, Outcome::failed);
        EXPECT_EQ(events[0].failureCategory, TransferFailureCategory::unavailable);
        EXPECT_FALSE(storage->latestRetainedImage());
    }
}

TEST_F(Destinations, ALocalTmuxThatCannotTakeThePasteRefusesItAndNothingIsTyped) {
    struct Row {
        const char* name;
        SimulatedTerminal::Program program;
        std::string setup; // typed into the pane's shell
        std::string refusal;
    };
    const Row rows[] = {
        {"nested local tmux",
         {"tmux", "-f", "/dev/null", "new-session", "env -u TMUX tmux -f /dev/null -L inner new-session"},
         "",
         "Unsupported: Nested local tmux is unsupported"},
        {"synchronized panes",
         {"tmux", "-f", "/dev/null", "new-session"},
         "tmux set-window-option synchronize-panes on\n",
         "Unresolved: tmux synchronized input or unsupported client mode — skip paste"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reports.clear();
        auto tmux = openPane(row.program);
        ASSERT_TRUE(shellAnswers(tmux));
        terminal->type(tmux, row.setup);
        ASSERT_TRUE(resolvesTo(tmux, row.refusal));
        shellReadsALine(tmux);
        arm();
        auto id = paste();
        EXPECT_TRUE(reported(row.refusal)) << ::testing::PrintToString(reports);
        auto seen = feedbackOf(id);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().outcome, PasteFeedback::Outcome::failed);
        EXPECT_EQ(seen.back().explanation, explanationFor(PasteFeedback::Outcome::failed, row.refusal));
        EXPECT_EQ(lineTheShellReceived(tmux), "");
        EXPECT_EQ(replays(), 0u);
        auto events = eventsOf(id);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].stage, Stage::resolution);
        EXPECT_EQ(events[0].outcome, Outcome::failed);
        EXPECT_FALSE(storage->latestRetainedImage());
        EXPECT_FALSE(exists(uploads() + "/" + id.uuidString() + ".png"));
    }
}
