#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/Uuid.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// Strict reading of JSON objects, in the manner of Foundation's JSON decoder: a required key
// that is missing or null, a value of the wrong JSON type, or text that is not JSON is a
// JsonDecodingError. Optional keys that are missing or null read as none. Keys that the
// reader does not ask for are ignored.
namespace tarpelix::platform {

class JsonDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace json {

// Parses a whole text as JSON; anything else is a JsonDecodingError.
nlohmann::json parse(std::string_view text);

// What a text from outside may hold. Parsing builds about 40 bytes of document for each byte of
// deeply nested text, so a text longer than `bytes` is refused before it is parsed, and one with
// more values (containers included) or levels is refused as soon as the parse meets them.
struct Limits {
    std::size_t bytes;
    std::size_t values;
    std::size_t depth;
};
nlohmann::json parse(std::string_view text, const Limits& limits);

// The value itself must be an object.
const nlohmann::json& requireObject(const nlohmann::json& value, std::string_view what);

const nlohmann::json& requiredObject(const nlohmann::json& object, const char* key);
const nlohmann::json& requiredArray(const nlohmann::json& object, const char* key);

std::string requiredString(const nlohmann::json& object, const char* key);
std::optional<std::string> optionalString(const nlohmann::json& object, const char* key);

bool requiredBool(const nlohmann::json& object, const char* key);

// Integers: a JSON integer within the signed 64-bit range; a fractional or exponent number is refused.
std::int64_t requiredInt64(const nlohmann::json& object, const char* key);
std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, const char* key);

// Any finite JSON number, integer or not (a text that overflows a double is refused).
double requiredNumber(const nlohmann::json& object, const char* key);
std::optional<double> optionalNumber(const nlohmann::json& object, const char* key);

// A UUID string (either case).
Uuid requiredUuid(const nlohmann::json& object, const char* key);

// A date as a number of seconds since 2001-01-01T00:00:00Z.
Date requiredDate(const nlohmann::json& object, const char* key);
std::optional<Date> optionalDate(const nlohmann::json& object, const char* key);

} // namespace json
} // namespace tarpelix::platform
