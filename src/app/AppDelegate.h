#pragma once

#include "app/AboutController.h"
#include "app/ApplicationStartupController.h"
#include "app/InstallationWindowController.h"
#include "app/RecoveryMenu.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/StatusItem.h"
#include "storage/StorageError.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

class DiagnosticStore;
class OverlayPreference;
class PasteCoordinator;
class PasteOverlayController;
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
    void openAbout();
    void checkForUpdates();
    void quit();

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
    const AboutController& aboutController();
    RecoveryMenu& recoveryMenu();

private:
    AppDelegate() = default;
    void setCoordinatorCallbacks();

    std::shared_ptr<InstallationWindowController> installationWindow_;
    std::optional<ApplicationStartupController> startup_;
    std::shared_ptr<UpdateInstallationLifecycle> updateInstallation_;
    std::shared_ptr<UpdateController> updateController_;
    std::shared_ptr<TransferStorage> transferStorage_;
    std::shared_ptr<DiagnosticStore> diagnosticStore_;
    std::shared_ptr<PasteCoordinator> pasteCoordinator_;
    std::shared_ptr<OverlayPreference> overlayPreference_;
    std::shared_ptr<PasteOverlayController> pasteOverlay_;
    std::optional<std::string> copyStatus_;
    std::optional<AboutController> aboutController_;
    std::optional<StorageError> storageWarning_;
    std::string pasteStatus_ = ready;
    std::shared_ptr<platform::StatusItem> statusItem_;
    std::unique_ptr<RecoveryMenu> recoveryMenu_;
};

} // namespace tarpelix
