#include "paste/PasteTransfer.h"

#include "diagnostics/DiagnosticStore.h"
#include "storage/TransferStorage.h"
#include "terminal/GhosttyAdapter.h"
#include "terminal/TerminalAppAdapter.h"
#include "model/TerminalUnavailable.h"
#include "terminal/iTerm2Adapter.h"

#include <algorithm>

namespace tarpelix {

using platform::MonotonicInstant;

std::string errorDescription(const std::exception_ptr& error) {
    if (!error) return "Unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (...) {
        return "Unknown error";
    }
}

PasteTransfer::PasteTransfer(std::shared_ptr<PasteOperation> operation, const platform::Bytes& png,
                             const std::optional<std::string>& terminal, const std::string& transport,
                             const std::string& destinationIdentity, std::shared_ptr<TransferStorage> storage,
                             std::shared_ptr<DiagnosticStore> diagnostics, Clock clock)
    : operation_(std::move(operation)), storage_(std::move(storage)), diagnostics_(std::move(diagnostics)),
      diagnosticTerminal_(terminalCategory(terminal)),
      diagnosticTransport_(transport == "ssh"    ? DiagnosticTransport::ssh
                           : transport == "mosh" ? DiagnosticTransport::mosh
                                                 : DiagnosticTransport::unknown),
      uploadStarted_(MonotonicInstant::now()), insertionStarted_(uploadStarted_) {
    record.id = operation_->id;
    record.createdAt = clock();
    record.updatedAt = record.createdAt;
    record.terminal = terminal.value_or("");
    record.transport = transport;
    record.destinationIdentity = destinationIdentity;
    record.imageSize = static_cast<std::int64_t>(png.size());
    if (storage_) {
        storage_->beginOperation(record.id);
        record = storage_->create(record, png);
    }
}

DiagnosticTerminal PasteTransfer::terminalCategory(const std::optional<std::string>& text) {
    if (!text) return DiagnosticTerminal::unknown;
    if (*text == GhosttyAdapter::bundleID || *text == "ghostty") return DiagnosticTerminal::ghostty;
    if (*text == iTerm2Adapter::bundleID || *text == "iterm2") return DiagnosticTerminal::iterm2;
    if (*text == TerminalAppAdapter::bundleID || *text == "terminal") return DiagnosticTerminal::terminal;
    return DiagnosticTerminal::unknown;
}

std::int64_t PasteTransfer::elapsedMilliseconds(MonotonicInstant since) {
    // Whole milliseconds, truncated; an instant in the future counts as none.
    auto nanoseconds = MonotonicInstant::now().nanoseconds - since.nanoseconds;
    return std::max<std::int64_t>(nanoseconds / 1'000'000, 0);
}

std::optional<StorageError> PasteTransfer::storageWarning() const {
    if (!storage_) return std::nullopt;
    return storage_->status().warning;
}

void PasteTransfer::store() {
    if (storage_) record = storage_->update(record);
}

void PasteTransfer::append(DiagnosticStage stage, TransferOutcome outcome,
                           std::optional<TransferFailureCategory> category, MonotonicInstant since) {
    if (!diagnostics_) return;
    diagnostics_->append(DiagnosticEvent{platform::Date::now(), operation_->id, diagnosticTerminal_,
                                         diagnosticTransport_, stage, outcome, category, elapsedMilliseconds(since),
                                         record.imageSize});
}

void PasteTransfer::logUpload() {
    if (uploadLogged_) return;
    uploadLogged_ = true;
    insertionStarted_ = MonotonicInstant::now();
    append(DiagnosticStage::upload, record.uploadOutcome, record.failureCategory, uploadStarted_);
}

void PasteTransfer::confirm(const std::string& path) {
    record.confirmedRemotePath = path;
    record.uploadOutcome = TransferOutcome::succeeded;
    store();
    logUpload();
}

PasteTransfer::UploadResult PasteTransfer::upload(const Validation& validateBefore, const Transport& transport,
                                                  const Validation& validateAfter) {
    uploadStarted_ = MonotonicInstant::now();
    try {
        operation_->check();
        validateBefore();
        auto path = transport(operation_->id, [this](const std::string& confirmed) { confirm(confirmed); });
        if (!record.confirmedRemotePath) confirm(path);
        operation_->check();
        validateAfter();
        operation_->check();
        return path;
    } catch (...) {
        if (!record.confirmedRemotePath) {
            const bool cancelled = operation_->isCancelled();
            record.uploadOutcome = cancelled ? TransferOutcome::cancelled : TransferOutcome::failed;
            record.failureCategory = cancelled ? TransferFailureCategory::cancellation : TransferFailureCategory::upload;
            store();
            logUpload();
        }
        return std::current_exception();
    }
}

PasteTransfer::InsertionResult PasteTransfer::insertionOutcome(
    const std::shared_ptr<PasteOperation>& operation, const std::function<bool()>& allowsCompletion,
    const std::function<void(const std::function<void()>& handoff)>& insert) {
    if (!allowsCompletion()) return {TransferOutcome::cancelled, nullptr};
    bool started = false;
    try {
        operation->check();
        insert([&] {
            operation->check();
            if (!allowsCompletion()) throw TerminalUnavailable(focusOrInputChanged);
            started = true;
        });
        if (!started) throw TerminalUnavailable(noHandoffReason);
        return {TransferOutcome::succeeded, nullptr};
    } catch (...) {
        auto error = std::current_exception();
        if (started) return {TransferOutcome::ambiguous, error};
        if (operation->isCancelled()) return {TransferOutcome::cancelled, error};
        return {allowsCompletion() ? TransferOutcome::failed : TransferOutcome::cancelled, error};
    }
}

void PasteTransfer::finishInsertion(TransferOutcome outcome, std::optional<TransferFailureCategory> failureCategory) {
    if (finished_) return;
    finished_ = true;
    record.insertionOutcome = outcome;
    if (record.uploadOutcome == TransferOutcome::pending) {
        record.uploadOutcome = outcome == TransferOutcome::cancelled ? TransferOutcome::cancelled : TransferOutcome::failed;
    }
    if (failureCategory) {
        record.failureCategory = failureCategory;
    } else if (!record.failureCategory) {
        if (outcome == TransferOutcome::cancelled) {
            record.failureCategory = TransferFailureCategory::cancellation;
        } else if (outcome == TransferOutcome::failed || outcome == TransferOutcome::ambiguous) {
            record.failureCategory = TransferFailureCategory::insertion;
        }
    }
    store();
    logUpload();
    append(DiagnosticStage::insertion, outcome,
           outcome == TransferOutcome::succeeded ? std::nullopt : record.failureCategory, insertionStarted_);
    if (storage_) {
        try {
            storage_->endOperation(record.id);
        } catch (...) {
            // A pending clear's failure is the clear's to report, not this paste's.
        }
    }
}

} // namespace tarpelix
