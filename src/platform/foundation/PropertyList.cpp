#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Files.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <sys/stat.h>

namespace tarpelix::platform {

std::optional<double> PropertyListValue::number() const {
    if (auto* integer = get<std::int64_t>()) return static_cast<double>(*integer);
    if (auto* real = get<double>()) return *real;
    return std::nullopt;
}

std::optional<bool> PropertyListValue::convertedToBoolean() const {
    if (auto* boolean = get<bool>()) return *boolean;
    auto value = number();
    if (value == 0.0) return false;
    if (value == 1.0) return true;
    return std::nullopt;
}

namespace {

struct NodeFree {
    void operator()(void* node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeFree>;

// How deeply arrays and dictionaries nest in an XML property list, counted without parsing it:
// libplist's own tree is freed recursively, so a file nested deep enough would overflow the
// stack there. Comments, CDATA, processing instructions and declarations are skipped, so only
// real <array> and <dict> elements count. Stops counting once past `limit`.
std::size_t xmlContainerDepth(std::string_view text, std::size_t limit) {
    auto skipPast = [&](std::size_t from, std::string_view end) {
        auto found = text.find(end, from);
        return found == std::string_view::npos ? text.size() : found + end.size();
    };
    auto isContainer = [&](std::size_t nameStart) {
        for (std::string_view name : {"array", "dict"}) {
            if (text.compare(nameStart, name.size(), name) != 0) continue;
            auto after = nameStart + name.size();
            if (after >= text.size() || text[after] == '>' || text[after] == '/' ||
                std::strchr(" \t\r\n", text[after]))
                return true;
        }
        return false;
    };
    std::size_t depth = 0;
    std::size_t deepest = 0;
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        auto rest = text.substr(at);
        if (rest.starts_with("<!--")) {
            at = skipPast(at + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            at = skipPast(at + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            at = skipPast(at + 2, "?>");
        } else if (rest.starts_with("<!")) {
            // A declaration; an internal subset in brackets may hold '>' of its own.
            auto close = text.find_first_of("[>", at);
            at = close == std::string_view::npos ? text.size()
                 : text[close] == '['            ? skipPast(skipPast(close, "]"), ">")
                                                 : close + 1;
        } else if (rest.starts_with("</")) {
            if (isContainer(at + 2) && depth > 0) --depth;
            at = skipPast(at + 2, ">");
        } else {
            // A start tag: find its end outside quoted attribute values.
            auto end = at + 1;
            char quote = 0;
            for (; end < text.size(); ++end) {
                if (quote) {
                    if (text[end] == quote) quote = 0;
                } else if (text[end] == '"' || text[end] == '\'') {
                    quote = text[end];
                } else if (text[end] == '>') {
                    break;
                }
            }
            bool selfClosing = end < text.size() && text[end - 1] == '/';
            if (!selfClosing && isContainer(at + 1)) {
                deepest = std::max(deepest, ++depth);
                if (deepest > limit) return deepest;
            }
            at = end + 1;
        }
    }
    return deepest;
}

std::uint64_t bigEndian(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// Whether a binary property list nests arrays, dictionaries and sets at most `limit` deep and
// expands to at most `maximumValues` values, checked on its object table before libplist
// parses it (libplist's binary parser recurses once per level and copies a shared object at
// each reference). A table that cannot be read is left to libplist to refuse; a cycle is
// refused here.
bool binaryWithinLimits(const std::uint8_t* data, std::size_t size, std::size_t limit,
                        std::uint64_t maximumValues) {
    constexpr std::size_t headerSize = 8, trailerSize = 32;
    if (size < headerSize + trailerSize) return true;
    const std::uint8_t* trailer = data + size - trailerSize;
    std::size_t offsetSize = trailer[6], referenceSize = trailer[7];
    std::uint64_t count = bigEndian(trailer + 8, 8), top = bigEndian(trailer + 16, 8),
                  table = bigEndian(trailer + 24, 8);
    std::size_t body = size - trailerSize;
    if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8 || top >= count ||
        table > body || count > (body - table) / offsetSize)
        return true;
    auto offsetOf = [&](std::uint64_t index) {
        return bigEndian(data + table + index * offsetSize, offsetSize);
    };
    // The references a container holds, as a range of the file; none for any other object.
    auto references = [&](std::uint64_t index) -> std::pair<std::uint64_t, std::uint64_t> {
        auto at = offsetOf(index);
        if (at >= body) return {0, 0};
        std::uint8_t marker = data[at];
        std::uint8_t kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return {0, 0};
        std::uint64_t entries = marker & 0xF;
        ++at;
        if (entries == 0xF) {
            if (at >= body || data[at] >> 4 != 0x1) return {0, 0};
            std::size_t width = std::size_t{1} << (data[at] & 0xF);
            if (width > 8 || at + 1 + width > body) return {0, 0};
            entries = bigEndian(data + at + 1, width);
            at += 1 + width;
        }
        if (kind == 0xD) entries *= 2;
        if (entries > (body - at) / referenceSize) return {0, 0};
        return {at, entries};
    };
    // Depth-first over the object graph, each object once: its height (how deep containers
    // nest from it) and how many values it expands to, both memoised.
    enum class Visit : std::uint8_t { none, open, done };
    std::vector<Visit> visits(count, Visit::none);
    std::vector<std::size_t> height(count, 0);
    std::vector<std::uint64_t> values(count, 1);
    struct Frame {
        std::uint64_t index, next, at, entries;
        bool container;
    };
    std::vector<Frame> stack;
    auto open = [&](std::uint64_t index) {
        auto [at, entries] = references(index);
        visits[index] = Visit::open;
        stack.push_back({index, 0, at, entries, at != 0});
    };
    open(top);
    while (!stack.empty()) {
        auto& frame = stack.back();
        if (frame.next == frame.entries) {
            if (frame.container) height[frame.index] += 1;
            visits[frame.index] = Visit::done;
            stack.pop_back();
            continue;
        }
        auto child = bigEndian(data + frame.at + frame.next * referenceSize, referenceSize);
        if (child >= count) return true; // libplist refuses it
        if (visits[child] == Visit::open) return false;
        if (visits[child] == Visit::none) {
            open(child); // folded into this frame once it is done
            continue;
        }
        ++frame.next;
        height[frame.index] = std::max(height[frame.index], height[child]);
        values[frame.index] += values[child];
        if (height[frame.index] + 1 > limit || values[frame.index] > maximumValues) return false;
    }
    return height[top] <= limit;
}

// Thrown by the conversion when a tree nests past the limit after all: the whole list is refused.
struct NestedTooDeep {};

// Results are built in place: a moved-from temporary value makes GCC 12 warn falsely at -O3.
std::optional<PropertyListValue> fromNode(plist_t node, std::size_t depth) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return std::optional<PropertyListValue>(std::in_place, value != 0);
    }
    case PLIST_UINT: {
        // Negative integers are kept in their two's-complement form.
        std::uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return std::optional<PropertyListValue>(std::in_place, static_cast<std::int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return std::optional<PropertyListValue>(std::in_place, value);
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return std::optional<PropertyListValue>(std::in_place,
                                                std::string(text ? text : "", text ? length : 0));
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
        return std::optional<PropertyListValue>(std::in_place,
                                                bytes ? Bytes(bytes, bytes + length) : Bytes{});
    }
    case PLIST_ARRAY: {
        if (depth >= PropertyList::maximumDepth) throw NestedTooDeep{};
        PropertyListValue::Array array;
        for (std::uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i)
            if (auto item = fromNode(plist_array_get_item(node, i), depth + 1))
                array.push_back(std::move(*item));
        return std::optional<PropertyListValue>(std::in_place, std::move(array));
    }
    case PLIST_DICT: {
        if (depth >= PropertyList::maximumDepth) throw NestedTooDeep{};
        PropertyListValue::Dictionary dictionary;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iterator, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            std::unique_ptr<char, decltype(&std::free)> ownedKey(key, &std::free);
            if (auto value = fromNode(item, depth + 1))
                dictionary.insert_or_assign(std::string(key ? key : ""), std::move(*value));
        }
        std::free(iterator);
        return std::optional<PropertyListValue>(std::in_place, std::move(dictionary));
    }
    default:
        return std::nullopt; // dates, identifiers: never stored by this system
    }
}

plist_t toNode(const PropertyListValue& value) {
    return std::visit(
        [](const auto& content) -> plist_t {
            using T = std::decay_t<decltype(content)>;
            if constexpr (std::is_same_v<T, bool>) {
                return plist_new_bool(content ? 1 : 0);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return plist_new_uint(static_cast<std::uint64_t>(content));
            } else if constexpr (std::is_same_v<T, double>) {
                return plist_new_real(content);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return plist_new_string(content.c_str());
            } else if constexpr (std::is_same_v<T, Bytes>) {
                return plist_new_data(reinterpret_cast<const char*>(content.data()), content.size());
            } else if constexpr (std::is_same_v<T, PropertyListValue::Array>) {
                plist_t array = plist_new_array();
                for (const auto& item : content)
                    plist_array_append_item(array, toNode(item));
                return array;
            } else {
                plist_t dictionary = plist_new_dict();
                for (const auto& [key, item] : content)
                    plist_dict_set_item(dictionary, key.c_str(), toNode(item));
                return dictionary;
            }
        },
        value.storage());
}

} // namespace

std::optional<PropertyListValue> PropertyList::parse(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    // Nesting is checked before libplist sees the bytes: its parsers and its tree recurse per level.
    constexpr std::uint64_t maximumValues = 1 << 20;
    if (size >= 8 && std::memcmp(data, "bplist00", 8) == 0) {
        if (!binaryWithinLimits(data, size, PropertyList::maximumDepth, maximumValues)) return std::nullopt;
    } else if (xmlContainerDepth({reinterpret_cast<const char*>(data), size}, PropertyList::maximumDepth) >
               PropertyList::maximumDepth) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &root);
    if (!root) return std::nullopt;
    Node owned(root);
    try {
        return fromNode(root, 0);
    } catch (const NestedTooDeep&) {
        return std::nullopt;
    }
}

std::optional<PropertyListValue> PropertyList::readFile(const std::string& path) {
    try {
        // Not blocking, and checked through the descriptor: a FIFO or device there is no file.
        auto descriptor = files::openFile(path, O_RDONLY | O_NONBLOCK);
        struct stat status {};
        if (::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
        auto bytes = files::readAll(descriptor.get());
        return parse(bytes.data(), bytes.size());
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::string PropertyList::xml(const PropertyListValue& value) {
    Node root(toNode(value));
    char* text = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &text, &length);
    std::string result(text ? text : "", text ? length : 0);
    plist_to_xml_free(text);
    return result;
}

} // namespace tarpelix::platform
