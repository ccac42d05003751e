#include "ui/LinkRowButton.h"

#include "platform/appkit/Path.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"

#include <utility>

namespace tarpelix {

using namespace platform;

namespace {
constexpr double highlightAlpha = 0.1;
constexpr double titleSize = 13;

Path rowShape(const Rect& bounds) {
    return Path::roundedRect(bounds, LinkRowButton::cornerRadius, LinkRowButton::cornerRadius);
}
} // namespace

LinkRowButton::LinkRowButton(const std::string& title) : Button(Rect{}) {
    setTitle(title);
    setAccessibilityLabel(title);
    setBordered(false);
    setButtonType(ButtonType::momentaryChange);
    setRefusesFirstResponder(false);
    setFocusRingType(FocusRingType::exterior);
    setKeyEquivalent("");
}

std::shared_ptr<ImageView> LinkRowButton::leadingIcon(InterfaceIcon icon, InterfaceIconStyle style, double side) {
    auto view = ImageView::withImage(tarpelix::image(icon, style, std::nullopt));
    view->setContentTintColor(Color::controlAccentColor());
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    view->widthAnchor().constraintEqualToConstant(side)->setActive(true);
    view->heightAnchor().constraintEqualToConstant(side)->setActive(true);
    return view;
}

std::shared_ptr<Label> LinkRowButton::titleLabel(const std::string& title) {
    auto label = Label::labelWithString(title);
    label->setFont(Font::systemFont(titleSize, FontWeight::medium));
    return label;
}

void LinkRowButton::arrange(const std::shared_ptr<ImageView>& icon, const std::shared_ptr<Label>& title,
                            const std::shared_ptr<View>& trailing, double sideInset) {
    auto spacer = View::create();
    spacer->setContentHuggingPriority(1, LayoutAxis::horizontal);
    spacer->heightAnchor().constraintEqualToConstant(0)->setActive(true); // no height of its own to leave open
    for (View* part : {static_cast<View*>(icon.get()), static_cast<View*>(title.get()), trailing.get()}) {
        part->setAccessibilityElement(false);
    }
    auto row = StackView::create({icon, title, spacer, trailing});
    row->setOrientation(LayoutAxis::horizontal);
    row->setAlignment(StackView::Alignment::center);
    row->setSpacing(contentSpacing);
    row->setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(row);
    setTranslatesAutoresizingMaskIntoConstraints(false);
    pendingRow_ = row;
    sideInset_ = sideInset;
    activateRowConstraints();
}

void LinkRowButton::activateRowConstraints() {
    // Constraints refer to their views weakly, so they are made once this button is owned.
    if (!pendingRow_ || weak_from_this().expired()) return;
    const auto row = std::exchange(pendingRow_, nullptr);
    ViewConstraint::activate({
        row->leadingAnchor().constraintEqualTo(leadingAnchor(), sideInset_),
        row->trailingAnchor().constraintEqualTo(trailingAnchor(), -sideInset_),
        row->centerYAnchor().constraintEqualTo(centerYAnchor()),
        heightAnchor().constraintEqualToConstant(rowHeight),
    });
}

void LinkRowButton::viewDidMoveToSuperview() {
    Button::viewDidMoveToSuperview();
    activateRowConstraints();
}

void LinkRowButton::updateConstraints() {
    activateRowConstraints();
    Button::updateConstraints();
}

View* LinkRowButton::hitTest(Point pointInSuperview) { return Button::hitTest(pointInSuperview) ? this : nullptr; }

void LinkRowButton::draw(GraphicsContext& context, const Rect&) {
    if (!isHighlighted()) return;
    context.fill(rowShape(bounds()), Color::controlAccentColor().withAlphaComponent(highlightAlpha));
}

void LinkRowButton::drawFocusRingMask(GraphicsContext& context) const { context.drawFocusRingMask(rowShape(bounds())); }

} // namespace tarpelix
