#include "ui/InterfaceStyle.h"

#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "ui/InterfaceCardView.h"

namespace tarpelix::InterfaceStyle {

using namespace platform;
using platform::FontWeight;

namespace Font {
const platform::Font& title() {
    static const auto font = platform::Font::systemFont(26, FontWeight::bold);
    return font;
}
const platform::Font& section() {
    static const auto font = platform::Font::systemFont(16, FontWeight::semibold);
    return font;
}
const platform::Font& status() {
    static const auto font = platform::Font::systemFont(17, FontWeight::semibold);
    return font;
}
const platform::Font& body() {
    static const auto font = platform::Font::systemFont(13);
    return font;
}
const platform::Font& reading() {
    static const auto font = platform::Font::systemFont(14);
    return font;
}
const platform::Font& caption() {
    static const auto font = platform::Font::systemFont(12);
    return font;
}
const platform::Font& code() {
    static const auto font = platform::Font::monospacedSystemFont(13);
    return font;
}
} // namespace Font

std::shared_ptr<Label> label(const std::string& text, bool secondary, const std::vector<std::string>& code) {
    auto result = Label::wrappingLabelWithString(text);
    result->setFont(Font::body());
    result->setTextColor(secondary ? Color::secondaryLabelColor() : Color::labelColor());
    if (code.empty()) return result;

    AttributedString attributed(text, {.font = result->font(), .foregroundColor = result->textColor()});
    for (const auto& term : code) {
        if (term.empty()) continue;
        std::size_t from = 0;
        while (auto range = attributed.rangeOf(term, from)) {
            attributed.setFont(Font::code(), *range);
            from = range->end();
        }
    }
    result->setAttributedStringValue(std::move(attributed));
    return result;
}

std::shared_ptr<InterfaceCardView> cardAround(const std::shared_ptr<View>& content) {
    auto card = InterfaceCardView::create();
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    card->addSubview(content);
    ViewConstraint::activate({
        content->leadingAnchor().constraintEqualTo(card->leadingAnchor(), Spacing::cardInset),
        content->trailingAnchor().constraintEqualTo(card->trailingAnchor(), -Spacing::cardInset),
        content->topAnchor().constraintEqualTo(card->topAnchor(), Spacing::cardInset),
        content->bottomAnchor().constraintEqualTo(card->bottomAnchor(), -Spacing::cardInset),
    });
    return card;
}

std::shared_ptr<View> group(const std::string& title, const std::vector<std::shared_ptr<View>>& views) {
    auto titleLabel = Label::labelWithString(title);
    titleLabel->setFont(Font::section());

    auto stack = StackView::create({titleLabel});
    for (const auto& view : views) stack->addArrangedSubview(view);
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::leading);
    stack->setSpacing(Spacing::content);
    auto card = cardAround(stack);

    ViewConstraints constraints;
    for (const auto& view : views) {
        if (std::dynamic_pointer_cast<Label>(view) || std::dynamic_pointer_cast<StackView>(view)) {
            constraints.push_back(view->widthAnchor().constraintEqualTo(stack->widthAnchor()));
        }
    }
    ViewConstraint::activate(constraints);
    return card;
}

void emphasize(Button& button, bool emphasized) {
    button.setBezelColor(emphasized ? std::optional<Color>(Color::controlAccentColor()) : std::nullopt);
}

std::shared_ptr<StackView> stack(LayoutAxis axis, StackView::Alignment alignment, double spacing,
                                 const std::vector<std::shared_ptr<View>>& views) {
    auto result = StackView::create(views);
    result->setOrientation(axis);
    result->setAlignment(alignment);
    result->setSpacing(spacing);
    result->setTranslatesAutoresizingMaskIntoConstraints(false);
    return result;
}

void statusIcon(ImageView& imageView, InterfaceIcon icon, const Color& color) {
    imageView.setImage(image(icon, InterfaceIconStyle::feedback, std::nullopt));
    imageView.setContentTintColor(color);
    imageView.setAccessibilityElement(false);
}

} // namespace tarpelix::InterfaceStyle
