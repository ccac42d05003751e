#pragma once

#include "platform/foundation/Bytes.h"

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
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
    template <typename T> T* get() { return std::get_if<T>(&storage_); }
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
// The largest property-list file read, in bytes; a larger file is refused before it is read.
inline constexpr std::size_t maximumSize = 16 << 20;
// What one property list may expand to once read: the bytes of its strings, keys and data (as
// read, not as written), and its values (an object a binary list refers to twice counts twice).
// A list past either is refused; nothing this system writes comes near them. What `xml` writes
// of a list that was read stays within both.
inline constexpr std::size_t maximumExpandedBytes = 16 << 20;
inline constexpr std::size_t maximumValues = 1 << 18;

// Parses an XML or binary property list; none when the bytes are not one, nest deeper than
// `maximumDepth` or expand past the limits above. An XML list whose document type has an
// internal subset, or that declares any entity, is refused. Dates and other kinds this system
// never stores are left out of their dictionary or array.
std::optional<PropertyListValue> parse(const std::uint8_t* data, std::size_t size);

// Reads and parses a property-list file; none when it is missing, unreadable, not a regular
// file, larger than `maximumSize` or not a property list.
std::optional<PropertyListValue> readFile(const std::string& path);

// Whether XML 1.0 can carry the text: valid UTF-8 with no control character other than tab,
// line feed and carriage return, and neither U+FFFE nor U+FFFF. Only a binary list can hold
// other strings.
bool xmlCanCarry(std::string_view text);

// How many levels the XML form indents: deeper values are written at this depth, so a deep list
// whose content fits is not refused for its tabs.
inline constexpr std::size_t maximumIndentation = 16;

// The XML form of a value, which `parse` and `readFile` read back equal; none when that text
// would be longer than `maximumSize` or hold more values or levels than a list that is read may
// (the writing stops there, so it never holds more than `maximumSize`). A string XML cannot
// carry (see `xmlCanCarry`) is left out of its array, and a dictionary entry whose key or value
// is one is left out of its dictionary, so that the rest stays readable; such a string at the
// top writes a list that holds no value.
std::optional<std::string> xml(const PropertyListValue& value);
// The same for a dictionary, without copying it into a value first.
std::optional<std::string> xml(const PropertyListValue::Dictionary& dictionary);

} // namespace PropertyList
} // namespace tarpelix::platform
