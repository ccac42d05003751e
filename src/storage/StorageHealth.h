#pragma once

#include "storage/StorageError.h"

#include <cstdint>
#include <optional>

namespace tarpelix {

// The store's figures.
struct StorageHealth {
    std::int64_t recordCount = 0;
    std::int64_t imageCount = 0;
    std::int64_t imageBytes = 0;
    std::int64_t databaseBytes = 0;
    // The last general failure, or else the last failure to read the latest attempt.
    std::optional<StorageError> lastFailure;

    bool operator==(const StorageHealth&) const = default;
};

} // namespace tarpelix
