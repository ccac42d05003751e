#pragma once

#include "settings/LaunchAtLoginController.h"
#include "model/PasteFeedback.h"
#include "onboarding/OnboardingModel.h"
#include "onboarding/OnboardingWindowController.h"
#include "settings/PermissionSettingsController.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {
class UserDefaults;
}

namespace tarpelix {

// Runs the first-run setup for the application: owns the setup model, creates the setup window
// on first use and fills its State and Actions, follows the permission and launch-at-login
// models, keeps the window fresh every second while it is visible, turns paste feedback into
// the first-paste texts and records the first verified paste, and tells the status menu which
// setup items to offer. stop() is final. Main thread only.
class OnboardingLifecycleController final : public std::enable_shared_from_this<OnboardingLifecycleController> {
public:
    struct MenuState {
        bool showResumeSetup = false;
        bool showTryFirstPaste = false;
        bool showFixPermissions = false;
        bool operator==(const MenuState&) const = default;
    };

    using Canceller = std::function<void()>;

    // What the application does for the setup; each does nothing by default unless stated.
    struct Actions {
        std::function<void()> refreshSettingsPermissions = [] {};
        std::function<void()> refreshSettingsLogin = [] {};
        // Tells the paste pipeline that permissions changed.
        std::function<void()> permissionRequestsDidChange = [] {};
        std::function<void()> refreshMenu = [] {};
        std::function<void()> openPermissions = [] {};
        std::function<void()> openHelp = [] {};
        // Default: opens a known terminal's installed application (activating a running one).
        std::function<void(const std::string& terminalID)> openTerminal = defaultOpenTerminal;
        // Default: a repeating 1-second timer of the common modes on the main run loop; the
        // canceller invalidates it.
        std::function<Canceller(std::function<void()> tick)> scheduleRefresh = defaultScheduleRefresh;
        std::function<void()> openLastPaste = [] {};

        static void defaultOpenTerminal(const std::string& terminalID);
        static Canceller defaultScheduleRefresh(std::function<void()> tick);
    };

    // Builds the model over the permission model's readiness; nothing else happens until start().
    static std::shared_ptr<OnboardingLifecycleController>
    create(std::shared_ptr<platform::UserDefaults> defaults, OnboardingModel::Discover discover,
           std::shared_ptr<PermissionSettingsController> permissions, std::shared_ptr<LaunchAtLoginController> login,
           Actions actions);
    // With every action at its default.
    static std::shared_ptr<OnboardingLifecycleController>
    create(std::shared_ptr<platform::UserDefaults> defaults, OnboardingModel::Discover discover,
           std::shared_ptr<PermissionSettingsController> permissions, std::shared_ptr<LaunchAtLoginController> login);
    ~OnboardingLifecycleController();
    OnboardingLifecycleController(const OnboardingLifecycleController&) = delete;
    OnboardingLifecycleController& operator=(const OnboardingLifecycleController&) = delete;

    // Once services start: hooks the permission and login callbacks, refreshes, and opens setup
    // when it was never shown. Only the first call acts.
    void start();
    // Final: cancels the refresh timer and closes the window; nothing acts afterwards.
    void stop();
    void showSetup();
    // Reopens setup on the first paste while a completed setup still needs one.
    void tryFirstPaste();
    void fixPermissions();
    // When the application becomes active.
    void refreshServices();
    // When one of the known terminals launches or quits.
    void terminalLifecycleChanged();
    // Every feedback change of the current paste.
    void receive(const PasteFeedback& feedback);
    MenuState menuState() const;

    // What the window shows from the permission and login models and the paste texts.
    OnboardingWindowController::State windowState() const;

    OnboardingModel& model() const { return *model_; }
    // None until setup was first shown.
    OnboardingWindowController* windowController() const { return windowController_.get(); }

    struct Token {
        explicit Token() = default;
    };
    OnboardingLifecycleController(Token, std::shared_ptr<platform::UserDefaults> defaults,
                                  OnboardingModel::Discover discover,
                                  std::shared_ptr<PermissionSettingsController> permissions,
                                  std::shared_ptr<LaunchAtLoginController> login, Actions actions);

private:
    struct Readiness {
        bool accessibility = false;
        bool clipboard = false;
        std::map<std::string, bool> automation;
        bool operator==(const Readiness&) const = default;
    };
    Readiness readiness() const;
    void refreshDisplay();
    void refreshEverything();
    bool windowShowing() const;
    void startRefreshTimer();
    void cancelRefreshTimer();
    void tick();
    void requestAutomation(const std::string& id);
    OnboardingWindowController::Actions windowActions();
    void refreshWindowIfVisible();

    std::shared_ptr<OnboardingModel> model_;
    std::shared_ptr<OnboardingWindowController> windowController_;
    std::shared_ptr<PermissionSettingsController> permissions_;
    std::shared_ptr<LaunchAtLoginController> login_;
    Actions actions_;
    Canceller cancelRefresh_;
    bool started_ = false;
    bool stopped_ = false;
    std::optional<std::string> pasteMessage_;
    std::string pasteTitle_ = "Waiting for your paste";
    bool pasteBusy_ = false;
    bool pasteNeedsRecovery_ = false;
    std::optional<Readiness> lastReadiness_;
};

} // namespace tarpelix
