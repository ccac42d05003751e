#pragma once

#include "platform/desktop/Appearance.h"
#include "platform/desktop/Screen.h"
#include "platform/foundation/Calendar.h"

#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

// The user's display and region settings of the simulated Mac. Guarded by Desktop::mutex.
struct SystemSettingsState {
    // One built-in display of 1440 × 900 points at 2×, the menu bar taking the top 25.
    static Screen defaultScreen() { return {{0, 0, 1440, 900}, {0, 0, 1440, 875}, 2, 1}; }
    static constexpr const char* defaultLocaleIdentifier = "en_US";

    std::vector<Screen> screens{defaultScreen()}; // primary first
    Appearance appearance = Appearance::light;
    bool increaseContrast = false;
    bool reduceMotion = false;
    std::string localeIdentifier = defaultLocaleIdentifier;
    // None: the machine's own (TimeZone::current()).
    std::optional<TimeZone> timeZone;
};

} // namespace tarpelix::platform
