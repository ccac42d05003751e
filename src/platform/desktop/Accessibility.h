#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <variant>

namespace tarpelix::platform {

class RunLoop;

// Accessibility result codes, with the platform's numbers.
using AXError = std::int32_t;
namespace AXErrorCode {
constexpr AXError success = 0;
constexpr AXError failure = -25200;
constexpr AXError illegalArgument = -25201;
constexpr AXError invalidUIElement = -25202;
constexpr AXError cannotComplete = -25204;
constexpr AXError attributeUnsupported = -25205;
constexpr AXError notImplemented = -25208;
constexpr AXError notificationAlreadyRegistered = -25209;
constexpr AXError notificationNotRegistered = -25210;
constexpr AXError apiDisabled = -25211;
constexpr AXError noValue = -25212;
} // namespace AXErrorCode

struct AXPoint {
    double x = 0;
    double y = 0;
    bool operator==(const AXPoint&) const = default;
};
struct AXSize {
    double width = 0;
    double height = 0;
    bool operator==(const AXSize&) const = default;
};

class AXUIElement;
using AXUIElementRef = std::shared_ptr<AXUIElement>;

// An attribute's value: text, an element, a point, a size or a number.
using AXValue = std::variant<std::string, AXUIElementRef, AXPoint, AXSize, double>;

// A reference to one element of an application's accessibility tree. Each reference
// carries its own messaging timeout; two references are equal (isEqual) when they name the
// same element.
class AXUIElement {
public:
    // A new reference to the application element of a process, on every call.
    static AXUIElementRef createApplication(pid_t pid);

    // Seconds a request through this reference may wait for the application; 0 restores
    // the default.
    AXError setMessagingTimeout(double seconds);

    struct Copied {
        AXError error = AXErrorCode::success;
        std::optional<AXValue> value;
    };
    Copied copyAttributeValue(const std::string& attribute) const;

    pid_t pid() const { return pid_; }
    std::uint64_t node() const { return node_; }

    AXUIElement(pid_t pid, std::uint64_t node) : pid_(pid), node_(node) {}

private:
    pid_t pid_;
    std::uint64_t node_;
    std::atomic<double> timeout_{0};
};

// Whether two references name the same element (nil equals only nil).
bool isEqual(const AXUIElementRef& a, const AXUIElementRef& b);

// Watches notifications of one application; callbacks run on the thread of the run loop
// its source was added to.
class AXObserver : public std::enable_shared_from_this<AXObserver> {
public:
    using Callback = void (*)(AXObserver& observer, const AXUIElementRef& element, const std::string& notification,
                              void* refcon);

    struct Created {
        AXError error = AXErrorCode::success;
        std::shared_ptr<AXObserver> observer;
    };
    static Created create(pid_t pid, Callback callback);

    AXError addNotification(const AXUIElementRef& element, const std::string& notification, void* refcon);
    AXError removeNotification(const AXUIElementRef& element, const std::string& notification);
    void addToRunLoop(const std::shared_ptr<RunLoop>& runLoop);
    void removeFromRunLoop();

    struct Record; // the desktop's state of this observer
    explicit AXObserver(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    ~AXObserver();

private:
    friend struct AccessibilityNotifier;
    std::shared_ptr<Record> record_;
};

namespace Accessibility {

// Whether this process is trusted for Accessibility (never prompts).
bool isProcessTrusted();
// The same answer; with `prompt` set, an untrusted process also shows the system's prompt
// that sends the user to System Settings. The prompt grants nothing and does not wait.
bool isProcessTrustedWithOptions(bool prompt);

} // namespace Accessibility

} // namespace tarpelix::platform
