#pragma once

#include "platform/foundation/URL.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

// The update framework of the simulated Mac: an updater that checks a feed for a newer build,
// offers it through a standard user driver and installs it when allowed. Nothing is fetched:
// what each check finds is scripted through UpdaterControl.h. Like the framework, every entry
// and every observation handler and delegate call is on the main thread; the entries stop the
// process when called elsewhere.
namespace tarpelix::platform {

// An error of the framework: a domain, a code and user information keyed by name.
struct UpdaterError {
    static constexpr const char* localizedDescriptionKey = "NSLocalizedDescription";
    static constexpr const char* localizedRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";

    std::string domain;
    long code = 0;
    std::map<std::string, std::string> userInfo;

    // The description in the user information, else one naming the domain and code.
    std::string localizedDescription() const;
    std::optional<std::string> localizedRecoverySuggestion() const;

    bool operator==(const UpdaterError&) const = default;
};

// One update the feed offers.
struct AppcastItem {
    std::string displayVersionString;
    std::string versionString;

    bool operator==(const AppcastItem&) const = default;
};

// Who started a check.
enum class UpdateCheck { userInitiated, scheduled };

// Where the update stands when the user driver is asked to show it.
struct UserUpdateState {
    bool userInitiated = false;
};

class Updater;

// Keeps an observation alive; dropping it ends the observation.
class UpdaterObservation {
public:
    virtual ~UpdaterObservation() = default;
};

// The updater's delegate, held weakly and called on the main thread.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    // The feed to check, as a string.
    virtual std::string feedURLString(Updater& updater) = 0;
    // Asked once an update is ready to install: true keeps the relaunch until the
    // continuation is called.
    virtual bool shouldPostponeRelaunch(Updater& updater, const AppcastItem& item,
                                        std::function<void()> continuation) = 0;
    virtual void didAbort(Updater& updater, const UpdaterError& error) = 0;
    virtual void didFinishUpdateCycle(Updater& updater, UpdateCheck check,
                                      const std::optional<UpdaterError>& error) = 0;
};

// The standard user driver's delegate, held weakly and called on the main thread.
class StandardUserDriverDelegate {
public:
    virtual ~StandardUserDriverDelegate() = default;
    virtual bool supportsGentleScheduledUpdateReminders() = 0;
    // Whether the framework itself shows an update a scheduled check found.
    virtual bool standardUserDriverShouldHandleShowingScheduledUpdate(const AppcastItem& item,
                                                                      bool immediateFocus) = 0;
    virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const AppcastItem& item,
                                                           const UserUpdateState& state) = 0;
    virtual void standardUserDriverDidReceiveUserAttention(const AppcastItem& item) = 0;
    virtual void standardUserDriverWillFinishUpdateSession() = 0;
};

// The framework's own windows. Here they are records (UpdaterControl::windows()).
class StandardUserDriver {
public:
    StandardUserDriver(URL hostBundle, std::weak_ptr<StandardUserDriverDelegate> delegate);
    virtual ~StandardUserDriver() = default;

    const URL& hostBundle() const { return hostBundle_; }
    std::shared_ptr<StandardUserDriverDelegate> delegate() const { return delegate_.lock(); }

    // Shows that no update was found: records the window with the error's description and
    // recovery suggestion; `acknowledgement` runs when the control dismisses it.
    virtual void showUpdateNotFound(const UpdaterError& error, std::function<void()> acknowledgement);

private:
    URL hostBundle_;
    std::weak_ptr<StandardUserDriverDelegate> delegate_;
};

class Updater : public std::enable_shared_from_this<Updater> {
public:
    static std::shared_ptr<Updater> create(URL hostBundle, URL applicationBundle,
                                           std::shared_ptr<StandardUserDriver> userDriver,
                                           std::weak_ptr<UpdaterDelegate> delegate);
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // True once started; false with the error when the control scripted a start failure.
    // Starting again after a success changes nothing.
    bool startUpdater(std::optional<UpdaterError>& error);
    // A check the user asked for; ignored unless `canCheckForUpdates`.
    void checkForUpdates();
    // False before the start and while an update session is under way, except while a scheduled
    // update waits as a reminder: the user's check then brings it up.
    bool canCheckForUpdates() const;
    // Kept by the desktop across updaters, as the framework keeps it in the user's defaults.
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    // The handler gets each new value, on the thread that changed it, while the token lives.
    std::shared_ptr<UpdaterObservation> observeCanCheckForUpdates(std::function<void(bool)> handler);
    std::shared_ptr<UpdaterObservation> observeAutomaticallyChecksForUpdates(std::function<void(bool)> handler);

    const URL& hostBundle() const { return hostBundle_; }
    const URL& applicationBundle() const { return applicationBundle_; }

    struct Session;

private:
    Updater(URL hostBundle, URL applicationBundle, std::shared_ptr<StandardUserDriver> userDriver,
            std::weak_ptr<UpdaterDelegate> delegate);
    friend struct UpdaterDriverAccess;

    URL hostBundle_;
    URL applicationBundle_;
    std::shared_ptr<StandardUserDriver> userDriver_;
    std::weak_ptr<UpdaterDelegate> delegate_;
    bool started_ = false;
    std::shared_ptr<Session> session_;
    struct Observers;
    std::shared_ptr<Observers> observers_;
};

} // namespace tarpelix::platform
