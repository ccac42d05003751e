#include "settings/HelpTopicButton.h"

#include "platform/appkit/ViewConstraint.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

namespace {
constexpr double iconSide = 24;
constexpr double chevronSide = 12;
} // namespace

std::shared_ptr<HelpTopicButton> HelpTopicButton::create(const std::string& title, InterfaceIcon icon) {
    auto button = std::make_shared<HelpTopicButton>(title);
    button->build(title, icon);
    return button;
}

HelpTopicButton::HelpTopicButton(const std::string& title) : LinkRowButton(title) {}

void HelpTopicButton::build(const std::string& title, InterfaceIcon icon) {
    chevron_ = std::make_shared<ImageView>();
    chevron_->setContentTintColor(Color::secondaryLabelColor());
    chevron_->setTranslatesAutoresizingMaskIntoConstraints(false);
    ViewConstraint::activate({
        chevron_->widthAnchor().constraintEqualToConstant(chevronSide),
        chevron_->heightAnchor().constraintEqualToConstant(chevronSide),
    });
    titleLabel_ = LinkRowButton::titleLabel(title);
    arrange(leadingIcon(icon, InterfaceIconStyle::card, iconSide), titleLabel_, chevron_,
            InterfaceStyle::Spacing::cardInset);
    setExpanded(false);
}

void HelpTopicButton::setExpanded(bool expanded) {
    chevron_->setImage(
        tarpelix::image(expanded ? InterfaceIcon::disclosureExpanded : InterfaceIcon::disclosureCollapsed,
                        InterfaceIconStyle::disclosure, std::nullopt));
    setAccessibilityExpanded(expanded);
}

} // namespace tarpelix
