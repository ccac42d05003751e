#include "settings/PermissionSettingsController.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix {

using platform::requireMainThread;

namespace {

const std::string& ghosttyID() { return GhosttyCompatibility::bundleID; }

bool isKnownTerminal(const std::string& id) {
    for (const auto& terminal : PermissionSettingsController::terminals()) {
        if (terminal.id == id) return true;
    }
    return false;
}

} // namespace

// MARK: Values

std::optional<std::string> urlOf(const Installation& installation) {
    if (const auto* available = std::get_if<installation::Available>(&installation)) return available->url;
    return std::nullopt;
}

std::string title(AutomationStatus status) {
    switch (status) {
    case AutomationStatus::allowed:
        return "Allowed";
    case AutomationStatus::denied:
        return "Not allowed";
    case AutomationStatus::notDetermined:
        return "Not requested";
    case AutomationStatus::notRunning:
        return "Not running";
    case AutomationStatus::checking:
        return "Checking\u2026";
    case AutomationStatus::unavailable:
        break;
    }
    return "Unavailable";
}

AutomationStatus automationStatusFrom(std::int32_t osStatus) {
    switch (osStatus) {
    case 0:
        return AutomationStatus::allowed;
    case -1743:
        return AutomationStatus::denied;
    case -1744:
        return AutomationStatus::notDetermined;
    case -600:
        return AutomationStatus::notRunning;
    default:
        return AutomationStatus::unavailable;
    }
}

std::string title(ClipboardStatus status) {
    switch (status) {
    case ClipboardStatus::defaultAccess:
        return "Not requested";
    case ClipboardStatus::ask:
        return "Ask on access";
    case ClipboardStatus::alwaysAllow:
        return "Always Allow";
    case ClipboardStatus::alwaysDeny:
        return "Not allowed";
    case ClipboardStatus::unavailable:
        break;
    }
    return "Unavailable";
}

ClipboardStatus clipboardStatusFrom(int accessBehavior) {
    if (accessBehavior < 0 || accessBehavior > 3) return ClipboardStatus::unavailable;
    return static_cast<ClipboardStatus>(accessBehavior);
}

const std::vector<PermissionSettingsController::Terminal>& PermissionSettingsController::terminals() {
    static const std::vector<Terminal> table{
        {GhosttyCompatibility::bundleID, "Ghostty"},
        {"com.googlecode.iterm2", "iTerm2"},
        {"com.apple.Terminal", "Terminal"},
    };
    return table;
}

// MARK: Snapshot texts

std::string PermissionSettingsController::Snapshot::accessibilityAction() const {
    return accessibilityAllowed || accessibilityRequested ? "Open Settings\u2026" : "Request Access\u2026";
}

std::string PermissionSettingsController::Snapshot::clipboardAction() const {
    return clipboard == ClipboardStatus::defaultAccess ? "Request Access\u2026" : "Open Settings\u2026";
}

std::optional<std::string> PermissionSettingsController::Snapshot::clipboardGuidance() const {
    switch (clipboard) {
    case ClipboardStatus::defaultAccess:
        return "Copy an image, then request access.";
    case ClipboardStatus::ask:
    case ClipboardStatus::alwaysDeny:
        return "Choose Always Allow in System Settings.";
    case ClipboardStatus::alwaysAllow:
        return std::nullopt;
    case ClipboardStatus::unavailable:
        break;
    }
    return "Check Clipboard access in System Settings.";
}

bool PermissionSettingsController::Snapshot::isTerminalCompatible(const std::string& id) const {
    return id != ghosttyID() || ghosttyCompatibility == GhosttyCompatibility::Status::supported;
}

std::optional<std::string> PermissionSettingsController::Snapshot::compatibilityMessage(const std::string& id) const {
    if (id != ghosttyID() || !ghosttyCompatibility) return std::nullopt;
    switch (*ghosttyCompatibility) {
    case GhosttyCompatibility::Status::checking:
        return "Checking Ghostty compatibility\u2026";
    case GhosttyCompatibility::Status::updateRequired:
        return "Requires a newer Ghostty prerelease.";
    case GhosttyCompatibility::Status::unavailable:
        return "Couldn\u2019t check Ghostty compatibility.";
    case GhosttyCompatibility::Status::supported:
        break;
    }
    return std::nullopt;
}

std::optional<std::string>
PermissionSettingsController::Snapshot::menuSummary(const std::optional<std::string>& id) const {
    if (!accessibilityAllowed) return "Accessibility permission required";
    if (clipboard != ClipboardStatus::alwaysAllow) return "Clipboard: choose Always Allow";
    if (!id) return std::nullopt;
    auto status = automation.find(*id);
    if (status != automation.end() && status->second != AutomationStatus::allowed) {
        return "Automation: " + title(status->second);
    }
    return std::nullopt;
}

// MARK: Controller

std::shared_ptr<PermissionSettingsController> PermissionSettingsController::create(Dependencies dependencies,
                                                                                   std::function<double()> uptime) {
    requireMainThread("PermissionSettingsController::create");
    if (!uptime) uptime = platform::systemUptime;
    return std::make_shared<PermissionSettingsController>(Token{}, std::move(dependencies), std::move(uptime));
}

PermissionSettingsController::PermissionSettingsController(Token, Dependencies dependencies,
                                                           std::function<double()> uptime)
    : dependencies_(std::move(dependencies)), uptime_(std::move(uptime)) {}

const PermissionSettingsController::Snapshot& PermissionSettingsController::snapshot() const {
    requireMainThread("PermissionSettingsController::snapshot");
    return snapshot_;
}

void PermissionSettingsController::setOnChange(std::function<void()> onChange) {
    requireMainThread("PermissionSettingsController::setOnChange");
    onChange_ = std::move(onChange);
}

void PermissionSettingsController::setPermissionsDidChange(std::function<void()> permissionsDidChange) {
    requireMainThread("PermissionSettingsController::setPermissionsDidChange");
    permissionsDidChange_ = std::move(permissionsDidChange);
}

void PermissionSettingsController::onMain(std::weak_ptr<PermissionSettingsController> weak,
                                          std::function<void(PermissionSettingsController&)> apply) {
    auto run = [weak = std::move(weak), apply = std::move(apply)] {
        if (auto self = weak.lock()) apply(*self);
    };
    platform::performOnMain(std::move(run));
}

void PermissionSettingsController::changed() const {
    if (onChange_) onChange_();
}

std::int64_t PermissionSettingsController::nextGeneration(const std::string& key) { return ++generations_[key]; }

std::int64_t PermissionSettingsController::generation(const std::string& key) const {
    auto found = generations_.find(key);
    return found == generations_.end() ? 0 : found->second;
}

void PermissionSettingsController::readBasics() {
    snapshot_.accessibilityAllowed = dependencies_.accessibility();
    snapshot_.inputMonitoringAllowed = dependencies_.inputMonitoring();
    const ClipboardStatus clipboard = dependencies_.clipboard();
    if (clipboard == ClipboardStatus::alwaysAllow || clipboard != snapshot_.clipboard) {
        snapshot_.message.erase(clipboardKey);
    }
    snapshot_.clipboard = clipboard;
}

void PermissionSettingsController::refresh() {
    requireMainThread("PermissionSettingsController::refresh");
    readBasics();
    for (const auto& terminal : terminals()) snapshot_.installations[terminal.id] = dependencies_.installation(terminal.id);
    refreshGhosttyCompatibility();

    for (const auto& terminal : terminals()) {
        const std::string& id = terminal.id;
        if (snapshot_.busy.contains(id)) continue;
        if (!dependencies_.running(id)) {
            nextGeneration(id); // an answer still in flight is dropped
            checking_.erase(id);
            snapshot_.automation[id] = AutomationStatus::notRunning;
            continue;
        }
        // A probe in flight blocks a new one, unless it has not answered for too long.
        const double now = uptime_();
        if (auto probe = checking_.find(id); probe != checking_.end() && now - probe->second < probeExpiry) continue;
        checking_[id] = now;
        const std::int64_t g = nextGeneration(id);
        auto shown = snapshot_.automation.find(id);
        if (shown == snapshot_.automation.end() || shown->second == AutomationStatus::notRunning) {
            snapshot_.automation[id] = AutomationStatus::checking;
        }
        dependencies_.automation(id, false, [weak = weak_from_this(), id, g](AutomationStatus status) {
            onMain(weak, [id, g, status](PermissionSettingsController& self) {
                if (self.generation(id) != g) return;
                self.checking_.erase(id);
                self.snapshot_.automation[id] = status;
                self.changed();
            });
        });
    }
    changed();
}

void PermissionSettingsController::refreshGhosttyCompatibility() {
    std::optional<std::string> url;
    auto ghostty = snapshot_.installations.find(ghosttyID());
    if (ghostty != snapshot_.installations.end()) url = urlOf(ghostty->second);
    if (url != compatibilityURL_) {
        ++compatibilityGeneration_;
        checkingCompatibility_ = false;
        compatibilityURL_ = url;
        snapshot_.ghosttyCompatibility =
            url ? std::optional(GhosttyCompatibility::Status::checking) : std::nullopt;
    }
    if (ghostty != snapshot_.installations.end() && std::holds_alternative<installation::Ambiguous>(ghostty->second)) {
        snapshot_.ghosttyCompatibility = GhosttyCompatibility::Status::unavailable;
        return;
    }
    // Without a bundle there is nothing to check: an `unavailable` left by two running
    // instances must not outlive them.
    if (!url) {
        snapshot_.ghosttyCompatibility.reset();
        return;
    }
    if (checkingCompatibility_) return;
    checkingCompatibility_ = true;
    const std::int64_t g = ++compatibilityGeneration_;
    dependencies_.checkGhostty(*url, [weak = weak_from_this(), g](GhosttyCompatibility::Status status) {
        onMain(weak, [g, status](PermissionSettingsController& self) {
            if (!self.checkingCompatibility_ || self.compatibilityGeneration_ != g) return;
            self.checkingCompatibility_ = false;
            if (self.snapshot_.ghosttyCompatibility == status) return;
            self.snapshot_.ghosttyCompatibility = status;
            self.changed();
        });
    });
}

bool PermissionSettingsController::begin(const std::string& key) {
    if (!snapshot_.busy.insert(key).second) return false;
    nextGeneration(key);
    snapshot_.message.erase(key);
    changed();
    return true;
}

void PermissionSettingsController::finish(const std::string& key) {
    snapshot_.busy.erase(key);
    readBasics();
    if (permissionsDidChange_) permissionsDidChange_();
    changed();
}

void PermissionSettingsController::performAccessibilityAction() {
    requireMainThread("PermissionSettingsController::performAccessibilityAction");
    readBasics();
    if (!snapshot_.accessibilityAllowed && !snapshot_.accessibilityRequested) {
        if (begin(accessibilityKey)) {
            snapshot_.accessibilityRequested = true;
            dependencies_.requestAccessibility();
            finish(accessibilityKey);
        }
        return;
    }
    dependencies_.openPane("Privacy_Accessibility");
}

void PermissionSettingsController::performClipboardAction() {
    requireMainThread("PermissionSettingsController::performClipboardAction");
    readBasics();
    if (snapshot_.clipboard != ClipboardStatus::defaultAccess) {
        dependencies_.openPane("Privacy_Pasteboard");
        return;
    }
    if (!begin(clipboardKey)) return;
    const std::int64_t g = generation(clipboardKey);
    dependencies_.requestClipboard([weak = weak_from_this(), g](ClipboardPermissionSetup::Result result) {
        onMain(weak, [g, result](PermissionSettingsController& self) {
            if (!self.snapshot_.busy.contains(clipboardKey) || self.generation(clipboardKey) != g) return;
            self.nextGeneration(clipboardKey);
            switch (result) {
            case ClipboardPermissionSetup::Result::allowed:
                self.snapshot_.message.erase(clipboardKey);
                break;
            case ClipboardPermissionSetup::Result::needsSettings:
                self.snapshot_.message[clipboardKey] = "Choose Always Allow in System Settings.";
                break;
            case ClipboardPermissionSetup::Result::empty:
                self.snapshot_.message[clipboardKey] = "Copy an image, then request access again.";
                break;
            }
            self.finish(clipboardKey);
        });
    });
}

void PermissionSettingsController::requestInputMonitoring() {
    requireMainThread("PermissionSettingsController::requestInputMonitoring");
    readBasics();
    if (snapshot_.accessibilityAllowed || snapshot_.inputMonitoringAllowed) {
        changed();
        return;
    }
    if (!begin(inputMonitoringKey)) return;
    if (!dependencies_.requestInputMonitoring()) dependencies_.openPane("Privacy_ListenEvent");
    finish(inputMonitoringKey);
}

void PermissionSettingsController::requestAutomation(const std::string& id) {
    requireMainThread("PermissionSettingsController::requestAutomation");
    if (!isKnownTerminal(id)) return;
    if (!dependencies_.running(id)) {
        snapshot_.automation[id] = AutomationStatus::notRunning;
        changed();
        return;
    }
    if (!begin(id)) return;
    const std::int64_t g = generation(id);
    checking_.erase(id);
    snapshot_.automation[id] = AutomationStatus::checking;
    changed();
    dependencies_.automation(id, true, [weak = weak_from_this(), id, g](AutomationStatus status) {
        onMain(weak, [id, g, status](PermissionSettingsController& self) {
            if (!self.snapshot_.busy.contains(id) || self.generation(id) != g) return;
            self.nextGeneration(id);
            self.snapshot_.automation[id] = status;
            self.finish(id);
        });
    });
}

void PermissionSettingsController::openTerminal(const std::string& id) {
    requireMainThread("PermissionSettingsController::openTerminal");
    if (!isKnownTerminal(id)) return;
    const auto url = urlOf(dependencies_.installation(id));
    if (!url || !begin(id)) return;
    const std::int64_t g = generation(id);
    dependencies_.openApplication(*url, [weak = weak_from_this(), id, g](bool opened) {
        onMain(weak, [id, g, opened](PermissionSettingsController& self) {
            if (!self.snapshot_.busy.contains(id) || self.generation(id) != g) return;
            self.nextGeneration(id);
            if (opened) {
                self.snapshot_.message.erase(id);
            } else {
                self.snapshot_.message[id] = "Couldn\u2019t open this terminal. Try again.";
            }
            self.finish(id);
            self.refresh();
        });
    });
}

void PermissionSettingsController::openGhosttyPrerelease() {
    requireMainThread("PermissionSettingsController::openGhosttyPrerelease");
    if (dependencies_.openURL(GhosttyCompatibility::prereleaseURL())) {
        snapshot_.message.erase(ghosttyID());
    } else {
        snapshot_.message[ghosttyID()] = "Couldn\u2019t open the download page. Try again.";
    }
    changed();
}

void PermissionSettingsController::openPrivacyPane(const std::string& anchor) {
    requireMainThread("PermissionSettingsController::openPrivacyPane");
    dependencies_.openPane(anchor);
}

} // namespace tarpelix
