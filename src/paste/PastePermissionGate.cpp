#include "paste/PastePermissionGate.h"

#include "platform/desktop/AppleEvents.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"

namespace tarpelix {

std::shared_ptr<PastePermissionGate> PastePermissionGate::create(Clock now, Probe probe) {
    if (!now) now = platform::systemUptime;
    if (!probe) probe = defaultProbe;
    return std::shared_ptr<PastePermissionGate>(new PastePermissionGate(std::move(now), std::move(probe)));
}

PastePermissionGate::PastePermissionGate(Clock now, Probe probe) : probe_(std::move(probe)), now_(std::move(now)) {}

void PastePermissionGate::defaultProbe(const Target& target, std::function<void(bool)> completion) {
    using namespace platform;
    DispatchQueue::global(QualityOfService::utility)->async([pid = target.pid, completion = std::move(completion)] {
        OSStatus status = AppleEvents::determinePermissionToAutomateTarget(
            AppleEventDescriptor::targetWithProcessIdentifier(pid), typeWildCard, typeWildCard, false);
        DispatchQueue::main()->async([completion, status] { completion(status == AppleEvents::noErr); });
    });
}

void PastePermissionGate::refresh(const std::optional<Target>& target, bool prerequisites) {
    if (!prerequisites || !target) {
        reset();
        return;
    }
    if (!target_ || *target_ != *target) {
        reset();
        target_ = target;
    }
    const double started = now_();
    if (checking_) {
        // One probe at a time for the same target, unless the outstanding one never answered:
        // it is given up, and the new generation makes its late answer stale.
        if (started - checkingSince_ <= probeTimeout) return;
        ++generation_;
    }
    checking_ = true;
    checkingSince_ = started;
    const std::uint64_t generation = generation_;
    const Target asked = *target;
    // A grant counts from the start of its probe.
    const double expiry = started + grantDuration;
    probe_(asked, [weak = weak_from_this(), generation, asked, expiry](bool granted) {
        auto self = weak.lock();
        if (!self) return;
        if (self->generation_ != generation || !self->target_ || *self->target_ != asked) return; // stale
        self->checking_ = false;
        self->grantedUntil_ = granted ? std::optional<double>(expiry) : std::nullopt;
        self->changed();
    });
}

bool PastePermissionGate::allows(const Target& target) const {
    return grantedUntil_ && now_() < *grantedUntil_ && target_ && *target_ == target;
}

bool PastePermissionGate::ready() const { return grantedUntil_ && now_() < *grantedUntil_; }

void PastePermissionGate::reset() {
    target_.reset();
    ++generation_;
    checking_ = false;
    grantedUntil_.reset();
    changed();
}

} // namespace tarpelix
