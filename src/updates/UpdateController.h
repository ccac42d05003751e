#pragma once

#include "platform/desktop/Updater.h"
#include "updates/UpdateConfiguration.h"
#include "updates/UpdateDelegate.h"
#include "updates/UpdateDriving.h"
#include "updates/UpdatePresentation.h"

#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace tarpelix::platform {
class Alert;
}

namespace tarpelix {

class UpdateInstallationLifecycle;

// Runs in-place updates on the update framework: checks the build's configuration before the
// updater starts, gives the menus and Settings one presentation, carries out checks and the
// automatic-check switch, turns a scheduled update into a menu reminder instead of a window
// nobody asked for, and, as the updater's delegate does, drains the paste pipeline before an
// installation. Main thread only.
class UpdateController final : public platform::StandardUserDriverDelegate,
                               public std::enable_shared_from_this<UpdateController> {
public:
    struct Unavailable {
        std::string message;
        bool operator==(const Unavailable&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct Started {
        bool operator==(const Started&) const = default;
    };
    using State = std::variant<Unavailable, Idle, Started>;

    // Replaces the driver's start; throws when the start fails.
    using StartUpdater = std::function<void()>;
    using PresentUnavailable = std::function<void(const std::string& message)>;

    static constexpr const char* startFailureMessage =
        "The updater could not start. Please try again after relaunching Tarpelix.";

    // Without a driver, the framework's updater for the main bundle, with the new updater
    // delegate and this controller as the user driver's delegate. Without `presentUnavailable`,
    // the "Updates Unavailable" alert.
    static std::shared_ptr<UpdateController> create(UpdateConfiguration configuration,
                                                     std::shared_ptr<UpdateInstallationLifecycle> installationLifecycle,
                                                     std::shared_ptr<UpdateDriving> driver = nullptr,
                                                     StartUpdater startUpdater = {},
                                                     PresentUnavailable presentUnavailable = {});

    UpdatePresentation presentation() const;
    const State& state() const { return state_; }
    bool hasReminder() const { return hasReminder_; }
    // Called after every change the menus must show.
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }

    // Starts the updater once (only from the idle state).
    void start();
    // Refused while the paste pipeline drains; shows why when updates are unavailable.
    void checkForUpdates();
    void setAutomaticallyChecks(bool on);

    const UpdateConfiguration& configuration() const { return configuration_; }
    const std::shared_ptr<UpdateDelegate>& updaterDelegate() const { return updaterDelegate_; }

    // The standard user driver's delegate.
    bool supportsGentleScheduledUpdateReminders() override { return true; }
    bool standardUserDriverShouldHandleShowingScheduledUpdate(const platform::AppcastItem&, bool) override {
        return false;
    }
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const platform::AppcastItem& item,
                                                   const platform::UserUpdateState& state) override;
    void standardUserDriverDidReceiveUserAttention(const platform::AppcastItem& item) override;
    void standardUserDriverWillFinishUpdateSession() override;

    // The default way of showing why updates are unavailable: the alert below, run modally
    // with the application active.
    static void presentUnavailableAlert(const std::string& message);
    // "Updates Unavailable" with the message and one button, "OK".
    static std::shared_ptr<platform::Alert> unavailableAlert(const std::string& message);

private:
    UpdateController(UpdateConfiguration configuration,
                     std::shared_ptr<UpdateInstallationLifecycle> installationLifecycle, StartUpdater startUpdater,
                     PresentUnavailable presentUnavailable);

    bool isDraining() const;
    void setReminder(bool on);
    void notifyChanged() const;

    UpdateConfiguration configuration_;
    std::shared_ptr<UpdateDelegate> updaterDelegate_;
    std::shared_ptr<UpdateDriving> driver_;
    StartUpdater startOverride_;
    PresentUnavailable presentUnavailable_;
    std::shared_ptr<UpdateInstallationLifecycle> installationLifecycle_;
    State state_ = Idle{};
    bool hasReminder_ = false;
    std::function<void()> changed_;
};

} // namespace tarpelix
