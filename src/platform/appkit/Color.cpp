#include "platform/appkit/Color.h"

#include "platform/desktop/Workspace.h"

#include <algorithm>
#include <cmath>

namespace tarpelix::platform {

namespace {

thread_local std::optional<DrawingAppearance> currentAppearance;

double clamp01(double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0; }

// One system colour's four variants: light, dark, and each with Increase Contrast.
struct Variants {
    RGBA light, dark, lightContrast, darkContrast;
};

Color systemColor(std::string name, Variants variants) {
    return Color::dynamic(std::move(name), [variants](const DrawingAppearance& a) {
        const bool dark = a.appearance == Appearance::dark;
        const RGBA& c = a.increaseContrast ? (dark ? variants.darkContrast : variants.lightContrast)
                                           : (dark ? variants.dark : variants.light);
        return Color::rgb(c.red, c.green, c.blue, c.alpha);
    });
}

// A label colour: black text on light, white on dark, at an opacity per level.
Color labelLevel(std::string name, double alpha, double contrastAlpha) {
    return systemColor(std::move(name), {{0, 0, 0, alpha}, {1, 1, 1, alpha}, {0, 0, 0, contrastAlpha},
                                         {1, 1, 1, contrastAlpha}});
}

} // namespace

DrawingAppearanceScope::DrawingAppearanceScope(DrawingAppearance appearance) : previous_(currentAppearance) {
    currentAppearance = appearance;
}

DrawingAppearanceScope::~DrawingAppearanceScope() { currentAppearance = previous_; }

DrawingAppearance DrawingAppearanceScope::current() {
    if (currentAppearance) return *currentAppearance;
    return {Workspace::appearance(), Workspace::accessibilityDisplayShouldIncreaseContrast()};
}

Color Color::rgb(double red, double green, double blue, double alpha) {
    return fixed({clamp01(red), clamp01(green), clamp01(blue), clamp01(alpha)});
}

Color Color::fixed(RGBA components) {
    Color color;
    color.components_ = components;
    return color;
}

Color Color::dynamic(std::string name, Provider provider) {
    Color color;
    color.name_ = std::move(name);
    color.provider_ = std::make_shared<const Provider>(std::move(provider));
    return color;
}

RGBA Color::resolved() const { return resolved(DrawingAppearanceScope::current()); }

RGBA Color::resolved(const DrawingAppearance& appearance) const {
    RGBA result = components_;
    if (provider_) {
        // A provider may blend other dynamic colours: they resolve under the same appearance.
        DrawingAppearanceScope scope(appearance);
        result = (*provider_)(appearance).resolved(appearance);
    }
    if (alphaOverride_) result.alpha = *alphaOverride_;
    return result;
}

Color Color::withAlphaComponent(double alpha) const {
    Color color = *this;
    if (provider_) {
        color.alphaOverride_ = clamp01(alpha);
    } else {
        color.components_.alpha = clamp01(alpha);
    }
    return color;
}

std::optional<Color> Color::blended(double fraction, const Color& other) const {
    if (std::isnan(fraction)) return std::nullopt;
    const double f = std::clamp(fraction, 0.0, 1.0);
    const RGBA a = resolved();
    const RGBA b = other.resolved();
    auto mix = [f](double x, double y) { return x + (y - x) * f; };
    return fixed({mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue), mix(a.alpha, b.alpha)});
}

bool Color::operator==(const Color& other) const {
    if (isDynamic() != other.isDynamic()) return false;
    if (!isDynamic()) return components_ == other.components_;
    return name_ == other.name_ && provider_ == other.provider_ && alphaOverride_ == other.alphaOverride_;
}

// MARK: System colours (each made once, so that equal names share a provider)

Color Color::clear() { return fixed({0, 0, 0, 0}); }
Color Color::black() { return fixed({0, 0, 0, 1}); }
Color Color::whiteColor() { return fixed({1, 1, 1, 1}); }

Color Color::labelColor() {
    static const Color c = labelLevel("labelColor", 0.86, 1.0);
    return c;
}
Color Color::secondaryLabelColor() {
    static const Color c = labelLevel("secondaryLabelColor", 0.56, 0.74);
    return c;
}
Color Color::tertiaryLabelColor() {
    static const Color c = labelLevel("tertiaryLabelColor", 0.30, 0.52);
    return c;
}
Color Color::quaternaryLabelColor() {
    static const Color c = labelLevel("quaternaryLabelColor", 0.12, 0.24);
    return c;
}
Color Color::textColor() {
    static const Color c = labelLevel("textColor", 1.0, 1.0);
    return c;
}
Color Color::textBackgroundColor() {
    static const Color c = systemColor("textBackgroundColor",
                                       {{1, 1, 1, 1}, {0.12, 0.12, 0.13, 1}, {1, 1, 1, 1}, {0, 0, 0, 1}});
    return c;
}
Color Color::controlAccentColor() {
    static const Color c = systemColor("controlAccentColor", {{0.05, 0.42, 0.86, 1},
                                                              {0.18, 0.56, 0.98, 1},
                                                              {0.00, 0.31, 0.70, 1},
                                                              {0.38, 0.68, 1.00, 1}});
    return c;
}
Color Color::controlBackgroundColor() {
    static const Color c = systemColor("controlBackgroundColor",
                                       {{1, 1, 1, 1}, {0.14, 0.14, 0.15, 1}, {1, 1, 1, 1}, {0.07, 0.07, 0.08, 1}});
    return c;
}
Color Color::windowBackgroundColor() {
    static const Color c = systemColor("windowBackgroundColor", {{0.93, 0.93, 0.94, 1},
                                                                 {0.19, 0.19, 0.20, 1},
                                                                 {0.96, 0.96, 0.96, 1},
                                                                 {0.12, 0.12, 0.13, 1}});
    return c;
}
Color Color::underPageBackgroundColor() {
    static const Color c = systemColor("underPageBackgroundColor", {{0.85, 0.85, 0.86, 1},
                                                                    {0.11, 0.11, 0.12, 1},
                                                                    {0.80, 0.80, 0.80, 1},
                                                                    {0.05, 0.05, 0.05, 1}});
    return c;
}
Color Color::separatorColor() {
    static const Color c = systemColor("separatorColor",
                                       {{0, 0, 0, 0.14}, {1, 1, 1, 0.18}, {0, 0, 0, 0.48}, {1, 1, 1, 0.52}});
    return c;
}
Color Color::keyboardFocusIndicatorColor() {
    static const Color c = systemColor("keyboardFocusIndicatorColor", {{0.05, 0.42, 0.86, 0.5},
                                                                       {0.18, 0.56, 0.98, 0.5},
                                                                       {0.00, 0.31, 0.70, 0.8},
                                                                       {0.38, 0.68, 1.00, 0.8}});
    return c;
}
Color Color::systemRed() {
    static const Color c = systemColor("systemRed", {{0.90, 0.22, 0.20, 1},
                                                     {1.00, 0.31, 0.29, 1},
                                                     {0.74, 0.10, 0.10, 1},
                                                     {1.00, 0.45, 0.42, 1}});
    return c;
}
Color Color::systemOrange() {
    static const Color c = systemColor("systemOrange", {{0.93, 0.52, 0.00, 1},
                                                        {1.00, 0.62, 0.08, 1},
                                                        {0.72, 0.36, 0.00, 1},
                                                        {1.00, 0.72, 0.30, 1}});
    return c;
}
Color Color::systemYellow() {
    static const Color c = systemColor("systemYellow", {{0.92, 0.74, 0.00, 1},
                                                        {1.00, 0.82, 0.06, 1},
                                                        {0.62, 0.48, 0.00, 1},
                                                        {1.00, 0.88, 0.35, 1}});
    return c;
}
Color Color::systemGreen() {
    static const Color c = systemColor("systemGreen", {{0.16, 0.64, 0.28, 1},
                                                       {0.22, 0.78, 0.36, 1},
                                                       {0.06, 0.48, 0.18, 1},
                                                       {0.38, 0.88, 0.50, 1}});
    return c;
}
Color Color::systemBlue() {
    static const Color c = systemColor("systemBlue", {{0.02, 0.45, 0.92, 1},
                                                      {0.12, 0.58, 1.00, 1},
                                                      {0.00, 0.34, 0.76, 1},
                                                      {0.40, 0.70, 1.00, 1}});
    return c;
}
Color Color::systemGray() {
    static const Color c = systemColor("systemGray", {{0.55, 0.55, 0.58, 1},
                                                      {0.56, 0.56, 0.59, 1},
                                                      {0.42, 0.42, 0.45, 1},
                                                      {0.70, 0.70, 0.73, 1}});
    return c;
}

} // namespace tarpelix::platform
