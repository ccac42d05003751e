#include "PasteOverSSHFixture.h"

#include <filesystem>
#include <fstream>

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

using Stage = DiagnosticStage;
using Outcome = TransferOutcome;
using Category = TransferFailureCategory;
using Shown = PasteFeedback::Outcome;

const std::string uploadWaiting = "/tmp/upload-waiting";
const std::string uploadGo = "/tmp/upload-go";

class PasteEndings : public PasteOverSSH {
protected:
    // A pane running ssh to the server, its shell waiting for a line, and the tap armed.
    std::string remoteReadingALine() {
        auto remote = openPane({"ssh", SSHServer::alias});
        EXPECT_TRUE(shellAnswers(remote));
        shellReadsALine(remote);
        startArmed();
        return remote;
    }

    // Starts the paste and waits until its upload waits at the remote end.
    platform::Uuid startGatedPaste() {
        DesktopControl::copyPNG(png);
        const auto begun = origins.size();
        EXPECT_TRUE(pressControlV().swallowed);
        EXPECT_TRUE(runMainUntil([&] { return origins.size() > begun && exists(uploadWaiting); }, 30));
        return origins.empty() ? Uuid() : origins.back().first;
    }

    static void openGate() { std::ofstream(uploadGo) << "go"; }
};

class GatedPasteEndings : public PasteEndings {
protected:
    void SetUp() override {
        std::filesystem::remove(uploadWaiting);
        std::filesystem::remove(uploadGo);
        serverOptions = gatedServer();
        PasteEndings::SetUp();
    }
    void TearDown() override {
        PasteEndings::TearDown();
        std::filesystem::remove(uploadWaiting);
        std::filesystem::remove(uploadGo);
    }
};

} // namespace

TEST_F(GatedPasteEndings, AKeyPressDuringTheUploadCancelsItAndNothingIsTyped) {
    auto remote = remoteReadingALine();
    auto id = startGatedPaste();
    pressKey(keyA);
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(reported(focusOrInputChanged));
    EXPECT_EQ(lineTheShellReceived(remote), "");
    expectEnding(id, {Shown::cancelled, focusOrInputChanged, false, Outcome::cancelled, Outcome::cancelled,
                      Category::cancellation});
}

TEST_F(GatedPasteEndings, AForegroundJobThatChangesDuringTheUploadLeavesItUploadedButNotTyped) {
    terminal->focusPane(pane);
    terminal->type(pane, "ssh " + SSHServer::alias + "\n");
    ASSERT_TRUE(shellAnswers(pane));
    startArmed();
    auto id = startGatedPaste();
    terminal->type(pane, "exit\n"); // the remote shell ends, and with it ssh
    ASSERT_TRUE(runMainUntil([&] { return foregroundIs(terminal->pane(pane).tty, "/usr/bin/dash"); }, 30));
    openGate();
    ASSERT_TRUE(runMainUntil([&] { return !coordinator->isBusy(); }, 30));
    ASSERT_FALSE(reports.empty());
    const auto reason = reports.back();
    EXPECT_NE(reason, "Image path inserted");
    expectEnding(id, {Shown::uploadedWithoutInsertion, reason, true, Outcome::succeeded, Outcome::failed,
                      Category::insertion});
}

TEST_F(GatedPasteEndings, APassedDeadlineEndsTheUpload) {
    makeCoordinator({.operationTimeout = 3}); // a short operation, long enough to reach the upload
    auto remote = remoteReadingALine();
    auto id = startGatedPaste();
    // The remote end never lets the upload through: the operation's time runs out.
    ASSERT_TRUE(runMainUntil([&] { return !coordinator->isBusy(); }, 60));
    EXPECT_TRUE(reported(PasteOperation::timedOutReason));
    EXPECT_EQ(lineTheShellReceived(remote), "");
    expectEnding(id, {Shown::cancelled, PasteOperation::timedOutReason, false, Outcome::cancelled, Outcome::cancelled,
                      Category::cancellation});
}

TEST_F(PasteEndings, HowTheInsertionEndsDecidesWhatTheUploadedPasteBecomes) {
    const std::string notContent = "Focus terminal content; search fields and dialogs are unsupported";
    const std::string stopped = "Terminal stopped responding";
    struct Row {
        const char* name;
        std::function<void(TerminalAdapter&, const TerminalTarget&, const std::function<void()>&)> insertion;
        Ending ending;
    };
    const Row rows[] = {
        {"focus lost just before typing",
         [&](TerminalAdapter& adapter, const TerminalTarget& target, const std::function<void()>& before) {
             terminal->focusSearchField();
             adapter.insert(uploads() + "/x.png", target, before);
         },
         {Shown::uploadedWithoutInsertion, notContent, true, Outcome::succeeded, Outcome::failed, Category::insertion}},
        {"the terminal never takes the handoff", [](TerminalAdapter&, const TerminalTarget&, const std::function<void()>&) {},
         {Shown::uploadedWithoutInsertion, PasteTransfer::noHandoffReason, true, Outcome::succeeded, Outcome::failed,
          Category::insertion}},
        {"the terminal fails after the handoff",
         [&](TerminalAdapter&, const TerminalTarget&, const std::function<void()>& before) {
             before();
             throw TerminalUnavailable(stopped);
         },
         {Shown::ambiguous, stopped, true, Outcome::succeeded, Outcome::ambiguous, Category::insertion}},
    };
    auto remote = openPane({"ssh", SSHServer::alias});
    ASSERT_TRUE(shellAnswers(remote));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        coordinator.reset();
        storage = transferStorageIn(directory.file("store"));
        makeCoordinator({.insertion = [&](const std::string&, TerminalAdapter& adapter, const TerminalTarget& target,
                                          const std::function<void()>& before) { row.insertion(adapter, target, before); }});
        terminal->focusPane(remote);
        shellReadsALine(remote);
        startArmed();
        auto id = paste();
        EXPECT_TRUE(reported(row.ending.reason)) << ::testing::PrintToString(reports);
        terminal->focusPane(remote);
        EXPECT_EQ(lineTheShellReceived(remote), "");
        expectEnding(id, row.ending);
        reports.clear();
    }
}

TEST_F(PasteEndings, AnUploadTheRemoteRefusesFails) {
    auto remote = remoteReadingALine();
    server->refuseClientKey();
    auto id = paste();
    ASSERT_FALSE(reports.empty());
    const auto reason = reports.back();
    EXPECT_EQ(reason.rfind("SSH upload failed (255)", 0), 0u) << reason;
    EXPECT_NE(reason.find("Permission denied"), std::string::npos) << reason;
    EXPECT_EQ(lineTheShellReceived(remote), "");
    expectEnding(id, {Shown::failed, reason, false, Outcome::failed, Outcome::failed, Category::upload});
}

TEST_F(PasteEndings, AMoshPasteWhoseSSHUploadFailsSaysSSHIsNeeded) {
    auto mosh = openPane({TARPELIX_MOSH_CLIENT, "-# " + SSHServer::alias + " |", "127.0.0.1", "60001"});
    ASSERT_TRUE(shellAnswers(mosh));
    startArmed();
    server->refuseClientKey();
    auto id = paste();
    ASSERT_FALSE(reports.empty());
    const auto reason = reports.back();
    EXPECT_EQ(reason.rfind("Mosh image paste requires working SSH: SSH upload failed (255)", 0), 0u) << reason;
    expectEnding(id, {Shown::failed, reason, false, Outcome::failed, Outcome::failed, Category::upload, "mosh"});
}
