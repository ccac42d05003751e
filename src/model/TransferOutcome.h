#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarpelix {

// Outcome of one half of a transfer (the upload or the path insertion), stored and logged
// by its case name.
enum class TransferOutcome { pending, succeeded, failed, cancelled, interrupted, ambiguous };

const std::string& rawValue(TransferOutcome outcome);
// The case of exactly this name (case-sensitive), or none.
std::optional<TransferOutcome> transferOutcomeFrom(std::string_view text);

// Why a transfer failed, stored and logged by its case name.
enum class TransferFailureCategory {
    connection,
    authentication,
    upload,
    insertion,
    cancellation,
    timeout,
    unavailable,
    unknown
};

const std::string& rawValue(TransferFailureCategory category);
std::optional<TransferFailureCategory> transferFailureCategoryFrom(std::string_view text);

} // namespace tarpelix
