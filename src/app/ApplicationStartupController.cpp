#include "app/ApplicationStartupController.h"

namespace tarpelix {

ApplicationStartupController::ApplicationStartupController(InstallationGate gate, std::function<void()> startServices,
                                                           std::function<void()> showInstallation)
    : gate_(std::move(gate)), startServices_(std::move(startServices)), showInstallation_(std::move(showInstallation)) {}

void ApplicationStartupController::start() {
    if (servicesStarted_) return;
    if (gate_.requiresInstallation()) {
        showInstallation_();
        return;
    }
    // Set first, so that a start() reached from the services' own start-up does nothing.
    servicesStarted_ = true;
    startServices_();
}

} // namespace tarpelix
