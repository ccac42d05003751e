#include "app/AppDelegate.h"

#include "diagnostics/DiagnosticStore.h"
#include "paste/PasteCoordinator.h"
#include "platform/appkit/MenuItem.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MainThread.h"
#include "settings/PermissionSettingsController.h"
#include "storage/TransferStorage.h"
#include "updates/UpdateConfiguration.h"
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

namespace {

// A closure that refreshes the delegate's menu while the delegate lives.
std::function<void()> weakRefresh(const std::weak_ptr<AppDelegate>& weak) {
    return [weak] {
        if (auto self = weak.lock()) self->refreshMenu();
    };
}

// Reads a retained image from the delegate's storage while the delegate lives.
std::function<void(const Uuid&, std::function<void(std::optional<Bytes>)>)>
weakReadImage(const std::weak_ptr<AppDelegate>& weak) {
    return [weak](const Uuid& id, std::function<void(std::optional<Bytes>)> completion) {
        if (auto self = weak.lock()) self->transferStorage()->readImage(id, std::move(completion));
    };
}

} // namespace

std::shared_ptr<AppDelegate> AppDelegate::create() {
    requireMainThread("AppDelegate");
    return std::shared_ptr<AppDelegate>(new AppDelegate());
}

int AppDelegate::runApplication(const std::function<void(const std::shared_ptr<AppDelegate>&)>& willRun) {
    auto& application = Application::shared();
    const auto delegate = create();
    application.setDelegate(delegate);
    if (willRun) willRun(delegate);
    application.run();
    return 0;
}

RecoveryMenu::Actions AppDelegate::menuActions() {
    return {
        .showLastPaste = Action::openLastPaste,
        .copyPath = Action::copyLastUploadedPath,
        .copyImage = Action::copyLatestImage,
        .showHelp = Action::openHelp,
        .showAbout = Action::openAbout,
        .showSettings = Action::showTarpelixSettings,
        .quit = Action::quit,
        .resumeSetup = Action::resumeSetup,
        .tryFirstPaste = Action::tryFirstPaste,
        .fixPermissions = Action::fixPermissions,
        .checkForUpdates = Action::checkForUpdates,
    };
}

// MARK: Services

InstallationWindowController& AppDelegate::installationWindow() {
    requireMainThread("AppDelegate::installationWindow");
    if (!installationWindow_) installationWindow_ = InstallationWindowController::create();
    return *installationWindow_;
}

ApplicationStartupController& AppDelegate::startup() {
    requireMainThread("AppDelegate::startup");
    if (!startup_) {
        const InstallationGate gate{UpdateConfiguration().distributionMode(), Bundle::bundleURL()};
        const std::weak_ptr<AppDelegate> weak = weak_from_this();
        startup_.emplace(
            gate,
            [weak] {
                if (auto self = weak.lock()) self->startServices();
            },
            [weak] {
                if (auto self = weak.lock()) self->showInstallation();
            });
    }
    return *startup_;
}

const std::shared_ptr<UpdateInstallationLifecycle>& AppDelegate::updateInstallation() {
    requireMainThread("AppDelegate::updateInstallation");
    if (!updateInstallation_) {
        const std::weak_ptr<AppDelegate> weak = weak_from_this();
        updateInstallation_ = UpdateInstallationLifecycle::create(
            [weak](UpdateInstallationLifecycle::Completion completion) {
                if (auto self = weak.lock()) self->pasteCoordinator()->shutdown(std::move(completion));
            },
            [weak] {
                if (auto self = weak.lock()) {
                    self->pasteCoordinator()->resumeAfterShutdown(true);
                    self->refreshMenu();
                }
            });
    }
    return updateInstallation_;
}

const std::shared_ptr<UpdateController>& AppDelegate::updateController() {
    requireMainThread("AppDelegate::updateController");
    if (!updateController_) updateController_ = UpdateController::create(UpdateConfiguration(), updateInstallation());
    return updateController_;
}

const std::shared_ptr<TransferStorage>& AppDelegate::transferStorage() {
    requireMainThread("AppDelegate::transferStorage");
    if (!transferStorage_) transferStorage_ = TransferStorage::create();
    return transferStorage_;
}

const std::shared_ptr<DiagnosticStore>& AppDelegate::diagnosticStore() {
    requireMainThread("AppDelegate::diagnosticStore");
    if (!diagnosticStore_) diagnosticStore_ = DiagnosticStore::create();
    return diagnosticStore_;
}

const std::shared_ptr<PasteCoordinator>& AppDelegate::pasteCoordinator() {
    requireMainThread("AppDelegate::pasteCoordinator");
    if (!pasteCoordinator_) {
        auto dependencies = coordinatorDependencies_;
        dependencies.storage = transferStorage();
        dependencies.diagnostics = diagnosticStore();
        pasteCoordinator_ = PasteCoordinator::create(std::move(dependencies));
    }
    return pasteCoordinator_;
}

void AppDelegate::setPasteCoordinatorDependencies(PasteCoordinator::Dependencies dependencies) {
    requireMainThread("AppDelegate::setPasteCoordinatorDependencies");
    coordinatorDependencies_ = std::move(dependencies);
}

const std::shared_ptr<OverlayPreference>& AppDelegate::overlayPreference() {
    requireMainThread("AppDelegate::overlayPreference");
    if (!overlayPreference_) overlayPreference_ = OverlayPreference::create();
    return overlayPreference_;
}

const std::shared_ptr<PasteOverlayController>& AppDelegate::pasteOverlay() {
    requireMainThread("AppDelegate::pasteOverlay");
    if (!pasteOverlay_) pasteOverlay_ = PasteOverlayController::create(overlayPreference()->isEnabled());
    return pasteOverlay_;
}

const std::shared_ptr<CopyLastUploadController>& AppDelegate::copyLastUpload() {
    requireMainThread("AppDelegate::copyLastUpload");
    if (!copyLastUpload_) {
        const std::weak_ptr<AppDelegate> weak = weak_from_this();
        copyLastUpload_ = CopyLastUploadController::create(
            [weak](CopyLastUploadController::LoadCompletion completion) {
                if (auto self = weak.lock()) self->transferStorage()->loadLatestConfirmedUpload(std::move(completion));
            },
            [weak](const std::string& message) {
                if (auto self = weak.lock()) self->reportCopyStatus(message);
            },
            weakRefresh(weak));
    }
    return copyLastUpload_;
}

const std::shared_ptr<CopyLastImageController>& AppDelegate::copyLastImage() {
    requireMainThread("AppDelegate::copyLastImage");
    if (!copyLastImage_) {
        const std::weak_ptr<AppDelegate> weak = weak_from_this();
        copyLastImage_ = CopyLastImageController::create(
            [weak](CopyLastImageController::LoadCompletion completion) {
                if (auto self = weak.lock()) self->transferStorage()->loadLatestImage(std::move(completion));
            },
            weakReadImage(weak),
            [weak](const std::string& message) {
                if (auto self = weak.lock()) self->reportCopyStatus(message);
            },
            weakRefresh(weak));
    }
    return copyLastImage_;
}

const std::shared_ptr<PermissionSettingsController>& AppDelegate::permissionsController() {
    requireMainThread("AppDelegate::permissionsController");
    if (!permissionsController_) permissionsController_ = PermissionSettingsController::create();
    return permissionsController_;
}

const AboutController& AppDelegate::aboutController() {
    requireMainThread("AppDelegate::aboutController");
    if (!aboutController_) aboutController_.emplace();
    return *aboutController_;
}

RecoveryMenu& AppDelegate::recoveryMenu() {
    requireMainThread("AppDelegate::recoveryMenu");
    if (!recoveryMenu_) recoveryMenu_ = std::make_unique<RecoveryMenu>(shared_from_this(), menuActions());
    return *recoveryMenu_;
}

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
    updateController()->setChanged(refresh);
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

    // Until onboarding owns the permission model (it refreshes it on start and rebuilds the
    // menu on each of its changes), the delegate does both, so the status line never shows
    // the empty model's answers.
    permissionsController()->setOnChange(weakRefresh(weak));
    permissionsController()->refresh();

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
    // Onboarding, once built, is told here that one of the known terminals came or went.
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
    state.updateTitle = presentation.title;
    state.canCheckUpdates = presentation.canCheck;
    recoveryMenu().update(state);
}

// MARK: Actions

bool AppDelegate::respondsToAction(const std::string& action) const {
    return action == Action::openLastPaste || action == Action::copyLastUploadedPath ||
           action == Action::copyLatestImage || action == Action::openAbout || action == Action::checkForUpdates ||
           action == Action::quit;
}

void AppDelegate::performAction(const std::string& action, ActionSender*) {
    if (action == Action::openLastPaste) openLastPaste();
    if (action == Action::copyLastUploadedPath) copyLastUploadedPath();
    if (action == Action::copyLatestImage) copyLatestImage();
    if (action == Action::openAbout) openAbout();
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

void AppDelegate::openAbout() { aboutController().show(); }

void AppDelegate::checkForUpdates() { updateController()->checkForUpdates(); }

void AppDelegate::quit() { Application::shared().terminate(); }

} // namespace tarpelix
