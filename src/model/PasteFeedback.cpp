#include "model/PasteFeedback.h"

#include "platform/foundation/JsonReader.h"
#include "platform/foundation/Text.h"

#include <array>
#include <vector>

namespace text = tarpelix::platform::text;

namespace tarpelix {

namespace {
const std::array<std::string, 7> outcomeNames = {"success",   "failed",      "cancelled",  "uploadedWithoutInsertion",
                                                 "ambiguous", "normalPaste", "interrupted"};

struct AdviceRow {
    std::vector<std::string_view> keywords;
    std::string_view explanation;
    std::string_view nextStep;
};

// Tested in order, row by row and left to right within a row; the first keyword found wins.
const std::vector<AdviceRow>& adviceTable() {
    static const std::vector<AdviceRow> rows = {
        {{"image exceeds the 100 mb processing limit"},
         "The image exceeds the 100 MB processing limit.",
         "Resize the image, copy it again, then paste."},
        {{"clipboard"},
         "The clipboard image could not be read.",
         "Allow clipboard access if prompted, copy the image again, then paste."},
        {{"slept", "woke", "sleep"},
         "Paste stopped because the Mac slept or woke.",
         "Check the intended terminal and connection, then paste again."},
        {{"disabled", "turned off"},
         "Paste stopped because Tarpelix was disabled.",
         "Enable Tarpelix, then paste again when ready."},
        {{"host key", "host identification", "host-key"},
         "SSH could not verify the remote host.",
         "Verify the host identity in your terminal, then paste again."},
        {{"publickey", "authentication", "permission denied", "password"},
         "SSH authentication failed.",
         "Check that SSH connects without a password prompt, then paste again."},
        {{"accessibility", "automation", "permission", "not authorized", "-1743"},
         "Tarpelix could not access the terminal.",
         "Check Accessibility and Automation permissions in System Settings, then reopen Tarpelix."},
        {{"timed out", "timeout"},
         "The paste operation timed out.",
         "Check the connection and terminal, then paste again."},
        {{"focus", "input", "typing", "clicked"},
         "Paste stopped because terminal focus or input changed.",
         "Focus the intended terminal and paste again when ready."},
        {{"session", "tmux", "target", "pane", "tab"},
         "Tarpelix could not safely identify the terminal session.",
         "Select the intended terminal session and paste again."},
        {{"ssh", "mosh", "connect", "network"},
         "The image could not be uploaded over SSH.",
         "Check that SSH connects to the destination, then paste again."},
    };
    return rows;
}

constexpr std::string_view fallbackExplanation = "The image paste could not be completed.";
constexpr std::string_view fallbackNextStep = "Check the intended terminal and connection, then paste again.";
constexpr std::string_view notInserted = "The image was uploaded, but its path was not inserted.";
constexpr std::string_view copyLastUploadedPath = "Copy Last Uploaded Path";

} // namespace

std::pair<std::string, std::string> PasteFeedback::problem(const std::optional<std::string>& reason) {
    auto lowered = text::lowercased(reason.value_or(""));
    for (const auto& row : adviceTable()) {
        for (auto keyword : row.keywords) {
            if (lowered.find(keyword) != std::string::npos) {
                return {std::string(row.explanation), std::string(row.nextStep)};
            }
        }
    }
    return {std::string(fallbackExplanation), std::string(fallbackNextStep)};
}

void PasteFeedback::finish(Outcome newOutcome, const std::optional<std::string>& error, bool uploaded) {
    outcome = newOutcome;
    uploadConfirmed = uploadConfirmed || uploaded;
    switch (newOutcome) {
    case Outcome::success:
        explanation = "The image path was handed to the terminal; agent consumption is not confirmed.";
        nextStep = "Review the terminal input before submitting it.";
        break;
    case Outcome::failed: {
        auto [problemExplanation, problemNextStep] = problem(error);
        if (stage == Stage::uploading && problemExplanation == fallbackExplanation) {
            problemExplanation = "The image could not be uploaded.";
        }
        explanation = problemExplanation;
        nextStep = problemNextStep;
        break;
    }
    case Outcome::cancelled:
        if (error && *error != "Paste cancelled") {
            auto [problemExplanation, problemNextStep] = problem(error);
            explanation = problemExplanation;
            nextStep = problemNextStep;
        } else {
            explanation = "The image paste was cancelled.";
            nextStep = "Focus the intended terminal and paste again when ready.";
        }
        break;
    case Outcome::uploadedWithoutInsertion:
        if (!error) {
            explanation = std::string(notInserted);
            nextStep = "Check the terminal, then use Copy Last Uploaded Path to paste the path manually.";
        } else {
            auto [problemExplanation, problemNextStep] = problem(error);
            explanation = std::string(notInserted) + " " + problemExplanation;
            auto step = text::replacingOccurrences(problemNextStep, "paste again", "use Copy Last Uploaded Path to paste manually");
            if (step.find(copyLastUploadedPath) == std::string::npos) {
                step += " Use Copy Last Uploaded Path to paste the completed upload manually.";
            }
            nextStep = step;
        }
        break;
    case Outcome::ambiguous: {
        std::string text = uploadConfirmed ? "The image was uploaded, but terminal handoff could not be confirmed."
                                           : "Terminal handoff could not be confirmed.";
        if (error) text += " " + problem(error).first;
        explanation = text;
        nextStep = "Inspect the terminal input before retrying or manually pasting the uploaded path.";
        break;
    }
    case Outcome::normalPaste:
        explanation = "The image was passed to normal paste.";
        nextStep.reset();
        break;
    case Outcome::interrupted:
        explanation = "The image paste was interrupted when Tarpelix stopped.";
        nextStep = "Inspect the terminal input before trying again. Nothing was replayed.";
        break;
    }
}

void PasteFeedback::writeJson(platform::JsonWriter& writer) const {
    writer.beginObject();
    writer.key("operationID").value(operationID.uuidString());
    writer.key("stage").value(rawValue(stage));
    if (destination) writer.key("destination").value(text::validUTF8(*destination));
    if (outcome) writer.key("outcome").value(rawValue(*outcome));
    if (explanation) writer.key("explanation").value(text::validUTF8(*explanation));
    if (nextStep) writer.key("nextStep").value(text::validUTF8(*nextStep));
    writer.key("uploadConfirmed").value(uploadConfirmed);
    writer.key("isRevision").value(isRevision);
    writer.endObject();
}

std::string PasteFeedback::json() const {
    platform::JsonWriter writer;
    writeJson(writer);
    return writer.str();
}

PasteFeedback PasteFeedback::fromJson(const nlohmann::json& object) {
    namespace json = platform::json;
    json::requireObject(object, "feedback");
    PasteFeedback feedback;
    feedback.operationID = json::requiredUuid(object, "operationID");
    auto stage = stageFrom(json::requiredInt64(object, "stage"));
    if (!stage) throw platform::JsonDecodingError("\"stage\": unknown stage");
    feedback.stage = *stage;
    feedback.destination = json::optionalString(object, "destination");
    if (auto name = json::optionalString(object, "outcome")) {
        feedback.outcome = outcomeFrom(*name);
        if (!feedback.outcome) throw platform::JsonDecodingError("\"outcome\": unknown outcome");
    }
    feedback.explanation = json::optionalString(object, "explanation");
    feedback.nextStep = json::optionalString(object, "nextStep");
    feedback.uploadConfirmed = json::requiredBool(object, "uploadConfirmed");
    feedback.isRevision = json::requiredBool(object, "isRevision");
    return feedback;
}

int rawValue(PasteFeedback::Stage stage) { return static_cast<int>(stage); }

std::optional<PasteFeedback::Stage> stageFrom(std::int64_t rawValue) {
    if (rawValue < 0 || rawValue > 3) return std::nullopt;
    return static_cast<PasteFeedback::Stage>(rawValue);
}

const std::string& rawValue(PasteFeedback::Outcome outcome) { return outcomeNames[static_cast<std::size_t>(outcome)]; }

std::optional<PasteFeedback::Outcome> outcomeFrom(std::string_view text) {
    for (std::size_t i = 0; i < outcomeNames.size(); ++i) {
        if (outcomeNames[i] == text) return static_cast<PasteFeedback::Outcome>(i);
    }
    return std::nullopt;
}

} // namespace tarpelix
