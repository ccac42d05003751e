#include "onboarding/OnboardingTerminalDiscovery.h"

#include "platform/desktop/Workspace.h"
#include "settings/PermissionSettingsController.h"

#include <algorithm>

namespace tarpelix {

std::optional<std::string> OnboardingTerminalDiscovery::Snapshot::preferredID(
    const std::optional<std::string>& savedID) const {
    if (terminal(savedID)) return savedID;
    const auto running = std::count_if(terminals.begin(), terminals.end(), [](const Terminal& t) { return t.isRunning; });
    if (running == 1) {
        return std::find_if(terminals.begin(), terminals.end(), [](const Terminal& t) { return t.isRunning; })->id;
    }
    if (!terminals.empty()) return terminals.front().id;
    return std::nullopt;
}

const OnboardingTerminalDiscovery::Terminal* OnboardingTerminalDiscovery::Snapshot::terminal(
    const std::optional<std::string>& id) const {
    if (!id) return nullptr;
    auto found = std::find_if(terminals.begin(), terminals.end(), [&](const Terminal& t) { return t.id == *id; });
    return found == terminals.end() ? nullptr : &*found;
}

OnboardingTerminalDiscovery::Dependencies OnboardingTerminalDiscovery::Dependencies::live() {
    return {
        .applicationURL = [](const std::string& id) { return platform::Workspace::urlForApplication(id); },
        .running = [](const std::string& id) { return !platform::Workspace::runningApplications(id).empty(); },
    };
}

OnboardingTerminalDiscovery::Snapshot OnboardingTerminalDiscovery::discover() const {
    Snapshot snapshot;
    for (const auto& known : PermissionSettingsController::terminals()) {
        auto url = dependencies_.applicationURL(known.id);
        if (!url) continue;
        snapshot.terminals.push_back({known.id, known.name, *url, dependencies_.running(known.id)});
    }
    return snapshot;
}

} // namespace tarpelix
