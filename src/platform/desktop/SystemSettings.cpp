#include "platform/desktop/Desktop.h"
#include "platform/desktop/Screen.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/foundation/NotificationCenter.h"

#include <mutex>

namespace tarpelix::platform {

namespace {

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] {
        shared.addResetHandler([&shared] {
            std::lock_guard lock(shared.mutex);
            shared.settings = SystemSettingsState{};
        });
    });
    return shared;
}

template <typename T> T read(T SystemSettingsState::*field) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.settings.*field;
}

// Stores the value; true when it differs from the one before.
template <typename T> bool change(T SystemSettingsState::*field, T value) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (d.settings.*field == value) return false;
    d.settings.*field = std::move(value);
    return true;
}

} // namespace

std::vector<Screen> Screen::screens() {
    return read(&SystemSettingsState::screens);
}

std::optional<Screen> Screen::mainScreen() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (d.settings.screens.empty()) return std::nullopt;
    return d.settings.screens.front();
}

namespace Workspace {

Appearance appearance() {
    return read(&SystemSettingsState::appearance);
}

bool accessibilityDisplayShouldIncreaseContrast() {
    return read(&SystemSettingsState::increaseContrast);
}

bool accessibilityDisplayShouldReduceMotion() {
    return read(&SystemSettingsState::reduceMotion);
}

std::string localeIdentifier() {
    return read(&SystemSettingsState::localeIdentifier);
}

TimeZone timeZone() {
    return read(&SystemSettingsState::timeZone).value_or(TimeZone::current());
}

} // namespace Workspace

namespace DesktopControl {

void setScreens(std::vector<Screen> screens) {
    if (change(&SystemSettingsState::screens, std::move(screens))) {
        NotificationCenter::defaultCenter().post(applicationDidChangeScreenParametersNotification);
    }
}

void setAppearance(Appearance appearance) {
    if (change(&SystemSettingsState::appearance, appearance)) {
        Workspace::notificationCenter().post(appearanceDidChangeNotification);
    }
}

void setIncreaseContrast(bool on) {
    if (change(&SystemSettingsState::increaseContrast, on)) {
        Workspace::notificationCenter().post(WorkspaceNotificationName::accessibilityDisplayOptionsDidChange);
    }
}

void setReduceMotion(bool on) {
    if (change(&SystemSettingsState::reduceMotion, on)) {
        Workspace::notificationCenter().post(WorkspaceNotificationName::accessibilityDisplayOptionsDidChange);
    }
}

void setLocaleIdentifier(std::string identifier) {
    change(&SystemSettingsState::localeIdentifier, std::move(identifier));
}

void setTimeZone(TimeZone zone) {
    change(&SystemSettingsState::timeZone, std::optional<TimeZone>(std::move(zone)));
}

} // namespace DesktopControl

} // namespace tarpelix::platform
