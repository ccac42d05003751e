#include "platform/desktop/LoginItems.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/LoginItemsControl.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace tarpelix::platform {

namespace {

// The main application's login item and what the control surface set up. Guarded by
// Desktop::mutex.
struct LoginItemsState {
    long status = LoginItems::statusNotRegistered;
    bool registrationRequiresApproval = false;
    std::optional<std::string> registrationError;
    std::optional<std::string> unregistrationError;
    bool holdNext = false; // the next call is to wait
    bool held = false;     // a call waits now
    std::vector<LoginItemsControl::Call> calls;
    int openings = 0;
    // Counts resets, so a call held across one leaves the new state alone.
    unsigned long epoch = 0;
};

LoginItemsState state;
std::condition_variable released;

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] {
        shared.addResetHandler([&shared] {
            {
                std::lock_guard lock(shared.mutex);
                const auto epoch = state.epoch + 1;
                state = LoginItemsState{};
                state.epoch = epoch;
            }
            released.notify_all();
        });
    });
    return shared;
}

// Records the call, waits while it is held, then fails with the error the control set or
// changes the status as the call asks.
void perform(LoginItemsControl::Call call) {
    auto& d = desktop();
    std::unique_lock lock(d.mutex);
    state.calls.push_back(call);
    if (state.holdNext) {
        state.holdNext = false;
        state.held = true;
        const auto epoch = state.epoch;
        released.wait(lock, [&] { return !state.held || state.epoch != epoch; });
        if (state.epoch != epoch) return; // the desktop was reset meanwhile
    }
    const bool registering = call == LoginItemsControl::Call::registration;
    const auto& error = registering ? state.registrationError : state.unregistrationError;
    if (error) throw LoginItemsError(*error);
    if (registering) {
        state.status = state.registrationRequiresApproval ? LoginItems::statusRequiresApproval
                                                          : LoginItems::statusEnabled;
    } else {
        state.status = LoginItems::statusNotRegistered;
    }
}

} // namespace

namespace LoginItems {

long mainApplicationStatus() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return state.status;
}

void registerMainApplication() { perform(LoginItemsControl::Call::registration); }

void unregisterMainApplication() { perform(LoginItemsControl::Call::unregistration); }

void openSystemSettingsLoginItems() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    ++state.openings;
}

} // namespace LoginItems

namespace LoginItemsControl {

void setMainApplicationStatus(long status) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    state.status = status;
}

void setRegistrationRequiresApproval(bool requiresApproval) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    state.registrationRequiresApproval = requiresApproval;
}

void setRegistrationError(std::optional<std::string> description) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    state.registrationError = std::move(description);
}

void setUnregistrationError(std::optional<std::string> description) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    state.unregistrationError = std::move(description);
}

void holdNextCall() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    state.holdNext = true;
}

void releaseHeldCall() {
    auto& d = desktop();
    {
        std::lock_guard lock(d.mutex);
        state.holdNext = false;
        state.held = false;
    }
    released.notify_all();
}

bool isCallHeld() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return state.held;
}

void approve() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (state.status == LoginItems::statusRequiresApproval) state.status = LoginItems::statusEnabled;
}

std::vector<Call> calls() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return state.calls;
}

int loginItemsOpenings() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return state.openings;
}

} // namespace LoginItemsControl

} // namespace tarpelix::platform
