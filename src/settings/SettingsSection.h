#pragma once

#include "ui/InterfaceIcon.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix {

// One row of the Settings sidebar. The declaration order is the sidebar order: a row's index
// is the section's position in allCases<SettingsSection>().
enum class SettingsSection { dashboard, general, permissions, storage, diagnostics, help };

template <>
const std::vector<SettingsSection>& allCases<SettingsSection>();

// The section's name, also its sidebar and page title and what is remembered between launches.
const std::string& rawValue(SettingsSection section);
// The section named exactly `rawValue`; none for any other text.
std::optional<SettingsSection> settingsSectionFrom(std::string_view rawValue);

} // namespace tarpelix
