#include "settings/LaunchAtLoginController.h"

#include "platform/desktop/LoginItems.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix {

using namespace platform;

namespace {

// What the user reads about a failure: the exception's text.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "The operation couldn’t be completed.";
    }
}

// Runs the service call on the global user-initiated queue and completes there.
std::function<void(LaunchAtLoginController::Completion)> offMainThread(void (*call)()) {
    return [call](LaunchAtLoginController::Completion completion) {
        DispatchQueue::global(QualityOfService::userInitiated)->async([call, completion = std::move(completion)] {
            std::exception_ptr error;
            try {
                call();
            } catch (...) {
                error = std::current_exception();
            }
            completion(error);
        });
    };
}

} // namespace

LaunchAtLoginController::State LaunchAtLoginController::stateFromStatus(long status) {
    switch (status) {
    case LoginItems::statusNotRegistered: return State::notRegistered;
    case LoginItems::statusEnabled: return State::enabled;
    case LoginItems::statusRequiresApproval: return State::requiresApproval;
    case LoginItems::statusNotFound: return State::notFound;
    default: return State::unknown;
    }
}

LaunchAtLoginController::Dependencies LaunchAtLoginController::Dependencies::live() {
    return {
        .status = [] { return stateFromStatus(LoginItems::mainApplicationStatus()); },
        .registerItem = offMainThread(LoginItems::registerMainApplication),
        .unregisterItem = offMainThread(LoginItems::unregisterMainApplication),
        .openLoginItems = LoginItems::openSystemSettingsLoginItems,
    };
}

std::shared_ptr<LaunchAtLoginController> LaunchAtLoginController::create(Dependencies dependencies) {
    return std::make_shared<LaunchAtLoginController>(std::move(dependencies));
}

LaunchAtLoginController::LaunchAtLoginController(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

void LaunchAtLoginController::changed() const {
    if (onChange) onChange();
}

void LaunchAtLoginController::refresh() {
    requireMainThread("LaunchAtLoginController::refresh");
    if (isBusy_) return;
    const State status = dependencies_.status();
    if (status != state_) errorMessage_.reset();
    state_ = status;
    changed();
}

void LaunchAtLoginController::setEnabled(bool enabled) {
    requireMainThread("LaunchAtLoginController::setEnabled");
    if (isBusy_) return;
    state_ = dependencies_.status();
    errorMessage_.reset();
    if (enabled && state_ == State::requiresApproval) {
        // Only the user can approve the item, in System Settings.
        changed();
        dependencies_.openLoginItems();
        return;
    }
    if (enabled ? state_ == State::enabled : state_ == State::notRegistered) {
        changed();
        return;
    }
    isBusy_ = true;
    const auto generation = ++generation_;
    changed();
    auto completion = [weak = weak_from_this(), generation, enabled](std::exception_ptr error) {
        DispatchQueue::main()->async([weak, generation, enabled, error] {
            if (auto self = weak.lock()) self->finish(generation, enabled, error);
        });
    };
    if (enabled) {
        dependencies_.registerItem(std::move(completion));
    } else {
        dependencies_.unregisterItem(std::move(completion));
    }
}

void LaunchAtLoginController::finish(unsigned long generation, bool enabled, std::exception_ptr error) {
    if (!isBusy_ || generation != generation_) return; // a superseded request
    state_ = dependencies_.status();
    isBusy_ = false;
    if (error) {
        errorMessage_ = std::string("Couldn’t ") + (enabled ? "enable" : "disable") + " launch at login. " +
                        describe(error);
    }
    changed();
}

void LaunchAtLoginController::openLoginItems() {
    requireMainThread("LaunchAtLoginController::openLoginItems");
    dependencies_.openLoginItems();
}

} // namespace tarpelix
