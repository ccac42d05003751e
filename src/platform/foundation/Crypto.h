#pragma once

#include "platform/foundation/Bytes.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tarpelix::platform {

using SHA256Digest = std::array<std::uint8_t, 32>;

SHA256Digest sha256(const std::uint8_t* data, std::size_t size);
inline SHA256Digest sha256(const Bytes& bytes) { return sha256(bytes.data(), bytes.size()); }
inline SHA256Digest sha256(std::string_view text) {
    return sha256(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Lower-case hexadecimal text of any byte range.
std::string hexString(const std::uint8_t* data, std::size_t size);
inline std::string hexString(const SHA256Digest& digest) {
    return hexString(digest.data(), digest.size());
}

// Standard Base64 with padding, no line breaks.
std::string base64Encode(const Bytes& bytes);
// Strict decoding: refuses characters outside the alphabet and bad padding.
std::optional<Bytes> base64Decode(std::string_view text);

} // namespace tarpelix::platform
