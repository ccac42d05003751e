// The pages of the setup window: what each step puts into the page area, and how the
// long-lived page elements follow the model and the window's State on every render.

#include "onboarding/OnboardingTerminalRow.h"
#include "onboarding/OnboardingWindowController.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "settings/PermissionActionRow.h"
#include "settings/PermissionsSettingsView.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceIcon.h"
#include "ui/InterfaceStyle.h"
#include "ui/PasteShortcutView.h"

namespace tarpelix {

using namespace platform;
using Step = OnboardingModel::Step;
using LoginState = LaunchAtLoginController::State;
namespace Spacing = InterfaceStyle::Spacing;

namespace {

const char* heading(Step step) {
    switch (step) {
    case Step::welcome:
        return "Welcome to Tarpelix";
    case Step::terminal:
        return "Choose your terminal";
    case Step::permissions:
        return "Allow access";
    case Step::firstPaste:
        return "Try your first paste";
    case Step::finish:
        return "Ready when you are";
    }
    return "";
}

std::shared_ptr<ImageView> iconView(InterfaceIcon icon, InterfaceIconStyle style, double size,
                                    std::optional<Color> tint) {
    auto view = ImageView::withImage(image(icon, style, std::nullopt));
    view->setImageScaling(ImageScaling::scaleProportionallyUpOrDown);
    view->setContentTintColor(std::move(tint));
    view->setAccessibilityElement(false);
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    ViewConstraint::activate({view->widthAnchor().constraintEqualToConstant(size),
                              view->heightAnchor().constraintEqualToConstant(size)});
    return view;
}

// A view that only takes space; without a size of its own it collapses rather than float.
std::shared_ptr<View> emptyView() {
    auto view = std::make_shared<View>();
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    for (auto constraint : {view->widthAnchor().constraintEqualToConstant(0), view->heightAnchor().constraintEqualToConstant(0)}) {
        constraint->setPriority(LayoutPriority::fittingSizeCompression);
        constraint->setActive(true);
    }
    return view;
}

// A fixed-size slot holding views centred on it at 16 × 16 points (a status icon and its spinner).
std::shared_ptr<View> iconSlot(double width, double height, const std::vector<std::shared_ptr<View>>& views) {
    auto slot = emptyView();
    ViewConstraints constraints = {slot->widthAnchor().constraintEqualToConstant(width),
                                   slot->heightAnchor().constraintEqualToConstant(height)};
    for (const auto& view : views) {
        view->setTranslatesAutoresizingMaskIntoConstraints(false);
        slot->addSubview(view);
        constraints.push_back(view->centerXAnchor().constraintEqualTo(slot->centerXAnchor()));
        constraints.push_back(view->centerYAnchor().constraintEqualTo(slot->centerYAnchor()));
        constraints.push_back(view->widthAnchor().constraintEqualToConstant(16));
        constraints.push_back(view->heightAnchor().constraintEqualToConstant(16));
    }
    ViewConstraint::activate(constraints);
    return slot;
}

std::shared_ptr<Label> bodyLabel(const std::string& text, const Font& font) {
    auto label = Label::labelWithString(text);
    label->setFont(font);
    return label;
}

void showSpinner(ProgressIndicator& spinner, bool busy) {
    spinner.setHidden(!busy);
    if (busy && !spinner.isAnimating()) spinner.startAnimation();
    if (!busy && spinner.isAnimating()) spinner.stopAnimation();
}

void setText(Label& label, const std::string& text) {
    if (label.stringValue() != text) label.setStringValue(text);
    label.setHidden(text.empty());
}

} // namespace

// MARK: Building pages

void OnboardingWindowController::buildPage() {
    ViewConstraint::deactivate(pageWidthConstraints_);
    pageWidthConstraints_.clear();
    const auto arranged = pageStack_->arrangedSubviews();
    for (const auto& view : arranged) {
        pageStack_->setCustomSpacing(std::nullopt, view.get());
        pageStack_->removeArrangedSubview(view.get());
        view->removeFromSuperview();
    }

    const Step step = model_->step();
    renderedStep_ = step;
    headingLabel_->setStringValue(heading(step));
    switch (step) {
    case Step::welcome:
        buildWelcomePage();
        break;
    case Step::terminal:
        buildTerminalPage();
        break;
    case Step::permissions:
        buildPermissionsPage();
        break;
    case Step::firstPaste:
        buildFirstPastePage();
        break;
    case Step::finish:
        buildFinishPage();
        break;
    }
    scrollView_->scrollToTop();
}

void OnboardingWindowController::addToPage(const std::shared_ptr<View>& view, bool pageInsetAfter) {
    pageStack_->addArrangedSubview(view);
    if (!std::dynamic_pointer_cast<Button>(view)) constrainWidth(*view, *pageStack_);
    if (pageInsetAfter) pageStack_->setCustomSpacing(Spacing::pageInset, view.get());
}

void OnboardingWindowController::constrainWidth(View& view, View& to) {
    auto constraint = view.widthAnchor().constraintEqualTo(to.widthAnchor());
    constraint->setActive(true);
    pageWidthConstraints_.push_back(constraint);
}

std::string OnboardingWindowController::selectedTerminalName(const std::string& fallback) const {
    const auto* terminal = model_->terminals().terminal(model_->selectedTerminalID());
    return terminal ? terminal->name : fallback;
}

// MARK: Welcome

std::shared_ptr<View> OnboardingWindowController::welcomeIllustration() {
    auto step = [](InterfaceIcon icon, std::shared_ptr<View> label) {
        auto symbol = iconView(icon, InterfaceIconStyle::application, 32, Color::controlAccentColor());
        auto container = emptyView();
        label->setTranslatesAutoresizingMaskIntoConstraints(false);
        container->addSubview(label);
        auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::center, Spacing::group,
                                            {symbol, container});
        ViewConstraint::activate({
            container->heightAnchor().constraintEqualToConstant(28),
            container->widthAnchor().constraintEqualTo(column->widthAnchor()),
            label->centerXAnchor().constraintEqualTo(container->centerXAnchor()),
            label->centerYAnchor().constraintEqualTo(container->centerYAnchor()),
        });
        return column;
    };
    const Font medium = Font::systemFont(13, FontWeight::medium);
    auto illustration = InterfaceStyle::stack(
        LayoutAxis::horizontal, StackView::Alignment::top, Spacing::pageInset,
        {step(InterfaceIcon::image, bodyLabel("Copy image", medium)),
         step(InterfaceIcon::keyboard, PasteShortcutView::create()),
         step(InterfaceIcon::terminal, bodyLabel("Remote path", medium))});
    illustration->setDistribution(StackView::Distribution::fillEqually);
    return illustration;
}

void OnboardingWindowController::buildWelcomePage() {
    addToPage(InterfaceStyle::label("Screenshot. Ctrl+V. Continue.", true), true);

    auto card = InterfaceCardView::create();
    auto illustration = welcomeIllustration();
    auto tagline = InterfaceStyle::label("Give remote coding agents visual context without breaking your flow.");
    tagline->setAlignment(TextAlignment::center);
    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, Spacing::pageInset,
                                        {illustration, tagline});
    card->addSubview(column);
    ViewConstraints constraints = {
        column->leadingAnchor().constraintEqualTo(card->leadingAnchor(), Spacing::cardInset),
        column->trailingAnchor().constraintEqualTo(card->trailingAnchor(), -Spacing::cardInset),
        column->topAnchor().constraintEqualTo(card->topAnchor(), Spacing::section),
        column->bottomAnchor().constraintEqualTo(card->bottomAnchor(), -Spacing::section),
        illustration->widthAnchor().constraintEqualTo(column->widthAnchor()),
        tagline->widthAnchor().constraintEqualTo(column->widthAnchor()),
    };
    // An arrow in the gap after each step but the last, level with the icons.
    const auto& steps = std::static_pointer_cast<StackView>(illustration)->arrangedSubviews();
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        auto arrow = iconView(InterfaceIcon::nextStep, InterfaceIconStyle::inline_, 16, Color::tertiaryLabelColor());
        arrow->setIdentifier("onboarding.nextStep");
        card->addSubview(arrow);
        constraints.push_back(arrow->centerXAnchor().constraintEqualTo(steps[i]->trailingAnchor(), Spacing::pageInset / 2));
        constraints.push_back(arrow->centerYAnchor().constraintEqualTo(steps[i]->topAnchor(), 16));
    }
    ViewConstraint::activate(constraints);
    addToPage(card);
}

// MARK: Terminal

void OnboardingWindowController::buildTerminalPage() {
    addToPage(InterfaceStyle::label("Choose one to set up first.", true), true);

    const auto& snapshot = model_->terminals();
    renderedTerminals_ = snapshot.terminals;
    if (!snapshot.terminal(chosenTerminalID_)) chosenTerminalID_ = model_->proposedTerminalID();
    terminalButtons_.clear();
    terminalRows_.clear();

    if (snapshot.terminals.empty()) {
        addToPage(InterfaceStyle::group("No terminals found",
                                        {InterfaceStyle::label("Install Ghostty or iTerm2, then refresh.", true),
                                         refreshTerminalsButton_}));
        return;
    }
    std::weak_ptr<OnboardingWindowController> weak = weak_from_this();
    auto rows = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, Spacing::content, {});
    ViewConstraints widths;
    for (const auto& terminal : snapshot.terminals) {
        auto row = OnboardingTerminalRow::create(terminal, actions_.icon(terminal.url));
        row->selectionButton().setAction("selectTerminal", [weak](Control& sender) {
            if (auto self = weak.lock()) self->selectTerminal(sender);
        });
        row->openButton().setAction("openTerminal", [weak](Control& sender) {
            if (auto self = weak.lock()) self->openTerminal(sender);
        });
        terminalRows_[terminal.id] = row;
        terminalButtons_[terminal.id] = std::static_pointer_cast<Button>(row->selectionButton().sharedView());
        rows->addArrangedSubview(row);
        widths.push_back(row->widthAnchor().constraintEqualTo(rows->widthAnchor()));
    }
    ViewConstraint::activate(widths);
    addToPage(rows);
    addToPage(refreshTerminalsButton_);
}

void OnboardingWindowController::selectTerminal(Control& sender) {
    chosenTerminalID_ = sender.identifier().empty() ? std::nullopt : std::optional(sender.identifier());
    for (const auto& [id, button] : terminalButtons_) {
        button->setState(id == chosenTerminalID_ ? ControlStateValue::on : ControlStateValue::off);
    }
    refresh();
}

void OnboardingWindowController::openTerminal(Control& sender) {
    if (!sender.identifier().empty()) actions_.openTerminal(sender.identifier());
}

// MARK: Permissions

void OnboardingWindowController::buildPermissionsPage() {
    addToPage(InterfaceStyle::label("Tarpelix needs these to paste images.", true), true);
    automationRow_->setTitle(selectedTerminalName("Selected terminal") + " Automation");
    for (const auto& row : {accessibilityRow_, automationRow_, clipboardRow_}) {
        addToPage(PermissionsSettingsView::card({row}));
    }
}

void OnboardingWindowController::applyPermissions(const State& state) {
    auto apply = [](PermissionActionRow& row, const PermissionState& p) {
        row.apply(p.status, p.allowed, p.action, p.busy, p.enabled, p.message, p.neutral, true);
    };
    apply(*accessibilityRow_, state.accessibility);
    apply(*automationRow_, state.automation);
    const std::string detail = state.clipboard.detail.value_or("Read images you paste.");
    if (clipboardRow_->detail().stringValue() != detail) clipboardRow_->detail().setStringValue(detail);
    apply(*clipboardRow_, state.clipboard);
}

// MARK: First paste

std::shared_ptr<View> OnboardingWindowController::firstPasteInstructions() {
    auto numbered = [](const std::string& number, std::shared_ptr<View> item) {
        auto digit = Label::labelWithString(number);
        digit->setFont(Font::monospacedDigitSystemFont(13, FontWeight::medium));
        digit->setTextColor(Color::controlAccentColor());
        digit->setAlignment(TextAlignment::center);
        digit->setTranslatesAutoresizingMaskIntoConstraints(false);
        auto row = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, Spacing::content,
                                         {digit, std::move(item), emptyView()});
        ViewConstraint::activate({digit->widthAnchor().constraintEqualToConstant(24),
                                  row->heightAnchor().constraintGreaterThanOrEqualToConstant(28)});
        return row;
    };
    auto press = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, Spacing::related,
                                       {bodyLabel("Press", InterfaceStyle::Font::body()), PasteShortcutView::create()});
    std::vector<std::shared_ptr<View>> rows = {
        numbered("1", InterfaceStyle::label("Copy an image")),
        numbered("2", InterfaceStyle::label("Focus your remote agent in " + selectedTerminalName("your terminal"))),
        numbered("3", press),
    };
    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, Spacing::related, rows);
    ViewConstraints widths;
    for (const auto& row : rows) widths.push_back(row->widthAnchor().constraintEqualTo(column->widthAnchor()));
    ViewConstraint::activate(widths);
    return PermissionsSettingsView::card({column});
}

void OnboardingWindowController::styleHelpDisclosure() {
    const bool expanded = helpDisclosureButton_->state() == ControlStateValue::on;
    helpDisclosureButton_->setImage(image(expanded ? InterfaceIcon::disclosureExpanded : InterfaceIcon::disclosureCollapsed,
                                          InterfaceIconStyle::disclosure, std::nullopt));
    helpDisclosureButton_->setAccessibilityExpanded(expanded);
    helpContent_->setHidden(!expanded);
}

void OnboardingWindowController::buildFirstPastePage() {
    addToPage(firstPasteInstructions());

    pasteTitleLabel_->setFont(Font::systemFont(13, FontWeight::medium));
    pasteStatusLabel_->setSelectable(true);
    pasteStatusLabel_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);
    for (const auto& button : {lastPasteButton_, pasteHelpButton_}) button->setBezelStyle(BezelStyle::rounded);
    auto text = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, Spacing::related,
                                      {pasteTitleLabel_, pasteStatusLabel_, pasteRecoveryActions_});
    auto status = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::top, Spacing::content,
                                        {iconSlot(24, 16, {pasteStatusIcon_, pasteProgressIndicator_}), text});
    ViewConstraint::activate({pasteStatusLabel_->widthAnchor().constraintEqualTo(text->widthAnchor())});
    addToPage(PermissionsSettingsView::card({status}));

    helpDisclosureButton_->setButtonType(ButtonType::onOff);
    helpDisclosureButton_->setBordered(false);
    helpDisclosureButton_->setImagePosition(ImagePosition::imageLeading);
    helpDisclosureButton_->setAccessibilityLabel("Connection help");
    helpDisclosureButton_->setFont(InterfaceStyle::Font::caption());
    helpDisclosureButton_->setContentTintColor(Color::secondaryLabelColor());
    // Styled from its state, which outlives the page: a rebuilt page shows the help as it was.
    styleHelpDisclosure();
    addToPage(helpDisclosureButton_);

    for (const auto& view : std::vector<std::shared_ptr<View>>(helpContent_->arrangedSubviews())) {
        helpContent_->removeArrangedSubview(view.get());
        view->removeFromSuperview();
    }
    helpContent_->setEdgeInsets({0, 18, 0, 0});
    auto help = InterfaceStyle::label("SSH must connect without password prompts. Use SSH keys or an SSH agent, and "
                                      "connect once to confirm the host. Mosh also needs SSH access.",
                                      true);
    help->setFont(InterfaceStyle::Font::caption());
    helpContent_->addArrangedSubview(help);
    helpContent_->addArrangedSubview(helpButton_);
    ViewConstraint::activate({help->widthAnchor().constraintEqualTo(helpContent_->widthAnchor(), 1, -18)});
    addToPage(helpContent_);
}

void OnboardingWindowController::toggleHelp() {
    styleHelpDisclosure();
    layOutNow();
    updateKeyViewLoop();
}

void OnboardingWindowController::applyFirstPaste(const State& state) {
    const bool verified = model_->firstPasteVerified();
    const std::string title = verified ? "First paste complete" : state.pasteTitle;
    if (pasteTitleLabel_->stringValue() != title) pasteTitleLabel_->setStringValue(title);
    setText(*pasteStatusLabel_,
            verified ? "Image uploaded. Path sent to your terminal." : state.pasteMessage.value_or(""));
    const bool busy = state.pasteBusy && !verified;
    showSpinner(*pasteProgressIndicator_, busy);
    pasteStatusIcon_->setHidden(busy);
    if (verified) InterfaceStyle::statusIcon(*pasteStatusIcon_, InterfaceIcon::success, Color::systemGreen());
    else if (state.pasteNeedsRecovery)
        InterfaceStyle::statusIcon(*pasteStatusIcon_, InterfaceIcon::attention, Color::systemOrange());
    else InterfaceStyle::statusIcon(*pasteStatusIcon_, InterfaceIcon::keyboard, Color::controlAccentColor());
    pasteRecoveryActions_->setHidden(!state.pasteNeedsRecovery || verified);
}

// MARK: Finish

void OnboardingWindowController::buildFinishPage() {
    auto title = bodyLabel("Launch at Login", Font::systemFont(13, FontWeight::medium));
    auto caption = InterfaceStyle::label("Open Tarpelix when you sign in.", true);
    caption->setFont(InterfaceStyle::Font::caption());
    loginStatusLabel_->setSelectable(true);
    loginStatusLabel_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);
    loginChoiceLabel_->setSelectable(true);
    loginChoiceLabel_->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);
    loginMessageLabel_->setFont(InterfaceStyle::Font::caption());
    loginMessageLabel_->setTextColor(Color::secondaryLabelColor());
    auto statusRow = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, Spacing::tight,
                                           {iconSlot(16, 16, {loginStatusIcon_, loginProgressIndicator_}),
                                            loginStatusLabel_});

    for (const auto& button : {loginEnableButton_, loginNotNowButton_}) {
        button->setButtonType(ButtonType::pushOnPushOff);
        button->setImagePosition(ImagePosition::imageLeading);
        button->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::horizontal);
    }
    loginNotNowButton_->setAccessibilityHelp("Keep the current Launch at Login setting.");
    auto buttons = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, Spacing::related,
                                         {loginEnableButton_, loginNotNowButton_, emptyView(), loginItemsButton_});

    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, Spacing::related,
                                        {title, caption, statusRow, loginMessageLabel_, buttons, loginChoiceLabel_});
    column->setCustomSpacing(Spacing::content, statusRow.get());
    auto icon = iconView(InterfaceIcon::startup, InterfaceIconStyle::card, 24, Color::controlAccentColor());
    auto row = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::top, 12, {icon, column});
    ViewConstraints constraints = {
        loginEnableButton_->widthAnchor().constraintEqualTo(loginNotNowButton_->widthAnchor()),
        loginEnableButton_->widthAnchor().constraintGreaterThanOrEqualToConstant(128),
        buttons->widthAnchor().constraintEqualTo(column->widthAnchor()),
        statusRow->widthAnchor().constraintEqualTo(column->widthAnchor()),
    };
    for (const auto& label : {caption, loginMessageLabel_, loginChoiceLabel_}) {
        constraints.push_back(label->widthAnchor().constraintEqualTo(column->widthAnchor()));
    }
    ViewConstraint::activate(constraints);
    addToPage(PermissionsSettingsView::card({row}));
    addToPage(InterfaceStyle::label("Find Settings and Help in the menu bar.", true));
}

void OnboardingWindowController::applyLogin(const State& state) {
    const bool busy = state.loginBusy;
    std::string status;
    switch (state.loginState) {
    case LoginState::notRegistered:
        status = "Off";
        break;
    case LoginState::enabled:
        status = "Enabled";
        break;
    case LoginState::requiresApproval:
        status = "Approval needed";
        break;
    case LoginState::notFound:
        status = "Service not found";
        break;
    case LoginState::unknown:
        status = "Status unavailable";
        break;
    }
    setText(*loginStatusLabel_, busy ? "Updating\u2026" : status);
    setText(*loginMessageLabel_, !busy && state.loginMessage ? *state.loginMessage : "");

    showSpinner(*loginProgressIndicator_, busy);
    loginStatusIcon_->setHidden(busy);
    switch (state.loginState) {
    case LoginState::enabled:
        InterfaceStyle::statusIcon(*loginStatusIcon_, InterfaceIcon::success, Color::systemGreen());
        break;
    case LoginState::notRegistered:
        InterfaceStyle::statusIcon(*loginStatusIcon_, InterfaceIcon::information, Color::secondaryLabelColor());
        break;
    default:
        InterfaceStyle::statusIcon(*loginStatusIcon_, InterfaceIcon::attention, Color::systemOrange());
        break;
    }

    std::string choice;
    if (auto recorded = model_->loginChoice()) {
        if (*recorded == OnboardingModel::LoginChoice::notNow) choice = "Current setting kept.";
        else if (!(state.loginState == LoginState::enabled && loginMessageLabel_->isHidden()))
            choice = "You can finish setup now.";
    } else {
        choice = "Choose an option to finish.";
    }
    setText(*loginChoiceLabel_, busy ? "" : choice);

    loginEnableButton_->setEnabled(!busy);
    const bool enabled = state.loginState == LoginState::enabled;
    loginEnableButton_->setTitle(enabled ? "Keep enabled" : "Enable");
    loginEnableButton_->setAccessibilityLabel(enabled ? "Keep Launch at Login enabled" : "Enable Launch at Login");
    loginNotNowButton_->setEnabled(!busy);
    syncLoginChoiceButtons();

    const bool hasMessage = state.loginMessage && !state.loginMessage->empty();
    loginItemsButton_->setHidden(!(state.loginState == LoginState::requiresApproval ||
                                   state.loginState == LoginState::notFound ||
                                   state.loginState == LoginState::unknown || hasMessage));
    loginItemsButton_->setEnabled(!busy);
}

void OnboardingWindowController::syncLoginChoiceButtons() {
    const auto choice = model_->loginChoice();
    auto sync = [](Button& button, bool on) {
        button.setState(on ? ControlStateValue::on : ControlStateValue::off);
        button.setImage(on ? image(InterfaceIcon::success, InterfaceIconStyle::inline_, std::nullopt) : std::nullopt);
        InterfaceStyle::emphasize(button, on);
    };
    sync(*loginEnableButton_, choice == OnboardingModel::LoginChoice::enable);
    sync(*loginNotNowButton_, choice == OnboardingModel::LoginChoice::notNow);
}

void OnboardingWindowController::enableLogin() {
    if (readState_().loginBusy) return;
    if (!model_->recordLoginChoice(OnboardingModel::LoginChoice::enable)) return;
    syncLoginChoiceButtons();
    actions_.enableLaunchAtLogin();
    refresh();
}

void OnboardingWindowController::deferLogin() {
    if (readState_().loginBusy) return;
    if (!model_->recordLoginChoice(OnboardingModel::LoginChoice::notNow)) return;
    syncLoginChoiceButtons();
    refresh();
}

} // namespace tarpelix
