#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Files.h"

#include <fcntl.h>

#include <cstdlib>
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

// Results are built in place: a moved-from temporary value makes GCC 12 warn falsely at -O3.
std::optional<PropertyListValue> fromNode(plist_t node) {
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
        PropertyListValue::Array array;
        for (std::uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i)
            if (auto item = fromNode(plist_array_get_item(node, i))) array.push_back(std::move(*item));
        return std::optional<PropertyListValue>(std::in_place, std::move(array));
    }
    case PLIST_DICT: {
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
            if (auto value = fromNode(item))
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
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &root);
    if (!root) return std::nullopt;
    Node owned(root);
    return fromNode(root);
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
