#include "platform/appkit/Alert.h"

#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix::platform {

namespace {

constexpr double margin = 20;
constexpr double bottomMargin = 16;
constexpr double iconSize = 48;
constexpr double buttonSpacing = 8;

std::shared_ptr<Label> alertText(const std::string& text, const Font& font) {
    auto label = Label::wrappingLabelWithString(text);
    label->setFont(font);
    label->setAlignment(TextAlignment::center);
    label->setPreferredMaxLayoutWidth(Alert::width - 2 * margin);
    return label;
}

} // namespace

std::shared_ptr<Alert> Alert::create() { return std::shared_ptr<Alert>(new Alert()); }

Alert::Alert() { requireMainThread("Alert"); }

Alert::~Alert() = default;

Button& Alert::addButtonWithTitle(std::string title) {
    const auto index = buttons_.size();
    const ModalResponse response = ModalResponses::alertFirstButtonReturn + ModalResponse(index);
    std::weak_ptr<Alert> weak = weak_from_this();
    auto button = Button::withTitle(title, "alertButton", [weak, response](Control&) {
        if (auto alert = weak.lock(); alert && alert->panel_) alert->panel_->finish(response);
    });
    if (index == 0) {
        button->setKeyEquivalent("\r");
    } else if (title == "Cancel") {
        button->setKeyEquivalent("\x1b");
    }
    buttons_.push_back(button);
    return *button;
}

std::vector<Button*> Alert::buttons() const {
    std::vector<Button*> list;
    for (const auto& button : buttons_) list.push_back(button.get());
    return list;
}

SheetPanel& Alert::window() {
    // Built again for what was set since, unless it is up.
    if (!panel_ || !panel_->isPresented()) build();
    return *panel_;
}

void Alert::build() {
    // An alert without buttons gets "OK", as the platform does.
    if (buttons_.empty()) addButtonWithTitle("OK");
    panel_ = std::make_shared<SheetPanel>(Rect{0, 0, width, 100});

    std::optional<GraphicsImage> image = icon_;
    std::optional<Color> tint;
    if (!image && style_ == AlertStyle::critical) {
        image = GraphicsImage::systemSymbol("exclamationmark.triangle");
        tint = Color::systemYellow();
    }
    if (!image) image = GraphicsImage::applicationIcon();
    auto icon = ImageView::withImage(image);
    icon->setImageScaling(ImageScaling::scaleProportionallyUpOrDown);
    icon->setContentTintColor(tint);
    icon->setIdentifier("alert.icon");

    auto stack = StackView::create();
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::center);
    stack->setEdgeInsets({margin, margin, bottomMargin, margin});
    stack->addArrangedSubview(icon);
    double height = margin + iconSize + bottomMargin;
    auto addText = [&](const std::string& text, const Font& font, double spacing) {
        if (text.empty()) return;
        auto label = alertText(text, font);
        stack->setCustomSpacing(spacing, stack->arrangedSubviews().back().get());
        stack->addArrangedSubview(label);
        height += spacing + label->intrinsicContentSize().height;
    };
    addText(messageText_, Font::boldSystemFont(13), 12);
    addText(informativeText_, Font::systemFont(11), 6);

    // Two buttons side by side (the first, default, on the right); more in a column, first on top.
    const bool row = buttons_.size() <= 2;
    auto buttonStack = StackView::create();
    buttonStack->setOrientation(row ? LayoutAxis::horizontal : LayoutAxis::vertical);
    buttonStack->setDistribution(StackView::Distribution::fillEqually);
    buttonStack->setSpacing(buttonSpacing);
    double buttonsHeight = 0;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const auto& button = row ? buttons_[buttons_.size() - 1 - i] : buttons_[i];
        buttonStack->addArrangedSubview(button);
        const double h = button->intrinsicContentSize().height;
        buttonsHeight = row ? std::max(buttonsHeight, h) : buttonsHeight + h + (i > 0 ? buttonSpacing : 0);
    }
    stack->setCustomSpacing(16, stack->arrangedSubviews().back().get());
    stack->addArrangedSubview(buttonStack);
    height += 16 + buttonsHeight;

    View& content = *panel_->contentView();
    content.addSubview(stack);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    ViewConstraint::activate({
        stack->topAnchor().constraintEqualTo(content.topAnchor()),
        stack->bottomAnchor().constraintEqualTo(content.bottomAnchor()),
        stack->leadingAnchor().constraintEqualTo(content.leadingAnchor()),
        stack->trailingAnchor().constraintEqualTo(content.trailingAnchor()),
        icon->widthAnchor().constraintEqualToConstant(iconSize),
        icon->heightAnchor().constraintEqualToConstant(iconSize),
        buttonStack->widthAnchor().constraintEqualTo(stack->widthAnchor(), 1, -2 * margin),
    });
    panel_->setContentSize({width, height});
    SheetContents description;
    description.messageText = messageText_;
    description.informativeText = informativeText_;
    panel_->setContents(std::move(description), buttons());
}

void Alert::beginSheetModal(Window& window, std::function<void(ModalResponse)> completion) {
    this->window().present(window, std::move(completion), shared_from_this());
}

ModalResponse Alert::runModal() {
    return window().runModalSession(messageText_.empty() ? "untitled" : "\"" + messageText_ + "\"");
}

} // namespace tarpelix::platform
