#pragma once

#include "platform/desktop/Appearance.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {

// A colour resolved for drawing: sRGB components and alpha, each 0...1, not premultiplied.
struct RGBA {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    bool operator==(const RGBA&) const = default;
};

// What a dynamic colour is resolved against: the appearance and the Increase Contrast option.
struct DrawingAppearance {
    Appearance appearance = Appearance::light;
    bool increaseContrast = false;

    bool operator==(const DrawingAppearance&) const = default;
};

// Sets the current drawing appearance of the calling thread for its lifetime, as drawing a view
// under its effective appearance does; scopes nest. Without one, the current drawing appearance
// is the desktop's appearance and Increase Contrast setting.
class DrawingAppearanceScope {
public:
    explicit DrawingAppearanceScope(DrawingAppearance appearance);
    ~DrawingAppearanceScope();
    DrawingAppearanceScope(const DrawingAppearanceScope&) = delete;
    DrawingAppearanceScope& operator=(const DrawingAppearanceScope&) = delete;

    static DrawingAppearance current();

private:
    std::optional<DrawingAppearance> previous_;
};

// A colour: fixed components, or dynamic (a system colour, or one made from a provider) and
// resolved against the current drawing appearance whenever it is drawn or resolved.
class Color {
public:
    using Provider = std::function<Color(const DrawingAppearance&)>;

    Color() = default; // clear
    static Color rgb(double red, double green, double blue, double alpha = 1);
    static Color white(double white, double alpha = 1) { return rgb(white, white, white, alpha); }
    // A dynamic colour; `name` identifies it (colours with one name and provider are equal).
    static Color dynamic(std::string name, Provider provider);

    bool isDynamic() const { return provider_ != nullptr; }
    const std::string& name() const { return name_; }

    // The components under the current drawing appearance, or under the given one.
    RGBA resolved() const;
    RGBA resolved(const DrawingAppearance& appearance) const;
    // The colour as a fixed one, resolved under the current drawing appearance (what a layer
    // keeps, like a CGColor).
    Color cgColor() const { return fixed(resolved()); }

    // The same colour with its alpha replaced; a dynamic colour stays dynamic.
    Color withAlphaComponent(double alpha) const;
    // This colour moved `fraction` (0...1, clamped) of the way towards `other`, both resolved
    // under the current drawing appearance. None when the fraction is not a number.
    std::optional<Color> blended(double fraction, const Color& other) const;

    bool operator==(const Color& other) const;

    // The system colours. Values are ours, chosen per appearance and Increase Contrast.
    static Color clear();
    static Color black();
    static Color whiteColor();
    static Color labelColor();
    static Color secondaryLabelColor();
    static Color tertiaryLabelColor();
    static Color quaternaryLabelColor();
    static Color textColor();
    static Color textBackgroundColor();
    static Color controlAccentColor();
    static Color controlBackgroundColor();
    static Color windowBackgroundColor();
    static Color underPageBackgroundColor();
    static Color separatorColor();
    static Color keyboardFocusIndicatorColor();
    static Color systemRed();
    static Color systemOrange();
    static Color systemYellow();
    static Color systemGreen();
    static Color systemBlue();
    static Color systemGray();

private:
    static Color fixed(RGBA components);
    RGBA components_{0, 0, 0, 0};
    std::string name_;
    std::shared_ptr<const Provider> provider_;
    std::optional<double> alphaOverride_;
};

} // namespace tarpelix::platform
