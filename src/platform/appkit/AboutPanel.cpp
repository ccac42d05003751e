#include "platform/appkit/AboutPanel.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Panel.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix::platform {

namespace {

constexpr double margin = 20;
constexpr double textWidth = AboutPanel::width - 2 * margin;

std::optional<std::string> infoString(const std::string& key) {
    const auto value = Bundle::objectForInfoDictionaryKey(key);
    const auto* string = value ? value->get<std::string>() : nullptr;
    return string ? std::optional(*string) : std::nullopt;
}

// Centred, wrapped at the panel's width so that a long name or notice is never cut.
std::shared_ptr<Label> centredText(AttributedString text, const Font& font, const Color& color) {
    auto label = Label::labelWithAttributedString(std::move(text));
    label->setFont(font);
    label->setTextColor(color);
    label->setAlignment(TextAlignment::center);
    label->setLineBreakMode(LineBreakMode::byWordWrapping);
    label->setMaximumNumberOfLines(0);
    label->setPreferredMaxLayoutWidth(textWidth);
    label->setSelectable(true);
    return label;
}

} // namespace

AboutPanel::AboutPanel() {
    requireMainThread("AboutPanel");
}

AboutPanel::~AboutPanel() = default;

Window* AboutPanel::window() const {
    return panel_.get();
}

std::optional<std::string> AboutPanel::versionLine(const std::optional<std::string>& shortVersion,
                                                   const std::optional<std::string>& build) {
    const bool hasShort = shortVersion && !shortVersion->empty();
    const bool hasBuild = build && !build->empty();
    if (hasShort && hasBuild && *shortVersion != *build)
        return "Version " + *shortVersion + " (" + *build + ")";
    if (hasShort) return "Version " + *shortVersion;
    if (hasBuild) return "Version " + *build;
    return std::nullopt;
}

void AboutPanel::show(const AboutPanelOptions& options) {
    requireMainThread("AboutPanel::show");
    options_ = options;
    const bool first = !panel_;
    if (first) {
        panel_ = Panel::create({0, 0, width, 200}, WindowStyle::titled | WindowStyle::closable);
        panel_->setReleasedWhenClosed(false);
    }
    fill(options);
    if (first) panel_->center();
    panel_->makeKeyAndOrderFront();
}

void AboutPanel::fill(const AboutPanelOptions& options) {
    const std::string name = options.applicationName.value_or(infoString("CFBundleName").value_or(""));
    const auto version = versionLine(options.applicationVersion ? options.applicationVersion
                                                                : infoString("CFBundleShortVersionString"),
                                     options.version ? options.version : infoString("CFBundleVersion"));
    const auto copyright = options.copyright ? options.copyright : infoString("NSHumanReadableCopyright");
    std::optional<GraphicsImage> image = options.applicationIcon;
    if (!image) image = Application::shared().applicationIconImage();
    if (!image) image = GraphicsImage::applicationIcon();

    auto content = std::make_shared<View>();
    auto stack = StackView::create();
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::center);
    stack->setSpacing(0);
    stack->setEdgeInsets({margin, margin, margin, margin});

    auto icon = ImageView::withImage(image);
    icon->setImageScaling(ImageScaling::scaleProportionallyUpOrDown);
    icon->setIdentifier("about.icon");
    icon->setAccessibilityElement(false); // the name below says what it shows
    stack->addArrangedSubview(icon);
    double height = 2 * margin + iconSize;

    // Each text after the one before, `spacing` apart; empty texts are left out.
    auto add = [&](const std::string& identifier, AttributedString text, const Font& font, const Color& color,
                   double spacing) {
        if (text.string().empty()) return;
        auto label = centredText(std::move(text), font, color);
        label->setIdentifier(identifier);
        stack->setCustomSpacing(spacing, stack->arrangedSubviews().back().get());
        stack->addArrangedSubview(label);
        height += spacing + label->intrinsicContentSize().height;
    };
    add("about.name", AttributedString(name), Font::boldSystemFont(14), Color::labelColor(), 12);
    if (version)
        add("about.version", AttributedString(*version), Font::systemFont(11), Color::labelColor(), 4);
    if (options.credits)
        add("about.credits", *options.credits, Font::systemFont(11), Color::labelColor(), 12);
    if (copyright) {
        add("about.copyright", AttributedString(*copyright), Font::systemFont(10),
            Color::secondaryLabelColor(), 12);
    }

    content->addSubview(stack);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    ViewConstraint::activate({
        stack->topAnchor().constraintEqualTo(content->topAnchor()),
        stack->bottomAnchor().constraintEqualTo(content->bottomAnchor()),
        stack->leadingAnchor().constraintEqualTo(content->leadingAnchor()),
        stack->trailingAnchor().constraintEqualTo(content->trailingAnchor()),
        icon->widthAnchor().constraintEqualToConstant(iconSize),
        icon->heightAnchor().constraintEqualToConstant(iconSize),
    });
    panel_->setContentView(std::move(content));
    panel_->setContentSize({width, height});
}

} // namespace tarpelix::platform
