// The second half of a paste: the decision on the main thread (ordinary paste, failure or
// upload), the upload on the paste queue between two revalidations, the insertion of the
// remote path, and the end of the operation.

#include "diagnostics/DiagnosticStore.h"
#include "paste/ClipboardImage.h"
#include "paste/PasteCoordinator.h"
#include "paste/PasteTransfer.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"
#include "platform/process/PathComponents.h"
#include "model/TerminalUnavailable.h"

namespace tarpelix {

namespace {

const std::string focusOrInputChanged = "Paste cancelled — focus or input changed";
const std::string moshNeedsSSH = "Mosh image paste requires working SSH: ";
const std::string insertionTimedOut = "Upload operation timed out — insertion cancelled";
const std::string lastMomentFailed = "Paste cancelled — input changed or operation timed out";

} // namespace

// MARK: Decision

void PasteCoordinator::decide(const Road& road, Preparation preparation) {
    platform::requireMainThread("PasteCoordinator.decide");
    const auto& operation = road.operation;
    if (preparation.transfer) reportStorageWarning(preparation.transferWarning);
    if (!operations_->allowsCompletion(operation) || !stillCurrent(road.gesture)) {
        feedback_.complete(operation->id, PasteFeedback::Outcome::cancelled, operation->cancellationReason(), false);
        closeRoad(road, preparation, TransferOutcome::cancelled);
        return;
    }
    if (auto* error = std::get_if<std::exception_ptr>(&preparation.result)) {
        errorExit(road, preparation, errorDescription(*error));
        return;
    }
    const auto& prepared = std::get<Preparation::Prepared>(preparation.result);
    if (!stillCurrent(road.gesture)) {
        closeRoad(road, preparation, TransferOutcome::cancelled);
        return;
    }
    const auto& resolution = prepared.resolution;
    if (resolution.as<SessionResolution::Passthrough>() || resolution.as<SessionResolution::LocalShell>() ||
        resolution.as<SessionResolution::LocalApplication>()) {
        if (attemptContext_ && attemptContext_->id == operation->id) attemptContext_->transport = "local";
        handBack(road, preparation, true);
        return;
    }
    if (resolution.as<SessionResolution::Unsupported>() || resolution.as<SessionResolution::Unresolved>()) {
        const auto status = resolution.status();
        beginFeedback(operation, rawValue(road.terminal));
        feedback_.complete(operation->id, PasteFeedback::Outcome::failed, status, false);
        report(status);
        closeRoad(road, preparation, std::nullopt);
        return;
    }
    const auto& session = resolution.as<SessionResolution::SSH>()->session;
    if (prepared.png && preparation.transfer) {
        feedback_.advance(operation->id, PasteFeedback::Stage::uploading, std::nullopt);
        report(uploadingReport);
        upload(road, *prepared.png, session, preparation.transfer);
    } else if (prepared.png) {
        finish(operation);
    } else {
        handBack(road, preparation, false);
    }
}

void PasteCoordinator::handBack(const Road& road, const Preparation& preparation, bool localGroup) {
    const auto& operation = road.operation;
    try {
        operation->check();
        road.adapter->validateTarget(road.target);
        if (localGroup) operation->check();
        if (platform::Pasteboard::general().changeCount() != road.clipboardChangeCount) throw ClipboardImage::changed;
        if (!stillCurrent(road.gesture) || !platform::isEqual(focusedElement(road.gesture.pid), road.focus)) {
            throw TerminalUnavailable(focusOrInputChanged);
        }
        operation->check();
        eventTap_->replay(road.gesture);
        feedback_.dismiss(operation->id);
        if (localGroup) report("Normal paste");
        closeRoad(road, preparation, std::nullopt);
    } catch (const std::exception& error) {
        errorExit(road, preparation, error.what());
    }
}

void PasteCoordinator::errorExit(const Road& road, const Preparation& preparation, const std::string& description) {
    const auto& operation = road.operation;
    std::optional<TransferOutcome> eventOutcome;
    if (operation->isCancelled()) {
        eventOutcome = TransferOutcome::cancelled;
    } else if (preparation.loggedOutcome == TransferOutcome::succeeded) {
        eventOutcome = TransferOutcome::failed;
    }
    beginFeedback(operation, rawValue(road.terminal));
    feedback_.complete(operation->id,
                       operation->isCancelled() ? PasteFeedback::Outcome::cancelled : PasteFeedback::Outcome::failed,
                       description, false);
    report(description);
    closeRoad(road, preparation, eventOutcome);
}

void PasteCoordinator::closeRoad(const Road& road, const Preparation& preparation,
                                 std::optional<TransferOutcome> eventOutcome) {
    if (preparation.transfer) {
        completeTransfer(preparation.transfer, road.operation, TransferOutcome::cancelled);
        return;
    }
    if (eventOutcome && *eventOutcome != preparation.loggedOutcome) {
        appendDiagnostic(DiagnosticEvent{
            platform::Date::now(), road.id, road.terminal, preparation.transport, preparation.stage, *eventOutcome,
            *eventOutcome == TransferOutcome::cancelled ? TransferFailureCategory::cancellation
                                                        : TransferFailureCategory::unavailable,
            PasteTransfer::elapsedMilliseconds(preparation.measuredFrom), preparation.byteCount});
    }
    finish(road.operation);
}

// MARK: Upload

void PasteCoordinator::upload(const Road& road, const platform::Bytes& png, const SSHSession& session,
                              std::shared_ptr<PasteTransfer> transfer) {
    std::weak_ptr<PasteCoordinator> weak = weak_from_this();
    worker_->async([weak, road, png, session, transfer = std::move(transfer), resolver = resolver_,
                    tap = eventTap_, uploadTransport = uploadTransport_] {
        const auto& operation = road.operation;
        auto validateBefore = [&] {
            resolver.revalidate(session, operation);
            if (!tap->isCurrent(road.gesture)) throw TerminalUnavailable(focusOrInputChanged);
            platform::DispatchQueue::main()->sync([&] {
                auto self = weak.lock();
                if (!self) throw TerminalUnavailable(focusOrInputChanged);
                operation->check();
                road.adapter->validateTarget(road.target);
                if (!self->stillCurrent(road.gesture)) throw TerminalUnavailable(focusOrInputChanged);
            });
        };
        auto transport = [&](const platform::Uuid& id, const std::function<void(const std::string&)>& confirm) {
            try {
                return uploadTransport(png, session, road.deadline, operation, id, confirm);
            } catch (const std::exception& error) {
                if (platform::lastPathComponent(session.foreground.process.executable) != "mosh-client") throw;
                throw TerminalUnavailable(moshNeedsSSH + error.what());
            }
        };
        auto validateAfter = [&] { resolver.revalidate(session, operation); };
        auto result = transfer->upload(validateBefore, transport, validateAfter);
        auto warning = transfer->storageWarning();
        platform::DispatchQueue::main()->async([weak, road, transfer, result, warning] {
            if (auto self = weak.lock()) self->insertPath(road, transfer, result, warning);
        });
    });
}

// MARK: Insertion

void PasteCoordinator::insertPath(const Road& road, const std::shared_ptr<PasteTransfer>& transfer,
                                  const std::variant<std::string, std::exception_ptr>& uploaded,
                                  const std::optional<StorageError>& warning) {
    platform::requireMainThread("PasteCoordinator.insertPath");
    const auto& operation = road.operation;
    using Outcome = PasteFeedback::Outcome;
    reportStorageWarning(warning);
    const bool confirmed = transfer->record.hasConfirmedUpload();
    auto end = [&](Outcome feedbackOutcome, TransferOutcome transferOutcome,
                   const std::optional<std::string>& explanation) {
        feedback_.complete(operation->id, feedbackOutcome, explanation, transfer->record.hasConfirmedUpload());
        completeTransfer(transfer, operation, transferOutcome);
    };
    auto cancelledEnding = [&](const std::optional<std::string>& explanation) {
        end(confirmed ? Outcome::uploadedWithoutInsertion : Outcome::cancelled, TransferOutcome::cancelled,
            explanation);
    };

    if (!operations_->allowsCompletion(operation) || !stillCurrent(road.gesture)) {
        cancelledEnding(operation->cancellationReason());
        return;
    }
    if (auto* error = std::get_if<std::exception_ptr>(&uploaded)) {
        const auto description = errorDescription(*error);
        report(description);
        if (operation->isCancelled()) {
            cancelledEnding(description);
        } else {
            end(confirmed ? Outcome::uploadedWithoutInsertion : Outcome::failed, TransferOutcome::failed, description);
        }
        return;
    }

    const auto& path = std::get<std::string>(uploaded);
    feedback_.advance(operation->id, PasteFeedback::Stage::inserting, std::nullopt);
    auto allowsCompletion = [&] { return operations_->allowsCompletion(operation) && stillCurrent(road.gesture); };
    auto inserted = PasteTransfer::insertionOutcome(operation, allowsCompletion, [&](const std::function<void()>& handoff) {
        if (road.deadline <= platform::systemUptime()) throw TerminalUnavailable(insertionTimedOut);
        insertion_(path, *road.adapter, road.target, [&] {
            operation->check();
            if (!stillCurrent(road.gesture) || !(platform::systemUptime() < road.deadline)) {
                throw TerminalUnavailable(lastMomentFailed);
            }
            handoff();
        });
    });
    std::optional<std::string> explanation;
    if (inserted.error) {
        explanation = errorDescription(inserted.error);
        report(*explanation);
    } else {
        explanation = operation->cancellationReason();
        if (inserted.outcome == TransferOutcome::succeeded) report(insertedReport);
    }
    switch (inserted.outcome) {
    case TransferOutcome::succeeded:
        end(Outcome::success, TransferOutcome::succeeded, explanation);
        break;
    case TransferOutcome::cancelled:
        end(confirmed ? Outcome::uploadedWithoutInsertion : Outcome::cancelled, TransferOutcome::cancelled,
            explanation);
        break;
    case TransferOutcome::ambiguous:
        end(Outcome::ambiguous, TransferOutcome::ambiguous, explanation);
        break;
    default:
        end(confirmed ? Outcome::uploadedWithoutInsertion : Outcome::failed, inserted.outcome, explanation);
        break;
    }
}

void PasteCoordinator::completeTransfer(const std::shared_ptr<PasteTransfer>& transfer,
                                        const std::shared_ptr<PasteOperation>& operation, TransferOutcome outcome) {
    std::weak_ptr<PasteCoordinator> weak = weak_from_this();
    worker_->async([weak, transfer, operation, outcome] {
        transfer->finishInsertion(outcome, std::nullopt);
        auto warning = transfer->storageWarning();
        platform::DispatchQueue::main()->async([weak, operation, warning] {
            if (auto self = weak.lock()) {
                self->reportStorageWarning(warning);
                self->finish(operation);
            }
        });
    });
}

} // namespace tarpelix
