#include "storage/RecordChecks.h"

#include "model/RemoteImagePath.h"
#include "platform/foundation/JsonReader.h"
#include "platform/foundation/Text.h"
#include "storage/StorageError.h"

#include <nlohmann/json.hpp>

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

namespace {
// Builds the document as the library's own reader does, counting each value and level as it
// is met, so that the first one past a bound ends the parse.
class BoundedDocument {
public:
    using Json = nlohmann::json;

    BoundedDocument(Json& result, const StoredPayloadLimit& limit) : builder_(result), limit_(limit) {}

    bool null() { return counted() && builder_.null(); }
    bool boolean(bool value) { return counted() && builder_.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return counted() && builder_.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return counted() && builder_.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text) {
        return counted() && builder_.number_float(value, text);
    }
    bool string(Json::string_t& value) { return counted() && builder_.string(value); }
    bool binary(Json::binary_t& value) { return counted() && builder_.binary(value); }
    bool start_object(std::size_t size) { return entered() && builder_.start_object(size); }
    bool key(Json::string_t& value) { return builder_.key(value); }
    bool end_object() { return left() && builder_.end_object(); }
    bool start_array(std::size_t size) { return entered() && builder_.start_array(size); }
    bool end_array() { return left() && builder_.end_array(); }
    template <typename Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
        return builder_.parse_error(position, token, error);
    }

private:
    bool counted() {
        if (++values_ > limit_.values) throw platform::JsonDecodingError("payload: too many values");
        return true;
    }
    bool entered() {
        if (++depth_ > limit_.depth) throw platform::JsonDecodingError("payload: nested too deeply");
        return counted();
    }
    bool left() {
        --depth_;
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<Json> builder_;
    const StoredPayloadLimit& limit_;
    std::size_t values_ = 0;
    std::size_t depth_ = 0;
};
} // namespace

nlohmann::json parseStoredPayload(std::string_view payload, const StoredPayloadLimit& limit) {
    if (payload.size() > limit.bytes) throw platform::JsonDecodingError("payload: too large");
    nlohmann::json result;
    BoundedDocument document(result, limit);
    try {
        nlohmann::json::sax_parse(payload.begin(), payload.end(), &document);
    } catch (const nlohmann::json::exception& error) {
        throw platform::JsonDecodingError(error.what());
    }
    return result;
}

} // namespace tarpelix
