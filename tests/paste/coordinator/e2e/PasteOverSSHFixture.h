#pragma once

#include "paste/PasteTransfer.h"
#include "support/CoordinatorFixture.h"
#include "session/LocalTmuxResolver.h"
#include "ssh/SSHConfiguration.h"
#include "support/SSHServer.h"

#include <sys/stat.h>

namespace tarpelix::testing {

// How one paste ended, as its feedback, record, events and latest attempt must all tell it.
struct Ending {
    PasteFeedback::Outcome shown;
    std::string reason; // what the feedback's explanation is made from
    bool uploadConfirmed;
    TransferOutcome upload;
    TransferOutcome insertion;
    std::optional<TransferFailureCategory> category;
    std::string transport = "ssh";
};

inline const Ending typedEnding{PasteFeedback::Outcome::success, "", true, TransferOutcome::succeeded,
                                TransferOutcome::succeeded, std::nullopt};

// Whole pastes on the simulated desktop whose panes run ssh, tmux or a mosh-client stand-in
// against a private sshd on 127.0.0.1; the upload goes over real ssh, the path is typed into
// the real remote shell.
class PasteOverSSH : public CoordinatorTest {
protected:
    void SetUp() override {
        blockingTransport = false;
        CoordinatorTest::SetUp();
        if (!privateNamespaceUnavailableReason().empty()) GTEST_SKIP() << privateNamespaceUnavailableReason();
        LocalTmuxResolver::clearCachedRoute();
        SSHConfigurationEvaluator::clearCache();
        server = std::make_unique<SSHServer>(serverOptions);
        png = screenshotPNG(320, 200);
    }

    void TearDown() override {
        CoordinatorTest::TearDown();
        server.reset();
    }

    // A new tab running the program, focused.
    std::string openPane(const SimulatedTerminal::Program& program) { return terminal->openTab(pane, program); }

    // Waits until the shell at the end of the pane answers with the word (typed split in two,
    // so that its echo does not count).
    bool shellAnswers(const std::string& handle, const std::string& word = "READY") {
        terminal->type(handle, "echo " + word.substr(0, 2) + "''" + word.substr(2) + "\n");
        return terminal->waitForOutput(handle, word, 30);
    }

    // Presses Control+V with the image on the clipboard and waits until the paste is over.
    platform::Uuid paste() {
        platform::DesktopControl::copyPNG(png);
        const auto begun = origins.size();
        EXPECT_TRUE(pressControlV().swallowed);
        EXPECT_TRUE(runMainUntil([&] { return origins.size() > begun; }));
        EXPECT_TRUE(runMainUntil([&] { return !coordinator->isBusy(); }, 60));
        return origins.empty() ? platform::Uuid() : origins.back().first;
    }

    // The feedback values published for one paste.
    std::vector<PasteFeedback> feedbackOf(const platform::Uuid& id) const {
        std::vector<PasteFeedback> found;
        for (const auto& feedback : feedbacks) {
            if (feedback.operationID == id) found.push_back(feedback);
        }
        return found;
    }

    std::vector<DiagnosticEvent> eventsOf(const platform::Uuid& id) {
        std::vector<DiagnosticEvent> found;
        for (const auto& event : diagnosticEvents()) {
            if (event.operationID == id) found.push_back(event);
        }
        return found;
    }

    // The latest attempt as storage answers it.
    std::optional<PasteAttempt> latestAttempt() {
        std::optional<TransferStorage::LatestAttemptResult> result;
        storage->loadLatestAttempt([&](TransferStorage::LatestAttemptResult loaded) { result = std::move(loaded); });
        runMainUntil([&] { return result.has_value(); });
        return result ? result->attempt : std::nullopt;
    }

    // Drops the coordinator and the storage service, and opens the storage again.
    void restartStorage() {
        coordinator.reset();
        storage.reset();
        storage = transferStorageIn(directory.file("store"));
    }

    // The feedback, the record, the events and the latest attempt all tell the ending, also
    // after the storage service is opened again.
    void expectEnding(const platform::Uuid& id, const Ending& ending) {
        using Stage = DiagnosticStage;
        auto seen = feedbackOf(id);
        ASSERT_FALSE(seen.empty());
        const auto& last = seen.back();
        EXPECT_EQ(last.outcome, ending.shown);
        EXPECT_EQ(last.explanation, explanationFor(ending.shown, ending.reason, ending.uploadConfirmed));
        EXPECT_EQ(last.uploadConfirmed, ending.uploadConfirmed);

        auto record = storage->latestRetainedImage();
        ASSERT_TRUE(record);
        EXPECT_EQ(record->id, id);
        EXPECT_EQ(record->terminal, terminal->bundleIdentifier());
        EXPECT_EQ(record->transport, ending.transport);
        EXPECT_EQ(record->destinationIdentity, destination());
        EXPECT_EQ(record->imageSize, static_cast<std::int64_t>(png.size()));
        EXPECT_EQ(record->uploadOutcome, ending.upload);
        EXPECT_EQ(record->insertionOutcome, ending.insertion);
        EXPECT_EQ(record->failureCategory, ending.category);
        const auto path = uploads() + "/" + id.uuidString() + ".png";
        EXPECT_EQ(record->confirmedRemotePath, ending.uploadConfirmed ? std::optional(path) : std::nullopt);
        EXPECT_EQ(exists(path), ending.uploadConfirmed);
        if (ending.uploadConfirmed) {
            EXPECT_EQ(storage->latestConfirmedUpload(), record);
        }

        const auto terminalCategory = PasteTransfer::terminalCategory(terminal->bundleIdentifier());
        const auto transport = ending.transport == "mosh" ? DiagnosticTransport::mosh : DiagnosticTransport::ssh;
        std::vector<std::pair<Stage, TransferOutcome>> stages;
        for (const auto& event : eventsOf(id)) {
            stages.emplace_back(event.stage, event.outcome);
            EXPECT_EQ(event.terminal, terminalCategory);
            EXPECT_EQ(event.transport, event.stage == Stage::capture ? DiagnosticTransport::unknown : transport);
            EXPECT_EQ(event.byteCount, static_cast<std::int64_t>(png.size()));
            // The upload's event was logged when it ended: a confirmed upload had no failure then.
            std::optional<TransferFailureCategory> category;
            if (event.stage == Stage::insertion) category = ending.category;
            if (event.stage == Stage::upload && !ending.uploadConfirmed) category = ending.category;
            EXPECT_EQ(event.failureCategory, category);
        }
        EXPECT_EQ(stages, (std::vector<std::pair<Stage, TransferOutcome>>{{Stage::capture, TransferOutcome::succeeded},
                                                                          {Stage::resolution, TransferOutcome::succeeded},
                                                                          {Stage::upload, ending.upload},
                                                                          {Stage::insertion, ending.insertion}}));

        auto attempt = latestAttempt();
        ASSERT_TRUE(attempt);
        EXPECT_EQ(attempt->id, id);
        EXPECT_EQ(attempt->feedback, last);
        EXPECT_EQ(attempt->terminal, rawValue(terminalCategory));
        EXPECT_EQ(attempt->transport, ending.transport);
        EXPECT_EQ(attempt->uploadOutcome, ending.upload);
        EXPECT_EQ(attempt->insertionOutcome, ending.insertion);
        restartStorage();
        EXPECT_EQ(latestAttempt(), attempt);
        EXPECT_EQ(storage->latestRetainedImage(), record);
    }

    std::string destination() const { return "root@127.0.0.1:" + std::to_string(server->port()); }
    std::string uploads() const { return server->home() + "/.cache/tarpelix/uploads"; }
    static bool exists(const std::string& path) {
        struct stat status{};
        return ::stat(path.c_str(), &status) == 0;
    }

    SSHServer::Options serverOptions;
    std::unique_ptr<SSHServer> server;
    platform::Bytes png;
};

// An sshd whose upload sessions wait, after touching "/tmp/upload-waiting", until the test
// creates "/tmp/upload-go"; interactive sessions get a plain shell.
inline SSHServer::Options gatedServer() {
    SSHServer::Options options;
    options.forceCommand = "if [ -z \"$SSH_ORIGINAL_COMMAND\" ]; then exec /bin/sh -i; fi\n"
                           "touch /tmp/upload-waiting\n"
                           "while [ ! -e /tmp/upload-go ]; do sleep 0.02; done\n"
                           "exec /bin/sh -c \"$SSH_ORIGINAL_COMMAND\"";
    return options;
}

} // namespace tarpelix::testing
