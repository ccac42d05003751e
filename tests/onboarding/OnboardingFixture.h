#pragma once

#include "onboarding/OnboardingModel.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TemporaryDirectory.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::testing {

inline const std::string ghosttyID = "com.mitchellh.ghostty";
inline const std::string itermID = "com.googlecode.iterm2";
inline const std::string terminalAppID = "com.apple.Terminal";

inline OnboardingTerminalDiscovery::Terminal terminal(const std::string& id, bool running = false) {
    const std::string name = id == ghosttyID ? "Ghostty" : id == itermID ? "iTerm2" : "Terminal";
    return {id, name, "/Applications/" + name + ".app", running};
}

// User defaults in a real property-list file of a temporary directory, a discovery that
// answers what the test listed, and readiness per terminal id.
struct ModelWorld {
    TemporaryDirectory directory{"tarpelix-onboarding"};
    std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::create(directory.file("defaults.plist"));
    OnboardingTerminalDiscovery::Snapshot installed{{terminal(ghosttyID), terminal(itermID, true)}};
    std::map<std::string, bool> ready;

    std::unique_ptr<OnboardingModel> model() {
        return std::make_unique<OnboardingModel>(
            defaults, [this] { return installed; }, [this](const std::string& id) { return ready[id]; });
    }
    void store(const std::string& json) {
        defaults->set(OnboardingModel::preferenceKey, platform::Bytes(json.begin(), json.end()));
    }
    std::optional<std::string> stored() const {
        auto data = defaults->data(OnboardingModel::preferenceKey);
        if (!data) return std::nullopt;
        return std::string(data->begin(), data->end());
    }
};

} // namespace tarpelix::testing
