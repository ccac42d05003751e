#pragma once

#include "diagnostics/DiagnosticEvent.h"
#include "model/PasteOperation.h"
#include "model/TransferOutcome.h"
#include "model/TransferRecord.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Date.h"
#include "storage/StorageError.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tarpelix {

class DiagnosticStore;
class TransferStorage;

// The books of one image upload and the insertion of its remote path: the transfer record,
// written to storage at every change, and exactly one diagnostic event for the upload and one
// for the insertion. Used by one paste on the paste queue (its record and storage warning are
// read on the main thread between queue steps, never at the same time); never reopened once
// finished.
class PasteTransfer final {
public:
    using Clock = std::function<platform::Date()>;
    using Validation = std::function<void()>;
    using Transport =
        std::function<std::string(const platform::Uuid& id, const std::function<void(const std::string&)>& confirm)>;
    // The remote path, or the error that ended the upload.
    using UploadResult = std::variant<std::string, std::exception_ptr>;

    struct InsertionResult {
        TransferOutcome outcome = TransferOutcome::succeeded;
        std::exception_ptr error;
    };

    static inline const std::string noHandoffReason = "Terminal did not confirm an insertion handoff";
    static inline const std::string focusOrInputChanged = "Paste cancelled — focus or input changed";

    // Creates the pending record and, with storage, marks the operation active and stores it.
    PasteTransfer(std::shared_ptr<PasteOperation> operation, const platform::Bytes& png,
                  const std::optional<std::string>& terminal, const std::string& transport,
                  const std::string& destinationIdentity, std::shared_ptr<TransferStorage> storage,
                  std::shared_ptr<DiagnosticStore> diagnostics, Clock clock = platform::Date::now);

    TransferRecord record;

    // Runs the upload between the two validations; the record takes the confirmed path as
    // soon as the transport confirms it.
    UploadResult upload(const Validation& validateBefore, const Transport& transport, const Validation& validateAfter);

    // How an insertion ended: `insert` gets a handoff callback that the adapter calls at the
    // last moment before it types.
    static InsertionResult insertionOutcome(const std::shared_ptr<PasteOperation>& operation,
                                            const std::function<bool()>& allowsCompletion,
                                            const std::function<void(const std::function<void()>& handoff)>& insert);

    // Closes the record with the insertion's outcome; only the first call counts.
    void finishInsertion(TransferOutcome outcome, std::optional<TransferFailureCategory> failureCategory);

    std::optional<StorageError> storageWarning() const;

    static DiagnosticTerminal terminalCategory(const std::optional<std::string>& text);
    static std::int64_t elapsedMilliseconds(platform::MonotonicInstant since);

private:
    void confirm(const std::string& path);
    void store();
    void logUpload();
    void append(DiagnosticStage stage, TransferOutcome outcome, std::optional<TransferFailureCategory> category,
                platform::MonotonicInstant since);

    std::shared_ptr<PasteOperation> operation_;
    std::shared_ptr<TransferStorage> storage_;
    bool finished_ = false;
    std::shared_ptr<DiagnosticStore> diagnostics_;
    DiagnosticTerminal diagnosticTerminal_;
    DiagnosticTransport diagnosticTransport_;
    platform::MonotonicInstant uploadStarted_;
    platform::MonotonicInstant insertionStarted_;
    bool uploadLogged_ = false;
};

// The sentence of a caught error: its reason, for the errors of the paste road.
std::string errorDescription(const std::exception_ptr& error);

} // namespace tarpelix
