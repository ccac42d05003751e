#include "platform/foundation/JsonReader.h"

#include <cmath>

namespace tarpelix::platform::json {

namespace {
[[noreturn]] void fail(std::string_view key, std::string_view problem) {
    throw JsonDecodingError("\"" + std::string(key) + "\": " + std::string(problem));
}

// The value of a key, or null when the key is missing.
const nlohmann::json* find(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const nlohmann::json& require(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) fail(key, "missing");
    return *value;
}

std::int64_t toInt64(const nlohmann::json& value, const char* key) {
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(INT64_MAX)) fail(key, "integer out of range");
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    fail(key, "not an integer");
}

double toNumber(const nlohmann::json& value, const char* key) {
    if (!value.is_number()) fail(key, "not a number");
    double number = value.get<double>();
    // A number text too large for a double (1e400) is not representable, as Foundation says.
    if (!std::isfinite(number)) fail(key, "number out of range");
    return number;
}

std::string toString(const nlohmann::json& value, const char* key) {
    if (!value.is_string()) fail(key, "not a string");
    return value.get<std::string>();
}

// Builds the document as the library's own reader does, counting each value and level as it
// is met, so that the first one past a bound ends the parse.
class BoundedDocument {
public:
    using Json = nlohmann::json;

    BoundedDocument(Json& result, const Limits& limit) : builder_(result), limit_(limit) {}

    bool null() { return counted() && builder_.null(); }
    bool boolean(bool value) { return counted() && builder_.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return counted() && builder_.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return counted() && builder_.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text) {
        return counted() && builder_.number_float(value, text);
    }
    bool string(Json::string_t& value) { return counted() && builder_.string(value); }
    bool binary(Json::binary_t& value) { return counted() && builder_.binary(value); }
    bool start_object(std::size_t size) { return entered() && builder_.start_object(size); }
    bool key(Json::string_t& value) { return builder_.key(value); }
    bool end_object() { return left() && builder_.end_object(); }
    bool start_array(std::size_t size) { return entered() && builder_.start_array(size); }
    bool end_array() { return left() && builder_.end_array(); }
    template <typename Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
        return builder_.parse_error(position, token, error);
    }

private:
    bool counted() {
        if (++values_ > limit_.values) throw JsonDecodingError("too many values");
        return true;
    }
    bool entered() {
        if (++depth_ > limit_.depth) throw JsonDecodingError("nested too deeply");
        return counted();
    }
    bool left() {
        --depth_;
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<Json> builder_;
    const Limits& limit_;
    std::size_t values_ = 0;
    std::size_t depth_ = 0;
};
} // namespace

nlohmann::json parse(std::string_view text) {
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw JsonDecodingError(error.what());
    }
}

nlohmann::json parse(std::string_view text, const Limits& limit) {
    if (text.size() > limit.bytes) throw JsonDecodingError("too large");
    nlohmann::json result;
    BoundedDocument document(result, limit);
    try {
        nlohmann::json::sax_parse(text.begin(), text.end(), &document);
    } catch (const nlohmann::json::exception& error) {
        throw JsonDecodingError(error.what());
    }
    return result;
}

const nlohmann::json& requireObject(const nlohmann::json& value, std::string_view what) {
    if (!value.is_object()) fail(what, "not an object");
    return value;
}

const nlohmann::json& requiredObject(const nlohmann::json& object, const char* key) {
    const auto& value = require(object, key);
    if (!value.is_object()) fail(key, "not an object");
    return value;
}

const nlohmann::json& requiredArray(const nlohmann::json& object, const char* key) {
    const auto& value = require(object, key);
    if (!value.is_array()) fail(key, "not an array");
    return value;
}

std::string requiredString(const nlohmann::json& object, const char* key) {
    return toString(require(object, key), key);
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    return toString(*value, key);
}

bool requiredBool(const nlohmann::json& object, const char* key) {
    const auto& value = require(object, key);
    if (!value.is_boolean()) fail(key, "not a Boolean");
    return value.get<bool>();
}

std::int64_t requiredInt64(const nlohmann::json& object, const char* key) {
    return toInt64(require(object, key), key);
}

std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    return toInt64(*value, key);
}

double requiredNumber(const nlohmann::json& object, const char* key) {
    return toNumber(require(object, key), key);
}

std::optional<double> optionalNumber(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    return toNumber(*value, key);
}

Uuid requiredUuid(const nlohmann::json& object, const char* key) {
    auto text = requiredString(object, key);
    auto id = Uuid::parse(text);
    if (!id) fail(key, "not a UUID");
    return *id;
}

Date requiredDate(const nlohmann::json& object, const char* key) { return Date{requiredNumber(object, key)}; }

std::optional<Date> optionalDate(const nlohmann::json& object, const char* key) {
    auto seconds = optionalNumber(object, key);
    if (!seconds) return std::nullopt;
    return Date{*seconds};
}

} // namespace tarpelix::platform::json
