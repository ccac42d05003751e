#include "app/InstallationWindowController.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix {

using namespace platform;

namespace {

constexpr double sideInset = 24;

std::shared_ptr<Button> pushButton(std::string title, std::string keyEquivalent) {
    auto button = Button::withTitle(std::move(title));
    button->setBezelStyle(BezelStyle::rounded);
    button->setKeyEquivalent(std::move(keyEquivalent));
    return button;
}

} // namespace

std::shared_ptr<InstallationWindowController> InstallationWindowController::create(Action openApplications,
                                                                                   Action quit) {
    requireMainThread("InstallationWindowController");
    if (!openApplications) {
        openApplications = [] { Workspace::openURL(Workspace::applicationsDirectory().absoluteString()); };
    }
    if (!quit) quit = [] { Application::shared().terminate(); };
    std::shared_ptr<InstallationWindowController> controller(
        new InstallationWindowController(std::move(openApplications), std::move(quit)));
    controller->window_->setDelegate(controller);
    std::weak_ptr<InstallationWindowController> weak = controller;
    controller->quitButton_->setAction("quitClicked", [weak](Control&) {
        if (auto self = weak.lock()) self->quitClicked();
    });
    controller->openApplicationsButton_->setAction("openApplicationsClicked", [weak](Control&) {
        if (auto self = weak.lock()) self->openApplicationsClicked();
    });
    return controller;
}

InstallationWindowController::InstallationWindowController(Action openApplications, Action quit)
    : openApplications_(std::move(openApplications)), quit_(std::move(quit)) {
    window_ = Window::create({0, 0, contentWidth, contentHeight}, WindowStyle::titled | WindowStyle::closable);
    window_->setTitle("Install Tarpelix");
    window_->setReleasedWhenClosed(false);

    quitButton_ = pushButton("Quit", "\x1b");
    openApplicationsButton_ = pushButton("Open Applications", "\r");

    auto heading = Label::labelWithString("Move Tarpelix to Applications");
    heading->setFont(Font::boldSystemFont(17));
    auto message = Label::wrappingLabelWithString("Move Tarpelix to the Applications folder in Finder, then open it there.");
    message->setPreferredMaxLayoutWidth(contentWidth - 2 * sideInset);

    auto buttons = StackView::create({quitButton_, openApplicationsButton_});
    buttons->setOrientation(LayoutAxis::horizontal);
    buttons->setSpacing(12);

    auto stack = StackView::create({heading, message, buttons});
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::leading);
    stack->setSpacing(16);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);

    auto& content = *window_->contentView();
    content.addSubview(stack);
    ViewConstraint::activate({
        stack->leadingAnchor().constraintEqualTo(content.leadingAnchor(), sideInset),
        stack->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -sideInset),
        stack->centerYAnchor().constraintEqualTo(content.centerYAnchor()),
    });
    window_->center();
}

void InstallationWindowController::show() {
    requireMainThread("InstallationWindowController::show");
    window_->makeKeyAndOrderFront();
    window_->orderFrontRegardless();
    Application::shared().activate();
}

void InstallationWindowController::openApplicationsClicked() {
    requireMainThread("InstallationWindowController::openApplicationsClicked");
    openApplications_();
}

void InstallationWindowController::quitClicked() {
    requireMainThread("InstallationWindowController::quitClicked");
    quit_();
}

bool InstallationWindowController::windowShouldClose(Window&) {
    requireMainThread("InstallationWindowController::windowShouldClose");
    quit_();
    return false;
}

} // namespace tarpelix
