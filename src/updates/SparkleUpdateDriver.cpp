#include "updates/SparkleUpdateDriver.h"

namespace tarpelix {

std::shared_ptr<SparkleUpdateDriver> SparkleUpdateDriver::create(
    const platform::URL& bundle, std::weak_ptr<platform::UpdaterDelegate> updaterDelegate,
    std::weak_ptr<platform::StandardUserDriverDelegate> userDriverDelegate) {
    auto driver = std::shared_ptr<SparkleUpdateDriver>(new SparkleUpdateDriver());
    auto userDriver = std::make_shared<UpdateUserDriver>(bundle, std::move(userDriverDelegate));
    driver->updater_ = platform::Updater::create(bundle, bundle, std::move(userDriver), std::move(updaterDelegate));
    // Either value changing is something the menus show; the handlers run where it changed.
    const auto tell = [weak = driver->weak_from_this()](bool) {
        if (auto self = weak.lock(); self && self->changed_) self->changed_();
    };
    driver->observations_ = {driver->updater_->observeCanCheckForUpdates(tell),
                             driver->updater_->observeAutomaticallyChecksForUpdates(tell)};
    return driver;
}

bool SparkleUpdateDriver::automaticallyChecks() const {
    return updater_->automaticallyChecksForUpdates();
}

void SparkleUpdateDriver::setAutomaticallyChecks(bool on) {
    updater_->setAutomaticallyChecksForUpdates(on);
}

bool SparkleUpdateDriver::canCheck() const {
    return updater_->canCheckForUpdates();
}

void SparkleUpdateDriver::start() {
    std::optional<platform::UpdaterError> error;
    if (!updater_->startUpdater(error)) {
        throw error.value_or(platform::UpdaterError{"UpdaterErrorDomain", 0, {}});
    }
}

void SparkleUpdateDriver::check() {
    updater_->checkForUpdates();
}

} // namespace tarpelix
