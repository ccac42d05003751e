#include "diagnostics/DiagnosticEvent.h"

#include "model/ModelJson.h"
#include "platform/foundation/JsonReader.h"
#include "platform/foundation/JsonWriter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tarpelix {

namespace {
const std::array<std::string, 4> terminalNames = {"ghostty", "iterm2", "terminal", "unknown"};
const std::array<std::string, 3> transportNames = {"ssh", "mosh", "unknown"};
const std::array<std::string, 4> stageNames = {"capture", "resolution", "upload", "insertion"};

template <typename Enum, std::size_t N>
std::optional<Enum> caseNamed(const std::array<std::string, N>& names, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == text) return static_cast<Enum>(i);
    }
    return std::nullopt;
}

template <typename Enum, typename Parse>
Enum requiredCase(const nlohmann::json& object, const char* key, Parse parse) {
    auto value = parse(platform::json::requiredString(object, key));
    if (!value) throw platform::JsonDecodingError(std::string("\"") + key + "\": unknown value");
    return *value;
}

constexpr std::array<std::string_view, 9> keys = {"timestamp", "operationID", "terminal",
                                                  "transport", "stage",       "outcome",
                                                  "failureCategory", "durationMilliseconds", "byteCount"};
} // namespace

const std::string& rawValue(DiagnosticTerminal terminal) { return terminalNames[static_cast<std::size_t>(terminal)]; }
const std::string& rawValue(DiagnosticTransport transport) {
    return transportNames[static_cast<std::size_t>(transport)];
}
const std::string& rawValue(DiagnosticStage stage) { return stageNames[static_cast<std::size_t>(stage)]; }

std::optional<DiagnosticTerminal> diagnosticTerminalFrom(std::string_view text) {
    return caseNamed<DiagnosticTerminal>(terminalNames, text);
}
std::optional<DiagnosticTransport> diagnosticTransportFrom(std::string_view text) {
    return caseNamed<DiagnosticTransport>(transportNames, text);
}
std::optional<DiagnosticStage> diagnosticStageFrom(std::string_view text) {
    return caseNamed<DiagnosticStage>(stageNames, text);
}

bool DiagnosticEvent::isWithinBounds() const {
    if (!std::isfinite(timestamp.unixSeconds())) return false;
    if (durationMilliseconds && (*durationMilliseconds < 0 || *durationMilliseconds > maxDurationMilliseconds)) {
        return false;
    }
    if (byteCount && (*byteCount < 0 || *byteCount > maxByteCount)) return false;
    return true;
}

std::string DiagnosticEvent::json() const {
    if (!std::isfinite(timestamp.secondsSinceReferenceDate)) throw EncodingError();
    platform::JsonWriter writer;
    writer.beginObject();
    if (byteCount) writer.key("byteCount").value(*byteCount);
    if (durationMilliseconds) writer.key("durationMilliseconds").value(*durationMilliseconds);
    if (failureCategory) writer.key("failureCategory").value(rawValue(*failureCategory));
    writer.key("operationID").value(operationID.uuidString());
    writer.key("outcome").value(rawValue(outcome));
    writer.key("stage").value(rawValue(stage));
    writer.key("terminal").value(rawValue(terminal));
    writer.key("timestamp").value(timestamp.secondsSinceReferenceDate);
    writer.key("transport").value(rawValue(transport));
    writer.endObject();
    return writer.str();
}

DiagnosticEvent DiagnosticEvent::decode(std::string_view line) {
    namespace json = platform::json;
    // Longer than any event can be: damaged, and not worth parsing.
    if (line.size() > maxLineBytes) throw DiagnosticError::corruptLog;
    auto object = json::parse(line);
    json::requireObject(object, "event");
    for (const auto& item : object.items()) {
        if (std::find(keys.begin(), keys.end(), item.key()) == keys.end()) throw DiagnosticError::corruptLog;
    }
    DiagnosticEvent event;
    event.timestamp = json::requiredDate(object, "timestamp");
    event.operationID = json::requiredUuid(object, "operationID");
    event.terminal = requiredCase<DiagnosticTerminal>(object, "terminal", diagnosticTerminalFrom);
    event.transport = requiredCase<DiagnosticTransport>(object, "transport", diagnosticTransportFrom);
    event.stage = requiredCase<DiagnosticStage>(object, "stage", diagnosticStageFrom);
    event.outcome = model_json::requiredTransferOutcome(object, "outcome");
    if (auto name = json::optionalString(object, "failureCategory")) {
        auto category = transferFailureCategoryFrom(*name);
        if (!category) throw platform::JsonDecodingError("\"failureCategory\": unknown value");
        event.failureCategory = category;
    }
    event.durationMilliseconds = json::optionalInt64(object, "durationMilliseconds");
    event.byteCount = json::optionalInt64(object, "byteCount");
    if (!event.isWithinBounds()) throw DiagnosticError::invalidEvent;
    return event;
}

} // namespace tarpelix
