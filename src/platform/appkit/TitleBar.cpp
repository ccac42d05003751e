#include "platform/appkit/TitleBar.h"

#include "platform/appkit/Path.h"
#include "platform/appkit/TextLayout.h"

namespace tarpelix::platform {

namespace {

AttributedString titleText(const std::string& title) {
    ParagraphStyle style;
    style.alignment = TextAlignment::center;
    style.lineBreakMode = LineBreakMode::byTruncatingTail;
    return AttributedString(title, {.font = Font::boldSystemFont(13), .foregroundColor = Color::labelColor(),
                                    .paragraphStyle = style});
}

} // namespace

// MARK: WindowButton

WindowButton::WindowButton(WindowButtonKind kind) : View({0, 0, diameter, diameter}), kind_(kind) {
    setAccessibilityElement(true);
    setAccessibilityRole(AccessibilityRole::button);
    setAccessibilityLabel(kind == WindowButtonKind::close ? "close" : "minimise");
    setIdentifier(kind == WindowButtonKind::close ? "_closeButton" : "_miniaturizeButton");
}

void WindowButton::setEnabled(bool enabled) {
    enabled_ = enabled;
    setNeedsDisplay(true);
}

void WindowButton::performClick() {
    Window* target = window();
    if (!enabled_ || !target) return;
    if (kind_ == WindowButtonKind::close) {
        target->performClose();
    } else {
        target->miniaturize();
    }
}

void WindowButton::draw(GraphicsContext& context, const Rect&) {
    const Path circle = Path::oval(bounds().insetBy(0.5, 0.5));
    Color fill = Color::systemGray().withAlphaComponent(0.45);
    if (enabled_) fill = kind_ == WindowButtonKind::close ? Color::systemRed() : Color::systemYellow();
    context.fill(circle, fill);
    context.setLineWidth(0.5);
    context.stroke(circle, Color::black().withAlphaComponent(0.15));
}

void WindowButton::mouseDown(const MouseEvent&) { tracking_ = enabled_; }

void WindowButton::mouseUp(const MouseEvent& event) {
    const bool clicked = tracking_ && bounds().contains(convertPoint(event.locationInWindow, nullptr));
    tracking_ = false;
    if (clicked) performClick();
}

// MARK: TitleBarView

TitleBarView::TitleBarView()
    : close_(std::make_shared<WindowButton>(WindowButtonKind::close)),
      miniaturize_(std::make_shared<WindowButton>(WindowButtonKind::miniaturize)) {
    addSubview(close_);
    addSubview(miniaturize_);
}

void TitleBarView::layout() {
    const double y = (bounds().height() - WindowButton::diameter) / 2;
    close_->setFrameOrigin({buttonInset, y});
    miniaturize_->setFrameOrigin({buttonInset + WindowButton::diameter + buttonSpacing, y});
}

Rect TitleBarView::titleRect() const {
    const std::string title = window() ? window()->title() : std::string();
    const double width = std::max(0.0, bounds().width() - 2 * titleInset);
    const double height = TextLayout::size(titleText(title.empty() ? " " : title), width).height;
    return {titleInset, (bounds().height() - height) / 2, width, height};
}

void TitleBarView::draw(GraphicsContext& context, const Rect&) {
    const Rect b = bounds();
    context.fill(Path::rect(b), Color::windowBackgroundColor());
    context.fill(Path::rect({b.minX(), b.minY(), b.width(), 1}), Color::separatorColor());
    if (window() && !window()->title().empty()) context.drawText(titleText(window()->title()), titleRect());
}

} // namespace tarpelix::platform
