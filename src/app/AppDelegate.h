#pragma once

#include "app/AboutController.h"
#include "app/ApplicationStartupController.h"
#include "app/InstallationWindowController.h"
#include "app/RecoveryMenu.h"
#include "paste/PasteCoordinator.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/StatusItem.h"
#include "platform/foundation/NotificationCenter.h"
#include "storage/StorageError.h"
#include "storage/TransferStorage.h"

#include <exception>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {
class DispatchQueue;
}

namespace tarpelix {

class CopyLastImageController;
class LaunchAtLoginController;
class OnboardingLifecycleController;
class SettingsWindowController;
struct SettingsSnapshot;
class CopyLastUploadController;
class DiagnosticStore;
class LastPasteWindowController;
class OverlayPreference;
class PasteOverlayController;
class PermissionSettingsController;
class TransferStorage;
class UpdateController;
class UpdateInstallationLifecycle;

// The application's delegate and the status menu's: it runs the installation gate at launch,
// starts the services once and in order when the gate passes, keeps each long-lived service
// (built on first use, on the main thread), turns the services' reports into the status menu
// and the overlay, and holds a quit until the paste pipeline has drained. Main thread only.
class AppDelegate final : public platform::ApplicationDelegate,
                          public platform::ActionTarget,
                          public platform::MenuDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
public:
    // The actions the menus send to the delegate.
    struct Action {
        static inline const std::string openLastPaste = "openLastPaste:";
        static inline const std::string copyLastUploadedPath = "copyLastUploadedPath:";
        static inline const std::string copyLatestImage = "copyLatestImage:";
        static inline const std::string openHelp = "openHelp:";
        static inline const std::string openAbout = "openAbout:";
        static inline const std::string showTarpelixSettings = "showTarpelixSettings:";
        static inline const std::string quit = "quit:";
        static inline const std::string resumeSetup = "resumeSetup:";
        static inline const std::string tryFirstPaste = "tryFirstPaste:";
        static inline const std::string fixPermissions = "fixPermissions:";
        static inline const std::string checkForUpdates = "checkForUpdates:";
    };

    static inline const std::string ready = "Ready";
    static inline const std::string pastingImage = "Pasting image…";
    static inline const std::string pathHandedToTerminal = "Image path handed to terminal";
    static inline const std::string seeLastPasteStatus = "See Last Paste Status";
    static inline const std::string preparingToQuit = "Preparing to quit…";
    static inline const std::string storageAttention = "Local saving needs attention — see Settings";

    static std::shared_ptr<AppDelegate> create();

    // The process's application: makes one delegate, hands it to `willRun` (the demo and the
    // tests look on through it), runs the shared application and answers 0 once it ended.
    static int runApplication(const std::function<void(const std::shared_ptr<AppDelegate>&)>& willRun = {});

    // MARK: Application delegate
    void applicationDidFinishLaunching(platform::Application& application) override;
    bool applicationShouldHandleReopen(platform::Application& application, bool hasVisibleWindows) override;
    void applicationDidBecomeActive(platform::Application& application) override;
    platform::TerminateReply applicationShouldTerminate(platform::Application& application) override;
    void applicationWillTerminate(platform::Application& application) override;

    // MARK: Status menu delegate
    void menuWillOpen(platform::Menu& menu) override;

    // MARK: Menu actions
    bool respondsToAction(const std::string& action) const override;
    void performAction(const std::string& action, platform::ActionSender* sender) override;
    void openLastPaste();
    // Nothing while images are being cleared or either copy runs.
    void copyLastUploadedPath();
    void copyLatestImage();
    void openHelp();
    void openAbout();
    void showTarpelixSettings();
    void resumeSetup();
    void tryFirstPaste();
    void fixPermissions();
    void checkForUpdates();
    void quit();

    // MARK: Work behind the Settings window, on the settings worker; results on the main queue
    // Storage status and log health; the storage warning follows them and the menu refreshes.
    void loadSettings(std::function<void(SettingsSnapshot)> completion);
    // Clears the transfer records and retained images (`images`) or the diagnostic log, once
    // the coordinator allows it; the completion gets null, or the storage's or the log's error
    // (`busy` when refused).
    void clearLocalData(bool images, std::function<void(std::exception_ptr)> completion);
    void makeDiagnosticReport(std::function<void(std::string)> completion);

    // MARK: Start-up and the menu
    void startServices();
    void showInstallation();
    // Recomputes the status line, the status item's tooltip and accessibility value, the main
    // menu's update item and the status menu; nothing before the services started.
    void refreshMenu();
    static RecoveryMenu::Actions menuActions();

    bool servicesStarted() { return startup().servicesStarted(); }
    // None until the services started.
    const std::shared_ptr<platform::StatusItem>& statusItem() const { return statusItem_; }
    const std::string& pasteStatus() const { return pasteStatus_; }
    const std::optional<StorageError>& storageWarning() const { return storageWarning_; }
    // The last message a copy-last controller reported; none after a new paste report.
    const std::optional<std::string>& copyStatus() const { return copyStatus_; }
    // True while a clear of the local images runs.
    bool clearingImages() const { return clearingImages_; }

    // The coordinator's dependencies other than its storage and diagnostics, which are always
    // the delegate's own; for tests and the demo, before the coordinator is first built.
    void setPasteCoordinatorDependencies(PasteCoordinator::Dependencies dependencies);

    // MARK: Services, each built on first use and kept
    InstallationWindowController& installationWindow();
    ApplicationStartupController& startup();
    const std::shared_ptr<UpdateInstallationLifecycle>& updateInstallation();
    const std::shared_ptr<UpdateController>& updateController();
    const std::shared_ptr<TransferStorage>& transferStorage();
    const std::shared_ptr<DiagnosticStore>& diagnosticStore();
    const std::shared_ptr<PasteCoordinator>& pasteCoordinator();
    const std::shared_ptr<OverlayPreference>& overlayPreference();
    const std::shared_ptr<PasteOverlayController>& pasteOverlay();
    const std::shared_ptr<CopyLastUploadController>& copyLastUpload();
    const std::shared_ptr<CopyLastImageController>& copyLastImage();
    const std::shared_ptr<PermissionSettingsController>& permissionsController();
    const std::shared_ptr<LaunchAtLoginController>& loginController();
    const std::shared_ptr<SettingsWindowController>& settingsController();
    // None until the Settings window controller was first built; then that controller.
    const std::shared_ptr<SettingsWindowController>& settingsWindow() const { return settingsWindow_; }
    const std::shared_ptr<OnboardingLifecycleController>& onboarding();
    // The serial queue "com.tarpelix.settings".
    const std::shared_ptr<platform::DispatchQueue>& settingsWorker();
    const AboutController& aboutController();
    RecoveryMenu& recoveryMenu();
    // None until "Last Paste Status" was first chosen; then the same controller for good.
    const std::shared_ptr<LastPasteWindowController>& lastPasteController() const { return lastPasteController_; }

private:
    AppDelegate() = default;
    void setCoordinatorCallbacks();
    void observeTerminals();
    // A known terminal launched or quit.
    void terminalLifecycleChanged(const platform::Notification& notification);
    // Both copy-last controllers load their snapshots again, unless images are being cleared.
    void refreshCopyLast();
    // A copy-last controller's failure message, shown in the status menu.
    void reportCopyStatus(const std::string& message);
    // The storage warning of a status read in the background: its own warning, else the last
    // failure of its health.
    void takeStorageWarning(const TransferStorage::Status& status);
    void finishLocalDataClear(bool images, std::exception_ptr error, const TransferStorage::Status& status,
                              const std::function<void(std::exception_ptr)>& completion);

    std::shared_ptr<InstallationWindowController> installationWindow_;
    std::optional<ApplicationStartupController> startup_;
    std::shared_ptr<UpdateInstallationLifecycle> updateInstallation_;
    std::shared_ptr<UpdateController> updateController_;
    std::shared_ptr<TransferStorage> transferStorage_;
    std::shared_ptr<DiagnosticStore> diagnosticStore_;
    std::shared_ptr<PasteCoordinator> pasteCoordinator_;
    std::shared_ptr<OverlayPreference> overlayPreference_;
    std::shared_ptr<PasteOverlayController> pasteOverlay_;
    std::shared_ptr<LastPasteWindowController> lastPasteController_;
    bool clearingImages_ = false;
    std::optional<std::string> copyStatus_;
    std::shared_ptr<CopyLastUploadController> copyLastUpload_;
    std::shared_ptr<CopyLastImageController> copyLastImage_;
    std::shared_ptr<platform::DispatchQueue> settingsWorker_;
    std::shared_ptr<PermissionSettingsController> permissionsController_;
    std::shared_ptr<LaunchAtLoginController> loginController_;
    std::optional<AboutController> aboutController_;
    std::shared_ptr<SettingsWindowController> settingsWindow_;
    std::vector<platform::NotificationObserver> terminalObservers_;
    std::shared_ptr<OnboardingLifecycleController> onboarding_;
    std::optional<StorageError> storageWarning_;
    std::string pasteStatus_ = ready;
    std::shared_ptr<platform::StatusItem> statusItem_;
    std::unique_ptr<RecoveryMenu> recoveryMenu_;
    PasteCoordinator::Dependencies coordinatorDependencies_;
};

} // namespace tarpelix
