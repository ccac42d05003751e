#include "app/InstallationGate.h"

#include "platform/desktop/Workspace.h"

namespace tarpelix {

namespace {
constexpr std::string_view applicationName = "Tarpelix.app";
}

bool InstallationGate::requiresInstallation() const {
    if (mode == DistributionMode::development) return false;
    const platform::URL applications = platform::Workspace::applicationsDirectory();
    const platform::URL installLocation = applications.appendingPathComponent(applicationName, true);
    if (!bundleURL.isFileURL()) return true;
    if (bundleURL.standardized().path() != installLocation.standardized().path()) return true;
    // A bundle reached through a link to a copy elsewhere is not the installed one.
    const platform::URL resolvedLocation =
        applications.resolvingSymlinksInPath().appendingPathComponent(applicationName, true).standardized();
    return bundleURL.resolvingSymlinksInPath().standardized().path() != resolvedLocation.path();
}

} // namespace tarpelix
