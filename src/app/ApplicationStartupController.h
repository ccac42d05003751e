#pragma once

#include "app/InstallationGate.h"

#include <functional>

namespace tarpelix {

// Decides at launch between starting the services and showing the install window. Services
// start at most once; while the gate stays closed every start() asks it again.
class ApplicationStartupController final {
public:
    ApplicationStartupController(InstallationGate gate, std::function<void()> startServices,
                                 std::function<void()> showInstallation);

    void start();
    bool servicesStarted() const { return servicesStarted_; }

private:
    InstallationGate gate_;
    std::function<void()> startServices_;
    std::function<void()> showInstallation_;
    bool servicesStarted_ = false;
};

} // namespace tarpelix
