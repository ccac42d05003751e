#pragma once

#include "model/TransferRecord.h"
#include "platform/foundation/Calendar.h"
#include "platform/foundation/Date.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace tarpelix {

// The usage figures shown on the dashboard.
struct PasteUsage {
    static constexpr std::int64_t secondsSavedPerPaste = 10;

    std::int64_t successfulPastes = 0;
    std::int64_t remoteMachines = 0;
    std::int64_t activeDays = 0;
    std::optional<platform::Date> firstPasteAt;

    std::int64_t estimatedSecondsSaved() const { return successfulPastes * secondsSavedPerPaste; }

    bool operator==(const PasteUsage&) const = default;
};

// The stored tally. Machines are kept only as salted hashes of their host names.
struct PasteUsageLedger {
    std::int64_t successfulPastes = 0;
    std::optional<platform::Date> firstPasteAt;
    std::set<std::string> days;     // "year-month-day", no zero padding
    std::set<std::string> machines; // Base64 SHA-256 of salt + lower-cased host
    std::string salt;               // a fresh random UUID text per ledger

    PasteUsageLedger(); // zero pastes, a fresh salt
    PasteUsageLedger(std::int64_t successfulPastes, std::optional<platform::Date> firstPasteAt);

    // A paste counts when it was uploaded, confirmed and typed.
    static bool qualifies(const TransferRecord& record);

    // Adds one record (if it qualifies); the day is taken in `timeZone`.
    void record(const TransferRecord& record, const platform::TimeZone& timeZone = platform::TimeZone::current());

    PasteUsage snapshot() const;

    std::string json() const;
    // Throws platform::JsonDecodingError.
    static PasteUsageLedger fromJson(const nlohmann::json& object);

    bool operator==(const PasteUsageLedger&) const = default;
};

} // namespace tarpelix
