#include "settings/PermissionActionRow.h"

#include "platform/foundation/MainThread.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

namespace {

constexpr double iconSide = 24;
constexpr double statusIconSide = 14;
constexpr double buttonGap = 16;
constexpr double titleSize = 13;

std::shared_ptr<Label> captionLabel(const std::string& text) {
    auto label = InterfaceStyle::label(text, true);
    label->setFont(InterfaceStyle::Font::caption());
    return label;
}

} // namespace

std::shared_ptr<PermissionActionRow> PermissionActionRow::create(const std::optional<std::string>& title,
                                                                 std::optional<InterfaceIcon> icon,
                                                                 const std::optional<std::string>& detail) {
    requireMainThread("PermissionActionRow");
    auto row = std::make_shared<PermissionActionRow>(Token{}, title);
    row->build(title, icon, detail);
    std::weak_ptr<PermissionActionRow> weak = row;
    row->button_->setAction("activate", [weak](Control&) {
        if (auto self = weak.lock()) self->activate();
    });
    return row;
}

PermissionActionRow::PermissionActionRow(Token, const std::optional<std::string>& title)
    : accessibilityTitle(title) {}

void PermissionActionRow::build(const std::optional<std::string>& title, std::optional<InterfaceIcon> icon,
                                const std::optional<std::string>& detail) {
    status_ = Label::wrappingLabelWithString("Checking\u2026");
    status_->setFont(InterfaceStyle::Font::caption());
    status_->setTextColor(Color::secondaryLabelColor());
    status_->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);
    status_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);

    statusIcon_ = std::make_shared<ImageView>();
    statusIcon_->setAccessibilityElement(false);
    statusIcon_->setTranslatesAutoresizingMaskIntoConstraints(false);

    button_ = Button::withTitle("Request Access\u2026");
    button_->setBezelStyle(BezelStyle::rounded);
    button_->setTranslatesAutoresizingMaskIntoConstraints(false);
    button_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::horizontal);
    button_->setContentHuggingPriority(LayoutPriority::required, LayoutAxis::horizontal);
    button_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);

    detail_ = captionLabel(detail.value_or(""));
    detail_->setHidden(!detail);
    message_ = captionLabel("");
    message_->setHidden(true);
    titleLabel_ = Label::labelWithString(title.value_or(""));
    titleLabel_->setFont(Font::systemFont(titleSize, FontWeight::medium));
    titleLabel_->setHidden(!title);
    titleLabel_->setContentHuggingPriority(LayoutPriority::required, LayoutAxis::vertical);

    statusLine_ = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, InterfaceStyle::Spacing::tight,
                        {statusIcon_, status_});
    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, InterfaceStyle::Spacing::tight,
                        {titleLabel_, detail_, statusLine_, message_});

    addSubview(column);
    addSubview(button_);
    ViewConstraints constraints = {
        statusIcon_->widthAnchor().constraintEqualToConstant(statusIconSide),
        statusIcon_->heightAnchor().constraintEqualToConstant(statusIconSide),
        detail_->widthAnchor().constraintEqualTo(column->widthAnchor()),
        message_->widthAnchor().constraintEqualTo(column->widthAnchor()),
        statusLine_->widthAnchor().constraintLessThanOrEqualTo(column->widthAnchor()),
        column->topAnchor().constraintGreaterThanOrEqualTo(topAnchor()),
        column->bottomAnchor().constraintEqualTo(bottomAnchor()),
        // The button, centred on a shorter line, stays inside the row: the column moves down.
        button_->topAnchor().constraintGreaterThanOrEqualTo(topAnchor()),
        button_->bottomAnchor().constraintLessThanOrEqualTo(bottomAnchor()),
        column->trailingAnchor().constraintEqualTo(button_->leadingAnchor(), -buttonGap),
        button_->trailingAnchor().constraintEqualTo(trailingAnchor()),
    };
    if (icon) {
        icon_ = ImageView::withImage(image(*icon, InterfaceIconStyle::card, std::nullopt));
        icon_->setContentTintColor(Color::controlAccentColor());
        icon_->setAccessibilityElement(false);
        icon_->setTranslatesAutoresizingMaskIntoConstraints(false);
        addSubview(icon_);
        constraints.push_back(icon_->widthAnchor().constraintEqualToConstant(iconSide));
        constraints.push_back(icon_->heightAnchor().constraintEqualToConstant(iconSide));
        constraints.push_back(icon_->leadingAnchor().constraintEqualTo(leadingAnchor()));
        constraints.push_back(column->leadingAnchor().constraintEqualTo(icon_->trailingAnchor(),
                                                                        InterfaceStyle::Spacing::content));
    } else {
        constraints.push_back(column->leadingAnchor().constraintEqualTo(leadingAnchor()));
    }
    auto flush = column->topAnchor().constraintEqualTo(topAnchor());
    flush->setPriority(LayoutPriority::required - 1);
    constraints.push_back(flush);
    // The wrapping status has no width of its own: it takes what the column leaves.
    auto statusWidth = statusLine_->widthAnchor().constraintEqualTo(column->widthAnchor());
    statusWidth->setPriority(1);
    constraints.push_back(statusWidth);
    ViewConstraint::activate(constraints);
    if (title) {
        centreOn(*titleLabel_);
    } else {
        centreOn(*statusLine_);
    }
}

void PermissionActionRow::centreOn(View& view) {
    ViewConstraint::deactivate(centring_);
    centring_ = {button_->centerYAnchor().constraintEqualTo(view.centerYAnchor())};
    if (icon_) centring_.push_back(icon_->centerYAnchor().constraintEqualTo(view.centerYAnchor()));
    ViewConstraint::activate(centring_);
}

void PermissionActionRow::apply(const std::string& status, bool allowed, const std::string& action, bool busy,
                                bool enabled, const std::optional<std::string>& message, bool optional,
                                bool showsAction) {
    status_->setStringValue(status);
    status_->setTextColor(Color::secondaryLabelColor());

    const InterfaceIcon icon = allowed    ? InterfaceIcon::success
                               : optional ? InterfaceIcon::information
                                          : InterfaceIcon::attention;
    statusIcon_->setImage(image(icon, InterfaceIconStyle::inline_, std::nullopt));
    statusIcon_->setContentTintColor(allowed    ? Color::systemGreen()
                                     : optional ? Color::secondaryLabelColor()
                                                : Color::systemOrange());

    button_->setTitle(busy ? "Checking\u2026" : action);
    updateButtonLabel();
    button_->setEnabled(enabled && !busy);
    button_->setHidden(!showsAction);

    message_->setStringValue(message.value_or(""));
    message_->setHidden(!message || message->empty());
}

void PermissionActionRow::setTitle(const std::string& title) {
    titleLabel_->setStringValue(title);
    titleLabel_->setHidden(false);
    accessibilityTitle = title;
    centreOn(*titleLabel_);
    updateButtonLabel();
}

void PermissionActionRow::activate() {
    if (button_->isEnabled() && performAction) performAction();
}

void PermissionActionRow::updateButtonLabel() {
    if (accessibilityTitle) button_->setAccessibilityLabel(button_->title() + " for " + *accessibilityTitle);
}

} // namespace tarpelix
