#pragma once

#include "platform/appkit/GraphicsImage.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix {

// The symbol icons of the windows: each case stands for one system symbol, its raw value.
// Dashboard and Settings sections first, then the status and disclosure icons.
enum class InterfaceIcon {
    dashboard, activeDays, since, testimonial, feedback, externalLink, general, computer, permissions,
    storage, diagnostics, help, startup, updates, pasteFeedback, image,
    keyboard, retention, diagnosticReport, terminal, clipboard, network, recovery, privacy, success,
    attention, warning, information, cancelled, nextStep, disclosureCollapsed, disclosureExpanded,
};

// Where an icon is shown, which fixes its size. `inline_` is the icon set within text (the
// trailing underscore because `inline` is a C++ keyword).
enum class InterfaceIconStyle { inline_, sidebar, card, feedback, disclosure, application };

// Every case of an enumeration, in declaration order.
template <class Enumeration>
const std::vector<Enumeration>& allCases();
template <>
const std::vector<InterfaceIcon>& allCases<InterfaceIcon>();

// The symbol's name.
const std::string& rawValue(InterfaceIcon icon);
// The icon whose symbol is exactly `rawValue`; none for any other name.
std::optional<InterfaceIcon> interfaceIconFrom(std::string_view rawValue);

// The symbol's size in points.
double pointSize(InterfaceIconStyle style);
// The style's size at medium weight, drawn in one colour.
platform::SymbolConfiguration configuration(InterfaceIconStyle style);

// The icon's symbol at the style's configuration; none when the system has no such symbol.
std::optional<platform::GraphicsImage> image(InterfaceIcon icon, InterfaceIconStyle style,
                                             std::optional<std::string> accessibilityDescription);

} // namespace tarpelix
