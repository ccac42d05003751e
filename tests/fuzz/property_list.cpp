// Fuzzes the property-list readers: nothing crashes, and whatever is read goes through the XML
// writer and back to the same value, less the strings XML cannot carry (left out on writing).
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Text.h"

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using tarpelix::platform::PropertyListValue;

// Checked apart from the writer's own test: valid UTF-8 without C0 controls other than tab,
// line feed and carriage return, and without the noncharacters U+FFFE and U+FFFF.
bool carriable(const std::string& text) {
    return !tarpelix::platform::text::anyCodePoint(text, [](char32_t c) {
        return (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) || c == 0xFFFE || c == 0xFFFF;
    });
}

// The value with every string XML cannot carry taken out of its array or dictionary; none for
// such a string itself.
std::optional<PropertyListValue> carried(const PropertyListValue& value) {
    if (auto* text = value.get<std::string>()) return carriable(*text) ? std::optional(value) : std::nullopt;
    if (auto* array = value.get<PropertyListValue::Array>()) {
        PropertyListValue::Array kept;
        for (const auto& item : *array)
            if (auto each = carried(item)) kept.push_back(std::move(*each));
        return PropertyListValue(std::move(kept));
    }
    if (auto* dictionary = value.get<PropertyListValue::Dictionary>()) {
        PropertyListValue::Dictionary kept;
        for (const auto& [key, item] : *dictionary)
            if (auto each = carried(item); each && carriable(key)) kept.emplace(key, std::move(*each));
        return PropertyListValue(std::move(kept));
    }
    return value;
}

// Equality in which a NaN equals a NaN, and zeros keep their sign.
bool same(const PropertyListValue& a, const PropertyListValue& b) {
    if (a.storage().index() != b.storage().index()) return false;
    if (auto* x = a.get<double>()) {
        const double y = *b.get<double>();
        return (std::isnan(*x) && std::isnan(y)) || (*x == y && std::signbit(*x) == std::signbit(y));
    }
    if (auto* x = a.get<PropertyListValue::Array>()) {
        auto* y = b.get<PropertyListValue::Array>();
        if (x->size() != y->size()) return false;
        for (std::size_t i = 0; i < x->size(); ++i)
            if (!same((*x)[i], (*y)[i])) return false;
        return true;
    }
    if (auto* x = a.get<PropertyListValue::Dictionary>()) {
        auto* y = b.get<PropertyListValue::Dictionary>();
        if (x->size() != y->size()) return false;
        for (auto i = x->begin(), j = y->begin(); i != x->end(); ++i, ++j)
            if (i->first != j->first || !same(i->second, j->second)) return false;
        return true;
    }
    return a == b;
}

// More than the XML form of `value` can take: every value on a line of its own at the deepest
// indentation, under the longest tags, with its text escaped at the widest.
std::size_t mostText(const PropertyListValue& value) {
    constexpr std::size_t perValue = tarpelix::platform::PropertyList::maximumIndentation + 64;
    if (auto* text = value.get<std::string>()) return perValue + 5 * text->size();
    if (auto* bytes = value.get<tarpelix::platform::Bytes>()) return perValue + (bytes->size() + 2) / 3 * 4;
    std::size_t total = 2 * perValue;
    if (auto* array = value.get<PropertyListValue::Array>())
        for (const auto& item : *array)
            total += mostText(item);
    if (auto* dictionary = value.get<PropertyListValue::Dictionary>())
        for (const auto& [key, item] : *dictionary)
            total += perValue + 5 * key.size() + mostText(item);
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarpelix::platform::PropertyList::maximumSize;
    using tarpelix::platform::PropertyList::parse;
    using tarpelix::platform::PropertyList::xml;
    auto value = parse(data, size);
    if (!value) return 0;
    auto expected = carried(*value);
    const auto written = xml(*value);
    // Reported too large only when it might be; never longer than a file that is read.
    if (!written) {
        if (mostText(expected.value_or(PropertyListValue(false))) + 256 <= maximumSize) std::abort();
        return 0;
    }
    if (written->size() > maximumSize) std::abort();
    auto again = parse(reinterpret_cast<const std::uint8_t*>(written->data()), written->size());
    if (again.has_value() != expected.has_value() || (again && !same(*again, *expected))) std::abort();
    return 0;
}
