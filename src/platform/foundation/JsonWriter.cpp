#include "platform/foundation/JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarpelix::platform {

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasValue_.empty()) {
        if (hasValue_.back()) out_.push_back(',');
        hasValue_.back() = true;
    }
}

JsonWriter& JsonWriter::beginObject() {
    beforeValue();
    out_.push_back('{');
    hasValue_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    out_.push_back('}');
    hasValue_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    beforeValue();
    out_.push_back('[');
    hasValue_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    out_.push_back(']');
    hasValue_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    out_.push_back('"');
    appendEscaped(out_, name);
    out_ += "\":";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    beforeValue();
    out_.push_back('"');
    appendEscaped(out_, text);
    out_.push_back('"');
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    beforeValue();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
    beforeValue();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(double number) {
    beforeValue();
    out_ += formatDouble(number);
    return *this;
}

JsonWriter& JsonWriter::null() {
    beforeValue();
    out_ += "null";
    return *this;
}

JsonWriter& JsonWriter::raw(std::string_view json) {
    beforeValue();
    out_ += json;
    return *this;
}

std::string JsonWriter::formatDouble(double number) {
    if (!std::isfinite(number)) {
        std::fputs("JsonWriter: a JSON number must be finite\n", stderr);
        std::abort();
    }
    if (number == 0) return "0"; // also for -0, which JSON readers fold anyway
    char buffer[400];
    // Plain decimals in the range where Foundation prints them (whole seconds of a date
    // come out as 800000000, not 8e+08); exponent form only for very small or large magnitudes.
    double magnitude = std::fabs(number);
    auto result = magnitude >= 1e-4 && magnitude < 9007199254740992.0
                      ? std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed)
                      : std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

void JsonWriter::appendEscaped(std::string& out, std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out.push_back(digits[c >> 4]);
                out.push_back(digits[c & 0x0F]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
}

} // namespace tarpelix::platform
