// The permission model's real system calls, on the desktop.
#include "settings/PermissionSettingsController.h"

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/AppleEvents.h"
#include "platform/desktop/HIDAccess.h"
#include "platform/desktop/InputEvents.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/dispatch/DispatchQueue.h"

namespace tarpelix {

namespace {

using namespace platform;

const std::string privacyPanePrefix = "x-apple.systempreferences:com.apple.preference.security?";
const std::string systemSettingsPath = "/System/Applications/System Settings.app";

std::vector<RunningApplication> liveInstances(const std::string& id) {
    auto applications = Workspace::runningApplications(id);
    std::erase_if(applications, [](const RunningApplication& app) { return app.isTerminated; });
    return applications;
}

void automationProbe(const std::string& id, bool ask, const std::function<void(AutomationStatus)>& answer) {
    DispatchQueue::global(QualityOfService::userInitiated)->async([id, ask, answer] {
        const auto applications = Workspace::runningApplications(id);
        if (applications.empty()) {
            answer(AutomationStatus::notRunning);
            return;
        }
        const auto target = AppleEventDescriptor::targetWithProcessIdentifier(applications.front().processIdentifier);
        answer(automationStatusFrom(AppleEvents::determinePermissionToAutomateTarget(target, typeWildCard,
                                                                                    typeWildCard, ask)));
    });
}

void clipboardRequest(const std::function<void(ClipboardPermissionSetup::Result)>& answer) {
    DispatchQueue::global(QualityOfService::userInitiated)->async([answer] {
        auto& pasteboard = Pasteboard::general();
        answer(ClipboardPermissionSetup::request(
            [&pasteboard] { return static_cast<int>(pasteboard.accessBehavior()); },
            [&pasteboard]() -> std::optional<std::string> {
                auto types = pasteboard.types();
                if (!types || types->empty()) return std::nullopt;
                return types->front();
            },
            [&pasteboard](const std::string& type) { (void)pasteboard.dataForType(type); }));
    });
}

Installation installationOf(const std::string& id) {
    const auto instances = liveInstances(id);
    if (instances.size() >= 2) return installation::Ambiguous{};
    if (instances.size() == 1 && instances.front().bundleURL) return installation::Available{*instances.front().bundleURL};
    if (auto url = Workspace::urlForApplication(id)) return installation::Available{*url};
    return installation::Missing{};
}

} // namespace

PermissionSettingsController::Dependencies PermissionSettingsController::Dependencies::live() {
    auto checker = std::make_shared<GhosttyCompatibility>();
    return Dependencies{
        .accessibility = [] { return Accessibility::isProcessTrusted(); },
        .inputMonitoring = [] { return preflightListenEventAccess(); },
        .clipboard = [] { return clipboardStatusFrom(static_cast<int>(Pasteboard::general().accessBehavior())); },
        .running = [](const std::string& id) { return !Workspace::runningApplications(id).empty(); },
        .automation = automationProbe,
        .requestAccessibility = [] { (void)Accessibility::isProcessTrustedWithOptions(true); },
        .requestInputMonitoring = [] { return HIDAccess::requestAccess(HIDRequestType::listenEvent); },
        .requestClipboard = clipboardRequest,
        .openPane =
            [](const std::string& anchor) {
                if (!Workspace::openURL(privacyPanePrefix + anchor)) {
                    Workspace::openApplication(systemSettingsPath, [](std::optional<RunningApplication>) {});
                }
            },
        .installation = installationOf,
        .checkGhostty = [checker](const std::string& url,
                                  const CompatibilityAnswer& answer) { checker->check(url, answer); },
        .openApplication =
            [](const std::string& url, const std::function<void(bool)>& answer) {
                Workspace::openApplication(url, [answer](std::optional<RunningApplication> application) {
                    const bool opened = application.has_value();
                    DispatchQueue::main()->async([answer, opened] { answer(opened); });
                });
            },
        .openURL = [](const std::string& url) { return Workspace::openURL(url); },
    };
}

} // namespace tarpelix
