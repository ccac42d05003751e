#include "onboarding/OnboardingLifecycleController.h"

#include "platform/desktop/Workspace.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "terminal/GhosttyCompatibility.h"

#include <algorithm>

namespace tarpelix {

using namespace platform;
using Outcome = PasteFeedback::Outcome;
using Stage = PasteFeedback::Stage;
using PermissionState = OnboardingWindowController::PermissionState;

namespace {

bool isKnownTerminal(const std::string& id) {
    const auto& known = PermissionSettingsController::terminals();
    return std::any_of(known.begin(), known.end(), [&](const auto& terminal) { return terminal.id == id; });
}

std::optional<std::string> lookup(const std::map<std::string, std::string>& messages, const std::string& key) {
    auto found = messages.find(key);
    return found == messages.end() ? std::nullopt : std::optional(found->second);
}

std::string stageTitle(Stage stage) {
    switch (stage) {
    case Stage::preparing:
        return "Preparing image\u2026";
    case Stage::resolving:
        return "Checking remote session\u2026";
    case Stage::uploading:
        return "Uploading image\u2026";
    case Stage::inserting:
        return "Sending path to terminal\u2026";
    }
    return "Preparing image\u2026";
}

// The title and message of a paste that ended without a verified upload and insertion.
std::pair<std::string, std::string> recoveryTexts(Outcome outcome, bool confirmed) {
    const std::string prefix = confirmed ? "Image uploaded. " : "";
    switch (outcome) {
    case Outcome::success:
        return {"Upload unconfirmed", "Check Last Paste Status before trying again."};
    case Outcome::failed:
        return {"Paste didn\u2019t complete", prefix + "Check Last Paste Status or open Help."};
    case Outcome::cancelled:
        return {"Paste cancelled", prefix + "Check your terminal and Last Paste Status before trying again."};
    case Outcome::uploadedWithoutInsertion:
        return {"Path not inserted", confirmed ? "Image uploaded. Recover its path in Last Paste Status."
                                               : "Upload unconfirmed. Check Last Paste Status."};
    case Outcome::ambiguous:
        return {"Path handoff uncertain", std::string(confirmed ? "Image uploaded. " : "Upload unconfirmed. ") +
                                              "Check your terminal before trying again."};
    case Outcome::interrupted:
    case Outcome::normalPaste:
        break;
    }
    return {"Paste interrupted", prefix + "Check your terminal and Last Paste Status before trying again."};
}

} // namespace

// MARK: Defaults of the actions

void OnboardingLifecycleController::Actions::defaultOpenTerminal(const std::string& terminalID) {
    if (!isKnownTerminal(terminalID)) return;
    auto url = Workspace::urlForApplication(terminalID);
    if (!url) return;
    Workspace::openApplication(*url, [](const std::optional<RunningApplication>&) {});
}

OnboardingLifecycleController::Canceller
OnboardingLifecycleController::Actions::defaultScheduleRefresh(std::function<void()> tick) {
    auto timer = RunLoop::main()->scheduleTimer(1.0, true, TimerMode::common,
                                                [tick = std::move(tick)](RunLoopTimer&) { tick(); });
    return [timer] { timer->invalidate(); };
}

// MARK: Creation

std::shared_ptr<OnboardingLifecycleController> OnboardingLifecycleController::create(
    std::shared_ptr<UserDefaults> defaults, OnboardingModel::Discover discover,
    std::shared_ptr<PermissionSettingsController> permissions, std::shared_ptr<LaunchAtLoginController> login,
    Actions actions) {
    requireMainThread("OnboardingLifecycleController");
    return std::make_shared<OnboardingLifecycleController>(Token{}, std::move(defaults), std::move(discover),
                                                           std::move(permissions), std::move(login),
                                                           std::move(actions));
}

std::shared_ptr<OnboardingLifecycleController> OnboardingLifecycleController::create(
    std::shared_ptr<UserDefaults> defaults, OnboardingModel::Discover discover,
    std::shared_ptr<PermissionSettingsController> permissions, std::shared_ptr<LaunchAtLoginController> login) {
    return create(std::move(defaults), std::move(discover), std::move(permissions), std::move(login), Actions{});
}

OnboardingLifecycleController::OnboardingLifecycleController(Token, std::shared_ptr<UserDefaults> defaults,
                                                             OnboardingModel::Discover discover,
                                                             std::shared_ptr<PermissionSettingsController> permissions,
                                                             std::shared_ptr<LaunchAtLoginController> login,
                                                             Actions actions)
    : permissions_(std::move(permissions)), login_(std::move(login)), actions_(std::move(actions)) {
    std::weak_ptr<PermissionSettingsController> weakPermissions = permissions_;
    auto ready = [weakPermissions](const std::string& id) {
        auto permissions = weakPermissions.lock();
        if (!permissions) return false;
        const auto& s = permissions->snapshot();
        auto automation = s.automation.find(id);
        return s.accessibilityAllowed && s.clipboard == ClipboardStatus::alwaysAllow &&
               automation != s.automation.end() && automation->second == AutomationStatus::allowed &&
               s.isTerminalCompatible(id);
    };
    model_ = std::make_shared<OnboardingModel>(std::move(defaults), std::move(discover), std::move(ready));
}

OnboardingLifecycleController::~OnboardingLifecycleController() {
    if (cancelRefresh_) cancelRefresh_();
}

// MARK: Refreshing

OnboardingLifecycleController::Readiness OnboardingLifecycleController::readiness() const {
    const auto& s = permissions_->snapshot();
    Readiness result{s.accessibilityAllowed, s.clipboard == ClipboardStatus::alwaysAllow, {}};
    for (const auto& terminal : PermissionSettingsController::terminals()) {
        auto found = s.automation.find(terminal.id);
        result.automation[terminal.id] = found != s.automation.end() && found->second == AutomationStatus::allowed;
    }
    return result;
}

bool OnboardingLifecycleController::windowShowing() const {
    return windowController_ && windowController_->window().isVisible();
}

void OnboardingLifecycleController::refreshWindowIfVisible() {
    if (windowShowing()) windowController_->refresh();
}

void OnboardingLifecycleController::refreshDisplay() {
    model_->refresh();
    refreshWindowIfVisible();
    actions_.refreshMenu();
}

void OnboardingLifecycleController::refreshEverything() {
    if (stopped_) return;
    permissions_->refresh();
    login_->refresh();
    refreshDisplay();
}

// MARK: Lifecycle

void OnboardingLifecycleController::start() {
    if (started_) return;
    started_ = true;
    std::weak_ptr<OnboardingLifecycleController> weak = weak_from_this();
    permissions_->setOnChange([weak] {
        auto self = weak.lock();
        if (!self || self->stopped_) return;
        const Readiness current = self->readiness();
        if (self->lastReadiness_ && *self->lastReadiness_ != current) self->actions_.permissionRequestsDidChange();
        self->lastReadiness_ = current;
        self->actions_.refreshSettingsPermissions();
        self->refreshDisplay();
    });
    permissions_->setPermissionsDidChange([weak] {
        auto self = weak.lock();
        if (!self || self->stopped_) return;
        self->actions_.permissionRequestsDidChange();
        // The request's end is told here; keeping its readiness stops onChange, which follows,
        // from telling the same change again.
        self->lastReadiness_ = self->readiness();
        self->refreshDisplay();
    });
    login_->onChange = [weak] {
        auto self = weak.lock();
        if (!self || self->stopped_) return;
        self->actions_.refreshSettingsLogin();
        self->refreshDisplay();
    };
    if (stopped_) return;
    refreshEverything();
    if (model_->shouldPresentAutomatically()) showSetup();
}

void OnboardingLifecycleController::stop() {
    stopped_ = true;
    cancelRefreshTimer();
    if (windowController_) windowController_->window().close();
}

void OnboardingLifecycleController::showSetup() {
    if (stopped_) return;
    refreshEverything();
    if (!windowController_) {
        std::weak_ptr<OnboardingLifecycleController> weak = weak_from_this();
        auto state = [weak] {
            auto self = weak.lock();
            return self ? self->windowState() : OnboardingWindowController::State{};
        };
        windowController_ = OnboardingWindowController::create(model_, std::move(state), windowActions());
    }
    windowController_->showSetup();
    startRefreshTimer();
    refreshDisplay();
}

OnboardingWindowController::Actions OnboardingLifecycleController::windowActions() {
    std::weak_ptr<OnboardingLifecycleController> weak = weak_from_this();
    // Each action runs on this controller while it lives.
    auto with = [weak](auto body) {
        return [weak, body](auto&&... arguments) {
            if (auto self = weak.lock()) body(*self, arguments...);
        };
    };
    OnboardingWindowController::Actions a;
    a.requestAccessibility = with([](OnboardingLifecycleController& self) {
        self.permissions_->refresh();
        self.permissions_->performAccessibilityAction();
    });
    a.requestClipboard = with([](OnboardingLifecycleController& self) {
        self.permissions_->refresh();
        self.permissions_->performClipboardAction();
    });
    a.requestAutomation =
        with([](OnboardingLifecycleController& self, const std::string& id) { self.requestAutomation(id); });
    a.openTerminal =
        with([](OnboardingLifecycleController& self, const std::string& id) { self.actions_.openTerminal(id); });
    a.refresh = with([](OnboardingLifecycleController& self) { self.refreshEverything(); });
    a.openHelp = with([](OnboardingLifecycleController& self) { self.actions_.openHelp(); });
    a.enableLaunchAtLogin = with([](OnboardingLifecycleController& self) { self.login_->setEnabled(true); });
    a.openLoginItems = with([](OnboardingLifecycleController& self) { self.login_->openLoginItems(); });
    a.didClose = with([](OnboardingLifecycleController& self) {
        self.cancelRefreshTimer();
        self.actions_.refreshMenu();
    });
    a.didFinish = with([](OnboardingLifecycleController& self) { self.actions_.refreshMenu(); });
    a.visibilityChanged = with([](OnboardingLifecycleController& self, bool visible) {
        if (visible) self.startRefreshTimer();
        else self.cancelRefreshTimer();
    });
    a.progressChanged = with([](OnboardingLifecycleController& self) { self.refreshDisplay(); });
    a.openLastPaste = with([](OnboardingLifecycleController& self) { self.actions_.openLastPaste(); });
    return a;
}

// MARK: The refresh timer

void OnboardingLifecycleController::startRefreshTimer() {
    if (cancelRefresh_ || stopped_) return;
    if (!windowShowing() || windowController_->window().isMiniaturized()) return;
    std::weak_ptr<OnboardingLifecycleController> weak = weak_from_this();
    cancelRefresh_ = actions_.scheduleRefresh([weak] {
        if (auto self = weak.lock()) self->tick();
    });
}

void OnboardingLifecycleController::cancelRefreshTimer() {
    if (!cancelRefresh_) return;
    auto cancel = std::move(cancelRefresh_);
    cancelRefresh_ = nullptr;
    cancel();
}

void OnboardingLifecycleController::tick() {
    if (stopped_ || !windowShowing() || windowController_->window().isMiniaturized()) return;
    refreshEverything();
}

// MARK: Menu items

void OnboardingLifecycleController::tryFirstPaste() {
    if (model_->needsFirstPaste()) showSetup();
}

void OnboardingLifecycleController::fixPermissions() { actions_.openPermissions(); }

void OnboardingLifecycleController::refreshServices() { refreshEverything(); }

void OnboardingLifecycleController::terminalLifecycleChanged() { refreshEverything(); }

OnboardingLifecycleController::MenuState OnboardingLifecycleController::menuState() const {
    const bool completed = model_->isCompleted();
    return {!completed, model_->needsFirstPaste(), completed && !model_->isReady()};
}

// MARK: The selected terminal's Automation

void OnboardingLifecycleController::requestAutomation(const std::string& id) {
    model_->refresh();
    if (model_->selectedTerminalID() != id || !model_->terminals().terminal(id)) {
        refreshDisplay();
        return;
    }
    if (id == GhosttyCompatibility::bundleID) {
        using Compatibility = GhosttyCompatibility::Status;
        if (permissions_->snapshot().ghosttyCompatibility == Compatibility::unavailable) {
            permissions_->refresh();
            return;
        }
        permissions_->refresh();
        const auto compatibility = permissions_->snapshot().ghosttyCompatibility;
        if (compatibility == Compatibility::updateRequired) {
            permissions_->openGhosttyPrerelease();
            return;
        }
        if (compatibility != Compatibility::supported) return;
    } else {
        permissions_->refresh();
    }
    const auto& automation = permissions_->snapshot().automation;
    auto status = automation.find(id);
    if (status == automation.end()) return;
    switch (status->second) {
    case AutomationStatus::allowed:
    case AutomationStatus::denied:
    case AutomationStatus::unavailable:
        permissions_->openPrivacyPane("Privacy_Automation");
        break;
    case AutomationStatus::notDetermined:
        permissions_->requestAutomation(id);
        break;
    case AutomationStatus::notRunning:
        actions_.openTerminal(id);
        break;
    case AutomationStatus::checking:
        break;
    }
}

// MARK: What the window shows

OnboardingWindowController::State OnboardingLifecycleController::windowState() const {
    const auto& s = permissions_->snapshot();
    OnboardingWindowController::State state;

    state.accessibility = PermissionState{
        .status = s.accessibilityAllowed ? "Allowed" : "Not allowed",
        .allowed = s.accessibilityAllowed,
        .action = s.accessibilityAction(),
        .busy = s.busy.contains(PermissionSettingsController::accessibilityKey),
        .enabled = true,
        .message = lookup(s.message, PermissionSettingsController::accessibilityKey),
        .neutral = false,
        .detail = std::nullopt,
    };

    const auto& selected = model_->selectedTerminalID();
    AutomationStatus st = AutomationStatus::checking;
    if (selected) {
        if (auto found = s.automation.find(*selected); found != s.automation.end()) st = found->second;
    }
    PermissionState automation;
    automation.status = title(st);
    automation.allowed = st == AutomationStatus::allowed;
    switch (st) {
    case AutomationStatus::allowed:
    case AutomationStatus::denied:
    case AutomationStatus::unavailable:
        automation.action = "Open Settings\u2026";
        break;
    case AutomationStatus::notDetermined:
    case AutomationStatus::checking:
        automation.action = "Request Access\u2026";
        break;
    case AutomationStatus::notRunning: {
        const auto* terminal = model_->terminals().terminal(selected);
        automation.action = "Open " + (terminal ? terminal->name : std::string("Terminal"));
        break;
    }
    }
    automation.busy = st == AutomationStatus::checking || (selected && s.busy.contains(*selected));
    automation.enabled = true;
    if (selected) {
        std::string joined;
        for (const auto& part : {s.compatibilityMessage(*selected), lookup(s.message, *selected)}) {
            if (!part) continue;
            if (!joined.empty()) joined += "\n";
            joined += *part;
        }
        if (!joined.empty()) automation.message = joined;
    }
    automation.neutral = st == AutomationStatus::notRunning || st == AutomationStatus::checking ||
                         st == AutomationStatus::notDetermined;
    if (selected == GhosttyCompatibility::bundleID) {
        using Compatibility = GhosttyCompatibility::Status;
        const auto compatibility = s.ghosttyCompatibility;
        if (!compatibility || *compatibility == Compatibility::checking) {
            automation.status = "Checking\u2026";
            automation.busy = true;
            automation.neutral = true;
            automation.allowed = false;
        } else if (*compatibility == Compatibility::updateRequired) {
            automation.status = "Update required";
            automation.action = "Get Prerelease\u2026";
            automation.busy = automation.neutral = automation.allowed = false;
        } else if (*compatibility == Compatibility::unavailable) {
            automation.status = "Unavailable";
            automation.action = "Refresh";
            automation.busy = automation.neutral = automation.allowed = false;
        }
    }
    state.automation = automation;

    std::optional<std::string> clipboardDetail = lookup(s.message, PermissionSettingsController::clipboardKey);
    if (!clipboardDetail) clipboardDetail = s.clipboardGuidance();
    if (!clipboardDetail) clipboardDetail = "Read images you paste.";
    state.clipboard = PermissionState{
        .status = title(s.clipboard),
        .allowed = s.clipboard == ClipboardStatus::alwaysAllow,
        .action = s.clipboardAction(),
        .busy = s.busy.contains(PermissionSettingsController::clipboardKey),
        .enabled = true,
        .message = std::nullopt,
        .neutral = s.clipboard == ClipboardStatus::defaultAccess,
        .detail = clipboardDetail,
    };

    state.loginState = login_->state();
    state.loginBusy = login_->isBusy();
    state.loginMessage = login_->errorMessage();
    state.pasteMessage = pasteMessage_;
    state.pasteNeedsRecovery = pasteNeedsRecovery_;
    state.pasteTitle = pasteTitle_;
    state.pasteBusy = pasteBusy_;
    return state;
}

// MARK: Paste feedback

void OnboardingLifecycleController::receive(const PasteFeedback& feedback) {
    if (stopped_ || model_->firstPasteVerified()) return;
    std::string title;
    std::optional<std::string> message;
    bool busy = false;
    bool recovery = false;
    if (!feedback.outcome) {
        title = stageTitle(feedback.stage);
        busy = true;
    } else if (*feedback.outcome == Outcome::success && feedback.uploadConfirmed) {
        model_->recordFirstPasteSuccess();
        pasteMessage_.reset();
        pasteBusy_ = false;
        pasteNeedsRecovery_ = false;
        refreshWindowIfVisible();
        actions_.refreshMenu();
        return;
    } else if (*feedback.outcome == Outcome::normalPaste) {
        return;
    } else {
        auto [recoveryTitle, recoveryMessage] = recoveryTexts(*feedback.outcome, feedback.uploadConfirmed);
        title = std::move(recoveryTitle);
        message = std::move(recoveryMessage);
        recovery = true;
    }
    if (title == pasteTitle_ && message == pasteMessage_ && busy == pasteBusy_ && recovery == pasteNeedsRecovery_) {
        return;
    }
    pasteTitle_ = std::move(title);
    pasteMessage_ = std::move(message);
    pasteBusy_ = busy;
    pasteNeedsRecovery_ = recovery;
    refreshWindowIfVisible();
}

} // namespace tarpelix
