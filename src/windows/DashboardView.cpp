#include "windows/DashboardView.h"

#include "platform/appkit/Box.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Formatters.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceStyle.h"
#include "windows/DashboardLinks.h"

#include <string_view>
#include <utility>
#include <vector>

namespace tarpelix {

using namespace platform;

namespace {

constexpr const char* dash = "\u2014";
constexpr const char* unavailable = "Stats unavailable";
constexpr double heroMinimumHeight = 156;

// The hero card's background: a faint accent gradient in a rounded outline. Redraws when its
// appearance or the accessibility display options change.
class DashboardHeroView final : public View {
public:
    static constexpr double cornerRadius = 12;

    static std::shared_ptr<DashboardHeroView> create() {
        auto view = std::make_shared<DashboardHeroView>();
        std::weak_ptr<DashboardHeroView> weak = view;
        view->observer_ = Workspace::notificationCenter().addObserver(
            WorkspaceNotificationName::accessibilityDisplayOptionsDidChange, nullptr, DispatchQueue::main(),
            [weak](const Notification&) {
                if (auto hero = weak.lock()) hero->setNeedsDisplay(true);
            });
        return view;
    }
    ~DashboardHeroView() override { Workspace::notificationCenter().removeObserver(observer_); }

    // The accent moved a quarter of the way towards the label colour, for each appearance.
    static const Color& valueColor() {
        static const Color color = Color::dynamic("", [](const DrawingAppearance&) {
            return Color::controlAccentColor().blended(0.25, Color::labelColor()).value_or(Color::labelColor());
        });
        return color;
    }

    void viewDidChangeEffectiveAppearance() override {
        View::viewDidChangeEffectiveAppearance();
        setNeedsDisplay(true);
    }

    void draw(GraphicsContext& context, const Rect&) override {
        const Color background = Color::controlBackgroundColor();
        const auto tinted = [&](double fraction) {
            return background.blended(fraction, Color::controlAccentColor()).value_or(background);
        };
        const Path outline = Path::roundedRect(bounds().insetBy(0.5, 0.5), cornerRadius, cornerRadius);
        context.drawLinearGradient(outline, {{0, tinted(0.12)}, {1, tinted(0.025)}}, -15);
        context.setLineWidth(1);
        context.stroke(outline, Workspace::accessibilityDisplayShouldIncreaseContrast()
                                    ? Color::labelColor()
                                    : Color::controlAccentColor().withAlphaComponent(0.2));
    }

private:
    NotificationObserver observer_;
};

struct DurationComponent {
    std::string value;
    std::string unit;
};

std::string counted(std::int64_t count, const char* singular, const char* plural) {
    return count == 1 ? singular : plural;
}

// Hours (grouped in the locale) with minutes, or minutes alone, or seconds alone; leftover
// seconds beside minutes or hours are dropped.
std::vector<DurationComponent> durationComponents(std::int64_t seconds, const std::string& locale) {
    if (seconds < 60) return {{std::to_string(seconds), counted(seconds, "second", "seconds")}};
    if (seconds < 3600) {
        const std::int64_t minutes = seconds / 60;
        return {{std::to_string(minutes), counted(minutes, "minute", "minutes")}};
    }
    const std::int64_t hours = seconds / 3600;
    std::vector<DurationComponent> components{
        {Formatters::groupedInteger(hours, locale), counted(hours, "hour", "hours")}};
    const std::int64_t minutes = seconds % 3600 / 60;
    if (minutes > 0) components.push_back({std::to_string(minutes), counted(minutes, "minute", "minutes")});
    return components;
}

std::string joined(const std::vector<DurationComponent>& components) {
    std::string text;
    for (const auto& component : components) {
        if (!text.empty()) text += ", ";
        text += component.value + " " + component.unit;
    }
    return text;
}

Font valueFont() { return Font::monospacedDigitSystemFont(40, FontWeight::semibold); }

AttributedString durationString(const std::vector<DurationComponent>& components) {
    const TextAttributes unit{.font = Font::systemFont(22, FontWeight::medium),
                              .foregroundColor = Color::secondaryLabelColor()};
    const TextAttributes value{.font = valueFont(), .foregroundColor = DashboardHeroView::valueColor()};
    AttributedString text;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) text.append(AttributedString(", ", unit));
        text.append(AttributedString(components[i].value, value));
        text.append(AttributedString(" " + components[i].unit, unit));
    }
    ParagraphStyle style;
    style.alignment = TextAlignment::left;
    style.lineSpacing = 4;
    style.lineBreakStrategy = LineBreakStrategy::pushOut;
    text.setParagraphStyle(style, {0, text.length()});
    return text;
}

// Every character outside the unreserved set percent-encoded, so that form decoding gives the
// text back exactly ("+" stays a plus, not a blank).
std::string formEncoded(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            encoded += char(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0xF];
        }
    }
    return encoded;
}

void sameWidth(ViewConstraints& constraints, View& view, View& as) {
    constraints.push_back(view.widthAnchor().constraintEqualTo(as.widthAnchor()));
}

// The constraint at a priority below required.
std::shared_ptr<ViewConstraint> withPriority(std::shared_ptr<ViewConstraint> constraint, double priority) {
    constraint->setPriority(priority);
    return constraint;
}

std::shared_ptr<Label> heroLabel(std::shared_ptr<Label> label, Font font, Color color) {
    label->setFont(std::move(font));
    label->setTextColor(std::move(color));
    label->setAlignment(TextAlignment::left);
    label->setSelectable(true);
    label->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);
    return label;
}

// One metric card: the icon and title at the top, the value near the bottom, clipped when it
// is wider than the card.
std::shared_ptr<View> metric(const std::string& title, InterfaceIcon icon, const std::shared_ptr<Label>& value,
                             ViewConstraints& constraints) {
    auto card = InterfaceCardView::create();
    card->setTranslatesAutoresizingMaskIntoConstraints(false);

    auto iconView = ImageView::withImage(image(icon, InterfaceIconStyle::inline_, std::nullopt));
    iconView->setContentTintColor(Color::controlAccentColor());
    iconView->setAccessibilityElement(false);
    iconView->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto titleLabel = Label::wrappingLabelWithString(title);
    titleLabel->setFont(Font::systemFont(12, FontWeight::medium));
    titleLabel->setTextColor(Color::secondaryLabelColor());
    titleLabel->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);
    auto header = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, 6, {iconView, titleLabel});
    card->addSubview(header);

    value->setFont(Font::monospacedDigitSystemFont(28, FontWeight::semibold));
    value->setSelectable(true);
    value->setLineBreakMode(LineBreakMode::byClipping);
    value->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);
    value->setTranslatesAutoresizingMaskIntoConstraints(false);
    card->addSubview(value);

    constraints.insert(constraints.end(), {
        card->heightAnchor().constraintEqualToConstant(112),
        iconView->widthAnchor().constraintEqualToConstant(18),
        iconView->heightAnchor().constraintEqualToConstant(18),
        header->leadingAnchor().constraintEqualTo(card->leadingAnchor(), 16),
        header->topAnchor().constraintEqualTo(card->topAnchor(), 18),
        header->trailingAnchor().constraintLessThanOrEqualTo(card->trailingAnchor(), -16),
        // The wrapping title takes the width it is given.
        withPriority(header->trailingAnchor().constraintEqualTo(card->trailingAnchor(), -16), LayoutPriority::defaultLow),
        value->leadingAnchor().constraintEqualTo(card->leadingAnchor(), 16),
        value->trailingAnchor().constraintEqualTo(card->trailingAnchor(), -16),
        value->firstBaselineAnchor().constraintEqualTo(card->bottomAnchor(), -26),
    });
    return card;
}

void setFigure(Label& label, const std::string& text, const std::string& spoken) {
    label.setStringValue(text);
    label.setAccessibilityLabel(spoken);
}

} // namespace

const std::string DashboardView::testimonialText =
    "Tarpelix keeps me in flow. Copy an image, press Control+V, and it\u2019s in my remote terminal. "
    "Such a small shortcut, such a big difference.";

// MARK: Link rows

DashboardLinkButton::DashboardLinkButton(Token, const std::string& title, InterfaceIcon icon) : LinkRowButton(title) {
    auto trailing = ImageView::withImage(tarpelix::image(InterfaceIcon::externalLink, InterfaceIconStyle::inline_, std::nullopt));
    trailing->setContentTintColor(Color::tertiaryLabelColor());
    trailing->setTranslatesAutoresizingMaskIntoConstraints(false);
    trailing->widthAnchor().constraintEqualToConstant(16)->setActive(true);
    arrange(leadingIcon(icon, InterfaceIconStyle::sidebar, 20), titleLabel(title), trailing,
            InterfaceStyle::Spacing::group);
}

std::shared_ptr<DashboardLinkButton> DashboardLinkButton::create(const std::string& title, InterfaceIcon icon) {
    return std::make_shared<DashboardLinkButton>(Token{}, title, icon);
}

// MARK: The dashboard

DashboardView::DashboardView(Token, OpenURL openURL) : openURL_(std::move(openURL)) {}

bool DashboardView::openWithWorkspace(const URL& url) { return Workspace::openURL(url.absoluteString()); }

std::shared_ptr<DashboardView> DashboardView::create(OpenURL openURL) {
    requireMainThread("DashboardView");
    auto view = std::make_shared<DashboardView>(Token{}, std::move(openURL));
    DashboardView& d = *view;
    ViewConstraints constraints;

    // The hero card.
    d.timeTitleLabel_ = heroLabel(Label::labelWithString("Time saved"), Font::systemFont(13, FontWeight::medium),
                                  Color::secondaryLabelColor());
    d.timeLabel_ = heroLabel(Label::wrappingLabelWithString(dash), valueFont(), DashboardHeroView::valueColor());
    d.summaryLabel_ = heroLabel(Label::wrappingLabelWithString("Loading your stats\u2026"), Font::systemFont(13),
                                Color::secondaryLabelColor());
    auto heroText = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, InterfaceStyle::Spacing::related,
                          {d.timeTitleLabel_, d.timeLabel_, d.summaryLabel_});
    heroText->setCustomSpacing(InterfaceStyle::Spacing::content, d.timeLabel_.get());
    for (View* label : {static_cast<View*>(d.timeTitleLabel_.get()), static_cast<View*>(d.timeLabel_.get()),
                        static_cast<View*>(d.summaryLabel_.get())}) {
        sameWidth(constraints, *label, *heroText);
    }
    auto hero = DashboardHeroView::create();
    hero->setTranslatesAutoresizingMaskIntoConstraints(false);
    hero->addSubview(heroText);
    const double inset = InterfaceStyle::Spacing::pageInset;
    constraints.insert(constraints.end(), {
        hero->heightAnchor().constraintGreaterThanOrEqualToConstant(heroMinimumHeight),
        withPriority(hero->heightAnchor().constraintEqualToConstant(heroMinimumHeight), LayoutPriority::defaultLow),
        heroText->leadingAnchor().constraintEqualTo(hero->leadingAnchor(), inset),
        heroText->trailingAnchor().constraintEqualTo(hero->trailingAnchor(), -inset),
        heroText->centerYAnchor().constraintEqualTo(hero->centerYAnchor()),
        heroText->topAnchor().constraintGreaterThanOrEqualTo(hero->topAnchor(), inset),
        heroText->bottomAnchor().constraintLessThanOrEqualTo(hero->bottomAnchor(), -inset),
    });

    // The metric row; the date gets a smaller font than the counts so that it fits.
    d.pastesLabel_ = Label::labelWithString(dash);
    d.daysLabel_ = Label::labelWithString(dash);
    d.sinceLabel_ = Label::labelWithString(dash);
    auto metrics = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::top, InterfaceStyle::Spacing::content,
                         {metric("Successful pastes", InterfaceIcon::image, d.pastesLabel_, constraints),
                          metric("Days used", InterfaceIcon::activeDays, d.daysLabel_, constraints),
                          metric("Using since", InterfaceIcon::since, d.sinceLabel_, constraints)});
    metrics->setDistribution(StackView::Distribution::fillEqually);
    d.sinceLabel_->setFont(Font::systemFont(18, FontWeight::semibold));
    d.pastesLabel_->setIdentifier(pastesIdentifier);
    d.daysLabel_->setIdentifier(daysIdentifier);
    d.sinceLabel_->setIdentifier(sinceIdentifier);
    d.daysLabel_->setToolTip("Days with at least one successful remote image paste.");
    d.pastesLabel_->setToolTip("Confirmed uploads with successful terminal insertion.");
    d.sinceLabel_->setToolTip("Your first successful remote image paste.");

    // Resources.
    d.shareButton_ = DashboardLinkButton::create("Share a testimonial on X", InterfaceIcon::testimonial);
    d.supportButton_ = DashboardLinkButton::create("Feedback & issues", InterfaceIcon::feedback);
    d.shareButton_->setAccessibilityHelp("Opens an editable draft in your browser.");
    d.shareButton_->setNextKeyView(d.supportButton_.get());
    std::weak_ptr<DashboardView> weak = view;
    d.shareButton_->setAction("share", [weak](Control&) {
        if (auto self = weak.lock()) self->share();
    });
    d.supportButton_->setAction("support", [weak](Control&) {
        if (auto self = weak.lock()) self->support();
    });
    auto separator = Box::separator();
    separator->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto links = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 0,
                       {d.shareButton_, separator, d.supportButton_});
    auto linkCard = InterfaceCardView::create();
    linkCard->setTranslatesAutoresizingMaskIntoConstraints(false);
    linkCard->addSubview(links);
    for (View* row : {static_cast<View*>(d.shareButton_.get()), static_cast<View*>(separator.get()),
                      static_cast<View*>(d.supportButton_.get())}) {
        sameWidth(constraints, *row, *linkCard);
    }
    constraints.insert(constraints.end(), {
        links->topAnchor().constraintEqualTo(linkCard->topAnchor()),
        links->bottomAnchor().constraintEqualTo(linkCard->bottomAnchor()),
        links->leadingAnchor().constraintEqualTo(linkCard->leadingAnchor()),
        links->trailingAnchor().constraintEqualTo(linkCard->trailingAnchor()),
    });
    auto resourcesTitle = Label::labelWithString("Resources");
    resourcesTitle->setFont(InterfaceStyle::Font::section());
    d.actionStatus_ = Label::wrappingLabelWithString("");
    d.actionStatus_->setFont(InterfaceStyle::Font::caption());
    d.actionStatus_->setTextColor(Color::secondaryLabelColor());
    d.actionStatus_->setHidden(true);
    auto resources = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, InterfaceStyle::Spacing::content,
                           {resourcesTitle, linkCard, d.actionStatus_});
    for (View* part : {static_cast<View*>(resourcesTitle.get()), static_cast<View*>(linkCard.get()),
                       static_cast<View*>(d.actionStatus_.get())}) {
        sameWidth(constraints, *part, *resources);
    }

    // The whole page, pinned to the view's edges.
    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, InterfaceStyle::Spacing::group,
                        {hero, metrics, resources});
    column->setCustomSpacing(InterfaceStyle::Spacing::pageInset, metrics.get());
    d.addSubview(column);
    for (View* part : {static_cast<View*>(hero.get()), static_cast<View*>(metrics.get()),
                       static_cast<View*>(resources.get())}) {
        sameWidth(constraints, *part, *column);
    }
    constraints.insert(constraints.end(), {
        column->topAnchor().constraintEqualTo(d.topAnchor()),
        column->bottomAnchor().constraintEqualTo(d.bottomAnchor()),
        column->leadingAnchor().constraintEqualTo(d.leadingAnchor()),
        column->trailingAnchor().constraintEqualTo(d.trailingAnchor()),
    });
    ViewConstraint::activate(constraints);
    return view;
}

std::string DashboardView::durationText(std::int64_t seconds) {
    return joined(durationComponents(seconds, Workspace::localeIdentifier()));
}

void DashboardView::update(const std::optional<PasteUsage>& usage) {
    requireMainThread("DashboardView::update");
    if (!usage) {
        for (Label* figure : {timeLabel_.get(), pastesLabel_.get(), daysLabel_.get(), sinceLabel_.get()}) {
            setFigure(*figure, dash, unavailable);
        }
        summaryLabel_->setStringValue("Your stats are currently unavailable.");
        return;
    }
    const std::string locale = Workspace::localeIdentifier();
    const std::int64_t seconds = usage->estimatedSecondsSaved();
    const auto components = durationComponents(seconds, locale);
    timeLabel_->setAttributedStringValue(durationString(components));
    timeLabel_->setAccessibilityLabel("Estimated time saved: " + joined(components));

    const std::string pastes = Formatters::groupedInteger(usage->successfulPastes, locale);
    const std::string days = Formatters::groupedInteger(usage->activeDays, locale);
    setFigure(*pastesLabel_, pastes, pastes + " successful pastes");
    setFigure(*daysLabel_, days, days + " days used");
    if (usage->firstPasteAt) {
        const std::string date =
            Formatters::dateFromTemplate(*usage->firstPasteAt, "MMM d yyyy", locale, Workspace::timeZone());
        setFigure(*sinceLabel_, date, "Using since " + date);
    } else {
        setFigure(*sinceLabel_, dash, "No successful pastes yet");
    }

    if (usage->successfulPastes > 0) {
        summaryLabel_->setStringValue(pastes + " remote image " + counted(usage->successfulPastes, "paste", "pastes") +
                                      " across " + Formatters::groupedInteger(usage->remoteMachines, locale) + " " +
                                      counted(usage->remoteMachines, "machine", "machines"));
    } else {
        summaryLabel_->setStringValue("Your first paste starts here.");
    }
}

const URL& DashboardView::supportURL() {
    static const URL url = *URL::parse(DashboardLinks::support);
    return url;
}

URL DashboardView::testimonialURL() {
    const std::string query =
        "text=" + formEncoded(testimonialText) + "&url=" + formEncoded(DashboardLinks::productHome);
    return *URL::parse(std::string(DashboardLinks::composePost) + "?" + query);
}

void DashboardView::share() { open(testimonialURL()); }

void DashboardView::support() { open(supportURL()); }

void DashboardView::open(const URL& url) {
    const bool opened = openURL_ && openURL_(url);
    actionStatus_->setStringValue(opened ? "" : linkFailure);
    actionStatus_->setHidden(actionStatus_->stringValue().empty());
}

} // namespace tarpelix
