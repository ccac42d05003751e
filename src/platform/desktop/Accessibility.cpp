#include "platform/desktop/Accessibility.h"

#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/Desktop.h"
#include "platform/dispatch/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace tarpelix::platform {

namespace {

void resetAccessibility() {
    auto& d = Desktop::shared();
    std::map<pid_t, AXApplicationTree> released;
    std::lock_guard lock(d.mutex);
    released.swap(d.accessibility.applications);
    d.accessibility.nextNode = 1;
    for (const auto& weak : d.accessibility.observers) {
        if (auto record = weak.lock()) {
            record->registrations.clear();
            record->runLoop.reset();
        }
    }
    d.accessibility.observers.clear();
    d.accessibility.failingObserverCreations = 0;
    d.accessibility.failingNotificationRegistrations = 0;
    d.accessibility.trustPrompts = 0;
}

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] { shared.addResetHandler(resetAccessibility); });
    return shared;
}

bool isRunningLocked(Desktop& d, pid_t pid) {
    auto* app = d.workspace.find(pid);
    return app && !app->application.isTerminated;
}

AXValue toValue(pid_t pid, const AXStoredValue& stored) {
    return std::visit(
        [pid](const auto& value) -> AXValue {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, AXElementLink>) {
                return std::make_shared<AXUIElement>(pid, value.node);
            } else if constexpr (std::is_same_v<T, AXNoValue>) {
                return std::string(); // never reached: reported as noValue
            } else {
                return value;
            }
        },
        stored);
}

// Reads one attribute; the caller holds the lock.
AXUIElement::Copied readLocked(Desktop& d, pid_t pid, std::uint64_t node, const std::string& attribute) {
    auto& state = d.accessibility;
    auto tree = state.applications.find(pid);
    if (tree == state.applications.end()) {
        // A running application that exposes nothing: no focus, no other attribute.
        if (node != 0) return {AXErrorCode::invalidUIElement, std::nullopt};
        bool focus = attribute == "AXFocusedUIElement" || attribute == "AXFocusedWindow";
        return {focus ? AXErrorCode::noValue : AXErrorCode::attributeUnsupported, std::nullopt};
    }
    auto element = tree->second.nodes.find(node);
    if (element == tree->second.nodes.end()) return {AXErrorCode::invalidUIElement, std::nullopt};
    if (auto error = element->second.errors.find(attribute); error != element->second.errors.end()) {
        return {error->second, std::nullopt};
    }
    auto value = element->second.attributes.find(attribute);
    if (value == element->second.attributes.end()) return {AXErrorCode::attributeUnsupported, std::nullopt};
    if (std::holds_alternative<AXNoValue>(value->second)) return {AXErrorCode::noValue, std::nullopt};
    return {AXErrorCode::success, toValue(pid, value->second)};
}

} // namespace

// MARK: Elements

AXUIElementRef AXUIElement::createApplication(pid_t pid) { return std::make_shared<AXUIElement>(pid, 0); }

AXError AXUIElement::setMessagingTimeout(double seconds) {
    if (seconds < 0) return AXErrorCode::illegalArgument;
    timeout_ = seconds;
    return AXErrorCode::success;
}

AXUIElement::Copied AXUIElement::copyAttributeValue(const std::string& attribute) const {
    auto& d = desktop();
    std::unique_lock lock(d.mutex);
    if (!d.inputEvents.accessibilityTrusted) return {AXErrorCode::apiDisabled, std::nullopt};
    if (!isRunningLocked(d, pid_)) return {AXErrorCode::cannotComplete, std::nullopt};
    double timeout = timeout_ > 0 ? timeout_.load() : AccessibilityState::defaultMessagingTimeout;
    double latency = 0;
    if (auto tree = d.accessibility.applications.find(pid_); tree != d.accessibility.applications.end()) {
        latency = tree->second.responseLatency;
        if (auto element = tree->second.nodes.find(node_); element != tree->second.nodes.end()) {
            if (auto slow = element->second.latencies.find(attribute); slow != element->second.latencies.end()) {
                latency = std::max(latency, slow->second);
            }
        }
    }
    if (latency > 0) {
        // The application answers late, or not before the timeout.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(latency, timeout)));
        lock.lock();
        if (latency > timeout) return {AXErrorCode::cannotComplete, std::nullopt};
        if (!isRunningLocked(d, pid_)) return {AXErrorCode::cannotComplete, std::nullopt};
    }
    return readLocked(d, pid_, node_, attribute);
}

bool isEqual(const AXUIElementRef& a, const AXUIElementRef& b) {
    if (!a || !b) return !a && !b;
    return a->pid() == b->pid() && a->node() == b->node();
}

// MARK: Observers

AXObserver::Created AXObserver::create(pid_t pid, Callback callback) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (!d.inputEvents.accessibilityTrusted) return {AXErrorCode::apiDisabled, nullptr};
    if (!callback || pid <= 0) return {AXErrorCode::illegalArgument, nullptr};
    if (d.accessibility.failingObserverCreations > 0) {
        --d.accessibility.failingObserverCreations;
        return {AXErrorCode::failure, nullptr};
    }
    auto record = std::make_shared<Record>();
    record->pid = pid;
    record->callback = callback;
    auto observer = std::make_shared<AXObserver>(record);
    record->owner = observer;
    std::erase_if(d.accessibility.observers, [](const auto& weak) { return weak.expired(); });
    d.accessibility.observers.push_back(record);
    return {AXErrorCode::success, observer};
}

AXObserver::~AXObserver() = default;

AXError AXObserver::addNotification(const AXUIElementRef& element, const std::string& notification, void* refcon) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (!d.inputEvents.accessibilityTrusted) return AXErrorCode::apiDisabled;
    if (!element || element->pid() != record_->pid) return AXErrorCode::illegalArgument;
    if (!isRunningLocked(d, record_->pid)) return AXErrorCode::cannotComplete;
    if (d.accessibility.failingNotificationRegistrations > 0) {
        --d.accessibility.failingNotificationRegistrations;
        return AXErrorCode::cannotComplete;
    }
    for (const auto& registration : record_->registrations) {
        if (registration.node == element->node() && registration.notification == notification) {
            return AXErrorCode::notificationAlreadyRegistered;
        }
    }
    record_->registrations.push_back({element->node(), notification, refcon});
    return AXErrorCode::success;
}

AXError AXObserver::removeNotification(const AXUIElementRef& element, const std::string& notification) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (!element) return AXErrorCode::illegalArgument;
    auto removed = std::erase_if(record_->registrations, [&](const auto& registration) {
        return registration.node == element->node() && registration.notification == notification;
    });
    return removed > 0 ? AXErrorCode::success : AXErrorCode::notificationNotRegistered;
}

void AXObserver::addToRunLoop(const std::shared_ptr<RunLoop>& runLoop) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    record_->runLoop = runLoop;
}

void AXObserver::removeFromRunLoop() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    record_->runLoop.reset();
}

namespace Accessibility {

bool isProcessTrusted() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.inputEvents.accessibilityTrusted;
}

bool isProcessTrustedWithOptions(bool prompt) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    const bool trusted = d.inputEvents.accessibilityTrusted;
    if (prompt && !trusted) ++d.accessibility.trustPrompts;
    return trusted;
}

} // namespace Accessibility

// MARK: Control

namespace AccessibilityControl {

std::uint64_t createElement(pid_t pid) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    auto node = d.accessibility.nextNode++;
    d.accessibility.applications[pid].nodes[node];
    return node;
}

void removeElement(pid_t pid, std::uint64_t node) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (auto tree = d.accessibility.applications.find(pid); tree != d.accessibility.applications.end()) {
        if (node != 0) tree->second.nodes.erase(node);
    }
}

void removeApplication(pid_t pid) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.accessibility.applications.erase(pid);
}

void setAttribute(pid_t pid, std::uint64_t node, const std::string& attribute, AXStoredValue value) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.accessibility.applications[pid].nodes[node].attributes[attribute] = std::move(value);
}

void removeAttribute(pid_t pid, std::uint64_t node, const std::string& attribute) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.accessibility.applications[pid].nodes[node].attributes.erase(attribute);
}

void setAttributeError(pid_t pid, std::uint64_t node, const std::string& attribute, AXError error) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    auto& errors = d.accessibility.applications[pid].nodes[node].errors;
    if (error == AXErrorCode::success) {
        errors.erase(attribute);
    } else {
        errors[attribute] = error;
    }
}

void setResponseLatency(pid_t pid, double seconds) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.accessibility.applications[pid].responseLatency = seconds;
}

void setAttributeLatency(pid_t pid, std::uint64_t node, const std::string& attribute, double seconds) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.accessibility.applications[pid].nodes[node].latencies[attribute] = seconds;
}

void postNotification(pid_t pid, std::uint64_t node, const std::string& notification) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    for (const auto& weak : d.accessibility.observers) {
        auto record = weak.lock();
        if (!record || record->pid != pid) continue;
        auto loop = record->runLoop.lock();
        if (!loop) continue;
        for (const auto& registration : record->registrations) {
            if (registration.node != node || registration.notification != notification) continue;
            loop->perform([record, pid, node, notification, refcon = registration.refcon] {
                auto observer = record->owner.lock();
                if (!observer) return;
                record->callback(*observer, std::make_shared<AXUIElement>(pid, node), notification, refcon);
            });
        }
    }
}

std::optional<pid_t> applicationWithWindowAt(AXPoint point) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    std::vector<pid_t> order;
    if (isRunningLocked(d, d.workspace.frontmost)) order.push_back(d.workspace.frontmost);
    for (auto record = d.workspace.applications.rbegin(); record != d.workspace.applications.rend(); ++record) {
        const pid_t pid = record->application.processIdentifier;
        if (pid != d.workspace.frontmost && !record->application.isTerminated) order.push_back(pid);
    }
    const auto get = [](const AXNode& node, const char* attribute) -> const AXStoredValue* {
        const auto found = node.attributes.find(attribute);
        return found == node.attributes.end() ? nullptr : &found->second;
    };
    for (const pid_t pid : order) {
        const auto tree = d.accessibility.applications.find(pid);
        if (tree == d.accessibility.applications.end()) continue;
        for (auto entry = tree->second.nodes.rbegin(); entry != tree->second.nodes.rend(); ++entry) {
            const AXNode& node = entry->second;
            const auto* role = get(node, "AXRole");
            const auto* position = get(node, "AXPosition");
            const auto* size = get(node, "AXSize");
            if (!role || *role != AXStoredValue(std::string("AXWindow")) || !position || !size) continue;
            const auto* origin = std::get_if<AXPoint>(position);
            const auto* extent = std::get_if<AXSize>(size);
            if (origin && extent && point.x >= origin->x && point.x < origin->x + extent->width &&
                point.y >= origin->y && point.y < origin->y + extent->height) {
                return pid;
            }
        }
    }
    return std::nullopt;
}

int trustPrompts() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.accessibility.trustPrompts;
}

void failNext(Failure kind, int count) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (kind == Failure::observerCreation) {
        d.accessibility.failingObserverCreations = count;
    } else {
        d.accessibility.failingNotificationRegistrations = count;
    }
}

} // namespace AccessibilityControl

} // namespace tarpelix::platform
