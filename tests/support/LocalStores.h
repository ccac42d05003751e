#pragma once

#include "diagnostics/DiagnosticStore.h"
#include "storage/TransferStorage.h"

#include <memory>
#include <string>

namespace tarpelix::testing {

// The transfer storage service and the diagnostic store with their files under `root`, as the
// application keeps them under its own directory, without hourly maintenance.
inline std::shared_ptr<TransferStorage> transferStorageIn(const std::string& root) {
    TransferStorage::Options options;
    options.root = root;
    options.scheduleMaintenance = false;
    return TransferStorage::create(options);
}

inline std::shared_ptr<DiagnosticStore> diagnosticStoreIn(const std::string& root) {
    DiagnosticStore::Options options;
    options.root = root + "/diagnostics";
    options.scheduleMaintenance = false;
    return DiagnosticStore::create(options);
}

} // namespace tarpelix::testing
