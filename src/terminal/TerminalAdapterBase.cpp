#include "terminal/TerminalAdapterBase.h"

#include "platform/desktop/Accessibility.h"
#include "platform/foundation/Bundle.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/LinuxProfile.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/Text.h"

#include <fstream>
#include <sstream>

namespace tarpelix {

using namespace platform;

namespace {

const std::string focusContentReason = "Focus terminal content; search fields and dialogs are unsupported";

bool isText(const std::optional<AXValue>& value, const std::string& expected) {
    return value && std::holds_alternative<std::string>(*value) && std::get<std::string>(*value) == expected;
}

AXUIElementRef elementOf(const std::optional<AXValue>& value) {
    if (!value || !std::holds_alternative<AXUIElementRef>(*value)) return nullptr;
    return std::get<AXUIElementRef>(*value);
}

std::optional<std::string> readUTF8File(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream contents;
    contents << file.rdbuf();
    if (file.bad()) return std::nullopt;
    std::string text = contents.str();
    if (!text::isValidUTF8(text)) return std::nullopt;
    return text;
}

} // namespace

// MARK: Focused pane

TerminalAdapterBase::Focus TerminalAdapterBase::focusedTerminal() const {
    requireMainThread("Terminal adapter");
    if (!Accessibility::isProcessTrusted()) throw TerminalUnavailable("Grant Tarpelix Accessibility in System Settings");
    const std::string oneInstance = worded("Focus a pane in one running ", " instance");
    auto front = Workspace::frontmostApplication();
    if (!front || front->bundleIdentifier != constants_.bundleID) throw TerminalUnavailable(oneInstance);
    for (const auto& running : Workspace::runningApplications(constants_.bundleID)) {
        if (running.processIdentifier != front->processIdentifier && !running.isTerminated) {
            throw TerminalUnavailable(oneInstance);
        }
    }
    auto application = AXUIElement::createApplication(front->processIdentifier);
    application->setMessagingTimeout(1.0);

    // Each element reference has its own timeout: the focused element and the window get the
    // same bound, so no read of this test waits longer than a second.
    auto focused = elementOf(attribute(application, "AXFocusedUIElement"));
    if (!focused) throw TerminalUnavailable(focusContentReason);
    focused->setMessagingTimeout(1.0);
    if (!isText(attribute(focused, "AXRole"), "AXTextArea")) throw TerminalUnavailable(focusContentReason);
    if (!isText(attribute(focused, constants_.contentAttribute), constants_.contentValue)) {
        throw TerminalUnavailable(focusContentReason);
    }
    auto window = elementOf(attribute(application, "AXFocusedWindow"));
    if (window) window->setMessagingTimeout(1.0);
    if (!window || !isText(attribute(window, "AXSubrole"), "AXStandardWindow")) {
        throw TerminalUnavailable(focusContentReason);
    }
    return {front->processIdentifier, focused};
}

std::optional<AXValue> TerminalAdapterBase::attribute(const AXUIElementRef& element, const std::string& name) const {
    auto copied = element->copyAttributeValue(name);
    if (copied.error != AXErrorCode::success) {
        throw TerminalUnavailable(worded("", " Accessibility unavailable (" + std::to_string(copied.error) + ")"));
    }
    return copied.value;
}

// MARK: Script calls

AppleEventDescriptor TerminalAdapterBase::call(const std::string& handler, const std::vector<std::string>& arguments) {
    OSStatus permission = AppleEvents::determinePermissionToAutomateTarget(
        AppleEventDescriptor::targetWithBundleIdentifier(constants_.bundleID), typeWildCard, typeWildCard, false);
    if (permission != AppleEvents::noErr) {
        throw TerminalUnavailable(
            worded("Request ", " Automation in Settings \u2192 Permissions (" + std::to_string(permission) + ")"));
    }
    if (!script_) {
        auto path = Bundle::urlForResource(constants_.scriptResource, "applescript");
        auto source = path ? readUTF8File(*path) : std::nullopt;
        auto script = source ? AppleScript::create(*source) : nullptr;
        if (!script) throw TerminalUnavailable(worded("Bundled ", " script is missing"));
        std::optional<ScriptErrorDictionary> error;
        if (!script->compile(&error)) throw scriptError(error);
        script_ = std::move(script);
    }
    auto event = AppleEventDescriptor::appleEvent(fourCharCode("ascr"), fourCharCode("psbr"), AppleEventDescriptor(),
                                                  -1, 0);
    event.setParamDescriptor(AppleEventDescriptor::text(handler), fourCharCode("snam"));
    auto list = AppleEventDescriptor::list();
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        list.insertDescriptor(AppleEventDescriptor::text(arguments[i]), static_cast<int>(i + 1));
    }
    event.setParamDescriptor(list, fourCharCode("----"));
    std::optional<ScriptErrorDictionary> error;
    auto reply = script_->executeAppleEvent(event, &error);
    if (!reply) {
        script_.reset(); // compiled again at the next call
        throw scriptError(error);
    }
    return *reply;
}

TerminalUnavailable TerminalAdapterBase::scriptError(const std::optional<ScriptErrorDictionary>& error) const {
    std::int64_t number = 0;
    std::string message = "Missing scripting capability";
    if (error) {
        if (auto found = error->find(AppleScriptErrorKey::number); found != error->end()) {
            if (auto* integer = std::get_if<std::int64_t>(&found->second)) number = *integer;
        }
        if (auto found = error->find(AppleScriptErrorKey::message); found != error->end()) {
            if (auto* text = std::get_if<std::string>(&found->second)) message = *text;
        }
    }
    if (number == AppleEvents::errAEEventNotPermitted) {
        return TerminalUnavailable(worded("", " Automation denied \u2014 enable it in System Settings"));
    }
    return TerminalUnavailable(worded("", " unavailable (" + std::to_string(number) + "): " + message));
}

// MARK: Capture and validation

TerminalTarget TerminalAdapterBase::captureTarget() {
    auto first = focusedTerminal();
    if (scriptApplicationPID_ != first.pid) {
        script_.reset(); // another terminal process: compile the script for it anew
        scriptApplicationPID_ = first.pid;
    }
    auto reply = call("capturetarget", {});
    if (reply.kind() != AppleEventDescriptor::Kind::list || reply.numberOfItems() != 4) {
        throw TerminalUnavailable(worded("", " returned an unsupported target"));
    }
    std::vector<std::string> texts;
    for (int i = 1; i <= 4; ++i) {
        if (auto text = reply.descriptorAtIndex(i)->stringValue()) texts.push_back(*text);
    }
    bool stable = texts.size() == 4 && std::none_of(texts.begin(), texts.end(), [](const auto& t) { return t.empty(); }) &&
                  LinuxProfile::isTerminalDevicePath(texts[3]);
    if (!stable) throw TerminalUnavailable(worded("", " did not provide stable IDs and a terminal TTY"));

    auto second = focusedTerminal();
    if (second.pid != first.pid || !isEqual(second.element, first.element)) {
        throw TerminalUnavailable("Focus changed during target capture");
    }
    return TerminalTarget{first.pid, texts[0], texts[1], texts[2], texts[3], first.element};
}

void TerminalAdapterBase::validateTarget(const TerminalTarget& target) {
    auto current = captureTarget();
    bool same = current.applicationPID == target.applicationPID && current.windowID == target.windowID &&
                current.tabID == target.tabID && current.terminalID == target.terminalID && current.tty == target.tty &&
                isEqual(current.focusedElement, target.focusedElement);
    if (!same) throw TerminalUnavailable(worded("Captured ", " target changed or disappeared \u2014 capture again"));
}

// MARK: Insertion

void TerminalAdapterBase::requireInsertableText(const std::string& text) {
    if (text.empty() || text::containsControlOrFormat(text)) throw TerminalUnavailable(controlCharactersReason);
}

TerminalAdapterBase::Focus TerminalAdapterBase::requireFocus(const TerminalTarget& target) const {
    auto focus = focusedTerminal();
    if (focus.pid != target.applicationPID || !isEqual(focus.element, target.focusedElement)) {
        throw TerminalUnavailable("Terminal focus changed");
    }
    return focus;
}

void TerminalAdapterBase::insertWithHandler(const std::string& text, const TerminalTarget& target,
                                            const std::function<void()>& beforeInsertion) {
    requireInsertableText(text);
    requireFocus(target);
    if (beforeInsertion) beforeInsertion();
    call("inserttext", {target.windowID, target.tabID, target.terminalID, target.tty, text});
}

} // namespace tarpelix
