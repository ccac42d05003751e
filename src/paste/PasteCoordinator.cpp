#include "paste/PasteCoordinator.h"

#include "diagnostics/DiagnosticStore.h"
#include "model/PasteAttempt.h"
#include "platform/appkit/WindowDisplay.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "ssh/SSHTransport.h"
#include "storage/TransferStorage.h"
#include "terminal/GhosttyAdapter.h"
#include "terminal/TerminalAppAdapter.h"
#include "terminal/iTerm2Adapter.h"

namespace tarpelix {

using platform::Accessibility::isProcessTrusted;
using platform::Workspace::frontmostApplication;

namespace {

const std::string disabledReason = "Paste cancelled — Tarpelix disabled";
const std::string sleptOrWokeReason = "Paste cancelled — Mac slept or woke; paste again";
const std::string focusMonitoringUnavailable =
    "Terminal focus monitoring unavailable — grant Accessibility and reopen Tarpelix";
const std::string focusedUIElementChanged = "AXFocusedUIElementChanged";
const std::string focusedWindowChanged = "AXFocusedWindowChanged";

} // namespace

// MARK: Construction

std::shared_ptr<PasteCoordinator> PasteCoordinator::create(Dependencies dependencies) {
    std::shared_ptr<PasteCoordinator> coordinator(new PasteCoordinator(std::move(dependencies)));
    std::weak_ptr<PasteCoordinator> weak = coordinator;
    coordinator->permissionGate_->changed = [weak] {
        if (auto self = weak.lock()) self->refreshInputGate();
    };
    coordinator->feedback_.publish = [weak](const PasteFeedback& feedback) {
        if (auto self = weak.lock()) self->publish(feedback);
    };
    return coordinator;
}

PasteCoordinator::PasteCoordinator(Dependencies dependencies)
    : eventTap_(PasteEventTap::create(platform::systemUptime, nullptr, dependencies.operationTimeout)),
      permissionGate_(dependencies.permissionGate ? std::move(dependencies.permissionGate)
                                                  : PastePermissionGate::create()),
      storage_(std::move(dependencies.storage)),
      diagnostics_(std::move(dependencies.diagnostics)),
      uploadTransport_(std::move(dependencies.uploadTransport)),
      insertion_(std::move(dependencies.insertion)),
      resolver_(std::move(dependencies.resolver)),
      worker_(platform::DispatchQueue::create(queueLabel, platform::QualityOfService::userInitiated)),
      operations_(dependencies.operations ? std::move(dependencies.operations)
                                          : std::make_shared<PasteOperationState>()),
      operationTimeout_(dependencies.operationTimeout) {
    clipboardPermissionReady = [] {
        return platform::Pasteboard::general().accessBehavior() == platform::PasteboardAccessBehavior::alwaysAllow;
    };
    if (!uploadTransport_) {
        uploadTransport_ = [](const platform::Bytes& png, const SSHSession& session, double deadline,
                              const std::shared_ptr<PasteOperation>& operation, const platform::Uuid& id,
                              const std::function<void(const std::string&)>& confirmedUpload) {
            return SSHTransport{}.upload(png, session.foreground.destination, deadline, operation,
                                         session.configuration, id, confirmedUpload);
        };
    }
    if (!insertion_) {
        insertion_ = [](const std::string& text, TerminalAdapter& adapter, const TerminalTarget& target,
                        const std::function<void()>& beforeInsertion) {
            adapter.insert(text, target, beforeInsertion);
        };
    }
    adapters_[GhosttyAdapter::bundleID] = std::make_shared<GhosttyAdapter>();
    adapters_[iTerm2Adapter::bundleID] = std::make_shared<iTerm2Adapter>();
    adapters_[TerminalAppAdapter::bundleID] = std::make_shared<TerminalAppAdapter>();
}

PasteCoordinator::~PasteCoordinator() {
    // The focus observer's context and the tap's callbacks refer to this object: nothing of
    // them may outlive it.
    if (permissionTimer_) permissionTimer_->invalidate();
    auto& workspaceCenter = platform::Workspace::notificationCenter();
    workspaceCenter.removeObserver(activationObserver_);
    for (const auto& observer : powerObservers_) workspaceCenter.removeObserver(observer);
    removeFocusObserver();
    permissionGate_->changed = [] {};
}

// MARK: Lifecycle

void PasteCoordinator::start(bool enabled) {
    platform::requireMainThread("PasteCoordinator.start");
    std::weak_ptr<PasteCoordinator> weak = weak_from_this();
    eventTap_->invalidated = [weak](const std::shared_ptr<PasteOperation>& operation) {
        auto self = weak.lock();
        if (!self || operation != self->operations_->current()) return;
        auto reason = operation->cancellationReason();
        self->feedback_.complete(operation->id, PasteFeedback::Outcome::cancelled, reason, false);
        self->report(reason.value_or(PasteOperation::defaultCancelReason));
    };
    eventTap_->receive = [weak](const PasteGesture& gesture) {
        if (auto self = weak.lock()) self->receive(gesture);
    };
    eventTap_->report = [weak](const std::string& text) {
        if (auto self = weak.lock()) self->report(text);
    };

    auto& workspaceCenter = platform::Workspace::notificationCenter();
    namespace Name = platform::WorkspaceNotificationName;
    workspaceCenter.removeObserver(activationObserver_);
    activationObserver_ = workspaceCenter.addObserver(Name::didActivateApplication, nullptr,
                                                      platform::DispatchQueue::main(),
                                                      [weak](const platform::Notification&) {
                                                          if (auto self = weak.lock()) self->updateFocus();
                                                      });
    // Without a queue: they run on the posting thread. The tap's invalidation takes only the
    // tap's lock and posts to the main queue, so it is safe from there.
    for (const auto& observer : powerObservers_) workspaceCenter.removeObserver(observer);
    powerObservers_.clear();
    std::weak_ptr<PasteEventTap> tap = eventTap_;
    for (const auto& name : {Name::willSleep, Name::didWake}) {
        powerObservers_.push_back(
            workspaceCenter.addObserver(name, nullptr, nullptr, [tap](const platform::Notification&) {
                if (auto running = tap.lock()) running->invalidate(sleptOrWokeReason);
            }));
    }

    if (permissionTimer_) permissionTimer_->invalidate();
    permissionTimer_ = platform::RunLoop::main()->scheduleTimer(
        permissionPollInterval, true, platform::TimerMode::defaultMode, [weak](platform::RunLoopTimer&) {
            if (auto self = weak.lock()) self->updateFocus();
        });
    setEnabled(enabled);
}

void PasteCoordinator::setEnabled(bool value) {
    platform::requireMainThread("PasteCoordinator.setEnabled");
    if (!value) {
        if (auto operation = operations_->current(); operation && operation->cancel(disabledReason)) {
            feedback_.complete(operation->id, PasteFeedback::Outcome::cancelled, disabledReason, false);
            report(disabledReason);
        }
    } else if (isShuttingDown_) {
        return;
    }
    enabled_ = value;
    updateFocus();
}

void PasteCoordinator::refreshPermissions() { updateFocus(); }

void PasteCoordinator::permissionsDidChange() {
    permissionGate_->reset();
    updateFocus();
}

bool PasteCoordinator::isBusy() const { return operations_->current() != nullptr || clearingLocalData_; }

bool PasteCoordinator::beginLocalDataClear() {
    platform::requireMainThread("PasteCoordinator.beginLocalDataClear");
    if (isShuttingDown_ || operations_->current() || clearingLocalData_) return false;
    clearingLocalData_ = true;
    return true;
}

void PasteCoordinator::endLocalDataClear() {
    platform::requireMainThread("PasteCoordinator.endLocalDataClear");
    clearingLocalData_ = false;
    if (isShuttingDown_ && !operations_->current()) completeShutdown();
}

void PasteCoordinator::shutdown(std::function<void()> completion) {
    platform::requireMainThread("PasteCoordinator.shutdown");
    isShuttingDown_ = true;
    shutdownCompletions_.push_back(std::move(completion));
    setEnabled(false);
    if (!operations_->current() && !clearingLocalData_) completeShutdown();
}

void PasteCoordinator::completeShutdown() {
    auto completions = std::move(shutdownCompletions_);
    shutdownCompletions_.clear();
    for (auto& completion : completions) {
        if (completion) platform::DispatchQueue::main()->async(std::move(completion));
    }
}

bool PasteCoordinator::resumeAfterShutdown(bool enabled) {
    platform::requireMainThread("PasteCoordinator.resumeAfterShutdown");
    if (!isShuttingDown_ || operations_->current() || clearingLocalData_) return false;
    isShuttingDown_ = false;
    permissionGate_->reset();
    setEnabled(enabled);
    return true;
}

// MARK: Arming

bool PasteCoordinator::isSupported(const std::optional<platform::RunningApplication>& application) const {
    return application && application->bundleIdentifier && adapters_.contains(*application->bundleIdentifier);
}

void PasteCoordinator::removeFocusObserver() {
    if (focusObserver_) focusObserver_->removeFromRunLoop();
    focusObserver_.reset();
    observedPID_ = 0;
}

void PasteCoordinator::updateFocus() {
    platform::requireMainThread("PasteCoordinator.updateFocus");
    auto frontmost = frontmostApplication();
    const std::int32_t terminalPID = isSupported(frontmost) ? frontmost->processIdentifier : 0;
    const bool trusted = isProcessTrusted();
    eventTap_->refresh(trusted && enabled_);

    const std::int32_t watched = trusted && enabled_ ? terminalPID : 0;
    if (watched != observedPID_) {
        removeFocusObserver();
        if (watched != 0) {
            auto created = platform::AXObserver::create(watched, focusChanged);
            if (created.error == platform::AXErrorCode::success && created.observer) {
                auto application = platform::AXUIElement::createApplication(watched);
                if (created.observer->addNotification(application, focusedUIElementChanged, this) ==
                        platform::AXErrorCode::success &&
                    created.observer->addNotification(application, focusedWindowChanged, this) ==
                        platform::AXErrorCode::success) {
                    focusObserver_ = created.observer;
                    observedPID_ = watched;
                    focusObserver_->addToRunLoop(platform::RunLoop::main());
                }
            }
        }
    }

    std::optional<PastePermissionGate::Target> target;
    if (terminalPID != 0) target = PastePermissionGate::Target{terminalPID, *frontmost->bundleIdentifier};
    const bool prerequisites = enabled_ && trusted && clipboardPermissionReady();
    permissionGate_->refresh(target, prerequisites);
    refreshInputGate();
    if (terminalPID != 0 && enabled_ && trusted && !focusObserver_) report(focusMonitoringUnavailable);
}

void PasteCoordinator::focusChanged(platform::AXObserver&, const platform::AXUIElementRef&, const std::string&,
                                    void* context) {
    if (!context) return;
    auto* self = static_cast<PasteCoordinator*>(context);
    self->eventTap_->invalidate();
    self->refreshInputGate();
}

void PasteCoordinator::refreshInputGate() {
    platform::requireMainThread("PasteCoordinator.refreshInputGate");
    std::int32_t supportedPID = 0;
    [&] {
        if (!enabled_ || !isProcessTrusted() || !clipboardPermissionReady()) return;
        if (!permissionGate_->ready() || !focusObserver_) return;
        auto frontmost = frontmostApplication();
        if (!isSupported(frontmost)) return;
        const std::int32_t pid = frontmost->processIdentifier;
        if (!permissionGate_->allows({pid, *frontmost->bundleIdentifier})) return;
        platform::AXUIElementRef focus;
        try {
            focus = focusedElement(pid);
        } catch (const std::exception&) {
            return;
        }
        auto bundleID = frontmostApplication();
        if (!isTerminalContent(focus, bundleID ? bundleID->bundleIdentifier : std::nullopt)) return;
        supportedPID = pid;
    }();
    eventTap_->configure(enabled_, supportedPID, permissionGate_->grantedUntil().value_or(0.0));

    auto status = permissionStatus();
    if (status != lastPermissionStatus_) {
        lastPermissionStatus_ = status;
        reportPermissionReadiness();
    }
}

std::optional<std::string> PasteCoordinator::permissionStatus() const {
    if (!enabled_) return std::nullopt;
    if (!isProcessTrusted()) return "Native paste — Accessibility access required";
    if (!clipboardPermissionReady()) return "Native paste — Clipboard Always Allow required";
    auto frontmost = frontmostApplication();
    if (!isSupported(frontmost)) return std::nullopt;
    if (permissionGate_->allows({frontmost->processIdentifier, *frontmost->bundleIdentifier})) return std::nullopt;
    return "Native paste — checking or awaiting terminal Automation access";
}

// MARK: Feedback

void PasteCoordinator::publish(const PasteFeedback& feedback) {
    persistFeedback(feedback);
    reportFeedback(feedback);
    if (feedback.stage == PasteFeedback::Stage::preparing && !feedback.outcome) {
        // The overlay is drawn before the paste queue starts its work.
        platform::WindowDisplay::displayVisibleWindowsIfNeeded();
        platform::WindowDisplay::flushAnimationTransaction();
    }
}

void PasteCoordinator::persistFeedback(const PasteFeedback& feedback) {
    if (!attemptContext_ || attemptContext_->id != feedback.operationID || !storage_) return;
    PasteAttempt attempt(feedback, attemptContext_->createdAt, platform::Date::now(), attemptContext_->terminal,
                         attemptContext_->transport);
    std::weak_ptr<PasteCoordinator> weak = weak_from_this();
    storage_->saveLatestAttempt(attempt, [weak](std::optional<StorageError> warning) {
        if (auto self = weak.lock()) self->reportStorageWarning(warning);
    });
}

void PasteCoordinator::beginFeedback(const std::shared_ptr<PasteOperation>& operation, const std::string& terminal) {
    platform::requireMainThread("PasteCoordinator.beginFeedback");
    if (!operation || operation != operations_->current()) return;
    if (attemptContext_ && attemptContext_->id == operation->id) return;
    attemptContext_ = AttemptContext{operation->id, platform::Date::now(), terminal, "unknown"};
    if (storage_) storage_->beginAttempt(operation->id);
    feedback_.begin(operation->id);
}

void PasteCoordinator::appendDiagnostic(const DiagnosticEvent& event) const {
    if (diagnostics_) diagnostics_->append(event);
}

// MARK: Finish

void PasteCoordinator::finish(const std::shared_ptr<PasteOperation>& operation) {
    platform::requireMainThread("PasteCoordinator.finish");
    if (!operation || operation != operations_->current()) return;
    if (finishingOperationID_ == operation->id) return;
    finishingOperationID_ = operation->id;
    if (auto reason = operation->cancellationReason()) {
        feedback_.complete(operation->id, PasteFeedback::Outcome::cancelled, reason, false);
        report(*reason);
    }
    operation->cancel();
    // A feedback that this operation opened and nothing completed would stay open for good,
    // and an open feedback refuses every later paste's: it ends here as cancelled.
    if (const auto& current = feedback_.current(); current && current->operationID == operation->id &&
                                                   !current->outcome) {
        feedback_.complete(operation->id, PasteFeedback::Outcome::cancelled, operation->cancellationReason(), false);
    }
    if (storage_ && attemptContext_ && attemptContext_->id == operation->id) {
        std::weak_ptr<PasteCoordinator> weak = weak_from_this();
        storage_->endAttempt(operation->id, [weak, operation](std::optional<StorageError> warning) {
            if (auto self = weak.lock()) {
                self->reportStorageWarning(warning);
                self->release(operation);
            }
        });
    } else {
        release(operation);
    }
}

void PasteCoordinator::release(const std::shared_ptr<PasteOperation>& operation) {
    platform::requireMainThread("PasteCoordinator.release");
    if (!operations_->finish(operation)) return;
    if (attemptContext_ && attemptContext_->id == operation->id) attemptContext_.reset();
    finishingOperationID_.reset();
    eventTap_->track(nullptr, std::nullopt);
    if (isShuttingDown_ && !clearingLocalData_) completeShutdown();
}

} // namespace tarpelix
