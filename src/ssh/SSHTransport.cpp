#include "ssh/SSHTransport.h"

#include "platform/foundation/Clock.h"
#include "platform/process/ChildProcess.h"
#include "terminal/TerminalUnavailable.h"

namespace tarpelix {

void SSHTransport::checkDeadline(double deadline) {
    if (platform::systemUptime() >= deadline) throw TerminalUnavailable(timedOutReason);
}

void SSHTransport::terminateRequest(platform::ChildProcess& process) { process.killAndReap(); }

} // namespace tarpelix
