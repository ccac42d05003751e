#pragma once

#include "diagnostics/DiagnosticStore.h"
#include "platform/foundation/SystemInfo.h"
#include "storage/TransferStorage.h"

#include <string>

namespace tarpelix {

// The redacted plain-text diagnostic report: built only from counts, case names, operation
// identifiers and times, so it never holds a path, host, file or user name.
namespace DiagnosticReport {

std::string make(const DiagnosticSnapshot& snapshot, const TransferStorage::Status& storage,
                 const std::string& appVersion = platform::SystemInfo::applicationVersion(),
                 const platform::OperatingSystemVersion& osVersion = platform::SystemInfo::operatingSystemVersion());

// ISO 8601 internet date-time in UTC with milliseconds (truncated), e.g. 2026-01-02T03:04:05.678Z.
std::string isoTimestamp(platform::Date date);

} // namespace DiagnosticReport
} // namespace tarpelix
