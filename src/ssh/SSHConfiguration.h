#pragma once

#include "platform/foundation/Bytes.h"
#include "ssh/SSHDestination.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

class PasteOperation;

// The effective OpenSSH configuration of a destination, as `ssh -G` evaluates it.
struct SSHConfiguration {
    std::string hostname;
    std::string user;
    std::uint16_t port = 0;          // never 0 once parsed
    std::string fingerprint;         // SHA-256 of the raw ssh -G output, 64 lowercase hex digits
    std::optional<std::string> controlPath; // the "controlpath" value as printed

    bool operator==(const SSHConfiguration&) const = default;

    // Parses `ssh -G` output; throws SessionInspectionError.
    static SSHConfiguration parse(const platform::Bytes& output);
};

// One cached evaluation.
struct SSHConfigurationCache {
    SSHDestination destination;
    std::optional<SSHProcess> session;
    platform::Bytes inputs;
    double expires = 0; // seconds of system uptime
    SSHConfiguration configuration;

    bool matches(const SSHDestination& destination, const std::optional<SSHProcess>& session,
                 const platform::Bytes& inputs, double now) const;
};

// Asks the system's OpenSSH client to evaluate the user's configuration for a destination.
// The last evaluation is cached, process-wide, for 60 seconds, keyed by the destination, the
// foreground ssh process and a byte snapshot of the configuration files; the cache is not
// used when those files hold constructs the snapshot cannot capture (Match, or an Include
// other than the stock one).
struct SSHConfigurationEvaluator {
    static constexpr double cacheLifetime = 60.0;

    // `deadline` is seconds of system uptime; positive infinity leaves only the 5-second limit.
    SSHConfiguration evaluate(const SSHDestination& destination, const std::shared_ptr<PasteOperation>& operation,
                              const std::optional<SSHProcess>& session, double deadline) const;

    // The snapshot of the configuration files, or absent when caching is not allowed.
    static std::optional<platform::Bytes> cacheInputs();
    // Empties the cache (tests start from a known state).
    static void clearCache();
};

} // namespace tarpelix
