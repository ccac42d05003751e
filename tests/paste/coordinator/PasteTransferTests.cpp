#include "paste/PasteTransfer.h"
#include "support/LocalStores.h"
#include "support/TemporaryDirectory.h"
#include "model/TerminalUnavailable.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using tarpelix::testing::TemporaryDirectory;

namespace {

const std::string remotePath = "/home/me/.cache/tarpelix/uploads/x.png";

std::string describe(const std::exception_ptr& error) { return error ? errorDescription(error) : "<none>"; }

// A transfer over real storage and diagnostics in a temporary directory.
class PasteTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        storage = tarpelix::testing::transferStorageIn(directory.file("store"));
        diagnostics = tarpelix::testing::diagnosticStoreIn(directory.file("store"));
    }

    std::unique_ptr<PasteTransfer> transfer(bool withServices = true) {
        return std::make_unique<PasteTransfer>(operation, platform::Bytes(1234, 7), "com.apple.Terminal", "mosh",
                                               "me@host:22", withServices ? storage : nullptr,
                                               withServices ? diagnostics : nullptr);
    }

    // The stages and outcomes of the logged events, in order.
    std::vector<std::pair<DiagnosticStage, TransferOutcome>> events() {
        std::vector<std::pair<DiagnosticStage, TransferOutcome>> found;
        for (const auto& event : diagnostics->snapshot().events) {
            EXPECT_EQ(event.operationID, operation->id);
            EXPECT_EQ(event.terminal, DiagnosticTerminal::terminal);
            EXPECT_EQ(event.transport, DiagnosticTransport::mosh);
            EXPECT_EQ(event.byteCount, 1234);
            found.emplace_back(event.stage, event.outcome);
        }
        return found;
    }

    TemporaryDirectory directory{"tarpelix-transfer"};
    std::shared_ptr<TransferStorage> storage;
    std::shared_ptr<DiagnosticStore> diagnostics;
    std::shared_ptr<PasteOperation> operation = PasteOperation::create();
};

using Stage = DiagnosticStage;
using Outcome = TransferOutcome;

} // namespace

TEST_F(PasteTransferTest, HowFarTheUploadGotDecidesTheRecord) {
    struct Row {
        const char* name;
        std::function<void()> before;
        bool confirm; // the transport confirms the path before returning it
        std::function<void()> after;
        bool cancelFirst;
        Outcome upload;
        std::optional<TransferFailureCategory> category;
        std::string error; // "" when the upload succeeds
    };
    auto fail = [](std::string text) { return [text] { throw TerminalUnavailable(text); }; };
    const Row rows[] = {
        {"confirmed by the transport", [] {}, true, [] {}, false, Outcome::succeeded, std::nullopt, ""},
        {"only returned", [] {}, false, [] {}, false, Outcome::succeeded, std::nullopt, ""},
        {"refused before", fail("Upload timed out"), false, [] {}, false, Outcome::failed,
         TransferFailureCategory::upload, "Upload timed out"},
        {"cancelled before", [] {}, false, [] {}, true, Outcome::cancelled, TransferFailureCategory::cancellation,
         "Paste cancelled — focus or input changed"},
        {"second validation fails after the confirmation", [] {}, true, fail("Terminal session changed"), false,
         Outcome::succeeded, std::nullopt, "Terminal session changed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        operation = PasteOperation::create();
        diagnostics->clear();
        if (row.cancelFirst) operation->cancel("Paste cancelled — focus or input changed");
        auto made = transfer();
        EXPECT_EQ(made->record.uploadOutcome, Outcome::pending);
        auto result = made->upload(
            row.before,
            [&](const platform::Uuid& id, const std::function<void(const std::string&)>& confirm) {
                EXPECT_EQ(id, operation->id);
                if (row.confirm) confirm(remotePath);
                return remotePath;
            },
            row.after);
        EXPECT_EQ(made->record.uploadOutcome, row.upload);
        EXPECT_EQ(made->record.failureCategory, row.category);
        EXPECT_EQ(events(), (std::vector<std::pair<Stage, Outcome>>{{Stage::upload, row.upload}}));
        if (row.error.empty()) {
            ASSERT_EQ(std::get<std::string>(result), remotePath);
            EXPECT_EQ(made->record.confirmedRemotePath, remotePath);
            made->finishInsertion(Outcome::succeeded, std::nullopt);
            EXPECT_EQ(storage->latestConfirmedUpload(), made->record);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<std::exception_ptr>(result));
        EXPECT_EQ(describe(std::get<std::exception_ptr>(result)), row.error);

        made->finishInsertion(Outcome::failed, std::nullopt);
        made->finishInsertion(Outcome::succeeded, std::nullopt); // the second call changes nothing
        EXPECT_EQ(made->record.insertionOutcome, Outcome::failed);
        EXPECT_EQ(made->record.failureCategory, row.category.value_or(TransferFailureCategory::insertion));
        EXPECT_EQ(events(), (std::vector<std::pair<Stage, Outcome>>{{Stage::upload, row.upload},
                                                                    {Stage::insertion, Outcome::failed}}));
    }
}

TEST_F(PasteTransferTest, ClosingBeforeAnyUploadLogsBothEventsInOrder) {
    for (bool withServices : {true, false}) {
        SCOPED_TRACE(withServices ? "with storage and diagnostics" : "without");
        operation = PasteOperation::create();
        diagnostics->clear();
        auto made = transfer(withServices);
        made->finishInsertion(Outcome::cancelled, std::nullopt);
        EXPECT_EQ(made->record.uploadOutcome, Outcome::cancelled);
        EXPECT_EQ(made->record.insertionOutcome, Outcome::cancelled);
        EXPECT_EQ(made->record.failureCategory, TransferFailureCategory::cancellation);
        EXPECT_EQ(made->storageWarning(), std::nullopt);
        auto expected = withServices ? std::vector<std::pair<Stage, Outcome>>{{Stage::upload, Outcome::cancelled},
                                                                              {Stage::insertion, Outcome::cancelled}}
                                     : std::vector<std::pair<Stage, Outcome>>{};
        EXPECT_EQ(events(), expected);
    }
}

TEST(PasteTransferInsertion, TheOutcomeFollowsWhetherTypingHadBegun) {
    struct Row {
        const char* name;
        bool allowed;           // allowsCompletion before the insertion
        bool handoff;           // the adapter calls the handoff
        bool throwsAfter;       // the adapter fails after it
        bool cancelledMidway;   // the operation is cancelled before the handoff
        bool disallowedMidway;  // completion is no longer allowed before the handoff
        Outcome outcome;
        std::string error;
    };
    const Row rows[] = {
        {"not allowed", false, true, false, false, false, Outcome::cancelled, "<none>"},
        {"typed", true, true, false, false, false, Outcome::succeeded, "<none>"},
        {"no handoff", true, false, false, false, false, Outcome::failed, PasteTransfer::noHandoffReason},
        {"failed after the handoff", true, true, true, false, false, Outcome::ambiguous, "Terminal focus changed"},
        {"cancelled before the handoff", true, true, false, true, false, Outcome::cancelled, "Paste cancelled"},
        {"focus moved before the handoff", true, true, false, false, true, Outcome::cancelled,
         PasteTransfer::focusOrInputChanged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto operation = PasteOperation::create();
        bool allowed = row.allowed;
        int calls = 0;
        auto result = PasteTransfer::insertionOutcome(
            operation, [&] { return allowed; },
            [&](const std::function<void()>& handoff) {
                ++calls;
                if (row.cancelledMidway) operation->cancel();
                if (row.disallowedMidway) allowed = false;
                if (row.handoff) handoff();
                if (row.throwsAfter) throw TerminalUnavailable("Terminal focus changed");
            });
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_EQ(describe(result.error), row.error);
        EXPECT_EQ(calls, row.allowed ? 1 : 0);
    }
}

TEST(PasteTransferCategories, TerminalNamesAndElapsedTime) {
    const std::pair<std::optional<std::string>, DiagnosticTerminal> rows[] = {
        {"com.mitchellh.ghostty", DiagnosticTerminal::ghostty}, {"ghostty", DiagnosticTerminal::ghostty},
        {"com.googlecode.iterm2", DiagnosticTerminal::iterm2},  {"iterm2", DiagnosticTerminal::iterm2},
        {"com.apple.Terminal", DiagnosticTerminal::terminal},   {"terminal", DiagnosticTerminal::terminal},
        {"Terminal", DiagnosticTerminal::unknown},              {std::nullopt, DiagnosticTerminal::unknown},
    };
    for (const auto& [text, category] : rows) EXPECT_EQ(PasteTransfer::terminalCategory(text), category);
    EXPECT_EQ(PasteTransfer::elapsedMilliseconds(platform::MonotonicInstant::now().advanced(60)), 0);
    EXPECT_GE(PasteTransfer::elapsedMilliseconds(platform::MonotonicInstant::now().advanced(-2.5)), 2500);
}
