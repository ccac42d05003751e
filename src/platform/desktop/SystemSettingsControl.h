#pragma once

#include "platform/desktop/Appearance.h"
#include "platform/desktop/Screen.h"
#include "platform/foundation/Calendar.h"

#include <string>
#include <vector>

// The control surface of the screens and the user's display and region settings. A change
// is told the way the Mac tells it, on the calling thread after the state has changed; setting
// a value it already has tells nothing. DesktopControl::reset() restores the defaults silently.
namespace tarpelix::platform::DesktopControl {

// The displays, primary first (none: a Mac without a display). Posts the screen-parameters
// notification on the default centre.
void setScreens(std::vector<Screen> screens);

// Post their notification on the workspace's centre: the appearance its own, contrast and
// motion the accessibility-display-options one.
void setAppearance(Appearance appearance);
void setIncreaseContrast(bool on);
void setReduceMotion(bool on);

void setLocaleIdentifier(std::string identifier);
// Replaces the machine's own time zone, which the desktop follows until this is called.
void setTimeZone(TimeZone zone);

} // namespace tarpelix::platform::DesktopControl
