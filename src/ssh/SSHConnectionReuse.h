#pragma once

#include "ssh/SSHConfiguration.h"
#include "ssh/SSHDestination.h"

#include <memory>
#include <string>
#include <vector>

namespace tarpelix {

class PasteOperation;

// The OpenSSH options that let the first upload to a destination leave a master connection
// behind for 60 seconds, in a private directory of the agent's own. The socket name covers the
// destination and the configuration's fingerprint, so a changed configuration never rides on
// a master made under the old one.
struct SSHConnectionReuse {
    // "ControlMaster=auto", "ControlPersist=60", "ControlPath=" + the private control path.
    std::vector<std::string> options(const SSHDestination& destination, const SSHConfiguration& configuration,
                                     double deadline, const std::shared_ptr<PasteOperation>& operation) const;

    // "/tmp/tarpelix-ssh-" followed by the user's uid.
    static std::string directory();
    // "c-" and the first 20 bytes of SHA-256(destination + "\n" + fingerprint) in hexadecimal.
    static std::string socketName(const SSHDestination& destination, const SSHConfiguration& configuration);
    // Throws unless the path is a directory (not a link) of this user with mode 0700 exactly.
    static void validateDirectory(const std::string& path);
};

} // namespace tarpelix
