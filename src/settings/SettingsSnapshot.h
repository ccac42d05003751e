#pragma once

#include "diagnostics/DiagnosticStore.h"
#include "storage/TransferStorage.h"

namespace tarpelix {

// What the Settings window shows of local data: the transfer storage's status and the
// diagnostic log's health, loaded together off the main thread.
struct SettingsSnapshot {
    TransferStorage::Status storage;
    DiagnosticHealth diagnostics;
};

} // namespace tarpelix
