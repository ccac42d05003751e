#include "diagnostics/DiagnosticReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace tarpelix::DiagnosticReport {

namespace {

std::string storageWord(const std::optional<StorageError>& error) {
    if (!error) return "none";
    switch (error->code) {
    case StorageError::Code::invalidRecord: return "invalid record";
    case StorageError::Code::unavailable: return "unavailable";
    case StorageError::Code::imageWriteFailed: return "image write failed";
    case StorageError::Code::databaseFailure: return "database failure";
    case StorageError::Code::unsupportedSchema: return "unsupported schema";
    case StorageError::Code::busy: return "busy";
    }
    return "unavailable";
}

std::string diagnosticWord(const std::optional<DiagnosticError>& error) {
    if (!error) return "none";
    switch (error->code) {
    case DiagnosticError::Code::unavailable: return "unavailable";
    case DiagnosticError::Code::invalidEvent: return "invalid event";
    case DiagnosticError::Code::corruptLog: return "corrupt log";
    case DiagnosticError::Code::writeFailed: return "write failed";
    case DiagnosticError::Code::deleteFailed: return "delete failed";
    }
    return "unavailable";
}

// Shown unchanged only when it is one to four non-empty runs of ASCII digits joined by "."
// and at most 32 bytes long.
std::string sanitizedVersion(const std::string& version) {
    if (version.empty() || version.size() > 32) return "unknown";
    std::size_t pieces = 1;
    std::size_t pieceLength = 0;
    for (char c : version) {
        if (c == '.') {
            if (pieceLength == 0) return "unknown";
            ++pieces;
            pieceLength = 0;
        } else if (c >= '0' && c <= '9') {
            ++pieceLength;
        } else {
            return "unknown";
        }
    }
    if (pieceLength == 0 || pieces > 4) return "unknown";
    return version;
}

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    if (month <= 2) year += 1;
}

} // namespace

std::string isoTimestamp(platform::Date date) {
    // Milliseconds are truncated (toward the past); dates beyond a few hundred million years
    // are shown at that limit.
    constexpr double limit = 8e15;
    double seconds = std::clamp(date.unixSeconds(), -limit, limit);
    if (std::isnan(seconds)) seconds = 0;
    auto milliseconds = static_cast<std::int64_t>(std::floor(seconds * 1000.0));
    std::int64_t totalSeconds = milliseconds >= 0 ? milliseconds / 1000 : -((-milliseconds + 999) / 1000);
    auto millisecond = static_cast<int>(milliseconds - totalSeconds * 1000);
    std::int64_t days = totalSeconds >= 0 ? totalSeconds / 86400 : -((-totalSeconds + 86399) / 86400);
    auto secondOfDay = static_cast<int>(totalSeconds - days * 86400);
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(year), month,
                  day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, millisecond);
    return buffer;
}

std::string make(const DiagnosticSnapshot& snapshot, const TransferStorage::Status& storage,
                 const std::string& appVersion, const platform::OperatingSystemVersion& osVersion) {
    auto nonNegative = [](std::int64_t value) { return std::to_string(std::max<std::int64_t>(value, 0)); };
    std::vector<std::string> lines;
    lines.push_back("Tarpelix Diagnostic Report");
    lines.push_back("App version: " + sanitizedVersion(appVersion));
    lines.push_back("macOS version: " + nonNegative(osVersion.majorVersion) + "." + nonNegative(osVersion.minorVersion) +
                    "." + nonNegative(osVersion.patchVersion));
    lines.push_back("");
    lines.push_back("Storage");
    lines.push_back(std::string("Mode: ") + (storage.memoryOnly ? "memory only" : "persistent"));
    lines.push_back("Warning: " + storageWord(storage.warning));
    lines.push_back(std::string("Clear pending: ") + (storage.clearPending ? "yes" : "no"));
    if (!storage.usage) {
        lines.push_back("Usage: unavailable");
    } else {
        lines.push_back("Records: " + std::to_string(storage.usage->recordCount));
        lines.push_back("Retained images: " + std::to_string(storage.usage->imageCount));
        lines.push_back("Image bytes: " + std::to_string(storage.usage->imageBytes));
        lines.push_back("Database bytes: " + std::to_string(storage.usage->databaseBytes));
        lines.push_back("Maintenance warning: " + storageWord(storage.usage->lastFailure));
    }
    lines.push_back("");
    lines.push_back("Diagnostics");
    lines.push_back("Retained events: " + std::to_string(snapshot.events.size()));
    lines.push_back("Log bytes: " + std::to_string(snapshot.health.byteCount));
    lines.push_back("Logging warning: " + diagnosticWord(snapshot.health.lastFailure));
    lines.push_back("");
    lines.push_back("Outcome counts (retained events)");
    std::map<std::string, std::int64_t> counts;
    for (const auto& event : snapshot.events) ++counts[rawValue(event.stage) + "/" + rawValue(event.outcome)];
    if (counts.empty()) lines.push_back("No events");
    for (const auto& [key, count] : counts) lines.push_back(key + ": " + std::to_string(count));
    lines.push_back("");
    lines.push_back("Redacted timeline (UTC)");
    lines.push_back("Insertion success records terminal handoff only; remote delivery and consumption are unverified.");
    auto events = snapshot.events;
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    for (const auto& event : events) {
        std::string line = isoTimestamp(event.timestamp) + " | " + event.operationID.uuidString() + " | " +
                           rawValue(event.terminal) + " | " + rawValue(event.transport) + " | " +
                           rawValue(event.stage) + " | " + rawValue(event.outcome);
        if (event.durationMilliseconds) line += " | duration_ms=" + std::to_string(*event.durationMilliseconds);
        if (event.byteCount) line += " | bytes=" + std::to_string(*event.byteCount);
        if (event.failureCategory) line += " | failure=" + rawValue(*event.failureCategory);
        lines.push_back(line);
    }
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

} // namespace tarpelix::DiagnosticReport
