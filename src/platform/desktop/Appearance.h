#pragma once

#include <string>

namespace tarpelix::platform {

// The system appearance the user chose.
enum class Appearance { light, dark };

// Posted on the workspace's notification centre when the system appearance changes (the
// accessibility display options have their own notification).
inline const std::string appearanceDidChangeNotification = "AppleInterfaceThemeChangedNotification";

} // namespace tarpelix::platform
