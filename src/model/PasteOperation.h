#pragma once

#include "platform/foundation/Clock.h"
#include "platform/foundation/Uuid.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tarpelix {

// The single in-flight paste: its identifier, its deadline and the first reason it was
// cancelled. Shared by the main thread, the paste queue and the event tap thread; the
// reason is guarded by the lock, everything else never changes after construction.
class PasteOperation final {
public:
    using Instant = platform::MonotonicInstant;
    using Clock = std::function<Instant()>;

    // Seconds every paste operation may take, counted from the key press.
    static constexpr double timeout = 30.0;

    static inline const std::string timedOutReason = "Paste timed out — paste again";
    static inline const std::string defaultCancelReason = "Paste cancelled";

    static std::shared_ptr<PasteOperation> create(Instant deadline = newDeadline(), Clock now = Instant::now,
                                                  platform::Uuid id = platform::Uuid::random());

    // Now on the monotonic clock, advanced by the operation timeout.
    static Instant newDeadline();

    const platform::Uuid id;
    const Instant deadline;

    // The stored reason; a passed deadline becomes the stored reason the first time anybody asks.
    std::optional<std::string> cancellationReason() const;
    bool isCancelled() const { return cancellationReason().has_value(); }
    // Stores the reason unless one is stored already; true when this call stored it.
    bool cancel(const std::string& reason = defaultCancelReason);
    // Throws TerminalUnavailable with the stored reason, if any.
    void check() const;

    PasteOperation(Instant deadline, Clock now, platform::Uuid id);

private:
    friend class PasteOperationState;
    const Clock now_;
    mutable std::mutex lock_;
    mutable std::optional<std::string> reason_;
};

// The one slot that admits a single operation at a time. Main thread only.
class PasteOperationState final {
public:
    std::shared_ptr<PasteOperation> current() const { return current_; }

    // Nil while any operation is current, even a cancelled one.
    std::shared_ptr<PasteOperation> begin(PasteOperation::Instant deadline = PasteOperation::newDeadline(),
                                          platform::Uuid id = platform::Uuid::random());
    bool allowsCompletion(const std::shared_ptr<PasteOperation>& operation) const;
    bool finish(const std::shared_ptr<PasteOperation>& operation);
    void cancel();

private:
    std::shared_ptr<PasteOperation> current_;
};

} // namespace tarpelix
