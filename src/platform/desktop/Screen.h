#pragma once

#include "platform/foundation/Geometry.h"

#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

// Posted on the default notification centre when the arrangement of the screens changes.
inline const std::string applicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";

// One display of the simulated Mac, in global coordinates (origin at the primary display's
// lower-left corner, y up).
struct Screen {
    Rect frame;
    // The frame without the menu bar and the Dock.
    Rect visibleFrame;
    double backingScaleFactor = 2;
    // The display number of the screen's device description ("NSScreenNumber"); a screen may
    // lack it.
    std::optional<int> screenNumber;

    bool operator==(const Screen&) const = default;

    // The screens as the window server lists them: the primary one (with the menu bar) first.
    static std::vector<Screen> screens();
    // The screen the application works on: the primary one; none without screens.
    static std::optional<Screen> mainScreen();
};

} // namespace tarpelix::platform
