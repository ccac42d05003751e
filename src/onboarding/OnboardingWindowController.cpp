#include "onboarding/OnboardingWindowController.h"

#include "onboarding/OnboardingTerminalRow.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ClipView.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/MainThread.h"
#include "settings/PermissionActionRow.h"
#include "ui/CloseKeyEquivalent.h"
#include "ui/InterfaceStyle.h"
#include "ui/PageDocumentView.h"

namespace tarpelix {

using namespace platform;
using Step = OnboardingModel::Step;

namespace {

constexpr double edgeInset = 32;
constexpr double pageTopInset = 4;
constexpr double pageBottomInset = 16;

// The setup window: Command-W alone closes it as its close button would.
class OnboardingWindow final : public CloseKeyWindow {
public:
    using CloseKeyWindow::CloseKeyWindow;
};

// The page area's document: flipped so the page starts at the top, as wide as the visible area
// and as tall as the page with its insets.
class FlippedDocumentView final : public PageDocumentView {
public:
    FlippedDocumentView() : PageDocumentView(pageTopInset, pageBottomInset) {}
};

std::shared_ptr<Button> pushButton(const std::string& title) {
    auto button = Button::withTitle(title);
    button->setBezelStyle(BezelStyle::rounded);
    return button;
}

std::shared_ptr<Label> captionLabel(bool wrapping) {
    auto label = wrapping ? Label::wrappingLabelWithString("") : Label::labelWithString("");
    label->setFont(InterfaceStyle::Font::caption());
    label->setTextColor(Color::secondaryLabelColor());
    return label;
}

std::shared_ptr<ProgressIndicator> smallSpinner(const std::string& label) {
    auto spinner = ProgressIndicator::create();
    spinner->setControlSize(ControlSize::small);
    spinner->setDisplayedWhenStopped(false);
    spinner->setAccessibilityLabel(label);
    return spinner;
}

} // namespace

std::optional<GraphicsImage> OnboardingWindowController::Actions::defaultIcon(const std::string& applicationPath) {
    auto icon = Workspace::icon(applicationPath);
    if (!icon) return std::nullopt;
    return GraphicsImage::bitmap(icon);
}

// MARK: Creation

std::shared_ptr<OnboardingWindowController> OnboardingWindowController::create(std::shared_ptr<OnboardingModel> model,
                                                                               ReadState state, Actions actions) {
    requireMainThread("OnboardingWindowController");
    if (!state) state = [] { return State{}; };
    auto controller =
        std::make_shared<OnboardingWindowController>(Token{}, std::move(model), std::move(state), std::move(actions));
    controller->window_->setDelegate(controller);
    controller->connectActions();
    return controller;
}

std::shared_ptr<OnboardingWindowController> OnboardingWindowController::create(std::shared_ptr<OnboardingModel> model) {
    return create(std::move(model), {}, Actions{});
}

OnboardingWindowController::OnboardingWindowController(Token, std::shared_ptr<OnboardingModel> model, ReadState state,
                                                       Actions actions)
    : model_(std::move(model)), readState_(std::move(state)), actions_(std::move(actions)) {
    progressLabel_ = Label::labelWithString("");
    headingLabel_ = Label::labelWithString("");
    backButton_ = pushButton("Back");
    continueButton_ = pushButton("Continue");
    scrollView_ = ScrollView::create();
    pageStack_ = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                       InterfaceStyle::Spacing::group, {});
    refreshTerminalsButton_ = pushButton("Refresh");
    accessibilityRow_ = PermissionActionRow::create("Accessibility", InterfaceIcon::permissions,
                                                    "Detect Control+V and insert image paths.");
    automationRow_ = PermissionActionRow::create("Terminal Automation", InterfaceIcon::terminal, "Find your remote session.");
    clipboardRow_ = PermissionActionRow::create("Clipboard", InterfaceIcon::clipboard, "Read images you paste.");
    helpDisclosureButton_ = std::make_shared<Button>();
    helpDisclosureButton_->setTitle("Connection help");
    helpContent_ = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 12, {});
    helpButton_ = pushButton("Open Help\u2026");
    lastPasteButton_ = pushButton("Last Paste Status");
    pasteHelpButton_ = pushButton("Help\u2026");
    pasteRecoveryActions_ = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, 12,
                                                  {lastPasteButton_, pasteHelpButton_});
    tryLaterButton_ = Button::withTitle("Try later");
    loginEnableButton_ = pushButton("Enable");
    loginNotNowButton_ = pushButton("Not now");
    loginItemsButton_ = pushButton("Open Login Items\u2026");
    loginChoiceLabel_ = captionLabel(true);
    loginStatusLabel_ = captionLabel(true);
    loginMessageLabel_ = InterfaceStyle::label("", true);
    loginStatusIcon_ = std::make_shared<ImageView>();
    loginProgressIndicator_ = smallSpinner("Updating Launch at Login");
    pasteStatusLabel_ = captionLabel(true);
    pasteTitleLabel_ = Label::labelWithString("");
    pasteStatusIcon_ = std::make_shared<ImageView>();
    pasteProgressIndicator_ = smallSpinner("Paste in progress");

    window_ = std::make_shared<OnboardingWindow>(
        Rect{{0, 0}, contentSize},
        WindowStyle::titled | WindowStyle::closable | WindowStyle::miniaturizable | WindowStyle::resizable);
    window_->setTitle("Set Up Tarpelix");
    window_->setContentMinSize(minimumContentSize);
    window_->setReleasedWhenClosed(false);
    buildChrome();
}

void OnboardingWindowController::connectActions() {
    std::weak_ptr<OnboardingWindowController> weak = weak_from_this();
    auto connect = [weak](Button& button, const std::string& name, void (OnboardingWindowController::*method)()) {
        button.setAction(name, [weak, method](Control&) {
            if (auto self = weak.lock()) (self.get()->*method)();
        });
    };
    connect(*backButton_, "goBack", &OnboardingWindowController::goBack);
    connect(*continueButton_, "goForward", &OnboardingWindowController::goForward);
    connect(*refreshTerminalsButton_, "refreshTerminals", &OnboardingWindowController::refreshTerminals);
    connect(*helpDisclosureButton_, "toggleHelp", &OnboardingWindowController::toggleHelp);
    connect(*helpButton_, "openHelp", &OnboardingWindowController::openHelp);
    connect(*tryLaterButton_, "tryLater", &OnboardingWindowController::tryLater);
    connect(*loginEnableButton_, "enableLogin", &OnboardingWindowController::enableLogin);
    connect(*loginNotNowButton_, "deferLogin", &OnboardingWindowController::deferLogin);
    connect(*loginItemsButton_, "openLoginItems", &OnboardingWindowController::openLoginItems);
    connect(*lastPasteButton_, "openLastPaste", &OnboardingWindowController::openLastPaste);
    connect(*pasteHelpButton_, "openHelp", &OnboardingWindowController::openHelp);

    accessibilityRow_->performAction = [weak] {
        if (auto self = weak.lock()) self->actions_.requestAccessibility();
    };
    clipboardRow_->performAction = [weak] {
        if (auto self = weak.lock()) self->actions_.requestClipboard();
    };
    automationRow_->performAction = [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (auto id = self->model_->selectedTerminalID()) self->actions_.requestAutomation(*id);
    };
}

void OnboardingWindowController::buildChrome() {
    auto& content = *window_->contentView();
    content.setWantsLayer(true);

    progressLabel_->setFont(InterfaceStyle::Font::caption());
    progressLabel_->setTextColor(Color::secondaryLabelColor());
    progressLabel_->setAccessibilityLabel("Setup progress");
    headingLabel_->setFont(InterfaceStyle::Font::title());
    headingLabel_->setAccessibilityRole(AccessibilityRole::heading);
    auto header = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                        InterfaceStyle::Spacing::related, {progressLabel_, headingLabel_});

    scrollView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    scrollView_->setHasVerticalScroller(true);
    scrollView_->setAutohidesScrollers(true);
    scrollView_->setScrollerStyle(ScrollerStyle::overlay);
    scrollView_->setDrawsBackground(false);
    auto document = std::make_shared<FlippedDocumentView>();
    document->setFrame({{0, 0}, contentSize});
    scrollView_->setDocumentView(document);
    document->addSubview(pageStack_);

    auto separator = Box::separator();
    separator->setTranslatesAutoresizingMaskIntoConstraints(false);

    auto spacer = std::make_shared<View>();
    spacer->setTranslatesAutoresizingMaskIntoConstraints(false);
    for (auto constraint : {spacer->widthAnchor().constraintEqualToConstant(0), spacer->heightAnchor().constraintEqualToConstant(0)}) {
        constraint->setPriority(LayoutPriority::fittingSizeCompression);
        constraint->setActive(true);
    }
    auto bottomBar = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center,
                                           InterfaceStyle::Spacing::content,
                                           {backButton_, spacer, tryLaterButton_, continueButton_});

    for (const auto& view : std::vector<std::shared_ptr<View>>{header, scrollView_, separator, bottomBar}) {
        content.addSubview(view);
    }
    // Until the scroll view is first tiled its document may be narrower than the page's insets.
    auto pageTrailing = pageStack_->trailingAnchor().constraintEqualTo(document->trailingAnchor(), -edgeInset);
    pageTrailing->setPriority(LayoutPriority::required - 1);
    pageTrailing->setActive(true);
    ViewConstraint::activate({
        header->topAnchor().constraintEqualTo(content.topAnchor(), edgeInset),
        header->leadingAnchor().constraintEqualTo(content.leadingAnchor(), edgeInset),
        header->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -edgeInset),
        scrollView_->topAnchor().constraintEqualTo(header->bottomAnchor(), 8),
        scrollView_->leadingAnchor().constraintEqualTo(content.leadingAnchor()),
        scrollView_->trailingAnchor().constraintEqualTo(content.trailingAnchor()),
        pageStack_->leadingAnchor().constraintEqualTo(document->leadingAnchor(), edgeInset),
        pageStack_->topAnchor().constraintEqualTo(document->topAnchor(), pageTopInset),
        separator->topAnchor().constraintEqualTo(scrollView_->bottomAnchor(), 12),
        separator->leadingAnchor().constraintEqualTo(content.leadingAnchor(), edgeInset),
        separator->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -edgeInset),
        bottomBar->topAnchor().constraintEqualTo(separator->bottomAnchor(), 16),
        bottomBar->leadingAnchor().constraintEqualTo(content.leadingAnchor(), edgeInset),
        bottomBar->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -edgeInset),
        bottomBar->bottomAnchor().constraintEqualTo(content.bottomAnchor(), -24),
        bottomBar->heightAnchor().constraintEqualToConstant(32),
    });

    continueButton_->setKeyEquivalent("\r");
    refreshTerminalsButton_->setAccessibilityLabel("Refresh terminals");
    tryLaterButton_->setBordered(false);
    tryLaterButton_->setFont(InterfaceStyle::Font::body());
    tryLaterButton_->setContentTintColor(Color::secondaryLabelColor());
}

// MARK: Showing and rendering

void OnboardingWindowController::showSetup() {
    if (!model_->isVisible()) model_->present();
    refresh();
    if (!hasPositionedWindow_) {
        window_->center();
        hasPositionedWindow_ = true;
    }
    Application::shared().activate();
    window_->makeKeyAndOrderFront();
}

OnboardingWindowController::Presentation OnboardingWindowController::presentation(const State& state) const {
    return {model_->step(),        model_->terminals(),  model_->selectedTerminalID(),
            chosenTerminalID_,     model_->isCompleted(), model_->isReady(),
            model_->firstPasteVerified(), model_->loginChoice(), state};
}

void OnboardingWindowController::refresh() {
    model_->refresh();
    const State state = readState_();
    if (lastPresentation_ && *lastPresentation_ == presentation(state)) return;

    const Step step = model_->step();
    const auto& terminals = model_->terminals().terminals;
    auto sameIDs = [&] {
        return std::equal(renderedTerminals_.begin(), renderedTerminals_.end(), terminals.begin(), terminals.end(),
                          [](const auto& a, const auto& b) { return a.id == b.id; });
    };
    if (!renderedStep_ || *renderedStep_ != step || (step == Step::terminal && !sameIDs())) buildPage();

    for (const auto& terminal : terminals) {
        auto row = terminalRows_.find(terminal.id);
        if (row != terminalRows_.end()) row->second->update(terminal.isRunning, terminal.id == chosenTerminalID_);
    }

    progressLabel_->setStringValue("Step " + std::to_string(static_cast<int>(step) + 1) + " of " +
                                   std::to_string(OnboardingModel::stepCount));

    const bool completed = model_->isCompleted();
    backButton_->setEnabled(step != Step::welcome && !completed);
    backButton_->setHidden(step == Step::welcome || completed);

    const bool ready = model_->isReady();
    std::string forward = "Continue";
    bool forwardEnabled = false;
    switch (step) {
    case Step::welcome:
        forward = "Get Started";
        forwardEnabled = true;
        break;
    case Step::terminal:
        forwardEnabled = chosenTerminalID_.has_value();
        break;
    case Step::permissions:
        forwardEnabled = ready;
        break;
    case Step::firstPaste:
        if (completed) forward = "Done";
        forwardEnabled = ready && model_->firstPasteVerified();
        break;
    case Step::finish:
        forward = "Finish";
        forwardEnabled = ready && model_->loginChoice() && !state.loginBusy;
        break;
    }
    continueButton_->setTitle(forward);
    continueButton_->setEnabled(forwardEnabled);
    tryLaterButton_->setHidden(step != Step::firstPaste || model_->firstPasteVerified());

    applyPermissions(state);
    applyFirstPaste(state);
    applyLogin(state);

    layOutNow();
    updateKeyViewLoop();
    invalidateDrawing(*window_->contentView());
    lastPresentation_ = presentation(state);
}

void OnboardingWindowController::layOutNow() {
    window_->layoutIfNeeded();
    // The page's height is known only once its constraints are solved: fit the document to it
    // (and the scroller to the document) in a second pass.
    if (auto* document = scrollView_->documentView()) {
        document->setNeedsLayout(true);
        window_->layoutIfNeeded();
    }
}

void OnboardingWindowController::invalidateDrawing(View& view) {
    view.setNeedsDisplay(true);
    for (const auto& subview : view.subviews()) invalidateDrawing(*subview);
}

void OnboardingWindowController::updateKeyViewLoop() {
    // The window's own loop follows the geometry; the explicit chains of the first-paste and
    // finish pages are set afresh, and cleared on the other pages.
    const std::vector<Button*> all = {lastPasteButton_.get(),   pasteHelpButton_.get(),  helpDisclosureButton_.get(),
                                      helpButton_.get(),        backButton_.get(),       tryLaterButton_.get(),
                                      continueButton_.get(),    loginEnableButton_.get(), loginNotNowButton_.get(),
                                      loginItemsButton_.get()};
    for (auto* button : all) button->setNextKeyView(nullptr);
    std::vector<Button*> chain;
    if (model_->step() == Step::firstPaste) {
        chain = {lastPasteButton_.get(), pasteHelpButton_.get(), helpDisclosureButton_.get(), helpButton_.get(),
                 backButton_.get(),      tryLaterButton_.get(),  continueButton_.get()};
    } else if (model_->step() == Step::finish) {
        chain = {loginEnableButton_.get(), loginNotNowButton_.get(), loginItemsButton_.get(), backButton_.get(),
                 continueButton_.get()};
    }
    for (std::size_t i = 0; i < chain.size(); ++i) chain[i]->setNextKeyView(chain[(i + 1) % chain.size()]);
}

// MARK: Navigation

void OnboardingWindowController::goBack() {
    if (model_->isCompleted()) return;
    model_->back();
    refresh();
}

void OnboardingWindowController::goForward() {
    switch (model_->step()) {
    case Step::finish:
        if (!model_->loginChoice() || readState_().loginBusy) {
            actions_.progressChanged();
            return;
        }
        if (model_->finish()) {
            actions_.didFinish();
            window_->close();
            actions_.progressChanged();
            return;
        }
        break;
    case Step::terminal:
        if (chosenTerminalID_) model_->confirmTerminal(*chosenTerminalID_);
        break;
    default:
        model_->continueSetup();
        break;
    }
    if (model_->isVisible()) refresh();
    else window_->close();
    actions_.progressChanged();
}

void OnboardingWindowController::tryLater() {
    model_->tryLater();
    if (model_->isVisible()) refresh();
    else window_->close();
}

void OnboardingWindowController::refreshTerminals() {
    actions_.refresh();
    refresh();
}

void OnboardingWindowController::openLastPaste() { actions_.openLastPaste(); }
void OnboardingWindowController::openHelp() { actions_.openHelp(); }
void OnboardingWindowController::openLoginItems() { actions_.openLoginItems(); }

// MARK: Window events

void OnboardingWindowController::windowWillClose(Window&) {
    model_->close();
    actions_.didClose();
}

void OnboardingWindowController::windowDidResize(Window&) { layOutNow(); }

void OnboardingWindowController::windowDidMiniaturize(Window&) { actions_.visibilityChanged(false); }
void OnboardingWindowController::windowDidDeminiaturize(Window&) { actions_.visibilityChanged(true); }

} // namespace tarpelix
