#include "settings/SettingsSection.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace tarpelix;

namespace {

// Sidebar order and the names remembered between launches: a stored name from an earlier
// launch must keep finding its section.
TEST(SettingsSection, SidebarOrderAndNamesRoundTrip) {
    const std::vector<std::pair<SettingsSection, std::string>> rows{
        {SettingsSection::dashboard, "Dashboard"},     {SettingsSection::general, "General"},
        {SettingsSection::permissions, "Permissions"}, {SettingsSection::storage, "Storage"},
        {SettingsSection::diagnostics, "Diagnostics"}, {SettingsSection::help, "Help"},
    };
    const auto& cases = allCases<SettingsSection>();
    ASSERT_EQ(cases.size(), rows.size());
    for (std::size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE(rows[row].second);
        EXPECT_EQ(cases[row], rows[row].first);
        EXPECT_EQ(rawValue(rows[row].first), rows[row].second);
        EXPECT_EQ(settingsSectionFrom(rows[row].second), rows[row].first);
    }
}

// Anything but an exact name opens no section (the window then falls back to Dashboard).
TEST(SettingsSection, OnlyExactNamesFindASection) {
    const std::vector<std::string> others{
        "",        "dashboard", "STORAGE", " Storage", "Storage ", "Stor", "Helper",
        "Settings", "0",        "Help\n",  std::string("Help\0", 5),
    };
    for (const auto& text : others) {
        SCOPED_TRACE(text);
        EXPECT_EQ(settingsSectionFrom(text), std::nullopt);
    }
}

} // namespace
