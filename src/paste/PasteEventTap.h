#pragma once

#include "paste/PasteGesture.h"
#include "model/PasteOperation.h"
#include "platform/desktop/InputEvents.h"
#include "terminal/SyntheticEventMarker.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix {

// The Control+V event tap. A session event tap on a thread of its own swallows Control+V
// in the terminal it is armed for and hands the key press to the main thread as a
// PasteGesture; any other key press, click or scroll cancels the held or running paste.
// The tap thread decides each event under `lock_` and only posts work to the main queue,
// so it never waits for the main thread. Everything but handle() runs on the main thread.
class PasteEventTap final : public std::enable_shared_from_this<PasteEventTap> {
public:
    // A running tap thread; `invalidate` stops it.
    struct Connection {
        std::function<void()> invalidate;
    };
    using ConnectionCompletion = std::function<void(std::optional<Connection>)>;
    using Connect = std::function<void(ConnectionCompletion)>;
    using Clock = std::function<double()>;

    // Marks the keyboard events this application posts itself ("TARPPAST", big-endian).
    static constexpr std::int64_t syntheticTag = syntheticEventMarker;
    // Key down, key up, flags changed, the three mouse-button downs and scroll.
    static constexpr platform::EventMask eventMask = 0x2401C0A;
    static constexpr std::int64_t triggerKeyCode = 9; // V on the ANSI layout
    static constexpr platform::EventFlags modifierMask = 0x1E0000;
    static constexpr platform::EventFlags controlAlone = 0x40000;

    static inline const std::string focusChangedReason = "Paste cancelled — focus or input changed";
    static inline const std::string readinessExpiredReason =
        "Paste cancelled — permission readiness expired; paste again";
    static inline const std::string interruptedReason = "Paste cancelled — keyboard access interrupted; paste again";
    static inline const std::string interruptedReport = "Keyboard access interrupted — pending paste cancelled";
    static inline const std::string readyReport = "Paste event tap ready";
    static inline const std::string unavailableReport =
        "Event tap unavailable — grant Accessibility; Tarpelix will retry";

    // `now`: seconds of system uptime (the clock of the retry delay and of readiness);
    // called on both threads. `connect` replaces the system connection (tests).
    // `operationTimeout`: seconds from a key press to the deadline its gesture carries.
    static std::shared_ptr<PasteEventTap> create(Clock now, Connect connect = nullptr,
                                                 double operationTimeout = PasteOperation::timeout);
    // Stops every tap thread this object started and waits for it to end.
    ~PasteEventTap();
    PasteEventTap(const PasteEventTap&) = delete;
    PasteEventTap& operator=(const PasteEventTap&) = delete;

    // Arms the tap for one terminal process (0: disarmed) until `permissionExpires`.
    void configure(bool enabled, std::int32_t supportedPID, double permissionExpires);
    // Connects, keeps or tears down the tap thread. Main thread only (stops the process otherwise).
    void refresh(bool accessibilityAllowed);
    // Records the operation of the held paste (nil when it is released).
    void track(std::shared_ptr<PasteOperation> operation, const std::optional<PasteGesture>& gesture);
    // Makes every earlier gesture stale and cancels the tracked operation with `reason`.
    void invalidate(const std::string& reason = focusChangedReason);
    bool isCurrent(const PasteGesture& gesture);
    // Posts the held key press, marked, as an ordinary paste.
    void replay(const PasteGesture& gesture);
    // The tap callback: the event to let it through, nil to swallow it. Tap thread.
    platform::EventRef handle(platform::EventType type, const platform::EventRef& event);

    // Set by the coordinator; called on the main thread.
    std::function<void(const std::shared_ptr<PasteOperation>&)> invalidated = [](const auto&) {};
    std::function<void(const PasteGesture&)> receive = [](const PasteGesture&) {};
    std::function<void(const std::string&)> report = [](const std::string&) {};

    struct TapThread;

private:
    PasteEventTap(Clock now, Connect connect, double operationTimeout);
    PasteGesture gestureLocked(const platform::EventRef& copy) const;

    void invalidateLocked(const std::string& reason);
    void expireReadinessLocked();
    bool isCurrentLocked(const PasteGesture& gesture) const;
    void interruptLocked();
    void disconnect();
    void connectionFinished(std::uint64_t attempt, std::uint64_t interruptionAttempt,
                            std::optional<Connection> connection);
    void startSystemConnection(ConnectionCompletion completion);
    void reapFinishedThreads();
    void postToMain(std::function<void(PasteEventTap&)> work);

    // Main thread only.
    std::optional<Connection> connection_;
    bool starting_ = false;
    std::uint64_t connectionGeneration_ = 0;
    const Connect connect_;
    const double operationTimeout_;
    std::vector<std::shared_ptr<TapThread>> threads_;

    // Guarded by lock_ (shared by the tap thread and the main thread).
    mutable std::mutex lock_;
    bool interrupted_ = false;
    std::uint64_t interruptionGeneration_ = 0;
    bool awaitingAccessibilityDenial_ = false;
    double retryAfter_ = 0;
    const Clock now_;
    double permissionExpires_ = std::numeric_limits<double>::infinity();
    bool enabled_ = false;
    std::int32_t pid_ = 0;
    std::uint64_t generation_ = 0;
    bool heldPaste_ = false;
    bool replayRepeats_ = false;
    std::uint64_t heldGeneration_ = 0;
    std::shared_ptr<PasteOperation> operation_;
};

} // namespace tarpelix
