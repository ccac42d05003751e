#include "platform/appkit/ScreenReader.h"

#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"

namespace tarpelix::platform {

std::string ScreenReader::line(const View& element) {
    std::vector<std::string> parts{element.accessibilityLabel()};
    if (auto value = element.accessibilityValue(); value && *value != parts.front()) parts.push_back(*value);
    if (auto expanded = element.isAccessibilityExpanded()) parts.emplace_back(*expanded ? "expanded" : "collapsed");
    parts.push_back(accessibilityRoleDescription(element.accessibilityRole()));
    parts.push_back(element.accessibilityHelp());
    std::string spoken;
    for (const auto& part : parts) {
        if (part.empty()) continue;
        if (!spoken.empty()) spoken += ", ";
        spoken += part;
    }
    return spoken;
}

std::vector<std::string> ScreenReader::read(const Window& window) {
    std::vector<std::string> lines;
    if (!window.title().empty()) lines.push_back(window.title());
    if (!window.contentView()) return lines;
    const auto elements = window.contentView()->visibleViews([](const View& view) { return view.isAccessibilityElement(); });
    for (View* element : geometryOrder(elements)) {
        if (auto spoken = line(*element); !spoken.empty()) lines.push_back(std::move(spoken));
    }
    return lines;
}

} // namespace tarpelix::platform
