#include "updates/UpdateDelegate.h"

#include "updates/UpdateInstallationLifecycle.h"

namespace tarpelix {

std::shared_ptr<UpdateDelegate> UpdateDelegate::create(std::shared_ptr<UpdateInstallationLifecycle> installation,
                                                       const UpdateConfiguration& configuration) {
    std::string feed = configuration.unavailabilityReason() ? std::string{} : configuration.feedURLString();
    return std::shared_ptr<UpdateDelegate>(new UpdateDelegate(std::move(installation), std::move(feed)));
}

UpdateDelegate::UpdateDelegate(std::shared_ptr<UpdateInstallationLifecycle> installation, std::string feedURLString)
    : feedURLString_(std::move(feedURLString)), installation_(std::move(installation)) {}

std::string UpdateDelegate::feedURLString(platform::Updater&) {
    return feedURLString_;
}

bool UpdateDelegate::shouldPostponeRelaunch(platform::Updater&, const platform::AppcastItem&,
                                            std::function<void()> continuation) {
    if (!installation_) return true;
    return installation_->postponeRelaunch(std::move(continuation));
}

void UpdateDelegate::didAbort(platform::Updater&, const platform::UpdaterError&) {
    if (installation_) installation_->updateDidEnd();
}

void UpdateDelegate::didFinishUpdateCycle(platform::Updater&, platform::UpdateCheck,
                                          const std::optional<platform::UpdaterError>&) {
    if (installation_) installation_->updateDidEnd();
}

} // namespace tarpelix
