#pragma once

// The property-list readers behind PropertyList::parse, and the budget they share.

#include "platform/foundation/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarpelix::platform::property_list {

// What a list read so far has expanded to, charged before each value and each string, key or
// data is kept; once past either limit the list is refused.
class ExpansionBudget {
public:
    [[nodiscard]] bool takeValue() { return ++values_ <= PropertyList::maximumValues; }
    [[nodiscard]] bool takeBytes(std::size_t count) {
        if (count > PropertyList::maximumExpandedBytes - bytes_) return false;
        bytes_ += count;
        return true;
    }

private:
    std::size_t values_ = 0;
    std::size_t bytes_ = 0;
};

// Each returns the list's value, or none when it is refused or its top value is of a kind left
// out. Neither recurses per level of the list nor throws anything but std::bad_alloc.
std::optional<PropertyListValue> readXML(const std::uint8_t* data, std::size_t size, ExpansionBudget& budget);
std::optional<PropertyListValue> readBinary(const std::uint8_t* data, std::size_t size,
                                            ExpansionBudget& budget);

} // namespace tarpelix::platform::property_list
