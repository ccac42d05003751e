#include "storage/RecordChecks.h"

#include "model/RemoteImagePath.h"
#include "platform/foundation/Text.h"
#include "storage/StorageError.h"

#include <cmath>

namespace tarpelix {

namespace {
bool isFinite(platform::Date date) { return std::isfinite(date.unixSeconds()); }

bool withinLimit(const std::optional<std::string>& value, std::size_t limit) {
    return !value || platform::text::graphemeCount(*value) <= limit;
}
} // namespace

void checkRecord(const TransferRecord& record) {
    if (record.imageSize < 0) throw StorageError::invalidRecord;
    if (!isFinite(record.createdAt) || !isFinite(record.updatedAt)) throw StorageError::invalidRecord;
    if (record.localFilename && *record.localFilename != record.expectedFilename()) throw StorageError::invalidRecord;
    if (!hasAcceptableRemotePath(record)) throw StorageError::invalidRecord;
}

bool hasAcceptableRemotePath(const TransferRecord& record) {
    const auto& path = record.confirmedRemotePath;
    return !path || path->empty() || isValidRemoteImagePath(*path, record.id);
}

void checkLatestAttempt(const PasteAttempt& attempt) {
    if (attempt.id != attempt.feedback.operationID) throw StorageError::invalidRecord;
    if (!isFinite(attempt.createdAt) || !isFinite(attempt.updatedAt)) throw StorageError::invalidRecord;
    if (attempt.updatedAt < attempt.createdAt) throw StorageError::invalidRecord;
    if (!withinLimit(attempt.terminal, PasteAttempt::nameLimit) ||
        !withinLimit(attempt.transport, PasteAttempt::nameLimit)) {
        throw StorageError::invalidRecord;
    }
    const auto& feedback = attempt.feedback;
    if (!withinLimit(feedback.destination, PasteAttempt::textLimit) ||
        !withinLimit(feedback.explanation, PasteAttempt::textLimit) ||
        !withinLimit(feedback.nextStep, PasteAttempt::textLimit)) {
        throw StorageError::invalidRecord;
    }
}

PasteAttempt attemptKeepingTimeForward(PasteAttempt incoming, const std::optional<PasteAttempt>& held) {
    if (!isFinite(incoming.createdAt) || !isFinite(incoming.updatedAt)) return incoming;
    if (incoming.updatedAt < incoming.createdAt) incoming.updatedAt = incoming.createdAt;
    if (held && held->id == incoming.id && held->createdAt == incoming.createdAt && isFinite(held->updatedAt) &&
        incoming.updatedAt < held->updatedAt) {
        incoming.updatedAt = held->updatedAt;
    }
    return incoming;
}

} // namespace tarpelix
