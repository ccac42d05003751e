#pragma once

#include <cstdint>

namespace tarpelix {

// The budget in bytes for all retained PNG files together (decimal gigabyte by default).
struct StoragePolicy {
    std::int64_t imageByteLimit = 1'000'000'000;
};

} // namespace tarpelix
