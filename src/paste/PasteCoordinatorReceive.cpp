// The main-thread front of the paste road: a held Control+V becomes an image paste, an
// ordinary paste replayed to the terminal, or a failure with its reason.

#include "paste/ClipboardImage.h"
#include "paste/PasteCoordinator.h"
#include "paste/PasteTransfer.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MainThread.h"
#include "terminal/GhosttyAdapter.h"
#include "terminal/TerminalAppAdapter.h"
#include "model/TerminalUnavailable.h"
#include "terminal/iTerm2Adapter.h"

#include <cmath>

namespace tarpelix {

using platform::AXUIElementRef;
using platform::Workspace::frontmostApplication;

namespace {

const std::string clearingLocalData = "Clearing local data — paste again";
const std::string alreadyInProgress = "Uploading — request already in progress";
const std::string cancellingPrevious = "Cancelling previous paste…";
const std::string cancelledByNormalPaste = "Paste cancelled — normal paste";
const std::string focusOrInputChanged = "Paste cancelled — focus or input changed";
const std::string cannotVerifyFocus = "Cannot verify paste focus — check Accessibility";
const std::string focusMonitoringUnavailable = "Focus monitoring unavailable — grant Accessibility and reopen Tarpelix";
const std::string sessionChanged = "Terminal session changed — paste again";

platform::Pasteboard& general() { return platform::Pasteboard::general(); }

std::int32_t frontmostPID() {
    auto frontmost = frontmostApplication();
    return frontmost ? frontmost->processIdentifier : 0;
}

} // namespace

// MARK: Accessibility reads

std::optional<platform::AXValue> PasteCoordinator::defaultAttributeRead(const AXUIElementRef& element,
                                                                        const std::string& attribute) {
    if (!element) return std::nullopt;
    auto copied = element->copyAttributeValue(attribute);
    if (copied.error != platform::AXErrorCode::success) return std::nullopt;
    return copied.value;
}

AXUIElementRef PasteCoordinator::focusedElement(std::int32_t pid) const {
    auto application = platform::AXUIElement::createApplication(pid);
    application->setMessagingTimeout(messagingTimeout);
    auto copied = application->copyAttributeValue("AXFocusedUIElement");
    if (copied.error == platform::AXErrorCode::success && copied.value) {
        if (auto* element = std::get_if<AXUIElementRef>(&*copied.value); element && *element) return *element;
    }
    throw TerminalUnavailable(cannotVerifyFocus);
}

bool PasteCoordinator::isTerminalContent(const AXUIElementRef& element,
                                         const std::optional<std::string>& bundleID) const {
    if (!bundleID || !element) return false;
    std::string label;
    std::string expected;
    if (*bundleID == GhosttyAdapter::bundleID) {
        label = "AXHelp";
        expected = "Terminal content area";
    } else if (*bundleID == iTerm2Adapter::bundleID || *bundleID == TerminalAppAdapter::bundleID) {
        label = "AXDescription";
        expected = "shell";
    } else {
        return false;
    }
    auto isString = [](const std::optional<platform::AXValue>& value, const std::string& text) {
        auto* string = value ? std::get_if<std::string>(&*value) : nullptr;
        return string && *string == text;
    };
    auto role = defaultAttributeRead(element, "AXRole");
    if (!role) return false;
    auto value = defaultAttributeRead(element, label);
    if (!value) return false;
    return isString(role, "AXTextArea") && isString(value, expected);
}

std::optional<PasteCoordinator::Rect> PasteCoordinator::feedbackWindowFrame(const AXUIElementRef& focus,
                                                                            const AttributeRead& read) {
    if (!focus) return std::nullopt;
    focus->setMessagingTimeout(messagingTimeout);
    auto windowValue = read(focus, "AXWindow");
    auto* window = windowValue ? std::get_if<AXUIElementRef>(&*windowValue) : nullptr;
    if (!window || !*window) return std::nullopt;
    (*window)->setMessagingTimeout(messagingTimeout);
    auto positionValue = read(*window, "AXPosition");
    auto sizeValue = read(*window, "AXSize");
    auto* position = positionValue ? std::get_if<platform::AXPoint>(&*positionValue) : nullptr;
    auto* size = sizeValue ? std::get_if<platform::AXSize>(&*sizeValue) : nullptr;
    if (!position || !size) return std::nullopt;
    if (!std::isfinite(position->x) || !std::isfinite(position->y) || !std::isfinite(size->width) ||
        !std::isfinite(size->height) || !(size->width > 0) || !(size->height > 0)) {
        return std::nullopt;
    }
    return Rect{*position, *size};
}

bool PasteCoordinator::stillCurrent(const PasteGesture& gesture) {
    return !isShuttingDown_ && eventTap_->isCurrent(gesture) && frontmostPID() == gesture.pid;
}

// MARK: Receive

void PasteCoordinator::receive(const PasteGesture& gesture) {
    platform::requireMainThread("PasteCoordinator.receive");
    const auto id = platform::Uuid::random();
    const auto captureStarted = platform::MonotonicInstant::now();
    const double deadline = platform::systemUptime() + operationTimeout_;
    auto frontmost = frontmostApplication();
    const auto bundleID = frontmost ? frontmost->bundleIdentifier : std::nullopt;
    const auto terminal = PasteTransfer::terminalCategory(bundleID);

    if (isShuttingDown_ || !eventTap_->isCurrent(gesture) || !frontmost ||
        frontmost->processIdentifier != gesture.pid) {
        return; // stale: the key press stays swallowed
    }
    if (clearingLocalData_) {
        report(clearingLocalData);
        return;
    }

    AXUIElementRef focus;
    try {
        focus = focusedElement(gesture.pid);
    } catch (const std::exception& error) {
        failReceive(gesture, id, terminal, captureStarted, error.what());
        return;
    }

    if (isTerminalContent(focus, bundleID)) {
        const long changeCount = general().changeCount();
        if (ClipboardImage::hasImageCandidate(general())) {
            if (auto current = operations_->current()) {
                report(current->isCancelled() ? cancellingPrevious : alreadyInProgress);
                return;
            }
            auto operation = operations_->begin(gesture.deadline, id);
            if (!operation) return;
            reportFeedbackOrigin(id, feedbackWindowFrame(focus));
            eventTap_->track(operation, gesture);
            Road road;
            road.operation = operation;
            road.gesture = gesture;
            road.focus = focus;
            road.clipboardChangeCount = changeCount;
            road.deadline = deadline;
            road.id = id;
            road.terminal = terminal;
            road.bundleID = bundleID;
            road.captureStarted = captureStarted;
            std::weak_ptr<PasteCoordinator> weak = weak_from_this();
            platform::DispatchQueue::main()->async([weak, road = std::move(road)]() mutable {
                if (auto self = weak.lock()) self->prepare(std::move(road));
            });
            return;
        }
    }

    // Ordinary paste.
    if (auto current = operations_->current(); current && current->cancel(cancelledByNormalPaste)) {
        feedback_.complete(current->id, PasteFeedback::Outcome::cancelled, cancelledByNormalPaste, false);
        report(cancelledByNormalPaste);
    }
    try {
        if (stillCurrent(gesture) && platform::isEqual(focusedElement(gesture.pid), focus)) {
            eventTap_->replay(gesture);
            return;
        }
    } catch (const std::exception& error) {
        failReceive(gesture, id, terminal, captureStarted, error.what());
        return;
    }
    failReceive(gesture, id, terminal, captureStarted, focusOrInputChanged);
}

void PasteCoordinator::failReceive(const PasteGesture& gesture, const platform::Uuid& id, DiagnosticTerminal terminal,
                                   platform::MonotonicInstant captureStarted, const std::string& description) {
    if (stillCurrent(gesture) && ClipboardImage::hasImageCandidate(general())) {
        if (auto operation = operations_->begin(gesture.deadline, id)) {
            reportFeedbackOrigin(id, std::nullopt);
            beginFeedback(operation, rawValue(terminal));
            feedback_.complete(id, PasteFeedback::Outcome::failed, description, false);
            appendDiagnostic(DiagnosticEvent{platform::Date::now(), id, terminal, DiagnosticTransport::unknown,
                                             DiagnosticStage::capture, TransferOutcome::failed,
                                             TransferFailureCategory::unavailable,
                                             PasteTransfer::elapsedMilliseconds(captureStarted), std::nullopt});
            finish(operation);
        }
    }
    report(description);
}

// MARK: Prepare

void PasteCoordinator::prepare(Road road) {
    platform::requireMainThread("PasteCoordinator.prepare");
    const auto& operation = road.operation;
    try {
        operation->check();
        if (!stillCurrent(road.gesture)) throw TerminalUnavailable(focusOrInputChanged);
        if (general().changeCount() != road.clipboardChangeCount) throw ClipboardImage::changed;
        if (ClipboardImage::isNativeOnly(general())) {
            // Nothing for the pipeline: the terminal's own paste takes it.
            if (general().changeCount() != road.clipboardChangeCount) throw ClipboardImage::changed;
            if (!stillCurrent(road.gesture) || !platform::isEqual(focusedElement(road.gesture.pid), road.focus)) {
                throw TerminalUnavailable(focusOrInputChanged);
            }
            operation->check();
            eventTap_->replay(road.gesture);
            finish(operation);
            return;
        }
        if (!focusObserver_) throw TerminalUnavailable(focusMonitoringUnavailable);
        auto frontmost = frontmostApplication();
        if (!isSupported(frontmost)) throw TerminalUnavailable(sessionChanged);
        road.bundleID = frontmost->bundleIdentifier;
        road.adapter = adapters_.at(*frontmost->bundleIdentifier);
        road.target = road.adapter->captureTarget();
        operation->check();
        if (!stillCurrent(road.gesture)) throw TerminalUnavailable(focusOrInputChanged);
    } catch (const std::exception& error) {
        failPreparation(road, error.what());
        return;
    }
    prepareInBackground(road);
}

void PasteCoordinator::failPreparation(const Road& road, const std::string& description) {
    const auto& operation = road.operation;
    appendDiagnostic(DiagnosticEvent{platform::Date::now(), road.id, road.terminal, DiagnosticTransport::unknown,
                                     DiagnosticStage::capture, TransferOutcome::failed,
                                     TransferFailureCategory::unavailable,
                                     PasteTransfer::elapsedMilliseconds(road.captureStarted), std::nullopt});
    beginFeedback(operation, rawValue(road.terminal));
    feedback_.complete(operation->id,
                       operation->isCancelled() ? PasteFeedback::Outcome::cancelled : PasteFeedback::Outcome::failed,
                       description, false);
    report(description);
    finish(operation);
}

} // namespace tarpelix
