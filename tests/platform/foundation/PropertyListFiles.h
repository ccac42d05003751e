#pragma once

// Builders of property-list files for the reader's tests, well-formed and hostile alike.

#include "platform/foundation/PropertyList.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix::testing::plist {

// A dictionary {"a": [[…[true]…]]} whose arrays nest `depth` deep in all (the dictionary counts).
inline std::string nestedXML(std::size_t depth) {
    std::string text = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>a</key>)";
    for (std::size_t i = 1; i < depth; ++i)
        text += "<array>";
    text += "<true/>";
    for (std::size_t i = 1; i < depth; ++i)
        text += "</array>";
    return text + "</dict></plist>";
}

// `value` in `width` big-endian bytes (a width past 8 is zero-padded in front).
inline std::string bigEndian(std::uint64_t value, std::size_t width) {
    std::string out;
    for (std::size_t i = width; i-- > 0;)
        out.push_back(i < 8 ? static_cast<char>(value >> (8 * i) & 0xFF) : '\0');
    return out;
}

// An object's marker with its count: in the marker's low bits, or (when it does not fit or
// `countWidth` is given) as an integer object of `countWidth` bytes after it.
inline std::string marker(std::uint8_t kind, std::uint64_t count, std::size_t countWidth = 0) {
    if (countWidth == 0 && count < 15) return std::string(1, static_cast<char>(kind << 4 | count));
    if (countWidth == 0) countWidth = count < 0x100 ? 1 : count < 0x10000 ? 2 : count < 0x100000000 ? 4 : 8;
    std::uint8_t power = 0;
    while ((std::size_t{1} << power) < countWidth)
        ++power;
    return std::string(1, static_cast<char>(kind << 4 | 0xF)) + static_cast<char>(0x10 | power) +
           bigEndian(count, countWidth);
}

inline std::string arrayOf(std::initializer_list<std::uint64_t> references, std::size_t referenceSize = 4,
                           std::size_t countWidth = 0) {
    std::string object = marker(0xA, references.size(), countWidth);
    for (auto reference : references)
        object += bigEndian(reference, referenceSize);
    return object;
}

inline std::string asciiObject(const std::string& text) {
    return marker(0x5, text.size()) + text;
}

// A binary list of the given objects, object i at offset table entry i.
struct BinaryList {
    std::vector<std::string> objects;
    std::size_t offsetSize = 4;
    std::size_t referenceSize = 4;
    std::uint64_t top = 0;
    std::optional<std::uint64_t> declaredCount; // the trailer's object count, when not the real one

    std::string bytes() const {
        std::string data = "bplist00";
        std::vector<std::uint64_t> offsets;
        for (const auto& object : objects) {
            offsets.push_back(data.size());
            data += object;
        }
        const auto table = data.size();
        for (auto offset : offsets)
            data += bigEndian(offset, offsetSize);
        data += std::string(6, '\0') + static_cast<char>(offsetSize) + static_cast<char>(referenceSize);
        data +=
            bigEndian(declaredCount.value_or(objects.size()), 8) + bigEndian(top, 8) + bigEndian(table, 8);
        return data;
    }
};

// Object i (of `count`) is written as `object(i)`, with 4-byte references and offsets.
inline std::string binaryPlist(std::size_t count, const std::function<std::string(std::size_t)>& object) {
    BinaryList list;
    for (std::size_t i = 0; i < count; ++i)
        list.objects.push_back(object(i));
    return list.bytes();
}

// [[…[true]…]] with `depth` arrays.
inline std::string nestedBinary(std::size_t depth) {
    return binaryPlist(depth + 1,
                       [depth](std::size_t i) { return i < depth ? arrayOf({i + 1}) : std::string("\x09"); });
}

inline std::optional<platform::PropertyListValue> parse(const std::string& bytes) {
    return platform::PropertyList::parse(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}


// {"a": [[…[leaf, leaf, …]…]]}: `depth` arrays, the innermost holding `references` references
// to one `leaf` object. A small file that reads as a deep list of many values.
inline std::string deepShared(const std::string& leaf, std::size_t depth, std::size_t references) {
    BinaryList list;
    list.referenceSize = 2;
    const std::uint64_t leafIndex = depth + 2;
    list.objects.push_back(marker(0xD, 1) + bigEndian(1, 2) + bigEndian(2, 2));
    list.objects.push_back(asciiObject("a"));
    for (std::size_t level = 1; level < depth; ++level)
        list.objects.push_back(marker(0xA, 1) + bigEndian(level + 2, 2));
    std::string innermost = marker(0xA, references);
    for (std::size_t i = 0; i < references; ++i)
        innermost += bigEndian(leafIndex, 2);
    list.objects.push_back(innermost);
    list.objects.push_back(leaf);
    return list.bytes();
}

// {"a": [data, data, …]}: `references` references to one data object of `size` bytes.
inline std::string sharedData(std::size_t size, std::size_t references) {
    BinaryList list;
    list.referenceSize = 1;
    list.offsetSize = 4;
    std::string array = marker(0xA, references);
    array += std::string(references, '\x03');
    list.objects = {marker(0xD, 1) + "\x01\x02", asciiObject("a"), array, marker(0x4, size) + std::string(size, 'd')};
    return list.bytes();
}

// `<plist` with distinct short attributes up to about `size` bytes, around `<true/>`.
inline std::string manyAttributes(std::size_t size) {
    std::string text = R"(<?xml version="1.0" encoding="UTF-8"?><plist)";
    const std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (std::size_t n = 0; text.size() + 32 < size; ++n) {
        text += ' ';
        std::size_t rest = n;
        do {
            text += letters[rest % letters.size()];
            rest /= letters.size();
        } while (rest > 0);
        text += "=''";
    }
    return text + "><true/></plist>";
}

} // namespace tarpelix::testing::plist
