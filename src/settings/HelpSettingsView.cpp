#include "settings/HelpSettingsView.h"

#include "platform/appkit/Box.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceStyle.h"
#include "ui/PasteShortcutView.h"

namespace tarpelix {

using namespace platform;

namespace {

constexpr double iconSide = 24;
constexpr double separatorIndent = 56; // where the topics' titles start

void pin(ViewConstraints& constraints, View& inner, View& outer) {
    constraints.push_back(inner.leadingAnchor().constraintEqualTo(outer.leadingAnchor()));
    constraints.push_back(inner.trailingAnchor().constraintEqualTo(outer.trailingAnchor()));
    constraints.push_back(inner.topAnchor().constraintEqualTo(outer.topAnchor()));
    constraints.push_back(inner.bottomAnchor().constraintEqualTo(outer.bottomAnchor()));
}

void sameWidth(ViewConstraints& constraints, const std::vector<std::shared_ptr<View>>& views,
               StackView& stack) {
    for (const auto& view : views)
        constraints.push_back(view->widthAnchor().constraintEqualTo(stack.widthAnchor()));
}

std::shared_ptr<View> pasteCard() {
    auto card = InterfaceCardView::create();
    card->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto icon = ImageView::withImage(image(InterfaceIcon::image, InterfaceIconStyle::card, std::nullopt));
    icon->setContentTintColor(Color::controlAccentColor());
    icon->setAccessibilityElement(false);
    icon->setTranslatesAutoresizingMaskIntoConstraints(false);

    auto title = Label::labelWithString("Paste an image");
    title->setFont(InterfaceStyle::Font::section());
    auto spacer = View::create();
    spacer->setContentHuggingPriority(1, LayoutAxis::horizontal);
    spacer->heightAnchor().constraintEqualToConstant(0)->setActive(true);
    auto shortcut = PasteShortcutView::create();
    shortcut->setContentHuggingPriority(LayoutPriority::required, LayoutAxis::horizontal);
    auto header = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center,
                                        InterfaceStyle::Spacing::content, {title, spacer, shortcut});

    auto guide = InterfaceStyle::label(OfflineHelp::pasteGuide);
    auto detail = InterfaceStyle::label(OfflineHelp::pasteDetail, true);
    detail->setFont(InterfaceStyle::Font::caption());
    const std::vector<std::shared_ptr<View>> rows = {header, guide, detail};
    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                        InterfaceStyle::Spacing::related, rows);

    card->addSubview(icon);
    card->addSubview(column);
    ViewConstraints constraints = {
        icon->widthAnchor().constraintEqualToConstant(iconSide),
        icon->heightAnchor().constraintEqualToConstant(iconSide),
        icon->leadingAnchor().constraintEqualTo(card->leadingAnchor(), InterfaceStyle::Spacing::cardInset),
        icon->centerYAnchor().constraintEqualTo(title->centerYAnchor()),
        column->leadingAnchor().constraintEqualTo(icon->trailingAnchor(), InterfaceStyle::Spacing::content),
        column->topAnchor().constraintEqualTo(card->topAnchor(), InterfaceStyle::Spacing::cardInset),
        column->trailingAnchor().constraintEqualTo(card->trailingAnchor(),
                                                   -InterfaceStyle::Spacing::cardInset),
        column->bottomAnchor().constraintEqualTo(card->bottomAnchor(), -InterfaceStyle::Spacing::cardInset),
    };
    sameWidth(constraints, rows, *column);
    ViewConstraint::activate(constraints);
    return card;
}

// The 1-point row between two topics: a line under the titles, not under the icons.
std::shared_ptr<View> separatorRow() {
    auto row = View::create();
    row->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto line = Box::separator();
    line->setTranslatesAutoresizingMaskIntoConstraints(false);
    row->addSubview(line);
    ViewConstraint::activate({
        row->heightAnchor().constraintEqualToConstant(1),
        line->leadingAnchor().constraintEqualTo(row->leadingAnchor(), separatorIndent),
        line->trailingAnchor().constraintEqualTo(row->trailingAnchor(), -InterfaceStyle::Spacing::cardInset),
        line->centerYAnchor().constraintEqualTo(row->centerYAnchor()),
        line->heightAnchor().constraintEqualToConstant(1),
    });
    return row;
}

} // namespace

std::shared_ptr<HelpSettingsView> HelpSettingsView::create(const HelpTopicView::Navigate& navigate) {
    requireMainThread("HelpSettingsView");
    auto page = std::make_shared<HelpSettingsView>(Token{});
    page->build(navigate);
    return page;
}

HelpSettingsView::HelpSettingsView(Token) {}

void HelpSettingsView::build(const HelpTopicView::Navigate& navigate) {
    setWantsLayer(true);
    std::vector<std::shared_ptr<View>> rows;
    for (const auto& section : OfflineHelp::sections()) {
        if (!rows.empty()) rows.push_back(separatorRow());
        auto topic = HelpTopicView::create(section, navigate);
        topic->setTranslatesAutoresizingMaskIntoConstraints(false);
        topics_.push_back(topic);
        rows.push_back(topic);
    }
    auto topicsCard = InterfaceCardView::create();
    topicsCard->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto topicStack = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 0, rows);
    topicsCard->addSubview(topicStack);

    auto paste = pasteCard();
    const std::vector<std::shared_ptr<View>> cards = {paste, topicsCard};
    auto page = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                      InterfaceStyle::Spacing::group, cards);
    addSubview(page);

    ViewConstraints constraints;
    pin(constraints, *topicStack, *topicsCard);
    pin(constraints, *page, *this);
    sameWidth(constraints, rows, *topicStack);
    sameWidth(constraints, cards, *page);
    ViewConstraint::activate(constraints);
}

std::vector<Button*> HelpSettingsView::navigationButtons() const {
    std::vector<Button*> buttons;
    for (const auto& topic : topics_) {
        if (Button* button = topic->navigationButton()) buttons.push_back(button);
    }
    return buttons;
}

} // namespace tarpelix
