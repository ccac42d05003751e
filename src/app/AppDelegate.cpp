#include "app/AppDelegate.h"

#include "app/AppDelegateClosures.h"
#include "diagnostics/DiagnosticStore.h"
#include "onboarding/OnboardingLifecycleController.h"
#include "onboarding/OnboardingTerminalDiscovery.h"
#include "paste/PasteCoordinator.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/UserDefaults.h"
#include "settings/LaunchAtLoginController.h"
#include "settings/PermissionSettingsController.h"
#include "settings/SettingsWindowController.h"
#include "storage/TransferStorage.h"
#include "updates/UpdateConfiguration.h"
#include "updates/UpdateController.h"
#include "updates/UpdateInstallationLifecycle.h"
#include "windows/CopyLastImageController.h"
#include "windows/CopyLastUploadController.h"
#include "windows/OverlayPreference.h"
#include "windows/PasteOverlayController.h"

namespace tarpelix {

using namespace platform;

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

const std::shared_ptr<DispatchQueue>& AppDelegate::settingsWorker() {
    requireMainThread("AppDelegate::settingsWorker");
    if (!settingsWorker_) settingsWorker_ = DispatchQueue::create("com.tarpelix.settings");
    return settingsWorker_;
}

const std::shared_ptr<LaunchAtLoginController>& AppDelegate::loginController() {
    requireMainThread("AppDelegate::loginController");
    if (!loginController_) loginController_ = LaunchAtLoginController::create(LaunchAtLoginController::Dependencies::live());
    return loginController_;
}

const std::shared_ptr<SettingsWindowController>& AppDelegate::settingsController() {
    requireMainThread("AppDelegate::settingsController");
    if (settingsWindow_) return settingsWindow_;
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto clear = [weak](bool images) {
        return [weak, images](SettingsWindowController::ClearCompletion completion) {
            if (auto self = weak.lock()) self->clearLocalData(images, std::move(completion));
        };
    };
    settingsWindow_ = SettingsWindowController::create(
        [weak](SettingsWindowController::LoadCompletion completion) {
            if (auto self = weak.lock()) self->loadSettings(std::move(completion));
        },
        clear(true), clear(false),
        [weak](SettingsWindowController::ReportCompletion completion) {
            if (auto self = weak.lock()) self->makeDiagnosticReport(std::move(completion));
        },
        [weak] {
            auto self = weak.lock();
            return !self || self->pasteCoordinator()->isBusy();
        },
        UserDefaults::standard(), permissionsController(), overlayPreference(), loginController(),
        [weak] {
            if (auto self = weak.lock()) return self->updateController()->presentation();
            return SettingsWindowController::defaultUpdatePresentation();
        },
        [weak](bool on) {
            if (auto self = weak.lock()) self->updateController()->setAutomaticallyChecks(on);
        },
        [weak] {
            if (auto self = weak.lock()) self->updateController()->checkForUpdates();
        });
    return settingsWindow_;
}

const std::shared_ptr<OnboardingLifecycleController>& AppDelegate::onboarding() {
    requireMainThread("AppDelegate::onboarding");
    if (onboarding_) return onboarding_;
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto withSelf = [weak](void (*body)(AppDelegate&)) {
        return [weak, body] {
            if (auto self = weak.lock()) body(*self);
        };
    };
    OnboardingLifecycleController::Actions actions;
    actions.refreshSettingsPermissions = withSelf([](AppDelegate& self) {
        if (self.settingsWindow_) self.settingsWindow_->refreshPermissionsDisplay();
    });
    actions.refreshSettingsLogin = withSelf([](AppDelegate& self) {
        if (self.settingsWindow_) self.settingsWindow_->refreshLoginDisplay();
    });
    actions.permissionRequestsDidChange =
        withSelf([](AppDelegate& self) { self.pasteCoordinator()->permissionsDidChange(); });
    actions.refreshMenu = weakRefresh(weak);
    actions.openPermissions =
        withSelf([](AppDelegate& self) { self.settingsController()->showSection(SettingsSection::permissions); });
    actions.openHelp = withSelf([](AppDelegate& self) { self.settingsController()->showSection(SettingsSection::help); });
    actions.openLastPaste = withSelf([](AppDelegate& self) { self.openLastPaste(); });
    const auto discovery = OnboardingTerminalDiscovery(OnboardingTerminalDiscovery::Dependencies::live());
    onboarding_ = OnboardingLifecycleController::create(
        UserDefaults::standard(), [discovery] { return discovery.discover(); }, permissionsController(),
        loginController(), std::move(actions));
    return onboarding_;
}

} // namespace tarpelix
