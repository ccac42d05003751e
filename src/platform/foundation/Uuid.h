#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarpelix::platform {

// A random (version 4) UUID. Its text is the canonical upper-case form
// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"; parsing accepts either case.
class Uuid {
public:
    Uuid() = default; // all zero
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);
    // True when the text is a UUID in exactly its canonical upper-case form.
    static bool isCanonicalText(std::string_view text);

    std::string uuidString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    auto operator<=>(const Uuid&) const = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace tarpelix::platform

template <>
struct std::hash<tarpelix::platform::Uuid> {
    std::size_t operator()(const tarpelix::platform::Uuid& id) const noexcept {
        std::size_t h = 0;
        for (auto b : id.bytes()) h = h * 131 + b;
        return h;
    }
};
