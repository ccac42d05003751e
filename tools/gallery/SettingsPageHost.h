#pragma once

#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::gallery {

// The Settings window's content widths (default and minimum) less its sidebar: the widths a
// page is shown at.
inline constexpr double settingsPageWideWidth = 900 - 201;
inline constexpr double settingsPageNarrowWidth = 760 - 201;

// A window of `size` (content) holding a Settings page as the Settings window hosts one: a
// scroll view whose document, as wide as the scroll view and as tall as its content, holds
// the section title (with the subtitle, when given, under it) and then the cards, 24 points
// inside, each as wide as the page.
std::shared_ptr<platform::Window> settingsPageWindow(const std::string& title,
                                                     const std::optional<std::string>& subtitle,
                                                     const std::vector<std::shared_ptr<platform::View>>& cards,
                                                     platform::Size size);

} // namespace tarpelix::gallery
