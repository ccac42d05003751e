#include "model/PasteOperation.h"

#include "model/TerminalUnavailable.h"

namespace tarpelix {

PasteOperation::PasteOperation(Instant deadline, Clock now, platform::Uuid id)
    : id(id), deadline(deadline), now_(std::move(now)) {}

std::shared_ptr<PasteOperation> PasteOperation::create(Instant deadline, Clock now, platform::Uuid id) {
    return std::make_shared<PasteOperation>(deadline, std::move(now), id);
}

PasteOperation::Instant PasteOperation::newDeadline() {
    return Instant::now().advanced(timeout);
}

std::optional<std::string> PasteOperation::cancellationReason() const {
    std::lock_guard guard(lock_);
    if (!reason_ && now_() >= deadline) reason_ = timedOutReason;
    return reason_;
}

bool PasteOperation::cancel(const std::string& reason) {
    std::lock_guard guard(lock_);
    if (reason_) return false;
    reason_ = reason;
    return true;
}

void PasteOperation::check() const {
    if (auto reason = cancellationReason()) throw TerminalUnavailable(*reason);
}

std::shared_ptr<PasteOperation> PasteOperationState::begin(PasteOperation::Instant deadline, platform::Uuid id) {
    if (current_) return nullptr;
    current_ = PasteOperation::create(deadline, PasteOperation::Instant::now, id);
    return current_;
}

bool PasteOperationState::allowsCompletion(const std::shared_ptr<PasteOperation>& operation) const {
    return operation && operation == current_ && !operation->cancellationReason();
}

bool PasteOperationState::finish(const std::shared_ptr<PasteOperation>& operation) {
    if (!current_ || operation != current_) return false;
    operation->cancel(PasteOperation::defaultCancelReason);
    current_.reset();
    return true;
}

void PasteOperationState::cancel() {
    if (current_) current_->cancel(PasteOperation::defaultCancelReason);
}

} // namespace tarpelix
