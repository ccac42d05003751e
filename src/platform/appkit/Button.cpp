#include "platform/appkit/Button.h"

#include "platform/appkit/TextLayout.h"

#include <cmath>

namespace tarpelix::platform {

namespace {

struct Metrics {
    double bezelHeight, padding, radius, indicator;
};

Metrics metrics(ControlSize size) {
    return size == ControlSize::small ? Metrics{20, 9, 5, 12} : Metrics{24, 12, 6, 14};
}

constexpr double imageGap = 4;     // between the image and the title
constexpr double indicatorGap = 6; // between a check box or radio indicator and the title
constexpr double borderlessRadius = 4;

std::shared_ptr<Button> make(std::string title, ButtonType type, std::string action, Control::ActionHandler handler) {
    auto button = std::make_shared<Button>();
    button->setTitle(std::move(title));
    button->setButtonType(type);
    button->setAction(std::move(action), std::move(handler));
    return button;
}

} // namespace

Button::Button(const Rect& frame) : Control(frame) {}

std::shared_ptr<Button> Button::withTitle(std::string title, std::string action, ActionHandler handler) {
    return make(std::move(title), ButtonType::momentaryPushIn, std::move(action), std::move(handler));
}

std::shared_ptr<Button> Button::withImage(GraphicsImage image, std::string action, ActionHandler handler) {
    auto button = make({}, ButtonType::momentaryPushIn, std::move(action), std::move(handler));
    button->setImage(std::move(image));
    button->setImagePosition(ImagePosition::imageOnly);
    return button;
}

std::shared_ptr<Button> Button::checkbox(std::string title, std::string action, ActionHandler handler) {
    return make(std::move(title), ButtonType::switchButton, std::move(action), std::move(handler));
}

std::shared_ptr<Button> Button::radioButton(std::string title, std::string action, ActionHandler handler) {
    return make(std::move(title), ButtonType::radio, std::move(action), std::move(handler));
}

void Button::setTitle(std::string title) {
    title_ = std::move(title);
    contentChanged();
}

void Button::setImage(std::optional<GraphicsImage> image) {
    image_ = std::move(image);
    if (image_ && imagePosition_ == ImagePosition::noImage) imagePosition_ = ImagePosition::imageLeading;
    contentChanged();
}

void Button::setImagePosition(ImagePosition position) {
    imagePosition_ = position;
    contentChanged();
}

void Button::setButtonType(ButtonType type) {
    buttonType_ = type;
    contentChanged();
}

void Button::setBezelStyle(BezelStyle style) {
    bezelStyle_ = style;
    contentChanged();
}

void Button::setBordered(bool bordered) {
    bordered_ = bordered;
    contentChanged();
}

void Button::setBezelColor(std::optional<Color> color) {
    bezelColor_ = std::move(color);
    setNeedsDisplay(true);
}

void Button::setContentTintColor(std::optional<Color> color) {
    contentTintColor_ = std::move(color);
    setNeedsDisplay(true);
}

void Button::setState(ControlStateValue state) {
    if (state == state_) return;
    state_ = state;
    setNeedsDisplay(true);
}

void Button::setKeyEquivalent(std::string characters) {
    keyEquivalent_ = std::move(characters);
    setNeedsDisplay(true);
}

bool Button::togglesState() const {
    return buttonType_ == ButtonType::pushOnPushOff || buttonType_ == ButtonType::toggle ||
           buttonType_ == ButtonType::onOff || buttonType_ == ButtonType::switchButton;
}

// MARK: Clicks and keys

void Button::performClick() {
    if (!isEnabled()) return;
    if (buttonType_ == ButtonType::radio) {
        setState(ControlStateValue::on);
        // Radio buttons of one superview with one action are a group: one is on.
        if (superview()) {
            for (const auto& sibling : superview()->subviews()) {
                auto* other = dynamic_cast<Button*>(sibling.get());
                if (other && other != this && other->buttonType_ == ButtonType::radio && other->action() == action()) {
                    other->setState(ControlStateValue::off);
                }
            }
        }
    } else if (togglesState()) {
        setState(state_ == ControlStateValue::on ? ControlStateValue::off : ControlStateValue::on);
    }
    sendAction();
}

bool Button::performKeyEquivalent(const KeyEvent& event) {
    const EventFlags compared = EventFlag::shift | EventFlag::control | EventFlag::alternate | EventFlag::command;
    if (!keyEquivalent_.empty() && isEnabled() && !isHiddenOrHasHiddenAncestor() &&
        event.charactersIgnoringModifiers == keyEquivalent_ && (event.modifierFlags & compared) == keyEquivalentModifiers_) {
        performClick();
        return true;
    }
    return View::performKeyEquivalent(event);
}

// MARK: Size

namespace {

AttributedString titleString(const std::string& title, const Font& font, const Color& color) {
    ParagraphStyle style;
    style.lineBreakMode = LineBreakMode::byClipping;
    return AttributedString(title, {.font = font, .foregroundColor = color, .paragraphStyle = style});
}

Size ceilSize(Size size) { return {std::ceil(size.width), std::ceil(size.height)}; }

} // namespace

Size Button::contentSize() const {
    Size size;
    if (showsTitle()) size = ceilSize(TextLayout::size(titleString(title_, font(), Color::labelColor())));
    if (showsImage()) {
        const Size image = ceilSize(image_->size());
        size.width += image.width + (showsTitle() ? imageGap : 0);
        size.height = std::max(size.height, image.height);
    }
    return size;
}

Size Button::intrinsicContentSize() const {
    const Metrics m = metrics(controlSize());
    const Size content = contentSize();
    if (hasIndicator()) {
        return {m.indicator + (showsTitle() ? indicatorGap + content.width : 0), std::max(m.indicator, content.height)};
    }
    if (!bordered_) return content;
    const double width = std::max(m.bezelHeight, content.width + 2 * m.padding);
    if (bezelStyle_ == BezelStyle::rounded) return {width, m.bezelHeight};
    return {width, std::max(m.bezelHeight, content.height + 8)};
}

double Button::firstBaselineOffsetFromTop() const {
    if (!showsTitle()) return noIntrinsicMetric;
    const auto layout = TextLayout::layout(titleString(title_, font(), Color::labelColor()));
    const double rowHeight = hasIndicator() ? std::max(metrics(controlSize()).indicator, layout.size.height)
                                            : bounds().height();
    return (rowHeight - layout.size.height) / 2 + layout.firstBaseline;
}

// MARK: Drawing

bool Button::isFilled() const {
    if (!bordered_ || hasIndicator()) return false;
    return isDefaultButton() || bezelColor_ || (togglesState() && state_ == ControlStateValue::on);
}

Rect Button::bezelRect() const {
    const Rect b = bounds();
    if (bezelStyle_ == BezelStyle::regularSquare) return b;
    const double height = std::min(b.height(), metrics(controlSize()).bezelHeight);
    return {b.minX(), b.midY() - height / 2, b.width(), height};
}

Rect Button::indicatorRect() const {
    const Rect b = bounds();
    const double side = metrics(controlSize()).indicator;
    const double rowHeight = showsTitle() ? std::max(side, contentSize().height) : side;
    // Centred on the title's first row, at the top of the button.
    return {b.minX(), b.maxY() - (rowHeight + side) / 2, side, side};
}

Path Button::focusPath() const {
    if (buttonType_ == ButtonType::radio) return Path::oval(indicatorRect());
    if (hasIndicator()) return Path::roundedRect(indicatorRect(), 3, 3);
    if (!bordered_) return Path::roundedRect(bounds(), borderlessRadius, borderlessRadius);
    const double radius = bezelStyle_ == BezelStyle::rounded ? metrics(controlSize()).radius : 4;
    return Path::roundedRect(bezelRect(), radius, radius);
}

Rect Button::focusRingMaskBounds() const { return focusPath().bounds(); }

void Button::drawFocusRingMask(GraphicsContext& context) const { context.drawFocusRingMask(focusPath()); }

Color Button::contentColor() const {
    if (isFilled()) return ControlColors::onFill(bezelColor_.value_or(Color::controlAccentColor()));
    return contentTintColor_.value_or(Color::labelColor());
}

void Button::drawBezel(GraphicsContext& context) const {
    const double radius = bezelStyle_ == BezelStyle::rounded ? metrics(controlSize()).radius : 4;
    const Path bezel = Path::roundedRect(bezelRect().insetBy(0.5, 0.5), radius, radius);
    if (isFilled()) {
        context.fill(bezel, bezelColor_.value_or(Color::controlAccentColor()));
    } else {
        context.fill(bezel, ControlColors::face());
    }
    context.setLineWidth(1);
    context.stroke(bezel, ControlColors::border());
    if (isHighlighted()) context.fill(bezel, Color::black().withAlphaComponent(0.15));
}

void Button::drawIndicator(GraphicsContext& context) const {
    const Rect box = indicatorRect();
    const bool on = state_ == ControlStateValue::on;
    const Path shape = buttonType_ == ButtonType::radio ? Path::oval(box.insetBy(0.5, 0.5))
                                                        : Path::roundedRect(box.insetBy(0.5, 0.5), 3, 3);
    context.fill(shape, on ? Color::controlAccentColor() : ControlColors::face());
    context.setLineWidth(1);
    context.stroke(shape, on ? Color::controlAccentColor() : ControlColors::border());
    if (isHighlighted()) context.fill(shape, Color::black().withAlphaComponent(0.15));
    if (!on) return;
    const Color mark = ControlColors::onFill(Color::controlAccentColor());
    if (buttonType_ == ButtonType::radio) {
        const double r = box.width() * 0.2;
        context.fill(Path::oval({box.midX() - r, box.midY() - r, 2 * r, 2 * r}), mark);
        return;
    }
    Path check;
    check.moveTo({box.minX() + box.width() * 0.24, box.minY() + box.height() * 0.52});
    check.lineTo({box.minX() + box.width() * 0.42, box.minY() + box.height() * 0.30});
    check.lineTo({box.minX() + box.width() * 0.76, box.minY() + box.height() * 0.72});
    context.setLineWidth(box.width() * 0.13);
    context.setLineCap(LineCap::round);
    context.setLineJoin(LineJoin::round);
    context.stroke(check, mark);
}

void Button::drawContent(GraphicsContext& context, const Rect& area) const {
    const Color color = contentColor();
    const AttributedString title = titleString(title_, font(), color);
    const Size titleSize = showsTitle() ? ceilSize(TextLayout::size(title)) : Size{};
    const Size imageSize = showsImage() ? ceilSize(image_->size()) : Size{};
    const double gap = showsImage() && showsTitle() ? imageGap : 0;
    const double width = titleSize.width + imageSize.width + gap;
    // Centred; a check box's title starts right after its indicator.
    double x = hasIndicator() ? area.minX() : area.midX() - std::min(width, area.width()) / 2;
    const bool imageFirst = imagePosition_ != ImagePosition::imageTrailing && imagePosition_ != ImagePosition::imageRight;
    const auto drawImage = [&] {
        if (!showsImage()) return;
        image_->draw(context, {x, area.midY() - imageSize.height / 2, imageSize.width, imageSize.height}, color);
        x += imageSize.width + gap;
    };
    if (imageFirst) drawImage();
    if (showsTitle()) {
        // The box never reaches past the area: a title that does not fit shows as such.
        const double boxWidth = std::min(titleSize.width, area.maxX() - x - (imageFirst ? 0 : imageSize.width + gap));
        const double top = hasIndicator() ? area.maxY() : area.midY() + titleSize.height / 2;
        context.drawText(title, {x, top - titleSize.height, std::max(0.0, boxWidth), titleSize.height});
        x += titleSize.width + gap;
    }
    if (!imageFirst) drawImage();
}

void Button::draw(GraphicsContext& context, const Rect&) {
    context.saveGState();
    if (!isEnabled()) context.setAlpha(0.5);
    const Metrics m = metrics(controlSize());
    const Rect b = bounds();
    if (hasIndicator()) {
        drawIndicator(context);
        drawContent(context, {b.minX() + m.indicator + indicatorGap, b.minY(), b.width() - m.indicator - indicatorGap, b.height()});
    } else if (bordered_) {
        drawBezel(context);
        drawContent(context, bezelRect().insetBy(m.padding, 0));
    } else {
        if (isHighlighted()) {
            context.fill(Path::roundedRect(b, borderlessRadius, borderlessRadius), Color::black().withAlphaComponent(0.1));
        }
        drawContent(context, b);
    }
    context.restoreGState();
}

// MARK: Accessibility

AccessibilityRole Button::accessibilityRole() const {
    if (View::accessibilityRole() != AccessibilityRole::none) return View::accessibilityRole();
    if (buttonType_ == ButtonType::switchButton) return AccessibilityRole::checkBox;
    if (buttonType_ == ButtonType::radio) return AccessibilityRole::radioButton;
    return AccessibilityRole::button;
}

std::string Button::accessibilityLabel() const {
    if (auto label = View::accessibilityLabel(); !label.empty()) return label;
    if (!title_.empty()) return title_;
    if (image_ && image_->accessibilityDescription()) return *image_->accessibilityDescription();
    return {};
}

std::optional<std::string> Button::accessibilityValue() const {
    if (auto value = View::accessibilityValue()) return value;
    const bool on = state_ == ControlStateValue::on;
    if (buttonType_ == ButtonType::switchButton) return on ? "checked" : "unchecked";
    if ((buttonType_ == ButtonType::radio || togglesState()) && on) return "selected";
    return std::nullopt;
}

} // namespace tarpelix::platform
