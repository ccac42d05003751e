#include "settings/SettingsSection.h"

#include <array>
#include <cstddef>

namespace tarpelix {

namespace {
// Indexed by the enumeration's value.
const std::array<std::string, 6>& names() {
    static const std::array<std::string, 6> names{"Dashboard", "General", "Permissions",
                                                  "Storage",   "Diagnostics", "Help"};
    return names;
}
} // namespace

template <>
const std::vector<SettingsSection>& allCases<SettingsSection>() {
    static const std::vector<SettingsSection> cases{SettingsSection::dashboard,   SettingsSection::general,
                                                    SettingsSection::permissions, SettingsSection::storage,
                                                    SettingsSection::diagnostics, SettingsSection::help};
    return cases;
}

const std::string& rawValue(SettingsSection section) { return names().at(static_cast<std::size_t>(section)); }

std::optional<SettingsSection> settingsSectionFrom(std::string_view rawValue) {
    const auto& all = names();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == rawValue) return static_cast<SettingsSection>(i);
    }
    return std::nullopt;
}

} // namespace tarpelix
