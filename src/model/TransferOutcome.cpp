#include "model/TransferOutcome.h"

#include <array>

namespace tarpelix {

namespace {
const std::array<std::string, 6> outcomeNames = {"pending",   "succeeded",   "failed",
                                                 "cancelled", "interrupted", "ambiguous"};
const std::array<std::string, 8> categoryNames = {"connection",   "authentication", "upload",
                                                  "insertion",    "cancellation",   "timeout",
                                                  "unavailable",  "unknown"};

template <typename Enum, std::size_t N>
std::optional<Enum> caseNamed(const std::array<std::string, N>& names, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == text) return static_cast<Enum>(i);
    }
    return std::nullopt;
}
} // namespace

const std::string& rawValue(TransferOutcome outcome) { return outcomeNames[static_cast<std::size_t>(outcome)]; }

std::optional<TransferOutcome> transferOutcomeFrom(std::string_view text) {
    return caseNamed<TransferOutcome>(outcomeNames, text);
}

const std::string& rawValue(TransferFailureCategory category) {
    return categoryNames[static_cast<std::size_t>(category)];
}

std::optional<TransferFailureCategory> transferFailureCategoryFrom(std::string_view text) {
    return caseNamed<TransferFailureCategory>(categoryNames, text);
}

} // namespace tarpelix
