#include "settings/PermissionsSettingsView.h"

#include "platform/appkit/Box.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

namespace {

constexpr double cardVerticalInset = 16;

const std::string requestAccess = "Request Access\u2026";
const std::string openSettings = "Open Settings\u2026";
const std::string clipboardDetail = "Read images you paste.";

using Snapshot = PermissionSettingsController::Snapshot;

bool holds(const Snapshot& s, const std::string& key) {
    return s.busy.count(key) > 0;
}

std::optional<std::string> messageOf(const Snapshot& s, const std::string& key) {
    auto found = s.message.find(key);
    if (found == s.message.end()) return std::nullopt;
    return found->second;
}

AutomationStatus automationOf(const Snapshot& s, const std::string& id) {
    auto found = s.automation.find(id);
    return found == s.automation.end() ? AutomationStatus::checking : found->second;
}

std::optional<Installation> installationOf(const Snapshot& s, const std::string& id) {
    auto found = s.installations.find(id);
    if (found == s.installations.end()) return std::nullopt;
    return found->second;
}

bool needsGhosttyUpdate(const Snapshot& s, const std::string& id) {
    return id == GhosttyCompatibility::bundleID &&
           s.ghosttyCompatibility == GhosttyCompatibility::Status::updateRequired;
}

bool opensSettings(AutomationStatus status) {
    return status == AutomationStatus::allowed || status == AutomationStatus::denied ||
           status == AutomationStatus::unavailable;
}

// What a terminal row's button does for the snapshot, first match wins.
void performTerminalAction(PermissionSettingsController& controller, const std::string& id) {
    const Snapshot& s = controller.snapshot();
    const auto status = s.automation.find(id);
    if (needsGhosttyUpdate(s, id)) {
        controller.openGhosttyPrerelease();
    } else if (status != s.automation.end() && status->second == AutomationStatus::notRunning) {
        controller.openTerminal(id);
    } else if (status != s.automation.end() && opensSettings(status->second)) {
        controller.openPrivacyPane("Privacy_Automation");
    } else {
        controller.requestAutomation(id);
    }
}

} // namespace

std::shared_ptr<PermissionsSettingsView>
PermissionsSettingsView::create(std::shared_ptr<PermissionSettingsController> controller) {
    requireMainThread("PermissionsSettingsView");
    auto page = std::make_shared<PermissionsSettingsView>(Token{}, std::move(controller));
    page->wireActions();
    page->update();
    return page;
}

PermissionsSettingsView::PermissionsSettingsView(Token,
                                                 std::shared_ptr<PermissionSettingsController> controller)
    : controller_(std::move(controller)) {
    build();
}

std::shared_ptr<View> PermissionsSettingsView::card(const std::vector<std::shared_ptr<View>>& views,
                                                    double spacing) {
    auto result = InterfaceCardView::create();
    auto stack = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, spacing, views);
    result->addSubview(stack);
    ViewConstraints constraints = {
        stack->leadingAnchor().constraintEqualTo(result->leadingAnchor(), InterfaceStyle::Spacing::cardInset),
        stack->trailingAnchor().constraintEqualTo(result->trailingAnchor(),
                                                  -InterfaceStyle::Spacing::cardInset),
        stack->topAnchor().constraintEqualTo(result->topAnchor(), cardVerticalInset),
        stack->bottomAnchor().constraintEqualTo(result->bottomAnchor(), -cardVerticalInset),
    };
    for (const auto& view : views) {
        if (std::dynamic_pointer_cast<Button>(view)) continue;
        constraints.push_back(view->widthAnchor().constraintEqualTo(stack->widthAnchor()));
    }
    ViewConstraint::activate(constraints);
    return result;
}

void PermissionsSettingsView::build() {
    accessibility_ = PermissionActionRow::create("Accessibility", InterfaceIcon::permissions,
                                                 "Detect Control+V and insert image paths.");
    cards_.push_back(card({accessibility_}));

    auto heading = Label::labelWithString("Terminal Automation");
    heading->setFont(InterfaceStyle::Font::section());
    auto caption = InterfaceStyle::label("Allow access to the terminals you use.", true);
    caption->setFont(InterfaceStyle::Font::caption());
    auto header = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                        InterfaceStyle::Spacing::tight, {heading, caption});
    caption->widthAnchor().constraintEqualTo(header->widthAnchor())->setActive(true);
    std::vector<std::shared_ptr<View>> automation = {header, Box::separator()};
    for (const auto& terminal : PermissionSettingsController::terminals()) {
        if (automation.size() > 2) automation.push_back(Box::separator());
        auto row = PermissionActionRow::create(terminal.name, InterfaceIcon::terminal, std::nullopt);
        terminals_[terminal.id] = row;
        automation.push_back(row);
    }
    cards_.push_back(card(automation));

    clipboard_ = PermissionActionRow::create("Clipboard", InterfaceIcon::clipboard, clipboardDetail);
    cards_.push_back(card({clipboard_}));

    inputMonitoring_ = PermissionActionRow::create("Input Monitoring", InterfaceIcon::keyboard,
                                                   "Enable if Control+V isn\u2019t detected.");
    troubleshootingContent_ = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 0,
                                                    {card({inputMonitoring_})});
    troubleshootingContent_->arrangedSubviews()
        .front()
        ->widthAnchor()
        .constraintEqualTo(troubleshootingContent_->widthAnchor())
        ->setActive(true);
    troubleshootingContent_->setHidden(true);

    troubleshootingButton_ = std::make_shared<Button>();
    troubleshootingButton_->setTitle("Keyboard troubleshooting");
    troubleshootingButton_->setButtonType(ButtonType::onOff);
    troubleshootingButton_->setBordered(false);
    troubleshootingButton_->setFont(InterfaceStyle::Font::caption());
    troubleshootingButton_->setContentTintColor(Color::secondaryLabelColor());
    troubleshootingButton_->setImage(
        image(InterfaceIcon::disclosureCollapsed, InterfaceIconStyle::disclosure, std::nullopt));
    troubleshootingButton_->setImagePosition(ImagePosition::imageLeading);
    troubleshootingButton_->setAccessibilityLabel("Keyboard troubleshooting");
    troubleshootingButton_->setAccessibilityExpanded(false);

    auto troubleshooting = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                                 InterfaceStyle::Spacing::content,
                                                 {troubleshootingButton_, troubleshootingContent_});
    troubleshootingContent_->widthAnchor().constraintEqualTo(troubleshooting->widthAnchor())->setActive(true);
    cards_.push_back(troubleshooting);
}

void PermissionsSettingsView::wireActions() {
    std::weak_ptr<PermissionSettingsController> weak = controller_;
    accessibility_->performAction = [weak] {
        if (auto controller = weak.lock()) controller->performAccessibilityAction();
    };
    clipboard_->performAction = [weak] {
        if (auto controller = weak.lock()) controller->performClipboardAction();
    };
    inputMonitoring_->performAction = [weak] {
        auto controller = weak.lock();
        if (!controller) return;
        const Snapshot& s = controller->snapshot();
        if (s.inputMonitoringAllowed || s.accessibilityAllowed) {
            controller->openPrivacyPane("Privacy_ListenEvent");
        } else {
            controller->requestInputMonitoring();
        }
    };
    for (const auto& [id, row] : terminals_) {
        row->performAction = [weak, id = id] {
            if (auto controller = weak.lock()) performTerminalAction(*controller, id);
        };
    }
    std::weak_ptr<PermissionsSettingsView> page = weak_from_this();
    troubleshootingButton_->setAction("toggleTroubleshooting", [page](Control&) {
        if (auto self = page.lock()) self->toggleTroubleshooting();
    });
}

PermissionActionRow* PermissionsSettingsView::terminal(const std::string& id) const {
    auto found = terminals_.find(id);
    return found == terminals_.end() ? nullptr : found->second.get();
}

void PermissionsSettingsView::update() {
    const Snapshot& s = controller_->snapshot();
    const auto& a = PermissionSettingsController::accessibilityKey;
    const auto& c = PermissionSettingsController::clipboardKey;
    const auto& i = PermissionSettingsController::inputMonitoringKey;

    accessibility_->apply(s.accessibilityAllowed ? "Allowed" : "Not allowed", s.accessibilityAllowed,
                          s.accessibilityAction(), holds(s, a), true, messageOf(s, a), false, true);

    const auto guidance = s.clipboardGuidance();
    auto clipboardMessage = messageOf(s, c);
    if (clipboardMessage && clipboardMessage == guidance) clipboardMessage.reset();
    clipboard_->apply(title(s.clipboard), s.clipboard == ClipboardStatus::alwaysAllow, s.clipboardAction(),
                      holds(s, c), true, clipboardMessage, s.clipboard == ClipboardStatus::defaultAccess,
                      true);
    clipboard_->detail().setStringValue(guidance.value_or(clipboardDetail));

    const bool settingsOpen = s.inputMonitoringAllowed || s.accessibilityAllowed;
    inputMonitoring_->apply(s.inputMonitoringAllowed ? "Allowed \u00b7 Optional"
                                                     : "Not enabled \u00b7 Optional",
                            s.inputMonitoringAllowed, settingsOpen ? openSettings : "Set Up\u2026",
                            holds(s, i), true, messageOf(s, i), true, true);

    for (const auto& terminal : PermissionSettingsController::terminals()) {
        const std::string& id = terminal.id;
        const auto inst = installationOf(s, id);
        const AutomationStatus st = automationOf(s, id);
        const bool missing = inst && std::holds_alternative<installation::Missing>(*inst);
        const bool ambiguous = inst && std::holds_alternative<installation::Ambiguous>(*inst);
        const bool update = needsGhosttyUpdate(s, id);
        const bool hasURL = inst && urlOf(*inst).has_value();

        const std::string status = missing     ? "Not installed"
                                   : ambiguous ? "Multiple instances open"
                                               : title(st);
        const bool allowed = st == AutomationStatus::allowed && !missing && !ambiguous;
        const bool optional = missing || st == AutomationStatus::notRunning ||
                              st == AutomationStatus::checking || st == AutomationStatus::notDetermined;
        std::string action = requestAccess;
        if (update) {
            action = "Get Prerelease\u2026";
        } else if (st == AutomationStatus::notRunning && hasURL) {
            action = "Open " + terminal.name;
        } else if (opensSettings(st)) {
            action = openSettings;
        }
        const bool busy = holds(s, id) || (st == AutomationStatus::checking && !update);
        bool enabled = true;
        if (missing || ambiguous) {
            enabled = false;
        } else if (st == AutomationStatus::notRunning) {
            enabled = hasURL;
        }
        auto message = messageOf(s, id);
        if (!message) message = s.compatibilityMessage(id);
        terminals_.at(id)->apply(status, allowed, action, busy, enabled, message, optional, !missing);
    }
}

void PermissionsSettingsView::toggleTroubleshooting() {
    const bool expanded = troubleshootingButton_->state() == ControlStateValue::on;
    troubleshootingContent_->setHidden(!expanded);
    troubleshootingButton_->setImage(
        image(expanded ? InterfaceIcon::disclosureExpanded : InterfaceIcon::disclosureCollapsed,
              InterfaceIconStyle::disclosure, std::nullopt));
    troubleshootingButton_->setAccessibilityExpanded(expanded);
}

} // namespace tarpelix
