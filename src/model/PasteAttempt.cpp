#include "model/PasteAttempt.h"

#include "model/ModelJson.h"
#include "platform/foundation/JsonReader.h"
#include "platform/foundation/Text.h"

namespace tarpelix {

namespace text = platform::text;
using Outcome = PasteFeedback::Outcome;

std::string cutToGraphemes(const std::string& value, std::size_t limit) {
    if (text::graphemeCount(value) <= limit) return value;
    return text::prefixGraphemes(value, limit);
}

namespace {
std::optional<std::string> cutOptional(const std::optional<std::string>& value, std::size_t limit) {
    if (!value) return std::nullopt;
    return cutToGraphemes(*value, limit);
}

// Insertion outcome, and upload outcome when the upload is not confirmed, for a feedback outcome.
std::pair<TransferOutcome, TransferOutcome> derivedOutcomes(const std::optional<Outcome>& outcome) {
    using T = TransferOutcome;
    if (!outcome) return {T::pending, T::pending};
    switch (*outcome) {
    case Outcome::success: return {T::succeeded, T::failed};
    case Outcome::failed: return {T::failed, T::failed};
    case Outcome::cancelled: return {T::cancelled, T::cancelled};
    case Outcome::uploadedWithoutInsertion: return {T::failed, T::failed};
    case Outcome::ambiguous: return {T::ambiguous, T::failed};
    case Outcome::normalPaste: return {T::cancelled, T::cancelled};
    case Outcome::interrupted: return {T::interrupted, T::interrupted};
    }
    return {T::pending, T::pending};
}


bool isOpenInsertion(TransferOutcome outcome) {
    return outcome == TransferOutcome::pending || outcome == TransferOutcome::interrupted;
}
} // namespace

PasteAttempt::PasteAttempt(const PasteFeedback& source, platform::Date created, platform::Date updated,
                           const std::string& terminalName, const std::string& transportName)
    : id(source.operationID),
      createdAt(created),
      updatedAt(updated),
      terminal(cutToGraphemes(terminalName, nameLimit)),
      transport(cutToGraphemes(transportName, nameLimit)),
      feedback(source) {
    feedback.destination = cutOptional(source.destination, textLimit);
    feedback.explanation = cutOptional(source.explanation, textLimit);
    feedback.nextStep = cutOptional(source.nextStep, textLimit);
    auto [insertion, upload] = derivedOutcomes(source.outcome);
    insertionOutcome = insertion;
    uploadOutcome = source.uploadConfirmed ? TransferOutcome::succeeded : upload;
}

bool PasteAttempt::acceptsUpdate(const PasteAttempt& incoming) const {
    if (incoming.id != id) return incoming.createdAt > createdAt;

    const auto& stored = *this;
    if (incoming.createdAt != stored.createdAt) return false;
    if (incoming.updatedAt < stored.updatedAt) return false;
    if (incoming == stored) return false;
    if (rawValue(incoming.feedback.stage) < rawValue(stored.feedback.stage)) return false;
    if (stored.feedback.outcome && !incoming.feedback.outcome) return false;
    if (stored.feedback.outcome && incoming.feedback.outcome && *stored.feedback.outcome != *incoming.feedback.outcome) {
        bool revision = *stored.feedback.outcome == Outcome::cancelled && incoming.feedback.uploadConfirmed &&
                        (*incoming.feedback.outcome == Outcome::uploadedWithoutInsertion ||
                         *incoming.feedback.outcome == Outcome::ambiguous);
        if (!revision) return false;
    }

    if (incoming.updatedAt > stored.updatedAt) return true;
    if (rawValue(incoming.feedback.stage) > rawValue(stored.feedback.stage)) return true;
    if (!stored.feedback.outcome && incoming.feedback.outcome) return true;
    if (!stored.feedback.uploadConfirmed && incoming.feedback.uploadConfirmed) return true;
    if (!stored.feedback.destination && incoming.feedback.destination) return true;
    if (stored.transport == "unknown" && incoming.transport != "unknown") return true;
    if (stored.terminal == "unknown" && incoming.terminal != "unknown") return true;
    return false;
}

PasteAttempt PasteAttempt::reconciled(const std::optional<TransferRecord>& candidate, bool interrupted,
                                      platform::Date date) const {
    const PasteAttempt& start = *this;
    PasteAttempt result = start;
    const TransferRecord* record = candidate && candidate->id == id ? &*candidate : nullptr;

    // 1. Merge what the record knows.
    if (record) {
        if (result.transport == "unknown") result.transport = cutToGraphemes(record->transport, nameLimit);
        if (result.terminal == "unknown") result.terminal = cutToGraphemes(record->terminal, nameLimit);
        if (!result.feedback.destination && !record->destinationIdentity.empty()) {
            std::string identity = record->destinationIdentity;
            if (identity.size() >= 3 && identity.compare(identity.size() - 3, 3, ":22") == 0) {
                identity.resize(identity.size() - 3);
            }
            result.feedback.destination = cutToGraphemes(identity, textLimit);
        }
        result.uploadOutcome = record->uploadOutcome;
        bool keepStarting = isOpenInsertion(record->insertionOutcome) &&
                            (start.insertionOutcome == TransferOutcome::succeeded ||
                             start.insertionOutcome == TransferOutcome::ambiguous);
        result.insertionOutcome = keepStarting ? start.insertionOutcome : record->insertionOutcome;
        if (result.feedback.uploadConfirmed || record->uploadOutcome == TransferOutcome::succeeded ||
            (record->confirmedRemotePath && !record->confirmedRemotePath->empty())) {
            result.uploadOutcome = TransferOutcome::succeeded;
            result.feedback.uploadConfirmed = true;
        }
    }

    // 2. After a stop, end an attempt that was still open.
    if (interrupted) {
        const auto& startOutcome = start.feedback.outcome;
        bool open = !startOutcome ||
                    ((*startOutcome == Outcome::cancelled || *startOutcome == Outcome::uploadedWithoutInsertion) &&
                     start.feedback.stage == PasteFeedback::Stage::inserting &&
                     (!record || isOpenInsertion(record->insertionOutcome)));
        if (open) {
            if (result.uploadOutcome == TransferOutcome::pending) result.uploadOutcome = TransferOutcome::interrupted;
            if (result.insertionOutcome == TransferOutcome::pending) {
                result.insertionOutcome = TransferOutcome::interrupted;
            }
            Outcome ending = Outcome::interrupted;
            if (start.feedback.stage == PasteFeedback::Stage::inserting &&
                result.insertionOutcome != TransferOutcome::succeeded) {
                result.insertionOutcome = TransferOutcome::ambiguous;
                ending = Outcome::ambiguous;
            }
            result.feedback.finish(ending, std::nullopt, result.feedback.uploadConfirmed);
        }
    }

    // 3. A confirmed upload makes the outcome agree with the insertion.
    if (result.feedback.uploadConfirmed) {
        Outcome target = result.insertionOutcome == TransferOutcome::succeeded   ? Outcome::success
                         : result.insertionOutcome == TransferOutcome::ambiguous ? Outcome::ambiguous
                                                                                 : Outcome::uploadedWithoutInsertion;
        bool skip = target == Outcome::uploadedWithoutInsertion && !result.feedback.outcome;
        if (!skip && result.feedback.outcome != target) {
            auto previousExplanation = result.feedback.explanation;
            std::optional<std::string> previousNextStep;
            if (result.feedback.nextStep) {
                previousNextStep = text::replacingOccurrences(*result.feedback.nextStep, "paste again",
                                                "use Copy Last Uploaded Path to paste manually");
            }
            result.feedback.finish(target, std::nullopt, true);
            if (target == Outcome::uploadedWithoutInsertion && start.feedback.outcome) {
                if (previousExplanation) {
                    result.feedback.explanation =
                        cutToGraphemes(*result.feedback.explanation + " " + *previousExplanation, textLimit);
                }
                if (previousNextStep) {
                    result.feedback.nextStep =
                        cutToGraphemes(*result.feedback.nextStep + " " + *previousNextStep, textLimit);
                }
            }
        }
    }

    // 4. A corrected attempt takes the correction's time, never an earlier one.
    if (!(result == start)) result.updatedAt = date < start.updatedAt ? start.updatedAt : date;
    return result;
}

std::string PasteAttempt::json() const {
    platform::JsonWriter writer;
    writer.beginObject();
    writer.key("id").value(id.uuidString());
    writer.key("createdAt").value(createdAt.secondsSinceReferenceDate);
    writer.key("updatedAt").value(updatedAt.secondsSinceReferenceDate);
    writer.key("terminal").value(text::validUTF8(terminal));
    writer.key("transport").value(text::validUTF8(transport));
    writer.key("feedback");
    feedback.writeJson(writer);
    writer.key("uploadOutcome").value(rawValue(uploadOutcome));
    writer.key("insertionOutcome").value(rawValue(insertionOutcome));
    writer.endObject();
    return writer.str();
}

PasteAttempt PasteAttempt::fromJson(const nlohmann::json& object) {
    namespace json = platform::json;
    json::requireObject(object, "attempt");
    PasteAttempt attempt;
    attempt.id = json::requiredUuid(object, "id");
    attempt.createdAt = json::requiredDate(object, "createdAt");
    attempt.updatedAt = json::requiredDate(object, "updatedAt");
    attempt.terminal = json::requiredString(object, "terminal");
    attempt.transport = json::requiredString(object, "transport");
    attempt.feedback = PasteFeedback::fromJson(json::requiredObject(object, "feedback"));
    attempt.uploadOutcome = model_json::requiredTransferOutcome(object, "uploadOutcome");
    attempt.insertionOutcome = model_json::requiredTransferOutcome(object, "insertionOutcome");
    return attempt;
}

} // namespace tarpelix
