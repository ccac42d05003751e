#pragma once

#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/Uuid.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarpelix {

// The user-facing state of one paste: the furthest stage reached, where it goes, how it
// ended and what the user should do next.
struct PasteFeedback {
    // Integer raw values in order of progress; compared by raw value.
    enum class Stage { preparing = 0, resolving = 1, uploading = 2, inserting = 3 };
    enum class Outcome { success, failed, cancelled, uploadedWithoutInsertion, ambiguous, normalPaste, interrupted };

    platform::Uuid operationID;
    Stage stage = Stage::preparing;
    std::optional<std::string> destination;
    std::optional<Outcome> outcome;
    std::optional<std::string> explanation;
    std::optional<std::string> nextStep;
    bool uploadConfirmed = false;
    bool isRevision = false;

    bool operator==(const PasteFeedback&) const = default;

    // Sets the outcome, raises (never clears) uploadConfirmed and composes the explanation and
    // next step from the outcome and the failure reason `error`.
    void finish(Outcome newOutcome, const std::optional<std::string>& error, bool uploaded);

    // JSON object: keys in field order, the stage as its number, absent optionals left out.
    void writeJson(platform::JsonWriter& writer) const;
    std::string json() const;
    // Strict reading; throws platform::JsonDecodingError.
    static PasteFeedback fromJson(const nlohmann::json& object);

private:
    // Explanation and next step for a failure reason, by the keyword table.
    static std::pair<std::string, std::string> problem(const std::optional<std::string>& reason);
};

int rawValue(PasteFeedback::Stage stage);
std::optional<PasteFeedback::Stage> stageFrom(std::int64_t rawValue);
const std::string& rawValue(PasteFeedback::Outcome outcome);
std::optional<PasteFeedback::Outcome> outcomeFrom(std::string_view text);

} // namespace tarpelix
