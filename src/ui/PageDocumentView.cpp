#include "ui/PageDocumentView.h"

#include "platform/appkit/Label.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

void PageDocumentView::fitToVisibleSize(Size visible) { setFrameSize({visible.width, contentHeight(visible.height)}); }

void PageDocumentView::layout() {
    const double height = contentHeight(frame().height());
    if (height == frame().height()) return;
    setFrameSize({frame().width(), height});
    if (auto* scroll = enclosingScrollView(*this)) scroll->reflectScrolledClipView(scroll->contentView());
}

double PageDocumentView::contentHeight(double fallback) const {
    if (subviews().empty()) return fallback;
    return subviews().front()->frame().height() + topInset_ + bottomInset_;
}

CardPageDocumentView::CardPageDocumentView()
    : PageDocumentView(InterfaceStyle::Spacing::pageInset, InterfaceStyle::Spacing::pageInset) {}

void CardPageDocumentView::fill(const std::string& title, const std::optional<std::string>& subtitle,
                                const std::vector<std::shared_ptr<View>>& cards) {
    ViewConstraints constraints;
    auto heading = Label::labelWithString(title);
    heading->setFont(InterfaceStyle::Font::title());
    auto header = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                        InterfaceStyle::Spacing::related, {heading});
    if (subtitle) {
        auto line = InterfaceStyle::label(*subtitle, true);
        header->addArrangedSubview(line);
        constraints.push_back(line->widthAnchor().constraintEqualTo(header->widthAnchor()));
    }
    auto stack = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                       InterfaceStyle::Spacing::group, {header});
    for (const auto& card : cards) stack->addArrangedSubview(card);
    stack->setCustomSpacing(InterfaceStyle::Spacing::pageInset, header.get());
    addSubview(stack);
    const double inset = InterfaceStyle::Spacing::pageInset;
    constraints.push_back(stack->leadingAnchor().constraintEqualTo(leadingAnchor(), inset));
    constraints.push_back(stack->trailingAnchor().constraintEqualTo(trailingAnchor(), -inset));
    constraints.push_back(stack->topAnchor().constraintEqualTo(topAnchor(), inset));
    for (const auto& element : stack->arrangedSubviews())
        constraints.push_back(element->widthAnchor().constraintEqualTo(stack->widthAnchor()));
    ViewConstraint::activate(constraints);
}

} // namespace tarpelix
