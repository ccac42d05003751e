#pragma once

#include "paste/ClipboardPermissionSetup.h"
#include "terminal/GhosttyCompatibility.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix {

// Where a terminal is installed.
namespace installation {
struct Available {
    std::string url; // the application bundle's path
    bool operator==(const Available&) const = default;
};
struct Unknown {
    bool operator==(const Unknown&) const = default;
};
struct Missing {
    bool operator==(const Missing&) const = default;
};
// Two or more instances run, so which bundle is meant cannot be told.
struct Ambiguous {
    bool operator==(const Ambiguous&) const = default;
};
} // namespace installation
using Installation =
    std::variant<installation::Available, installation::Unknown, installation::Missing, installation::Ambiguous>;
// The bundle path of an available installation; none otherwise.
std::optional<std::string> urlOf(const Installation& installation);

// Apple-event Automation of one terminal, as the permission check answers it.
enum class AutomationStatus : std::uint8_t { allowed, denied, notDetermined, notRunning, checking, unavailable };
std::string title(AutomationStatus status);
// 0 allowed, -1743 denied, -1744 not determined, -600 not running, anything else unavailable.
AutomationStatus automationStatusFrom(std::int32_t osStatus);

// Clipboard access: the first four are the pasteboard's access behaviours 0-3.
enum class ClipboardStatus : std::uint8_t { defaultAccess, ask, alwaysAllow, alwaysDeny, unavailable };
std::string title(ClipboardStatus status);
ClipboardStatus clipboardStatusFrom(int accessBehavior);

// The application's one model of the permissions it needs: Accessibility, Input Monitoring,
// clipboard access, Automation of each supported terminal, and whether the installed Ghostty
// can be scripted. It probes through replaceable system calls, keeps a value snapshot, starts
// the requests and tells its owner of every change. Main thread only; answers that arrive
// later, on any thread, are applied on the main thread, and dropped when stale.
class PermissionSettingsController final : public std::enable_shared_from_this<PermissionSettingsController> {
public:
    struct Terminal {
        std::string id; // bundle identifier
        std::string name;
        bool operator==(const Terminal&) const = default;
    };
    // Ghostty, iTerm2 and Terminal, in display order.
    static const std::vector<Terminal>& terminals();

    // Keys of requests, beside the terminal ids.
    static inline const std::string accessibilityKey = "accessibility";
    static inline const std::string clipboardKey = "clipboard";
    static inline const std::string inputMonitoringKey = "inputMonitoring";

    struct Snapshot {
        bool accessibilityAllowed = false;
        bool accessibilityRequested = false; // the prompt was shown in this process
        std::map<std::string, Installation> installations;
        std::optional<GhosttyCompatibility::Status> ghosttyCompatibility;
        bool inputMonitoringAllowed = false;
        ClipboardStatus clipboard = ClipboardStatus::defaultAccess;
        std::map<std::string, AutomationStatus> automation;
        std::set<std::string> busy;                 // keys of requests in flight
        std::map<std::string, std::string> message; // last message per key

        bool operator==(const Snapshot&) const = default;

        std::string accessibilityAction() const;
        std::string clipboardAction() const;
        std::optional<std::string> clipboardGuidance() const;
        bool isTerminalCompatible(const std::string& id) const;
        std::optional<std::string> compatibilityMessage(const std::string& id) const;
        // The status menu's one-line permission problem for the frontmost application.
        std::optional<std::string> menuSummary(const std::optional<std::string>& id) const;
    };

    // The system calls the model makes. Answers may come on any thread.
    struct Dependencies {
        using AutomationAnswer = std::function<void(AutomationStatus)>;
        using ClipboardAnswer = std::function<void(ClipboardPermissionSetup::Result)>;
        using CompatibilityAnswer = std::function<void(GhosttyCompatibility::Status)>;

        std::function<bool()> accessibility;
        std::function<bool()> inputMonitoring;
        std::function<ClipboardStatus()> clipboard;
        std::function<bool(const std::string& id)> running;
        // The Bool lets the system ask the user when needed.
        std::function<void(const std::string& id, bool ask, AutomationAnswer answer)> automation;
        std::function<void()> requestAccessibility;
        std::function<bool()> requestInputMonitoring; // whether access is granted
        std::function<void(ClipboardAnswer answer)> requestClipboard;
        std::function<void(const std::string& anchor)> openPane;
        std::function<Installation(const std::string& id)> installation = [](const std::string&) {
            return Installation{installation::Unknown{}};
        };
        std::function<void(const std::string& url, CompatibilityAnswer answer)> checkGhostty =
            [](const std::string&, const CompatibilityAnswer& answer) {
                answer(GhosttyCompatibility::Status::unavailable);
            };
        std::function<void(const std::string& url, std::function<void(bool)> answer)> openApplication =
            [](const std::string&, const std::function<void(bool)>& answer) { answer(false); };
        std::function<bool(const std::string& url)> openURL = [](const std::string&) { return false; };

        // The real system calls, with one Ghostty checker.
        static Dependencies live();
    };

    // A probe in flight for longer than this no longer keeps a terminal from being probed.
    static constexpr double probeExpiry = 10.0;

    // `uptime` gives seconds of system uptime (injected by tests).
    static std::shared_ptr<PermissionSettingsController> create(Dependencies dependencies = Dependencies::live(),
                                                                std::function<double()> uptime = {});

    const Snapshot& snapshot() const;
    // Called after every change a display should show.
    void setOnChange(std::function<void()> onChange);
    // Called when a permission request ends, before onChange.
    void setPermissionsDidChange(std::function<void()> permissionsDidChange);

    // Re-reads everything and starts the background probes.
    void refresh();
    void performAccessibilityAction();
    void performClipboardAction();
    void requestInputMonitoring();
    // Known terminal ids only; others are ignored.
    void requestAutomation(const std::string& id);
    void openTerminal(const std::string& id);
    void openGhosttyPrerelease();
    // "Privacy_Accessibility", "Privacy_Pasteboard", "Privacy_ListenEvent" or "Privacy_Automation".
    void openPrivacyPane(const std::string& anchor);

    struct Token {
        explicit Token() = default;
    };
    PermissionSettingsController(Token, Dependencies dependencies, std::function<double()> uptime);

private:
    void readBasics();
    void refreshGhosttyCompatibility();
    bool begin(const std::string& key);
    void finish(const std::string& key);
    std::int64_t nextGeneration(const std::string& key);
    std::int64_t generation(const std::string& key) const;
    void changed() const;
    // Runs `apply` with the model on the main thread (at once when already there), unless the
    // model is gone by then.
    static void onMain(std::weak_ptr<PermissionSettingsController> weak,
                       std::function<void(PermissionSettingsController&)> apply);

    Snapshot snapshot_;
    std::function<void()> onChange_;
    std::function<void()> permissionsDidChange_;
    Dependencies dependencies_;
    std::function<double()> uptime_;
    std::map<std::string, std::int64_t> generations_;
    std::map<std::string, double> checking_; // terminal id -> uptime its probe started
    std::optional<std::string> compatibilityURL_;
    std::int64_t compatibilityGeneration_ = 0;
    bool checkingCompatibility_ = false;
};

} // namespace tarpelix
