#include "ui/InterfaceIcon.h"

#include <array>
#include <utility>

namespace tarpelix {

using platform::FontWeight;
using platform::GraphicsImage;
using platform::SymbolConfiguration;

namespace {

// The symbol names, in the order of the cases.
const std::array<std::string, 32>& symbolNames() {
    static const std::array<std::string, 32> names = {
        "rectangle.grid.2x2",
        "calendar.badge.checkmark",
        "calendar",
        "quote.bubble",
        "bubble.left.and.bubble.right",
        "arrow.up.right",
        "gearshape",
        "desktopcomputer",
        "hand.raised",
        "internaldrive",
        "waveform.path.ecg",
        "questionmark.circle",
        "power",
        "arrow.down.circle",
        "rectangle.bottomthird.inset.filled",
        "photo.on.rectangle",
        "keyboard",
        "clock.arrow.circlepath",
        "doc.text.magnifyingglass",
        "terminal",
        "doc.on.clipboard",
        "network",
        "arrow.counterclockwise",
        "lock.shield",
        "checkmark.circle",
        "exclamationmark.circle",
        "exclamationmark.triangle",
        "info.circle",
        "xmark.circle",
        "arrow.right",
        "chevron.right",
        "chevron.down",
    };
    return names;
}

} // namespace

template <>
const std::vector<InterfaceIcon>& allCases<InterfaceIcon>() {
    static const std::vector<InterfaceIcon> cases = [] {
        std::vector<InterfaceIcon> result;
        for (std::size_t i = 0; i < symbolNames().size(); ++i) result.push_back(static_cast<InterfaceIcon>(i));
        return result;
    }();
    return cases;
}

const std::string& rawValue(InterfaceIcon icon) { return symbolNames().at(static_cast<std::size_t>(icon)); }

std::optional<InterfaceIcon> interfaceIconFrom(std::string_view rawValue) {
    const auto& names = symbolNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == rawValue) return static_cast<InterfaceIcon>(i);
    }
    return std::nullopt;
}

double pointSize(InterfaceIconStyle style) {
    switch (style) {
    case InterfaceIconStyle::inline_: return 13;
    case InterfaceIconStyle::sidebar: return 17;
    case InterfaceIconStyle::card: return 21;
    case InterfaceIconStyle::feedback: return 17;
    case InterfaceIconStyle::disclosure: return 12;
    case InterfaceIconStyle::application: return 24;
    }
    return 13;
}

SymbolConfiguration configuration(InterfaceIconStyle style) {
    return {.pointSize = pointSize(style), .weight = FontWeight::medium, .prefersMonochrome = true};
}

std::optional<GraphicsImage> image(InterfaceIcon icon, InterfaceIconStyle style,
                                   std::optional<std::string> accessibilityDescription) {
    auto symbol = GraphicsImage::systemSymbol(rawValue(icon), std::move(accessibilityDescription));
    if (!symbol) return std::nullopt;
    return symbol->withSymbolConfiguration(configuration(style));
}

} // namespace tarpelix
