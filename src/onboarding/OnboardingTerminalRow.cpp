#include "onboarding/OnboardingTerminalRow.h"

#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"
#include "ui/InterfaceIcon.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

namespace {
constexpr double iconSize = 32;
constexpr double minimumHeight = 72;
constexpr double cornerRadius = 12;
} // namespace

OnboardingTerminalRow::OnboardingTerminalRow() = default;

OnboardingTerminalRow::~OnboardingTerminalRow() {
    if (accessibilityObserver_) Workspace::notificationCenter().removeObserver(accessibilityObserver_);
}

std::shared_ptr<OnboardingTerminalRow> OnboardingTerminalRow::create(const OnboardingTerminalDiscovery::Terminal& terminal,
                                                                     std::optional<GraphicsImage> image) {
    auto row = std::make_shared<OnboardingTerminalRow>();
    row->build(terminal, std::move(image));
    std::weak_ptr<OnboardingTerminalRow> weak = row;
    row->accessibilityObserver_ = Workspace::notificationCenter().addObserver(
        WorkspaceNotificationName::accessibilityDisplayOptionsDidChange, nullptr, DispatchQueue::main(),
        [weak](const Notification&) {
            if (auto self = weak.lock()) self->setNeedsDisplay(true);
        });
    row->update(terminal.isRunning, false);
    return row;
}

void OnboardingTerminalRow::build(const OnboardingTerminalDiscovery::Terminal& terminal,
                                  std::optional<GraphicsImage> image) {
    setTranslatesAutoresizingMaskIntoConstraints(false);

    selectionButton_ = Button::radioButton("");
    selectionButton_->setIdentifier(terminal.id);
    selectionButton_->setAccessibilityLabel("Choose " + terminal.name);

    openButton_ = Button::withTitle("Open");
    openButton_->setIdentifier(terminal.id);
    openButton_->setAccessibilityLabel("Open " + terminal.name);
    openButton_->setBezelStyle(BezelStyle::rounded);
    openButton_->setContentHuggingPriority(LayoutPriority::required, LayoutAxis::horizontal);
    openButton_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::horizontal);

    if (!image) image = tarpelix::image(InterfaceIcon::terminal, InterfaceIconStyle::application, std::nullopt);
    if (!image) image = GraphicsImage::drawing({iconSize, iconSize}, [](GraphicsContext&, const Rect&, const Color&) {}, false);
    iconView_ = ImageView::withImage(image);
    iconView_->setImageScaling(ImageScaling::scaleProportionallyUpOrDown);
    iconView_->setAccessibilityElement(false);

    titleLabel_ = Label::labelWithString(terminal.name);
    titleLabel_->setFont(Font::systemFont(13, FontWeight::medium));
    titleLabel_->setAccessibilityElement(false);
    statusLabel_ = Label::labelWithString("");
    statusLabel_->setFont(InterfaceStyle::Font::caption());
    statusLabel_->setTextColor(Color::secondaryLabelColor());
    auto text = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, InterfaceStyle::Spacing::tight,
                                      {titleLabel_, statusLabel_});

    for (const auto& view : std::vector<std::shared_ptr<View>>{selectionButton_, iconView_, openButton_}) {
        view->setTranslatesAutoresizingMaskIntoConstraints(false);
        addSubview(view);
    }
    addSubview(text);

    ViewConstraint::activate({
        selectionButton_->leadingAnchor().constraintEqualTo(leadingAnchor(), InterfaceStyle::Spacing::cardInset),
        selectionButton_->centerYAnchor().constraintEqualTo(centerYAnchor()),
        iconView_->leadingAnchor().constraintEqualTo(selectionButton_->trailingAnchor(), InterfaceStyle::Spacing::content),
        iconView_->centerYAnchor().constraintEqualTo(centerYAnchor()),
        iconView_->widthAnchor().constraintEqualToConstant(iconSize),
        iconView_->heightAnchor().constraintEqualToConstant(iconSize),
        text->leadingAnchor().constraintEqualTo(iconView_->trailingAnchor(), InterfaceStyle::Spacing::content),
        text->centerYAnchor().constraintEqualTo(centerYAnchor()),
        text->topAnchor().constraintGreaterThanOrEqualTo(topAnchor(), InterfaceStyle::Spacing::group),
        bottomAnchor().constraintGreaterThanOrEqualTo(text->bottomAnchor(), InterfaceStyle::Spacing::group),
        openButton_->leadingAnchor().constraintGreaterThanOrEqualTo(text->trailingAnchor(), InterfaceStyle::Spacing::group),
        openButton_->trailingAnchor().constraintEqualTo(trailingAnchor(), -InterfaceStyle::Spacing::cardInset),
        openButton_->centerYAnchor().constraintEqualTo(centerYAnchor()),
        heightAnchor().constraintGreaterThanOrEqualToConstant(minimumHeight),
    });
    auto compact = heightAnchor().constraintEqualToConstant(minimumHeight); // as low as its content allows
    compact->setPriority(LayoutPriority::defaultLow);
    compact->setActive(true);
}

void OnboardingTerminalRow::update(bool isRunning, bool selected) {
    const std::string status = isRunning ? "Running" : "Installed";
    if (statusLabel_->stringValue() != status) statusLabel_->setStringValue(status);
    selectionButton_->setAccessibilityHelp(status);
    const auto state = selected ? ControlStateValue::on : ControlStateValue::off;
    if (selectionButton_->state() != state) selectionButton_->setState(state);
    if (isSelected_ == selected) return;
    isSelected_ = selected;
    setNeedsDisplay(true);
}

View* OnboardingTerminalRow::hitTest(Point pointInSuperview) {
    View* hit = View::hitTest(pointInSuperview);
    if (!hit) return nullptr;
    if (hit->isDescendantOf(openButton_.get()) || hit->isDescendantOf(selectionButton_.get())) return hit;
    return this;
}

void OnboardingTerminalRow::mouseDown(const MouseEvent&) {
    if (auto* w = window()) w->makeFirstResponder(selectionButton_.get());
    selectionButton_->performClick();
}

bool OnboardingTerminalRow::acceptsFirstMouse(const MouseEvent& event) const {
    return selectionButton_->acceptsFirstMouse(event);
}

void OnboardingTerminalRow::viewDidChangeEffectiveAppearance() {
    View::viewDidChangeEffectiveAppearance();
    setNeedsDisplay(true);
}

void OnboardingTerminalRow::draw(GraphicsContext& context, const Rect&) {
    const Path outline = Path::roundedRect(bounds().insetBy(0.5, 0.5), cornerRadius, cornerRadius);
    context.fill(outline, Color::controlBackgroundColor());
    context.setLineWidth(1);
    if (isSelected_) {
        context.fill(outline, Color::controlAccentColor().withAlphaComponent(0.07));
        context.stroke(outline, Color::controlAccentColor());
    } else {
        const double alpha = Workspace::accessibilityDisplayShouldIncreaseContrast() ? 1.0 : 0.35;
        context.stroke(outline, Color::separatorColor().withAlphaComponent(alpha));
    }
}

} // namespace tarpelix
