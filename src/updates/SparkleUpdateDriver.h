#pragma once

#include "platform/desktop/Updater.h"
#include "updates/UpdateDriving.h"
#include "updates/UpdateUserDriver.h"

#include <array>
#include <memory>

namespace tarpelix {

// The update framework's updater, with our user driver, as the controller drives it.
class SparkleUpdateDriver final : public UpdateDriving, public std::enable_shared_from_this<SparkleUpdateDriver> {
public:
    static std::shared_ptr<SparkleUpdateDriver> create(
        const platform::URL& bundle, std::weak_ptr<platform::UpdaterDelegate> updaterDelegate,
        std::weak_ptr<platform::StandardUserDriverDelegate> userDriverDelegate);

    bool automaticallyChecks() const override;
    void setAutomaticallyChecks(bool on) override;
    bool canCheck() const override;
    void setChanged(std::function<void()> changed) override { changed_ = std::move(changed); }
    void start() override;
    void check() override;

    platform::Updater& updater() { return *updater_; }

private:
    SparkleUpdateDriver() = default;

    std::shared_ptr<platform::Updater> updater_;
    std::array<std::shared_ptr<platform::UpdaterObservation>, 2> observations_;
    std::function<void()> changed_;
};

} // namespace tarpelix
