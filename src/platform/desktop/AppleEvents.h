#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
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
// target does not run. Synchronous; may take a while.
OSStatus determinePermissionToAutomateTarget(const AppleEventDescriptor& target, FourCharCode eventClass,
                                             FourCharCode eventID, bool askUserIfNeeded);

} // namespace AppleEvents

} // namespace tarpelix::platform
