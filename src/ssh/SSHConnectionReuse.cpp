#include "ssh/SSHConnectionReuse.h"

#include "platform/foundation/Crypto.h"
#include "ssh/OperationCheck.h"
#include "ssh/SSHTransport.h"
#include "model/TerminalUnavailable.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix {

std::string SSHConnectionReuse::directory() { return "/tmp/tarpelix-ssh-" + std::to_string(::getuid()); }

std::string SSHConnectionReuse::socketName(const SSHDestination& destination, const SSHConfiguration& configuration) {
    auto digest = platform::sha256(destination.original + "\n" + configuration.fingerprint);
    return "c-" + platform::hexString(digest.data(), 20);
}

void SSHConnectionReuse::validateDirectory(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid() ||
        (status.st_mode & 0777) != 0700)
        throw TerminalUnavailable("SSH socket directory must be private, owned, and not a symlink");
}

std::vector<std::string> SSHConnectionReuse::options(const SSHDestination& destination,
                                                     const SSHConfiguration& configuration, double deadline,
                                                     const std::shared_ptr<PasteOperation>& operation) const {
    checkOperation(operation);
    SSHTransport::checkDeadline(deadline);
    const auto path = directory();
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        throw TerminalUnavailable("Cannot create private SSH socket directory");
    validateDirectory(path);
    const auto controlPath = path + "/" + socketName(destination, configuration);
    struct stat status {};
    if (::lstat(controlPath.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode) || status.st_uid != ::getuid())
            throw TerminalUnavailable("Unexpected file at SSH control socket path");
    } else if (errno != ENOENT) {
        throw TerminalUnavailable("Cannot inspect SSH control socket");
    }
    return {"ControlMaster=auto", "ControlPersist=60", "ControlPath=" + controlPath};
}

} // namespace tarpelix
