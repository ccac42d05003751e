#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <variant>
#include <vector>

namespace tarpelix::platform {

using OSStatus = std::int32_t;
using FourCharCode = std::uint32_t;

// The four characters of a code, read big-endian: fourCharCode("ascr").
constexpr FourCharCode fourCharCode(const char (&code)[5]) {
    return (FourCharCode(std::uint8_t(code[0])) << 24) | (FourCharCode(std::uint8_t(code[1])) << 16) |
           (FourCharCode(std::uint8_t(code[2])) << 8) | FourCharCode(std::uint8_t(code[3]));
}

constexpr FourCharCode typeWildCard = fourCharCode("****");

// An Apple-event descriptor: a value sent to or returned by a scriptable application.
// A regular value; lists and events hold their items by value.
class AppleEventDescriptor {
public:
    enum class Kind { null, target, text, integer, list, appleEvent };

    AppleEventDescriptor() = default;
    static AppleEventDescriptor targetWithBundleIdentifier(std::string bundleIdentifier);
    static AppleEventDescriptor targetWithProcessIdentifier(pid_t pid);
    static AppleEventDescriptor text(std::string value);
    static AppleEventDescriptor integer(std::int32_t value);
    static AppleEventDescriptor list();
    // An Apple event; `target` may be a null descriptor (no target).
    static AppleEventDescriptor appleEvent(FourCharCode eventClass, FourCharCode eventID,
                                           const AppleEventDescriptor& target, std::int16_t returnID,
                                           std::int32_t transactionID);

    Kind kind() const { return kind_; }

    // Target: the bundle identifier or process identifier it names.
    const std::optional<std::string>& targetBundleIdentifier() const { return bundleIdentifier_; }
    std::optional<pid_t> targetProcessIdentifier() const { return pid_; }

    // The text of a text descriptor, the decimal form of an integer; nothing for other kinds.
    std::optional<std::string> stringValue() const;

    // List: items counted and addressed from 1. Inserting at 0 or past the end appends.
    int numberOfItems() const;
    std::optional<AppleEventDescriptor> descriptorAtIndex(int index) const;
    void insertDescriptor(const AppleEventDescriptor& descriptor, int index);

    // Apple event: class, ID and keyword parameters.
    FourCharCode eventClass() const { return eventClass_; }
    FourCharCode eventID() const { return eventID_; }
    void setParamDescriptor(const AppleEventDescriptor& descriptor, FourCharCode keyword);
    std::optional<AppleEventDescriptor> paramDescriptorForKeyword(FourCharCode keyword) const;

    bool operator==(const AppleEventDescriptor&) const = default;

private:
    Kind kind_ = Kind::null;
    std::optional<std::string> bundleIdentifier_;
    std::optional<pid_t> pid_;
    std::string text_;
    std::int32_t integer_ = 0;
    std::vector<AppleEventDescriptor> items_;
    FourCharCode eventClass_ = 0;
    FourCharCode eventID_ = 0;
    std::vector<std::pair<FourCharCode, AppleEventDescriptor>> params_;
};

namespace AppleEvents {

constexpr OSStatus noErr = 0;
constexpr OSStatus procNotFound = -600;
constexpr OSStatus errAEEventNotPermitted = -1743;
constexpr OSStatus errAEEventWouldRequireUserConsent = -1744;

// Whether this process may send the target application Apple events of this class and ID:
// noErr, errAEEventNotPermitted, errAEEventWouldRequireUserConsent, or procNotFound when the
// target does not run. Where the answer would need consent and `askUserIfNeeded` is set, the
// system shows its consent prompt and this waits for the user, whose answer is kept.
// Synchronous; may take a while: never call it on the main thread.
OSStatus determinePermissionToAutomateTarget(const AppleEventDescriptor& target, FourCharCode eventClass,
                                             FourCharCode eventID, bool askUserIfNeeded);

} // namespace AppleEvents

// The error dictionary of a script: its number and message under these keys, each of
// whatever type the script engine gave.
using ScriptErrorValue = std::variant<std::int64_t, double, std::string>;
using ScriptErrorDictionary = std::map<std::string, ScriptErrorValue>;
namespace AppleScriptErrorKey {
inline const std::string number = "NSAppleScriptErrorNumber";
inline const std::string message = "NSAppleScriptErrorMessage";
} // namespace AppleScriptErrorKey

// An error a scriptable application raises in one of its handlers.
class ScriptError : public std::exception {
public:
    ScriptError(int number, std::string message) : number(number), message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
    int number;
    std::string message;
};

// An application that scripts can address: it runs the handler a script calls with the
// script's arguments, on the caller's thread, and returns the reply or throws ScriptError.
class ScriptableApplication {
public:
    virtual ~ScriptableApplication() = default;
    virtual AppleEventDescriptor handleScriptCall(const std::string& handler,
                                                  const std::vector<AppleEventDescriptor>& arguments) = 0;
};

// A script made from AppleScript source and compiled at run time. The simulated engine
// reads the source's handlers ("on name(parameters)" ... "end name") and the application it
// tells (`tell application id "..."`), and runs a handler call by asking that application,
// once Automation of it is permitted, to run the handler of the same name.
class AppleScript {
public:
    static std::shared_ptr<AppleScript> create(std::string source);

    // False, with the compiler's error dictionary, when the source does not compile (it is
    // not UTF-8, its blocks do not close, it has no handler or tells no application).
    bool compile(std::optional<ScriptErrorDictionary>* error = nullptr);
    bool isCompiled() const { return compiled_; }

    // Runs a subroutine event (class 'ascr', ID 'psbr', the handler name under 'snam' and
    // the arguments as a list under '----'). Nothing, with the error dictionary (which may
    // itself be absent), when the script fails.
    std::optional<AppleEventDescriptor> executeAppleEvent(const AppleEventDescriptor& event,
                                                          std::optional<ScriptErrorDictionary>* error);

    explicit AppleScript(std::string source) : source_(std::move(source)) {}

private:
    std::string source_;
    bool compiled_ = false;
    std::string targetBundleIdentifier_;
    std::map<std::string, std::size_t> handlers_; // lower-cased name -> parameter count
};

} // namespace tarpelix::platform
