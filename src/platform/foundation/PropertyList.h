#pragma once

#include "platform/foundation/Bytes.h"

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix::platform {

// One value of a property list: a Boolean, an integer, a real, a string, data, an array or a
// dictionary. A Boolean is never a number: `true` and the integer 1 are different values.
class PropertyListValue {
public:
    using Array = std::vector<PropertyListValue>;
    using Dictionary = std::map<std::string, PropertyListValue, std::less<>>;
    using Storage = std::variant<bool, std::int64_t, double, std::string, Bytes, Array, Dictionary>;

    PropertyListValue(bool value) : storage_(value) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) PropertyListValue(T value)
        : storage_(static_cast<std::int64_t>(value)) {}
    PropertyListValue(double value) : storage_(value) {}
    PropertyListValue(std::string value) : storage_(std::move(value)) {}
    PropertyListValue(const char* value) : storage_(std::string(value)) {}
    PropertyListValue(Bytes value) : storage_(std::move(value)) {}
    PropertyListValue(Array value) : storage_(std::move(value)) {}
    PropertyListValue(Dictionary value) : storage_(std::move(value)) {}

    // The value when it holds exactly that type, else none.
    template <typename T> const T* get() const { return std::get_if<T>(&storage_); }
    const Storage& storage() const { return storage_; }

    // An integer or a real as a double; a Boolean is not a number.
    std::optional<double> number() const;
    // A Boolean, or a number that is exactly 0 or 1.
    std::optional<bool> convertedToBoolean() const;

    bool operator==(const PropertyListValue&) const = default;

private:
    Storage storage_;
};

namespace PropertyList {

// How deeply arrays and dictionaries may nest in a property list that is read: `[]` is 1 deep,
// `[[1]]` 2. Nothing this system writes comes near it; a deeper file is refused as corrupt.
inline constexpr std::size_t maximumDepth = 512;

// Parses an XML or binary property list; none when the bytes are not one, or nest deeper than
// `maximumDepth`. Dates and other kinds this system never stores are left out of their
// dictionary or array.
std::optional<PropertyListValue> parse(const std::uint8_t* data, std::size_t size);

// Reads and parses a property-list file; none when it is missing, unreadable, not a regular
// file or not a property list.
std::optional<PropertyListValue> readFile(const std::string& path);

// The XML form of a value.
std::string xml(const PropertyListValue& value);

} // namespace PropertyList
} // namespace tarpelix::platform
