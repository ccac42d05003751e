#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// Whether this application may automate the frontmost terminal, asked in the background
// without prompting and trusted for 2.0 seconds from the start of the probe that granted
// it. Answers for a terminal that is no longer the target, given after a reset, or given
// by a probe that was given up for taking too long, are dropped. Main thread only.
class PastePermissionGate final : public std::enable_shared_from_this<PastePermissionGate> {
public:
    struct Target {
        std::int32_t pid = 0;
        std::string bundleID;
        bool operator==(const Target&) const = default;
    };
    // Calls its completion once, on the main thread, with whether Automation is allowed.
    using Probe = std::function<void(const Target&, std::function<void(bool)>)>;
    using Clock = std::function<double()>;

    static constexpr double grantDuration = 2.0;
    // A probe outstanding longer than this no longer holds back a new one for its target.
    static constexpr double probeTimeout = 10.0;

    // Defaults: the system uptime and the Automation probe below.
    static std::shared_ptr<PastePermissionGate> create(Clock now = {}, Probe probe = {});
    // Asks the Automation permission for the target's process on a global utility queue,
    // never prompting; answers on the main queue.
    static void defaultProbe(const Target& target, std::function<void(bool)> completion);

    void refresh(const std::optional<Target>& target, bool prerequisites);
    bool allows(const Target& target) const;
    bool ready() const;
    std::optional<double> grantedUntil() const { return grantedUntil_; }
    void reset();

    // Told after every reset and every accepted answer.
    std::function<void()> changed = [] {};

private:
    PastePermissionGate(Clock now, Probe probe);

    const Probe probe_;
    std::optional<Target> target_;
    std::uint64_t generation_ = 0;
    bool checking_ = false;
    double checkingSince_ = 0; // clock time the outstanding probe started
    const Clock now_;
    std::optional<double> grantedUntil_;
};

} // namespace tarpelix
