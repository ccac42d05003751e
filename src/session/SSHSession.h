#pragma once

#include "session/LocalTmuxClient.h"
#include "ssh/SSHConfiguration.h"
#include "ssh/SSHDestination.h"

#include <optional>
#include <string>
#include <variant>

namespace tarpelix {

struct LocalForegroundSession;

// The resolved remote session: the ssh or mosh-client process with its destination, the
// evaluated OpenSSH configuration and the local tmux route it runs in, if any.
struct SSHSession {
    SSHProcess foreground;
    SSHConfiguration configuration;
    std::optional<LocalTmuxTarget> localTmux;

    SSHSession(SSHProcess foreground, SSHConfiguration configuration, std::optional<LocalTmuxTarget> localTmux = {})
        : foreground(std::move(foreground)), configuration(std::move(configuration)), localTmux(std::move(localTmux)) {}
    bool operator==(const SSHSession&) const = default;
};

} // namespace tarpelix
