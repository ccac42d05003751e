#pragma once

#include "model/PasteFeedback.h"
#include "model/TransferOutcome.h"
#include "model/TransferRecord.h"
#include "platform/foundation/Date.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <optional>
#include <string>

namespace tarpelix {

// The persisted form of the latest paste: its feedback with the times, the terminal and
// transport names and the record-level outcomes of its upload and insertion.
struct PasteAttempt {
    static constexpr std::size_t nameLimit = 256;  // terminal, transport (grapheme clusters)
    static constexpr std::size_t textLimit = 1024; // destination, explanation, next step

    platform::Uuid id;
    platform::Date createdAt;
    platform::Date updatedAt;
    std::string terminal;
    std::string transport;
    PasteFeedback feedback;
    TransferOutcome uploadOutcome = TransferOutcome::pending;
    TransferOutcome insertionOutcome = TransferOutcome::pending;

    PasteAttempt() = default;
    // Builds the attempt of a published feedback: texts cut to their limits, outcomes derived.
    PasteAttempt(const PasteFeedback& feedback, platform::Date createdAt, platform::Date updatedAt,
                 const std::string& terminal, const std::string& transport);

    bool operator==(const PasteAttempt&) const = default;

    // Called on the stored attempt: may `incoming` replace it?
    bool acceptsUpdate(const PasteAttempt& incoming) const;

    // A copy corrected by the facts of the paste's transfer record (a record of another id
    // counts as none) and, when `interrupted`, ended if it was still open. Unchanged when
    // there is nothing to correct, `updatedAt` included.
    PasteAttempt reconciled(const std::optional<TransferRecord>& record, bool interrupted, platform::Date date) const;

    // JSON object with exactly the eight keys, in field order.
    std::string json() const;
    // Strict reading (unknown keys ignored); throws platform::JsonDecodingError.
    static PasteAttempt fromJson(const nlohmann::json& object);
};

// The first `limit` user-perceived characters of a text; the text unchanged when it is not longer.
std::string cutToGraphemes(const std::string& text, std::size_t limit);

} // namespace tarpelix
