#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// Whether the application starts when the user logs in: wraps the system's registration of
// the main application as a login item, keeps the last known state, runs registration and
// unregistration off the main thread, drops a result whose request was superseded, and tells
// every change through `onChange`. Main thread only.
class LaunchAtLoginController final : public std::enable_shared_from_this<LaunchAtLoginController> {
public:
    // The login item's state, from the status the service reports.
    enum class State { notRegistered, enabled, requiresApproval, notFound, unknown };
    // 0 not registered, 1 enabled, 2 requires approval, 3 not found, anything else unknown.
    static State stateFromStatus(long status);

    // Called once with the error the service threw, or null when it succeeded.
    using Completion = std::function<void(std::exception_ptr error)>;

    // The service, as the controller uses it.
    struct Dependencies {
        std::function<State()> status;
        // Registers the main application as a login item (`register` is a C++ keyword).
        std::function<void(Completion)> registerItem;
        std::function<void(Completion)> unregisterItem;
        // Opens the Login Items pane of System Settings.
        std::function<void()> openLoginItems;

        // The system's login items: registration and unregistration run on the global
        // user-initiated queue and complete there.
        static Dependencies live();
    };

    static std::shared_ptr<LaunchAtLoginController> create(Dependencies dependencies);
    explicit LaunchAtLoginController(Dependencies dependencies);
    LaunchAtLoginController(const LaunchAtLoginController&) = delete;
    LaunchAtLoginController& operator=(const LaunchAtLoginController&) = delete;

    // Reads the status again (not while busy); a changed status clears the error message.
    void refresh();
    // Registers or unregisters the item, unless it is already so; while it waits for the
    // user's approval, enabling opens Login Items instead. Ignored while busy.
    void setEnabled(bool enabled);
    void openLoginItems();

    State state() const { return state_; }
    bool isBusy() const { return isBusy_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    // Told every change; set by the owner.
    std::function<void()> onChange;

private:
    void finish(unsigned long generation, bool enabled, std::exception_ptr error);
    void changed() const;

    State state_ = State::unknown;
    bool isBusy_ = false;
    std::optional<std::string> errorMessage_;
    Dependencies dependencies_;
    unsigned long generation_ = 0;
};

} // namespace tarpelix
