#include "platform/desktop/Updater.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/UpdaterControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"

#include <mutex>

namespace tarpelix::platform {

using namespace UpdaterControl;

namespace {

// The framework's scripted world and what it recorded. Guarded by `mutex`, never held
// across a delegate call or a handler.
struct UpdaterState {
    std::optional<Scenario> nextScenario;
    std::optional<UpdaterError> startFailure;
    int startCount = 0;
    // Off until the user turns it on: no check runs on its own unasked.
    bool automaticallyChecks = false;
    std::vector<std::string> feeds;
    std::vector<WindowRecord> windows;
    std::vector<std::function<void()>> acknowledgements; // one per window
    std::vector<std::string> installations;
    int terminationRequests = 0;
    std::function<void()> terminationHandler;
    std::weak_ptr<Updater> newest;
};

std::mutex mutex;

UpdaterState& state() {
    static UpdaterState shared;
    static std::once_flag once;
    std::call_once(once, [] {
        Desktop::shared().addResetHandler([] {
            std::lock_guard lock(mutex);
            shared = UpdaterState{};
        });
    });
    return shared;
}

template <typename F> auto withState(F&& body) {
    auto& s = state();
    std::lock_guard lock(mutex);
    return body(s);
}

std::size_t recordWindow(WindowRecord record, std::function<void()> acknowledgement) {
    return withState([&](UpdaterState& s) {
        s.windows.push_back(std::move(record));
        s.acknowledgements.push_back(std::move(acknowledgement));
        return s.windows.size() - 1;
    });
}

void closeWindow(std::size_t index) {
    withState([&](UpdaterState& s) {
        if (index < s.windows.size()) s.windows[index].open = false;
    });
}

class Observation final : public UpdaterObservation {
public:
    explicit Observation(std::function<void(bool)> handler) : handler(std::move(handler)) {}
    std::function<void(bool)> handler;
};

} // namespace

struct Updater::Session {
    UpdateCheck check = UpdateCheck::userInitiated;
    Scenario scenario;
    // A scheduled update the delegate declined to show, waiting for the user's check.
    bool waitingAsReminder = false;
    bool continuationUsed = false;
};

struct Updater::Observers {
    std::vector<std::weak_ptr<Observation>> canCheck;
    std::vector<std::weak_ptr<Observation>> automaticallyChecks;

    static void notify(std::vector<std::weak_ptr<Observation>>& list, bool value) {
        std::vector<std::shared_ptr<Observation>> live;
        std::erase_if(list, [](const auto& weak) { return weak.expired(); });
        for (const auto& weak : list) {
            if (auto observation = weak.lock()) live.push_back(std::move(observation));
        }
        for (const auto& observation : live) observation->handler(value);
    }
};

// The update cycle: each step runs on the main thread and calls the delegates there.
struct UpdaterDriverAccess {
    using SessionPtr = std::shared_ptr<Updater::Session>;

    // Changes the session and tells the observers when `canCheckForUpdates` changed with it.
    static void setSession(Updater& updater, SessionPtr session) {
        const bool before = updater.canCheckForUpdates();
        updater.session_ = std::move(session);
        const bool after = updater.canCheckForUpdates();
        if (before != after) Updater::Observers::notify(updater.observers_->canCheck, after);
    }

    static void setWaitingAsReminder(Updater& updater, Updater::Session& session, bool waiting) {
        const bool before = updater.canCheckForUpdates();
        session.waitingAsReminder = waiting;
        const bool after = updater.canCheckForUpdates();
        if (before != after) Updater::Observers::notify(updater.observers_->canCheck, after);
    }

    static std::shared_ptr<StandardUserDriverDelegate> userDriverDelegate(Updater& updater) {
        return updater.userDriver_->delegate();
    }

    static void begin(Updater& updater, UpdateCheck check) {
        if (updater.session_ && updater.session_->waitingAsReminder && check == UpdateCheck::userInitiated) {
            resumeReminder(updater, updater.session_);
            return;
        }
        if (!updater.canCheckForUpdates() || updater.session_) return;
        auto session = std::make_shared<Updater::Session>();
        session->check = check;
        session->scenario = withState([](UpdaterState& s) {
            Scenario next = s.nextScenario.value_or(
                NoUpdateFound{{"UpdaterErrorDomain", 1001,
                               {{UpdaterError::localizedDescriptionKey, "You’re up to date."}}}});
            s.nextScenario.reset();
            return next;
        });
        setSession(updater, session);
        // Like the framework, the check goes on after the call that asked for it returns.
        DispatchQueue::main()->async([weak = updater.weak_from_this(), session] {
            if (auto self = weak.lock(); self && self->session_ == session) run(*self, session);
        });
    }

    static void run(Updater& updater, const SessionPtr& session) {
        auto delegate = updater.delegate_.lock();
        std::string feed = delegate ? delegate->feedURLString(updater) : std::string{};
        withState([&](UpdaterState& s) { s.feeds.push_back(std::move(feed)); });
        const bool user = session->check == UpdateCheck::userInitiated;
        std::visit(
            [&](const auto& scenario) {
                using T = std::decay_t<decltype(scenario)>;
                if constexpr (std::is_same_v<T, UpdateFound>) {
                    if (user) {
                        show(updater, session, scenario, true);
                        return;
                    }
                    auto driverDelegate = userDriverDelegate(updater);
                    const bool gentle = driverDelegate && driverDelegate->supportsGentleScheduledUpdateReminders();
                    if (!gentle ||
                        driverDelegate->standardUserDriverShouldHandleShowingScheduledUpdate(scenario.item, false)) {
                        show(updater, session, scenario, false);
                        return;
                    }
                    driverDelegate->standardUserDriverWillHandleShowingUpdate(false, scenario.item, {false});
                    setWaitingAsReminder(updater, *session, true);
                } else if constexpr (std::is_same_v<T, NoUpdateFound>) {
                    if (!user) {
                        finish(updater, session, scenario.error);
                        return;
                    }
                    updater.userDriver_->showUpdateNotFound(
                        scenario.error, [weak = updater.weak_from_this(), session, error = scenario.error] {
                            performOnMain([weak, session, error] {
                                if (auto self = weak.lock()) finish(*self, session, error);
                            });
                        });
                } else if constexpr (std::is_same_v<T, CheckFailed>) {
                    recordWindow({WindowRecord::Kind::error, "Update Error",
                                  scenario.error.localizedDescription(), true, scenario.error},
                                 {});
                    abort(updater, session, scenario.error);
                } else if constexpr (std::is_same_v<T, InstallWithPostponedRelaunch>) {
                    install(updater, session, scenario.item, scenario.installFailure);
                } else if constexpr (std::is_same_v<T, Abort>) {
                    abort(updater, session, scenario.error);
                } else {
                    finish(updater, session, std::nullopt);
                }
            },
            session->scenario);
    }

    // The user checks while a scheduled update waits: the framework brings its window up.
    static void resumeReminder(Updater& updater, const SessionPtr& session) {
        setWaitingAsReminder(updater, *session, false);
        DispatchQueue::main()->async([weak = updater.weak_from_this(), session] {
            auto self = weak.lock();
            if (!self || self->session_ != session) return;
            show(*self, session, std::get<UpdateFound>(session->scenario), true);
        });
    }

    // The framework's update window, answered as scripted.
    static void show(Updater& updater, const SessionPtr& session, const UpdateFound& found, bool userInitiated) {
        auto driverDelegate = userDriverDelegate(updater);
        if (driverDelegate) driverDelegate->standardUserDriverWillHandleShowingUpdate(true, found.item, {userInitiated});
        const auto window = recordWindow({WindowRecord::Kind::updateFound, "A new version is available",
                                          "Version " + found.item.displayVersionString + " is ready to install.",
                                          true},
                                         {});
        if (driverDelegate) driverDelegate->standardUserDriverDidReceiveUserAttention(found.item);
        closeWindow(window);
        if (found.answer == UpdateAnswer::install) {
            install(updater, session, found.item, found.installFailure);
        } else {
            finish(updater, session, std::nullopt);
        }
    }

    static void install(Updater& updater, const SessionPtr& session, const AppcastItem& item,
                        const std::optional<UpdaterError>& failure) {
        auto continuation = [weak = updater.weak_from_this(), session, item, failure] {
            performOnMain([weak, session, item, failure] {
                auto self = weak.lock();
                if (!self || self->session_ != session || session->continuationUsed) return;
                session->continuationUsed = true;
                completeInstallation(*self, session, item, failure);
            });
        };
        auto delegate = updater.delegate_.lock();
        if (!delegate || !delegate->shouldPostponeRelaunch(updater, item, continuation)) continuation();
    }

    static void completeInstallation(Updater& updater, const SessionPtr& session, const AppcastItem& item,
                                     const std::optional<UpdaterError>& failure) {
        if (failure) {
            abort(updater, session, *failure);
            return;
        }
        // Installed: the session stays until the process goes, so no other check begins.
        auto handler = withState([&](UpdaterState& s) {
            s.installations.push_back(item.versionString);
            ++s.terminationRequests;
            return s.terminationHandler;
        });
        if (handler) handler();
    }

    static void abort(Updater& updater, const SessionPtr& session, const UpdaterError& error) {
        if (auto delegate = updater.delegate_.lock()) delegate->didAbort(updater, error);
        finish(updater, session, error);
    }

    static void finish(Updater& updater, const SessionPtr& session, const std::optional<UpdaterError>& error) {
        if (updater.session_ != session) return;
        if (auto driverDelegate = userDriverDelegate(updater)) driverDelegate->standardUserDriverWillFinishUpdateSession();
        setSession(updater, nullptr);
        if (auto delegate = updater.delegate_.lock()) delegate->didFinishUpdateCycle(updater, session->check, error);
    }

    static void setAutomaticallyChecks(Updater& updater, bool on) {
        const bool changed = withState([&](UpdaterState& s) {
            const bool differs = s.automaticallyChecks != on;
            s.automaticallyChecks = on;
            return differs;
        });
        if (changed) Updater::Observers::notify(updater.observers_->automaticallyChecks, on);
    }
};

std::string UpdaterError::localizedDescription() const {
    const auto found = userInfo.find(localizedDescriptionKey);
    if (found != userInfo.end()) return found->second;
    return "The operation couldn’t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::optional<std::string> UpdaterError::localizedRecoverySuggestion() const {
    const auto found = userInfo.find(localizedRecoverySuggestionKey);
    if (found == userInfo.end()) return std::nullopt;
    return found->second;
}

StandardUserDriver::StandardUserDriver(URL hostBundle, std::weak_ptr<StandardUserDriverDelegate> delegate)
    : hostBundle_(std::move(hostBundle)), delegate_(std::move(delegate)) {}

void StandardUserDriver::showUpdateNotFound(const UpdaterError& error, std::function<void()> acknowledgement) {
    recordWindow({WindowRecord::Kind::updateNotFound, error.localizedDescription(),
                  error.localizedRecoverySuggestion().value_or(""), true, error},
                 std::move(acknowledgement));
}

std::shared_ptr<Updater> Updater::create(URL hostBundle, URL applicationBundle,
                                         std::shared_ptr<StandardUserDriver> userDriver,
                                         std::weak_ptr<UpdaterDelegate> delegate) {
    return std::shared_ptr<Updater>(
        new Updater(std::move(hostBundle), std::move(applicationBundle), std::move(userDriver), std::move(delegate)));
}

Updater::Updater(URL hostBundle, URL applicationBundle, std::shared_ptr<StandardUserDriver> userDriver,
                 std::weak_ptr<UpdaterDelegate> delegate)
    : hostBundle_(std::move(hostBundle)), applicationBundle_(std::move(applicationBundle)),
      userDriver_(std::move(userDriver)), delegate_(std::move(delegate)),
      observers_(std::make_shared<Observers>()) {}

Updater::~Updater() = default;

bool Updater::startUpdater(std::optional<UpdaterError>& error) {
    requireMainThread("Updater::startUpdater");
    Desktop::shared().record("updater start");
    auto failure = withState([](UpdaterState& s) {
        ++s.startCount;
        auto scripted = std::move(s.startFailure);
        s.startFailure.reset();
        return scripted;
    });
    if (failure) {
        error = std::move(failure);
        return false;
    }
    error.reset();
    if (started_) return true;
    withState([&](UpdaterState& s) { s.newest = weak_from_this(); });
    started_ = true;
    Observers::notify(observers_->canCheck, canCheckForUpdates());
    return true;
}

void Updater::checkForUpdates() {
    requireMainThread("Updater::checkForUpdates");
    if (started_) UpdaterDriverAccess::begin(*this, UpdateCheck::userInitiated);
}

bool Updater::canCheckForUpdates() const {
    return started_ && (!session_ || session_->waitingAsReminder);
}

bool Updater::automaticallyChecksForUpdates() const {
    return withState([](UpdaterState& s) { return s.automaticallyChecks; });
}

void Updater::setAutomaticallyChecksForUpdates(bool on) {
    requireMainThread("Updater::setAutomaticallyChecksForUpdates");
    UpdaterDriverAccess::setAutomaticallyChecks(*this, on);
}

std::shared_ptr<UpdaterObservation> Updater::observeCanCheckForUpdates(std::function<void(bool)> handler) {
    auto observation = std::make_shared<Observation>(std::move(handler));
    observers_->canCheck.push_back(observation);
    return observation;
}

std::shared_ptr<UpdaterObservation> Updater::observeAutomaticallyChecksForUpdates(std::function<void(bool)> handler) {
    auto observation = std::make_shared<Observation>(std::move(handler));
    observers_->automaticallyChecks.push_back(observation);
    return observation;
}

namespace UpdaterControl {

void scriptNextCheck(Scenario scenario) {
    withState([&](UpdaterState& s) { s.nextScenario = std::move(scenario); });
}

void failNextStart(UpdaterError error) {
    withState([&](UpdaterState& s) { s.startFailure = std::move(error); });
}

int startCount() {
    return withState([](UpdaterState& s) { return s.startCount; });
}

bool runScheduledCheck() {
    if (!isMainThread()) {
        DispatchQueue::main()->async([] { runScheduledCheck(); });
        return true;
    }
    auto updater = withState([](UpdaterState& s) { return s.newest.lock(); });
    if (!updater || !updater->automaticallyChecksForUpdates() || !updater->canCheckForUpdates()) return false;
    UpdaterDriverAccess::begin(*updater, UpdateCheck::scheduled);
    return true;
}

std::vector<std::string> checkedFeeds() {
    return withState([](UpdaterState& s) { return s.feeds; });
}

std::vector<WindowRecord> windows() {
    return withState([](UpdaterState& s) { return s.windows; });
}

bool dismissWindow() {
    if (!isMainThread()) {
        DispatchQueue::main()->async([] { dismissWindow(); });
        return true;
    }
    auto acknowledgement = withState([](UpdaterState& s) -> std::optional<std::function<void()>> {
        for (auto index = s.windows.size(); index-- > 0;) {
            if (!s.windows[index].open) continue;
            s.windows[index].open = false;
            return std::exchange(s.acknowledgements[index], {});
        }
        return std::nullopt;
    });
    if (!acknowledgement) return false;
    if (*acknowledgement) (*acknowledgement)();
    return true;
}

std::vector<std::string> installations() {
    return withState([](UpdaterState& s) { return s.installations; });
}

int terminationRequests() {
    return withState([](UpdaterState& s) { return s.terminationRequests; });
}

void setTerminationHandler(std::function<void()> handler) {
    withState([&](UpdaterState& s) { s.terminationHandler = std::move(handler); });
}

} // namespace UpdaterControl

} // namespace tarpelix::platform
