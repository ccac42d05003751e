#include "model/PasteFeedbackState.h"

#include "platform/foundation/MainThread.h"

namespace tarpelix {

void PasteFeedbackState::store(const PasteFeedback& feedback) {
    current_ = feedback;
    // A copy, so that a publish handler that starts a new paste cannot change what it reads.
    auto published = feedback;
    publish(published);
}

void PasteFeedbackState::begin(const platform::Uuid& operationID) {
    platform::requireMainThread("PasteFeedbackState.begin");
    if (current_ && current_->operationID == operationID) return;
    if (current_ && !current_->outcome && !dismissed_) return;
    dismissed_ = false;
    PasteFeedback feedback;
    feedback.operationID = operationID;
    store(feedback);
}

void PasteFeedbackState::advance(const platform::Uuid& operationID, PasteFeedback::Stage stage,
                                 const std::optional<std::string>& destination) {
    platform::requireMainThread("PasteFeedbackState.advance");
    if (!current_ || current_->operationID != operationID || current_->outcome || dismissed_) return;
    if (rawValue(current_->stage) > rawValue(stage)) return;
    auto copy = *current_;
    copy.stage = stage;
    if (destination) copy.destination = destination;
    if (copy == *current_) return;
    store(copy);
}

void PasteFeedbackState::complete(const platform::Uuid& operationID, PasteFeedback::Outcome outcome,
                                  const std::optional<std::string>& explanation, bool uploaded) {
    platform::requireMainThread("PasteFeedbackState.complete");
    // After a dismissal the paste is final: neither a completion nor a revision applies.
    if (!current_ || current_->operationID != operationID || dismissed_) return;
    auto copy = *current_;
    if (current_->outcome) {
        using Outcome = PasteFeedback::Outcome;
        bool revision = *current_->outcome == Outcome::cancelled && uploaded && !current_->uploadConfirmed &&
                        (outcome == Outcome::uploadedWithoutInsertion || outcome == Outcome::ambiguous);
        if (!revision) return;
        copy.isRevision = true;
    }
    copy.finish(outcome, explanation, uploaded);
    store(copy);
}

void PasteFeedbackState::dismiss(const platform::Uuid& operationID) {
    platform::requireMainThread("PasteFeedbackState.dismiss");
    if (!current_ || current_->operationID != operationID || dismissed_) return;
    dismissed_ = true;
    if (current_->outcome) return;
    auto copy = *current_;
    copy.outcome = PasteFeedback::Outcome::normalPaste;
    copy.explanation = "The image was passed to normal paste.";
    copy.nextStep.reset();
    store(copy);
}

} // namespace tarpelix
