#pragma once

#include "diagnostics/DiagnosticError.h"
#include "model/TransferOutcome.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Uuid.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarpelix {

enum class DiagnosticTerminal { ghostty, iterm2, terminal, unknown };
enum class DiagnosticTransport { ssh, mosh, unknown };
enum class DiagnosticStage { capture, resolution, upload, insertion };

const std::string& rawValue(DiagnosticTerminal terminal);
const std::string& rawValue(DiagnosticTransport transport);
const std::string& rawValue(DiagnosticStage stage);
// Exactly the raw values (case-sensitive, no trimming), or none.
std::optional<DiagnosticTerminal> diagnosticTerminalFrom(std::string_view text);
std::optional<DiagnosticTransport> diagnosticTransportFrom(std::string_view text);
std::optional<DiagnosticStage> diagnosticStageFrom(std::string_view text);

// One privacy-limited record of one stage of one paste: only case names, an identifier,
// a time and numbers, never a path, host, file or user name.
struct DiagnosticEvent {
    static constexpr std::int64_t maxDurationMilliseconds = 86'400'000;
    static constexpr std::int64_t maxByteCount = 1'000'000'000'000;
    // The longest line (line feed excluded) that can hold an event. The encoder writes at
    // most 292 bytes: every optional present, the longest case names, 20-character integers
    // and a 24-character timestamp. Written with each of the 179 characters inside its
    // strings (keys and values) as a 6-byte \u00XX escape, the same event takes 1,187 bytes;
    // the bound leaves a margin over that. A longer line is damaged and never parsed.
    static constexpr std::size_t maxLineBytes = 1'536;

    platform::Date timestamp;
    platform::Uuid operationID;
    DiagnosticTerminal terminal = DiagnosticTerminal::unknown;
    DiagnosticTransport transport = DiagnosticTransport::unknown;
    DiagnosticStage stage = DiagnosticStage::capture;
    TransferOutcome outcome = TransferOutcome::pending;
    std::optional<TransferFailureCategory> failureCategory;
    std::optional<std::int64_t> durationMilliseconds;
    std::optional<std::int64_t> byteCount;

    bool operator==(const DiagnosticEvent&) const = default;

    // A finite timestamp and optional numbers within their bounds.
    bool isWithinBounds() const;

    // The JSON object with sorted keys, compact, absent values left out (no line feed).
    // Throws EncodingError when the timestamp is not finite.
    std::string json() const;

    // The strict reader: a line longer than maxLineBytes or with an unknown key is
    // DiagnosticError::corruptLog (the long line unparsed), a value out of
    // bounds DiagnosticError::invalidEvent; a missing key, a wrong type, an unknown name or
    // text that is not a JSON object is platform::JsonDecodingError.
    static DiagnosticEvent decode(std::string_view line);

    class EncodingError : public std::invalid_argument {
    public:
        EncodingError() : std::invalid_argument("a diagnostic timestamp must be finite") {}
    };
};

} // namespace tarpelix
