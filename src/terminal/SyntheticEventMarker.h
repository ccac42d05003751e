#pragma once

#include <cstdint>

namespace tarpelix {

// Written into the source user-data field of every keyboard event this application posts
// itself, so that its own event tap lets them through: the eight ASCII bytes "TARPPAST"
// read as a big-endian 64-bit integer.
constexpr std::int64_t syntheticEventMarker = 0x5441525050415354;

} // namespace tarpelix
