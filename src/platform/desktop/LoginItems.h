#pragma once

#include <stdexcept>
#include <string>

// The login items of the simulated Mac, as the service-management framework offers them to
// an application: the main application's registration as a login item and the Login Items
// pane of System Settings. Registration and unregistration may take a while (the system asks
// its service manager), so callers run them off the main thread; any thread may call.
namespace tarpelix::platform {

// What a failed registration or unregistration throws; `what()` is the system's description
// of the failure, worded for the user.
class LoginItemsError : public std::runtime_error {
public:
    explicit LoginItemsError(const std::string& description) : std::runtime_error(description) {}
};

namespace LoginItems {

// The statuses the service reports; it may report other numbers too.
inline constexpr long statusNotRegistered = 0;
inline constexpr long statusEnabled = 1;
inline constexpr long statusRequiresApproval = 2;
inline constexpr long statusNotFound = 3;

// The main application's status, the raw number the service reports.
long mainApplicationStatus();
// Registers the main application as a login item: it is then enabled, or waits for the
// user's approval in System Settings. Throws LoginItemsError when the system refuses.
void registerMainApplication();
// Removes the registration: the status becomes not registered. Throws LoginItemsError when
// the system refuses.
void unregisterMainApplication();
// Opens System Settings at its Login Items pane.
void openSystemSettingsLoginItems();

} // namespace LoginItems

} // namespace tarpelix::platform
