#include "updates/UpdateController.h"

#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MainThread.h"
#include "updates/SparkleUpdateDriver.h"
#include "updates/UpdateInstallationLifecycle.h"

namespace tarpelix {

namespace {
constexpr const char* approvalDetail = "Downloads and installation require your approval.";
}

std::shared_ptr<UpdateController> UpdateController::create(
    UpdateConfiguration configuration, std::shared_ptr<UpdateInstallationLifecycle> installationLifecycle,
    std::shared_ptr<UpdateDriving> driver, StartUpdater startUpdater, PresentUnavailable presentUnavailable) {
    auto controller = std::shared_ptr<UpdateController>(new UpdateController(
        std::move(configuration), std::move(installationLifecycle), std::move(startUpdater),
        presentUnavailable ? std::move(presentUnavailable) : PresentUnavailable(presentUnavailableAlert)));
    if (!driver) {
        driver = SparkleUpdateDriver::create(platform::Bundle::bundleURL(), controller->updaterDelegate_,
                                             controller->weak_from_this());
    }
    controller->driver_ = std::move(driver);
    controller->driver_->setChanged([weak = controller->weak_from_this()] {
        if (auto self = weak.lock()) self->notifyChanged();
    });
    return controller;
}

UpdateController::UpdateController(UpdateConfiguration configuration,
                                   std::shared_ptr<UpdateInstallationLifecycle> installationLifecycle,
                                   StartUpdater startUpdater, PresentUnavailable presentUnavailable)
    : configuration_(std::move(configuration)),
      updaterDelegate_(UpdateDelegate::create(installationLifecycle, configuration_)),
      startOverride_(std::move(startUpdater)), presentUnavailable_(std::move(presentUnavailable)),
      installationLifecycle_(std::move(installationLifecycle)) {}

UpdatePresentation UpdateController::presentation() const {
    UpdatePresentation shown;
    shown.automaticallyChecks = driver_->automaticallyChecks();
    shown.title = hasReminder_ ? "Update Available…" : "Check for Updates…";
    if (const auto* unavailable = std::get_if<Unavailable>(&state_)) {
        shown.canCheck = true;
        shown.detail = unavailable->message;
    } else if (std::holds_alternative<Idle>(state_)) {
        shown.canCheck = true;
        shown.detail = configuration_.unavailabilityReason().value_or(approvalDetail);
    } else if (hasReminder_) {
        shown.canCheck = driver_->canCheck();
        shown.detail = "An update is ready to review.";
    } else if (driver_->canCheck()) {
        shown.canCheck = true;
        shown.detail = approvalDetail;
    } else {
        shown.canCheck = false;
        shown.detail = "Checking for updates or handling an update…";
    }
    shown.canCheck = shown.canCheck && !isDraining();
    return shown;
}

void UpdateController::start() {
    platform::requireMainThread("UpdateController::start");
    if (!std::holds_alternative<Idle>(state_)) return;
    if (auto reason = configuration_.unavailabilityReason()) {
        state_ = Unavailable{std::move(*reason)};
    } else {
        try {
            if (startOverride_) {
                startOverride_();
            } else {
                driver_->start();
            }
            state_ = Started{};
        } catch (...) {
            state_ = Unavailable{startFailureMessage};
        }
    }
    notifyChanged();
}

void UpdateController::checkForUpdates() {
    platform::requireMainThread("UpdateController::checkForUpdates");
    if (isDraining()) return;
    start();
    if (const auto* unavailable = std::get_if<Unavailable>(&state_)) {
        presentUnavailable_(unavailable->message);
        return;
    }
    if (!driver_->canCheck()) return;
    driver_->check();
}

void UpdateController::setAutomaticallyChecks(bool on) {
    platform::requireMainThread("UpdateController::setAutomaticallyChecks");
    driver_->setAutomaticallyChecks(on);
    notifyChanged();
}

void UpdateController::standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate,
                                                                 const platform::AppcastItem&,
                                                                 const platform::UserUpdateState&) {
    setReminder(!handleShowingUpdate);
}

void UpdateController::standardUserDriverDidReceiveUserAttention(const platform::AppcastItem&) {
    setReminder(false);
}

void UpdateController::standardUserDriverWillFinishUpdateSession() {
    setReminder(false);
}

std::shared_ptr<platform::Alert> UpdateController::unavailableAlert(const std::string& message) {
    auto alert = platform::Alert::create();
    alert->setMessageText("Updates Unavailable");
    alert->setInformativeText(message);
    alert->addButtonWithTitle("OK");
    return alert;
}

void UpdateController::presentUnavailableAlert(const std::string& message) {
    auto alert = unavailableAlert(message);
    platform::Application::shared().activate();
    alert->runModal();
}

bool UpdateController::isDraining() const {
    return installationLifecycle_ && installationLifecycle_->isSuspended();
}

void UpdateController::setReminder(bool on) {
    hasReminder_ = on;
    notifyChanged();
}

void UpdateController::notifyChanged() const {
    if (changed_) changed_();
}

} // namespace tarpelix
