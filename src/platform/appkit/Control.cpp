#include "platform/appkit/Control.h"

#include "platform/appkit/Window.h"

#include <cmath>

namespace tarpelix::platform {

Control::Control(const Rect& frame) : View(frame) { setAccessibilityElement(true); }

void Control::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!enabled) highlighted_ = false;
    setNeedsDisplay(true);
}

void Control::setControlSize(ControlSize size) {
    controlSize_ = size;
    contentChanged();
}

Font Control::font() const {
    if (font_) return *font_;
    return Font::systemFont(controlSize_ == ControlSize::small ? 11 : 13);
}

void Control::setFont(std::optional<Font> font) {
    font_ = std::move(font);
    contentChanged();
}

void Control::setAction(std::string name, ActionHandler handler) {
    action_ = std::move(name);
    handler_ = std::move(handler);
}

bool Control::sendAction() {
    if (!enabled_ || !handler_) return false;
    const auto keep = sharedView(); // the handler may remove the control
    const auto handler = handler_;
    handler(*this);
    return true;
}

void Control::performClick() { sendAction(); }

void Control::highlight(bool highlighted) {
    if (highlighted == highlighted_) return;
    highlighted_ = highlighted;
    setNeedsDisplay(true);
}

void Control::mouseDown(const MouseEvent&) {
    if (enabled_) highlight(true);
}

void Control::mouseUp(const MouseEvent& event) {
    if (!highlighted_) return;
    highlight(false);
    if (bounds().contains(convertPoint(event.locationInWindow, nullptr))) performClick();
}

void Control::keyDown(const KeyEvent& event) {
    const EventFlags others = EventFlag::command | EventFlag::control | EventFlag::alternate;
    if (enabled_ && (event.keyCode == KeyCode::space || event.characters == " ") && (event.modifierFlags & others) == 0) {
        performClick();
        return;
    }
    View::keyDown(event);
}

void Control::contentChanged() {
    invalidateIntrinsicContentSize();
    setNeedsDisplay(true);
}

namespace {

Color variants(std::string name, RGBA light, RGBA dark, RGBA lightContrast, RGBA darkContrast) {
    return Color::dynamic(std::move(name), [=](const DrawingAppearance& a) {
        const bool isDark = a.appearance == Appearance::dark;
        const RGBA& c = a.increaseContrast ? (isDark ? darkContrast : lightContrast) : (isDark ? dark : light);
        return Color::rgb(c.red, c.green, c.blue, c.alpha);
    });
}

} // namespace

Color ControlColors::face() {
    static const Color c = variants("controlFace", {1, 1, 1, 1}, {0.36, 0.36, 0.38, 1}, {1, 1, 1, 1}, {0.22, 0.22, 0.24, 1});
    return c;
}

Color ControlColors::border() {
    static const Color c = variants("controlBorder", {0, 0, 0, 0.22}, {1, 1, 1, 0.10}, {0, 0, 0, 0.85}, {1, 1, 1, 0.85});
    return c;
}

Color ControlColors::onFill(const Color& fill) {
    const RGBA c = fill.resolved();
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const double luminance = 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
    // White, as on the platform, while it stays legible (more so with Increase Contrast);
    // else whichever of white and black contrasts more.
    const double white = 1.05 / (luminance + 0.05), black = (luminance + 0.05) / 0.05;
    const double legible = DrawingAppearanceScope::current().increaseContrast ? 4.5 : 3;
    return white >= legible || white >= black ? Color::whiteColor() : Color::black();
}

std::string spokenState(ControlStateValue state) { return state == ControlStateValue::on ? "on" : "off"; }

} // namespace tarpelix::platform
