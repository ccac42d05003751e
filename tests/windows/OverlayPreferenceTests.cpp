#include "platform/foundation/UserDefaults.h"
#include "support/TemporaryDirectory.h"
#include "windows/OverlayPreference.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace tarpelix;
using platform::PropertyListValue;
using platform::UserDefaults;

namespace {

// A defaults file of the application's under a temporary $XDG_CONFIG_HOME.
struct OverlayPreferenceTest : ::testing::Test {
    tarpelix::testing::TemporaryDirectory home;
    std::optional<std::string> savedHome;
    std::filesystem::path file;

    void SetUp() override {
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) savedHome = previous;
        ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        file = std::filesystem::path(home.path()) / "Tarpelix" / "UserDefaults.plist";
    }
    void TearDown() override {
        savedHome ? ::setenv("XDG_CONFIG_HOME", savedHome->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    }
};

TEST_F(OverlayPreferenceTest, OnlyAStoredBooleanOffReadsAsOff) {
    struct Row {
        const char* name;
        std::optional<PropertyListValue> stored;
        bool expected;
    };
    const Row rows[] = {
        {"absent", std::nullopt, true},
        {"false", PropertyListValue(false), false},
        {"true", PropertyListValue(true), true},
        {"integer 0", PropertyListValue(0), false},
        {"integer 1", PropertyListValue(1), true},
        {"integer 2", PropertyListValue(2), true},
        {"string", PropertyListValue("NO"), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(file);
        if (row.stored) UserDefaults::create(file)->set(OverlayPreference::key, *row.stored);
        const OverlayPreference preference(UserDefaults::create(file));
        EXPECT_EQ(preference.isEnabled(), row.expected);
    }
}

TEST_F(OverlayPreferenceTest, AChangeIsOnDiskBeforeOnChangeAndTheSameValueCallsNothing) {
    OverlayPreference preference(UserDefaults::create(file));
    std::vector<bool> told;
    std::vector<std::optional<bool>> onDisk;
    preference.onChange = [&](bool enabled) {
        told.push_back(enabled);
        onDisk.push_back(UserDefaults::create(file)->boolean(OverlayPreference::key));
    };

    preference.setEnabled(true); // absent already reads as on
    EXPECT_FALSE(std::filesystem::exists(file));
    preference.setEnabled(false);
    preference.setEnabled(false);
    preference.setEnabled(true);
    EXPECT_EQ(told, (std::vector<bool>{false, true}));
    EXPECT_EQ(onDisk, (std::vector<std::optional<bool>>{false, true}));
    // Stored as a Boolean, not a number.
    const auto stored = UserDefaults::create(file)->object(OverlayPreference::key);
    ASSERT_TRUE(stored);
    EXPECT_NE(stored->get<bool>(), nullptr);
}

} // namespace
