#include "platform/desktop/AppleEvents.h"

#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/Desktop.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tarpelix::platform {

namespace {

// Wakes the threads waiting on the consent prompt; used with Desktop::mutex.
std::condition_variable& promptChanged() {
    static auto* condition = new std::condition_variable(); // lives as long as the process
    return *condition;
}

void resetAppleEvents() {
    auto& d = Desktop::shared();
    {
        AppleEventsState released; // destroyed outside the lock
        std::lock_guard lock(d.mutex);
        const std::uint64_t generation = d.appleEvents.generation;
        released = std::move(d.appleEvents);
        d.appleEvents = AppleEventsState{};
        d.appleEvents.generation = generation + 1;
    }
    promptChanged().notify_all();
}

// Shows the consent prompt for the application and waits for the user (the lock is
// released meanwhile); the answer is kept as the application's permission. None when a
// reset dismissed the prompt.
std::optional<AutomationPromptAnswer> askUserLocked(Desktop& d, std::unique_lock<std::mutex>& lock,
                                                    const std::string& bundleIdentifier) {
    auto& state = d.appleEvents;
    const std::uint64_t generation = state.generation;
    promptChanged().wait(lock, [&] { return !state.promptShowing || state.generation != generation; });
    if (state.generation != generation) return std::nullopt;
    ++state.promptsShown;
    AutomationPromptAnswer answer;
    if (state.standingPromptAnswer) {
        answer = *state.standingPromptAnswer;
    } else {
        state.promptShowing = true;
        state.promptTarget = bundleIdentifier;
        state.promptAnswer.reset();
        promptChanged().notify_all();
        promptChanged().wait(lock, [&] { return state.promptAnswer || state.generation != generation; });
        if (state.generation != generation) return std::nullopt;
        answer = *state.promptAnswer;
        state.promptShowing = false;
        state.promptTarget.clear();
        state.promptAnswer.reset();
        promptChanged().notify_all();
    }
    state.automation[bundleIdentifier] =
        answer == AutomationPromptAnswer::allow ? AutomationAnswer::granted : AutomationAnswer::denied;
    return answer;
}

} // namespace

namespace detail {

Desktop& appleEventsDesktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] { shared.addResetHandler(resetAppleEvents); });
    return shared;
}

OSStatus automationStatusLocked(Desktop& d, const std::string& bundleIdentifier) {
    if (auto status = d.appleEvents.automationStatus.find(bundleIdentifier);
        status != d.appleEvents.automationStatus.end()) {
        return status->second;
    }
    auto found = d.appleEvents.automation.find(bundleIdentifier);
    AutomationAnswer answer = found == d.appleEvents.automation.end() ? AutomationAnswer::wouldAsk : found->second;
    switch (answer) {
    case AutomationAnswer::granted:
        return AppleEvents::noErr;
    case AutomationAnswer::denied:
        return AppleEvents::errAEEventNotPermitted;
    case AutomationAnswer::wouldAsk:
        break;
    }
    return AppleEvents::errAEEventWouldRequireUserConsent;
}

} // namespace detail

namespace {
Desktop& desktop() { return detail::appleEventsDesktop(); }
} // namespace

// MARK: Descriptors

AppleEventDescriptor AppleEventDescriptor::targetWithBundleIdentifier(std::string bundleIdentifier) {
    AppleEventDescriptor descriptor;
    descriptor.kind_ = Kind::target;
    descriptor.bundleIdentifier_ = std::move(bundleIdentifier);
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::targetWithProcessIdentifier(pid_t pid) {
    AppleEventDescriptor descriptor;
    descriptor.kind_ = Kind::target;
    descriptor.pid_ = pid;
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::text(std::string value) {
    AppleEventDescriptor descriptor;
    descriptor.kind_ = Kind::text;
    descriptor.text_ = std::move(value);
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::integer(std::int32_t value) {
    AppleEventDescriptor descriptor;
    descriptor.kind_ = Kind::integer;
    descriptor.integer_ = value;
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::list() {
    AppleEventDescriptor descriptor;
    descriptor.kind_ = Kind::list;
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::appleEvent(FourCharCode eventClass, FourCharCode eventID,
                                                      const AppleEventDescriptor& target, std::int16_t,
                                                      std::int32_t) {
    AppleEventDescriptor descriptor;
    descriptor.kind_ = Kind::appleEvent;
    descriptor.eventClass_ = eventClass;
    descriptor.eventID_ = eventID;
    if (target.kind() == Kind::target) {
        descriptor.bundleIdentifier_ = target.bundleIdentifier_;
        descriptor.pid_ = target.pid_;
    }
    return descriptor;
}

std::optional<std::string> AppleEventDescriptor::stringValue() const {
    switch (kind_) {
    case Kind::text:
        return text_;
    case Kind::integer:
        return std::to_string(integer_);
    default:
        return std::nullopt;
    }
}

int AppleEventDescriptor::numberOfItems() const {
    return kind_ == Kind::list ? static_cast<int>(items_.size()) : 0;
}

std::optional<AppleEventDescriptor> AppleEventDescriptor::descriptorAtIndex(int index) const {
    if (kind_ != Kind::list || index < 1 || index > numberOfItems()) return std::nullopt;
    return items_[static_cast<std::size_t>(index - 1)];
}

void AppleEventDescriptor::insertDescriptor(const AppleEventDescriptor& descriptor, int index) {
    if (kind_ != Kind::list) return;
    if (index < 1 || index > numberOfItems()) {
        items_.push_back(descriptor);
    } else {
        items_.insert(items_.begin() + (index - 1), descriptor);
    }
}

void AppleEventDescriptor::setParamDescriptor(const AppleEventDescriptor& descriptor, FourCharCode keyword) {
    if (kind_ != Kind::appleEvent) return;
    for (auto& [key, value] : params_) {
        if (key == keyword) {
            value = descriptor;
            return;
        }
    }
    params_.emplace_back(keyword, descriptor);
}

std::optional<AppleEventDescriptor> AppleEventDescriptor::paramDescriptorForKeyword(FourCharCode keyword) const {
    for (const auto& [key, value] : params_) {
        if (key == keyword) return value;
    }
    return std::nullopt;
}

// MARK: Permission

namespace AppleEvents {

OSStatus determinePermissionToAutomateTarget(const AppleEventDescriptor& target, FourCharCode, FourCharCode,
                                             bool askUserIfNeeded) {
    auto& d = desktop();
    double latency = 0;
    {
        std::lock_guard lock(d.mutex);
        ++d.appleEvents.permissionChecks;
        latency = d.appleEvents.permissionLatency;
    }
    // The answer reflects the world once the check completes.
    if (latency > 0) std::this_thread::sleep_for(std::chrono::duration<double>(latency));

    std::unique_lock lock(d.mutex);
    if (target.kind() != AppleEventDescriptor::Kind::target) return procNotFound;
    std::optional<std::string> bundleIdentifier;
    for (const auto& record : d.workspace.applications) {
        const auto& app = record.application;
        if (app.isTerminated) continue;
        bool matches = target.targetProcessIdentifier() ? app.processIdentifier == *target.targetProcessIdentifier()
                                                        : app.bundleIdentifier == target.targetBundleIdentifier();
        if (matches) {
            bundleIdentifier = app.bundleIdentifier;
            break;
        }
    }
    if (!bundleIdentifier) return procNotFound;
    const OSStatus status = detail::automationStatusLocked(d, *bundleIdentifier);
    if (status != errAEEventWouldRequireUserConsent || !askUserIfNeeded) return status;
    if (!askUserLocked(d, lock, *bundleIdentifier)) return errAEEventWouldRequireUserConsent;
    return detail::automationStatusLocked(d, *bundleIdentifier);
}

} // namespace AppleEvents

namespace AppleEventsControl {

void setAutomationPermission(const std::string& bundleIdentifier, AutomationAnswer answer) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.automation[bundleIdentifier] = answer;
}

void setAutomationStatus(const std::string& bundleIdentifier, OSStatus status) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.automationStatus[bundleIdentifier] = status;
}

void setAutomationPromptAnswer(std::optional<AutomationPromptAnswer> answer) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.standingPromptAnswer = answer;
}

bool answerAutomationPrompt(AutomationPromptAnswer answer) {
    auto& d = desktop();
    {
        std::lock_guard lock(d.mutex);
        if (!d.appleEvents.promptShowing || d.appleEvents.promptAnswer) return false;
        d.appleEvents.promptAnswer = answer;
    }
    promptChanged().notify_all();
    return true;
}

bool isAutomationPromptShowing() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.appleEvents.promptShowing && !d.appleEvents.promptAnswer;
}

std::optional<std::string> automationPromptTarget() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    if (!d.appleEvents.promptShowing || d.appleEvents.promptAnswer) return std::nullopt;
    return d.appleEvents.promptTarget;
}

long automationPromptsShown() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.appleEvents.promptsShown;
}

void setPermissionLatency(double seconds) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.permissionLatency = seconds;
}

int permissionChecks() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.appleEvents.permissionChecks;
}

void setScriptableApplication(pid_t pid, std::weak_ptr<ScriptableApplication> application) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.scriptable[pid] = std::move(application);
}

int compilations() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.appleEvents.compilations;
}

int executions() {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    return d.appleEvents.executions;
}

void failNextExecution(std::optional<ScriptErrorDictionary> error) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.failingExecutions.push_back(std::move(error));
}

void replaceNextReply(AppleEventDescriptor reply) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.appleEvents.replacedReplies.push_back(std::move(reply));
}

} // namespace AppleEventsControl

} // namespace tarpelix::platform
