#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix::platform {

// Writes compact JSON whose bytes are exactly determined by the calls: keys appear in the
// order they are written, doubles print in their shortest round-trip form (an integral
// double has no ".0"), strings are escaped as Foundation's JSON encoder does by default
// ("/" becomes "\/", other controls \u00XX). No spaces, no line breaks.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);

    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(bool flag);
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
    JsonWriter& value(double number); // must be finite
    JsonWriter& null();

    // Inserts already-encoded JSON as one value.
    JsonWriter& raw(std::string_view json);

    const std::string& str() const { return out_; }

    static std::string formatDouble(double number);
    static void appendEscaped(std::string& out, std::string_view text);

private:
    void beforeValue();

    std::string out_;
    // For each open container: whether a value has been written in it yet.
    std::vector<bool> hasValue_;
    bool afterKey_ = false;
};

} // namespace tarpelix::platform
