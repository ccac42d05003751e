#include "storage/PasteUsage.h"

#include "platform/foundation/Crypto.h"
#include "platform/foundation/JsonReader.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Uuid.h"

#include <limits>

namespace tarpelix {

PasteUsageLedger::PasteUsageLedger() : PasteUsageLedger(0, std::nullopt) {}

PasteUsageLedger::PasteUsageLedger(std::int64_t count, std::optional<platform::Date> first)
    : successfulPastes(count), firstPasteAt(first), salt(platform::Uuid::random().uuidString()) {}

bool PasteUsageLedger::qualifies(const TransferRecord& record) {
    return record.uploadOutcome == TransferOutcome::succeeded &&
           record.insertionOutcome == TransferOutcome::succeeded && record.confirmedRemotePath &&
           !record.confirmedRemotePath->empty();
}

void PasteUsageLedger::record(const TransferRecord& record, const platform::TimeZone& timeZone) {
    if (!qualifies(record)) return;
    successfulPastes += 1;
    if (!firstPasteAt || record.createdAt < *firstPasteAt) firstPasteAt = record.createdAt;

    auto day = platform::gregorianDay(record.createdAt, timeZone);
    days.insert(std::to_string(day.year) + "-" + std::to_string(day.month) + "-" + std::to_string(day.day));

    // The host is the text after the last "@" (a port stays part of it).
    const auto& identity = record.destinationIdentity;
    auto at = identity.rfind('@');
    std::string host = at == std::string::npos ? identity : identity.substr(at + 1);
    if (host.empty()) return;
    auto digest = platform::sha256(salt + platform::text::lowercased(host));
    machines.insert(platform::base64Encode(platform::Bytes(digest.begin(), digest.end())));
}

PasteUsage PasteUsageLedger::snapshot() const {
    return PasteUsage{successfulPastes, static_cast<std::int64_t>(machines.size()),
                      static_cast<std::int64_t>(days.size()), firstPasteAt};
}

std::string PasteUsageLedger::json() const {
    platform::JsonWriter writer;
    writer.beginObject();
    writer.key("successfulPastes").value(successfulPastes);
    if (firstPasteAt) writer.key("firstPasteAt").value(firstPasteAt->secondsSinceReferenceDate);
    writer.key("days").beginArray();
    for (const auto& day : days) writer.value(day);
    writer.endArray();
    writer.key("machines").beginArray();
    for (const auto& machine : machines) writer.value(machine);
    writer.endArray();
    writer.key("salt").value(salt);
    writer.endObject();
    return writer.str();
}

namespace {
std::set<std::string> stringSet(const nlohmann::json& object, const char* key) {
    std::set<std::string> values;
    for (const auto& element : platform::json::requiredArray(object, key)) {
        if (!element.is_string()) throw platform::JsonDecodingError(std::string(key) + ": not a string");
        values.insert(element.get<std::string>());
    }
    return values;
}
} // namespace

PasteUsageLedger PasteUsageLedger::fromJson(const nlohmann::json& object) {
    namespace json = platform::json;
    json::requireObject(object, "ledger");
    // A damaged count must not reach the time-saved estimate, whose product would overflow.
    const std::int64_t count = json::requiredInt64(object, "successfulPastes");
    if (count < 0 || count > std::numeric_limits<std::int64_t>::max() / PasteUsage::secondsSavedPerPaste) {
        throw platform::JsonDecodingError("ledger: successfulPastes is out of range");
    }
    PasteUsageLedger ledger(count, json::optionalDate(object, "firstPasteAt"));
    ledger.days = stringSet(object, "days");
    ledger.machines = stringSet(object, "machines");
    ledger.salt = json::requiredString(object, "salt");
    return ledger;
}

} // namespace tarpelix
