#include "platform/foundation/Crypto.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

namespace tarpelix::platform {

SHA256Digest sha256(const std::uint8_t* data, std::size_t size) {
    SHA256Digest digest{};
    SHA256(data, size, digest.data());
    return digest;
}

std::string hexString(const std::uint8_t* data, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

std::string base64Encode(const Bytes& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    if (!bytes.empty()) {
        int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
        text.resize(static_cast<std::size_t>(n));
    }
    return text;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return Bytes{};
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=') {
            if (i + 2 < text.size()) return std::nullopt;
            ++padding;
        } else if (!alphabet || padding > 0) {
            return std::nullopt;
        }
    }
    Bytes bytes(3 * text.size() / 4);
    int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(n) - padding);
    return bytes;
}

} // namespace tarpelix::platform
