#include "platform/appkit/VisualEffectView.h"

#include "platform/appkit/Window.h"

namespace tarpelix::platform {

namespace {

// Light, dark, light with Increase Contrast, dark with Increase Contrast.
Color materialFill(std::string name, double light, double dark, double lightContrast, double darkContrast) {
    return Color::dynamic(std::move(name), [=](const DrawingAppearance& a) {
        const bool isDark = a.appearance == Appearance::dark;
        const double level = a.increaseContrast ? (isDark ? darkContrast : lightContrast) : (isDark ? dark : light);
        return Color::rgb(level, level, level + 0.01);
    });
}

} // namespace

VisualEffectView::VisualEffectView(const Rect& frame) : View(frame) {}

void VisualEffectView::setMaterial(VisualEffectMaterial material) {
    material_ = material;
    setNeedsDisplay(true);
}

void VisualEffectView::setState(VisualEffectState state) {
    state_ = state;
    setNeedsDisplay(true);
}

bool VisualEffectView::isActive() const {
    switch (state_) {
    case VisualEffectState::active: return true;
    case VisualEffectState::inactive: return false;
    case VisualEffectState::followsWindowActiveState: break;
    }
    return !window() || window()->isKeyWindow() || window()->isMainWindow();
}

Color VisualEffectView::fillColor() const {
    if (!isActive()) return Color::windowBackgroundColor();
    switch (material_) {
    case VisualEffectMaterial::sidebar: return materialFill("sidebarMaterial", 0.89, 0.16, 0.86, 0.08);
    case VisualEffectMaterial::menu:
    case VisualEffectMaterial::popover: return materialFill("menuMaterial", 0.97, 0.22, 1.0, 0.10);
    case VisualEffectMaterial::hudWindow: return materialFill("hudMaterial", 0.15, 0.15, 0.05, 0.05);
    case VisualEffectMaterial::headerView: return materialFill("headerMaterial", 0.95, 0.20, 0.98, 0.10);
    case VisualEffectMaterial::windowBackground: return Color::windowBackgroundColor();
    case VisualEffectMaterial::underWindowBackground: return Color::underPageBackgroundColor();
    case VisualEffectMaterial::contentBackground: return Color::controlBackgroundColor();
    }
    return Color::windowBackgroundColor();
}

void VisualEffectView::draw(GraphicsContext& context, const Rect&) { context.fill(Path::rect(bounds()), fillColor()); }

} // namespace tarpelix::platform
