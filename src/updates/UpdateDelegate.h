#pragma once

#include "platform/desktop/Updater.h"
#include "updates/UpdateConfiguration.h"

#include <memory>
#include <string>

namespace tarpelix {

class UpdateInstallationLifecycle;

// The updater's delegate: hands it the build's feed and routes its relaunch and the end of
// each cycle through the installation lifecycle, so the paste pipeline drains first.
class UpdateDelegate final : public platform::UpdaterDelegate {
public:
    static std::shared_ptr<UpdateDelegate> create(std::shared_ptr<UpdateInstallationLifecycle> installation,
                                                  const UpdateConfiguration& configuration);

    // The configuration's feed as written, or empty when updates are unavailable.
    const std::string& feedURLString() const { return feedURLString_; }

    std::string feedURLString(platform::Updater& updater) override;
    bool shouldPostponeRelaunch(platform::Updater& updater, const platform::AppcastItem& item,
                                std::function<void()> continuation) override;
    void didAbort(platform::Updater& updater, const platform::UpdaterError& error) override;
    void didFinishUpdateCycle(platform::Updater& updater, platform::UpdateCheck check,
                              const std::optional<platform::UpdaterError>& error) override;

private:
    UpdateDelegate(std::shared_ptr<UpdateInstallationLifecycle> installation, std::string feedURLString);

    std::string feedURLString_;
    std::shared_ptr<UpdateInstallationLifecycle> installation_;
};

} // namespace tarpelix
