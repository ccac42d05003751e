#include "app/AppDelegate.h"

#include "app/AppDelegateClosures.h"
#include "onboarding/OnboardingLifecycleController.h"
#include "paste/PasteCoordinator.h"
#include "platform/appkit/MenuItem.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"
#include "settings/PermissionSettingsController.h"
#include "settings/SettingsWindowController.h"
#include "storage/TransferStorage.h"
#include "updates/UpdateController.h"
#include "updates/UpdateInstallationLifecycle.h"
#include "windows/CopyLastImageController.h"
#include "windows/CopyLastUploadController.h"
#include "windows/LastPasteWindowController.h"
#include "windows/OverlayPreference.h"
#include "windows/PasteOverlayController.h"

#include <algorithm>

namespace tarpelix {

using namespace platform;

// MARK: Application delegate

void AppDelegate::applicationDidFinishLaunching(Application& application) {
    application.setActivationPolicy(ActivationPolicy::accessory);
    startup().start();
}

bool AppDelegate::applicationShouldHandleReopen(Application&, bool) {
    if (!servicesStarted()) showInstallation();
    return servicesStarted();
}

void AppDelegate::applicationDidBecomeActive(Application&) {
    if (!servicesStarted()) return;
    onboarding()->refreshServices();
    pasteCoordinator()->refreshPermissions();
}

TerminateReply AppDelegate::applicationShouldTerminate(Application&) {
    if (!servicesStarted()) return TerminateReply::terminateNow;
    // The reply comes once the paste pipeline has drained.
    updateInstallation()->terminate([] { Application::shared().replyToApplicationShouldTerminate(true); });
    return TerminateReply::terminateLater;
}

void AppDelegate::applicationWillTerminate(Application&) {
    if (!servicesStarted()) return;
    onboarding()->stop();
    auto& center = Workspace::notificationCenter();
    for (const auto& observer : terminalObservers_) center.removeObserver(observer);
    terminalObservers_.clear();
    pasteCoordinator()->setEnabled(false);
}

void AppDelegate::menuWillOpen(Menu&) {
    if (!servicesStarted()) return;
    permissionsController()->refresh();
    pasteCoordinator()->refreshPermissions();
    refreshCopyLast();
    refreshMenu();
    loadSettings([](SettingsSnapshot) {});
}

// MARK: Start-up

void AppDelegate::showInstallation() {
    auto quit = MenuItem::create("Quit Tarpelix", StandardAction::terminate, "q");
    quit->setTarget(Application::sharedPointer());
    auto submenu = Menu::create("Tarpelix");
    submenu->addItem(quit);
    auto top = MenuItem::create("Tarpelix");
    top->setSubmenu(submenu);
    auto bar = Menu::create();
    bar->addItem(top);
    Application::shared().setMainMenu(bar);
    installationWindow().show();
}

void AppDelegate::startServices() {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    const auto refresh = weakRefresh(weak);
    updateInstallation()->setChanged(refresh);
    updateController()->setChanged([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->refreshMenu();
        if (self->settingsWindow_) self->settingsWindow_->refreshUpdatesDisplay();
    });
    updateController()->start();

    auto& application = Application::shared();
    application.setActivationPolicy(ActivationPolicy::accessory);
    application.setMainMenu(RecoveryMenu::applicationMenu(shared_from_this(), menuActions()));

    statusItem_ = StatusBar::system().statusItem(variableStatusItemLength);
    RecoveryMenu::configureButton(statusItem_->button());
    const auto& menu = recoveryMenu().menu();
    statusItem_->setMenu(menu);
    menu->setAutoenablesItems(false);
    menu->setDelegate(weak_from_this());

    setCoordinatorCallbacks();
    storageWarning_ = transferStorage()->status().warning;
    pasteCoordinator()->start(true);
    refreshCopyLast();
    // Onboarding follows the permission model from here: it refreshes it now and rebuilds the
    // menu on each of its changes.
    onboarding()->start();
    observeTerminals();
    refreshMenu();
}

void AppDelegate::observeTerminals() {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto& center = Workspace::notificationCenter();
    for (const auto* name : {&WorkspaceNotificationName::didLaunchApplication,
                             &WorkspaceNotificationName::didTerminateApplication}) {
        terminalObservers_.push_back(
            center.addObserver(*name, nullptr, DispatchQueue::main(), [weak](const Notification& notification) {
                if (auto self = weak.lock()) self->terminalLifecycleChanged(notification);
            }));
    }
}

void AppDelegate::terminalLifecycleChanged(const Notification& notification) {
    const auto application = Workspace::notifiedApplication(notification);
    if (!application || !application->bundleIdentifier) return;
    const auto& terminals = PermissionSettingsController::terminals();
    const auto known = std::find_if(terminals.begin(), terminals.end(), [&](const auto& terminal) {
        return terminal.id == *application->bundleIdentifier;
    });
    if (known == terminals.end()) return;
    onboarding()->terminalLifecycleChanged();
}

void AppDelegate::refreshCopyLast() {
    if (clearingImages_) return;
    copyLastUpload()->refresh();
    copyLastImage()->refresh();
}

void AppDelegate::reportCopyStatus(const std::string& message) {
    copyStatus_ = message;
    refreshMenu();
}

void AppDelegate::setCoordinatorCallbacks() {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto& coordinator = *pasteCoordinator();
    coordinator.report = [weak](const std::string& message) {
        auto self = weak.lock();
        if (!self) return;
        // The upload's own progress leaves the status line as the feedback set it: a working
        // paste never reads like a failure.
        if (message != PasteCoordinator::uploadingReport && message != PasteCoordinator::insertedReport)
            self->pasteStatus_ = message == PasteEventTap::readyReport ? ready : seeLastPasteStatus;
        self->copyStatus_.reset();
        self->refreshMenu();
    };
    coordinator.reportPermissionReadiness = [weak] {
        if (auto self = weak.lock()) self->refreshMenu();
    };
    coordinator.reportStorageWarning = [weak](const std::optional<StorageError>& warning) {
        auto self = weak.lock();
        if (!self) return;
        self->storageWarning_ = warning;
        self->refreshMenu();
        if (self->lastPasteController_) self->lastPasteController_->refreshIfVisible();
        self->refreshCopyLast();
    };
    overlayPreference()->onChange = [weak](bool enabled) {
        if (auto self = weak.lock()) self->pasteOverlay()->setEnabled(enabled);
    };
    coordinator.reportFeedbackOrigin = [weak](const Uuid& operationID,
                                              const std::optional<PasteCoordinator::Rect>& frame) {
        auto self = weak.lock();
        if (!self) return;
        // The same numbers: the overlay reads Accessibility's coordinates itself.
        std::optional<Rect> accessibilityFrame;
        if (frame) accessibilityFrame = Rect{frame->origin.x, frame->origin.y, frame->size.width, frame->size.height};
        self->pasteOverlay()->setOrigin(operationID, accessibilityFrame);
    };
    coordinator.reportFeedback = [weak](const PasteFeedback& feedback) {
        auto self = weak.lock();
        if (!self) return;
        if (!feedback.outcome) {
            self->pasteStatus_ = pastingImage;
        } else if (*feedback.outcome == PasteFeedback::Outcome::success) {
            self->pasteStatus_ = pathHandedToTerminal;
        } else {
            self->pasteStatus_ = seeLastPasteStatus;
        }
        self->refreshMenu();
        self->pasteOverlay()->receive(feedback);
        self->onboarding()->receive(feedback);
    };
}

// MARK: The menu

void AppDelegate::refreshMenu() {
    if (!statusItem_) return;
    std::optional<std::string> frontmost;
    if (const auto application = Workspace::frontmostApplication()) frontmost = application->bundleIdentifier;
    const auto summary = permissionsController()->snapshot().menuSummary(frontmost);

    std::string status = pasteStatus_;
    if (updateInstallation()->isSuspended()) {
        status = preparingToQuit;
    } else if (auto permission = pasteCoordinator()->permissionStatus()) {
        status = *permission;
    } else if (summary) {
        status = *summary;
    }
    auto& button = statusItem_->button();
    button.setToolTip("Tarpelix: " + status);
    button.setAccessibilityValue(status);

    const auto& upload = *copyLastUpload();
    const auto& image = *copyLastImage();
    const bool canCopy = !clearingImages_ && !upload.isCopying() && !image.isCopying();

    const auto presentation = updateController()->presentation();
    if (const auto& mainMenu = Application::shared().mainMenu()) {
        RecoveryMenu::updateApplicationMenu(*mainMenu, presentation.title, presentation.canCheck);
    }
    RecoveryMenu::State state;
    if (status != ready) state.status = status;
    if (storageWarning_) state.storageWarning = storageAttention;
    state.copyStatus = copyStatus_;
    state.canCopyPath = canCopy && upload.snapshot().has_value();
    state.canCopyImage = canCopy && image.snapshot().has_value();
    const auto setup = onboarding()->menuState();
    state.showResumeSetup = setup.showResumeSetup;
    state.showTryFirstPaste = setup.showTryFirstPaste;
    state.showFixPermissions = setup.showFixPermissions;
    state.updateTitle = presentation.title;
    state.canCheckUpdates = presentation.canCheck;
    recoveryMenu().update(state);
}

// MARK: Actions

bool AppDelegate::respondsToAction(const std::string& action) const {
    static const std::string* const actions[] = {
        &Action::openLastPaste, &Action::copyLastUploadedPath, &Action::copyLatestImage, &Action::openHelp,
        &Action::openAbout,     &Action::showTarpelixSettings, &Action::quit,            &Action::resumeSetup,
        &Action::tryFirstPaste, &Action::fixPermissions,       &Action::checkForUpdates,
    };
    return std::any_of(std::begin(actions), std::end(actions), [&](const auto* known) { return *known == action; });
}

void AppDelegate::performAction(const std::string& action, ActionSender*) {
    if (action == Action::openLastPaste) openLastPaste();
    if (action == Action::copyLastUploadedPath) copyLastUploadedPath();
    if (action == Action::copyLatestImage) copyLatestImage();
    if (action == Action::openHelp) openHelp();
    if (action == Action::openAbout) openAbout();
    if (action == Action::showTarpelixSettings) showTarpelixSettings();
    if (action == Action::resumeSetup) resumeSetup();
    if (action == Action::tryFirstPaste) tryFirstPaste();
    if (action == Action::fixPermissions) fixPermissions();
    if (action == Action::checkForUpdates) checkForUpdates();
    if (action == Action::quit) quit();
}

void AppDelegate::openLastPaste() {
    if (!lastPasteController_) {
        const std::weak_ptr<AppDelegate> weak = weak_from_this();
        lastPasteController_ = LastPasteWindowController::create(
            [weak](LastPasteWindowController::LoadCompletion completion) {
                if (auto self = weak.lock()) self->transferStorage()->loadLatestAttempt(std::move(completion));
            },
            weakReadImage(weak));
    }
    lastPasteController_->showWindow();
}

void AppDelegate::copyLastUploadedPath() {
    if (clearingImages_ || copyLastUpload()->isCopying() || copyLastImage()->isCopying()) return;
    copyStatus_.reset();
    copyLastUpload()->copy();
}

void AppDelegate::copyLatestImage() {
    if (clearingImages_ || copyLastUpload()->isCopying() || copyLastImage()->isCopying()) return;
    copyStatus_.reset();
    copyLastImage()->copy();
}

void AppDelegate::openHelp() { settingsController()->showSection(SettingsSection::help); }

void AppDelegate::openAbout() { aboutController().show(); }

void AppDelegate::showTarpelixSettings() { settingsController()->showWindow(); }

void AppDelegate::resumeSetup() { onboarding()->showSetup(); }

void AppDelegate::tryFirstPaste() { onboarding()->tryFirstPaste(); }

void AppDelegate::fixPermissions() { onboarding()->fixPermissions(); }

void AppDelegate::checkForUpdates() { updateController()->checkForUpdates(); }

void AppDelegate::quit() { Application::shared().terminate(); }

} // namespace tarpelix
