#pragma once

#include "platform/foundation/URL.h"
#include "updates/UpdateConfiguration.h"

#include <optional>

namespace tarpelix {

// Whether this build must be moved before it runs: unless it is a development build, the
// application runs only as "Tarpelix.app" directly inside the desktop's Applications folder.
struct InstallationGate {
    // None when the information dictionary has no valid distribution mode; that is gated
    // like a distribution build.
    std::optional<DistributionMode> mode;
    // Where the running application bundle is.
    platform::URL bundleURL;

    // True unless the build is a development build or the bundle is the installed one: its
    // path equal to the install location both as written (standardized) and with symbolic
    // links resolved. Paths compare exactly, case included.
    bool requiresInstallation() const;
};

} // namespace tarpelix
