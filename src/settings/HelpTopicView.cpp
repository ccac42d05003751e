#include "settings/HelpTopicView.h"

#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

namespace {

constexpr double textIndent = 56; // under the header's title
constexpr double lineSpacing = 3;

// The body with each paragraph break (an empty line) made a single line feed: paragraphs are
// set apart by paragraph spacing instead.
std::string singleLineBreaks(const std::string& body) {
    std::string text;
    text.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\n' && i + 1 < body.size() && body[i + 1] == '\n') continue;
        text += body[i];
    }
    return text;
}

} // namespace

std::shared_ptr<HelpTopicView> HelpTopicView::create(OfflineHelp::Section section, Navigate navigate) {
    requireMainThread("HelpTopicView");
    auto topic = std::make_shared<HelpTopicView>(Token{}, std::move(section), std::move(navigate));
    topic->build();
    std::weak_ptr<HelpTopicView> weak = topic;
    topic->disclosureButton_->setAction("toggle", [weak](Control&) {
        if (auto self = weak.lock()) self->toggle();
    });
    if (topic->navigationButton_) {
        topic->navigationButton_->setAction("openDestination", [weak](Control&) {
            if (auto self = weak.lock()) self->openDestination();
        });
    }
    return topic;
}

HelpTopicView::HelpTopicView(Token, OfflineHelp::Section section, Navigate navigate)
    : section_(std::move(section)), navigate_(std::move(navigate)) {}

void HelpTopicView::build() {
    disclosureButton_ = HelpTopicButton::create(section_.title, section_.icon);

    bodyLabel_ = InterfaceStyle::label(singleLineBreaks(section_.body), false, section_.code);
    AttributedString text = bodyLabel_->attributedStringValue();
    ParagraphStyle spaced;
    spaced.lineSpacing = lineSpacing;
    spaced.paragraphSpacing = InterfaceStyle::Spacing::content;
    text.setParagraphStyle(spaced, {0, text.length()});
    bodyLabel_->setAttributedStringValue(std::move(text));
    bodyLabel_->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);

    auto content = StackView::create({bodyLabel_});
    content->setOrientation(LayoutAxis::vertical);
    content->setAlignment(StackView::Alignment::leading);
    content->setSpacing(InterfaceStyle::Spacing::content);
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    if (section_.destination) {
        navigationButton_ = Button::withTitle(OfflineHelp::title(*section_.destination));
        navigationButton_->setBezelStyle(BezelStyle::rounded);
        content->addArrangedSubview(navigationButton_);
    }

    detail_ = View::create();
    detail_->setTranslatesAutoresizingMaskIntoConstraints(false);
    detail_->addSubview(content);
    detail_->setHidden(true);

    auto stack = StackView::create({disclosureButton_, detail_});
    stack->setOrientation(LayoutAxis::vertical);
    stack->setSpacing(0);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(stack);

    ViewConstraint::activate({
        bodyLabel_->widthAnchor().constraintEqualTo(content->widthAnchor()),
        content->leadingAnchor().constraintEqualTo(detail_->leadingAnchor(), textIndent),
        content->trailingAnchor().constraintEqualTo(detail_->trailingAnchor(),
                                                    -InterfaceStyle::Spacing::cardInset),
        content->topAnchor().constraintEqualTo(detail_->topAnchor()),
        content->bottomAnchor().constraintEqualTo(detail_->bottomAnchor(),
                                                  -InterfaceStyle::Spacing::cardInset),
        disclosureButton_->widthAnchor().constraintEqualTo(stack->widthAnchor()),
        detail_->widthAnchor().constraintEqualTo(stack->widthAnchor()),
        stack->leadingAnchor().constraintEqualTo(leadingAnchor()),
        stack->trailingAnchor().constraintEqualTo(trailingAnchor()),
        stack->topAnchor().constraintEqualTo(topAnchor()),
        stack->bottomAnchor().constraintEqualTo(bottomAnchor()),
    });
}

void HelpTopicView::toggle() {
    detail_->setHidden(!detail_->isHidden());
    disclosureButton_->setExpanded(isExpanded());
    // The window's Tab order follows the views shown, so the destination button joins it
    // with the next Tab; lay out now so the scroller matches the new height at once.
    if (Window* shown = window()) shown->layoutIfNeeded();
    if (ScrollView* scroll = enclosingScrollView(*this))
        scroll->reflectScrolledClipView(scroll->contentView());
    setNeedsDisplay(true);
    disclosureButton_->postAccessibilityNotification("AXLayoutChanged");
}

void HelpTopicView::openDestination() {
    if (section_.destination && navigate_) navigate_(*section_.destination);
}

} // namespace tarpelix
