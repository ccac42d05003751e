#pragma once

namespace tarpelix::platform {
class ChildProcess;
}

namespace tarpelix {

// The ssh transport's operations; a structure without stored fields.
struct SSHTransport {
    // Seconds every paste operation may take, counted from the key press.
    static constexpr double operationTimeout = 30.0;

    static inline const char* const timedOutReason = "Upload timed out";

    // Throws TerminalUnavailable "Upload timed out" once the system uptime has reached the
    // deadline (seconds of uptime); a deadline of positive infinity never passes.
    static void checkDeadline(double deadline);

    // Ends a launched child for good: kills its process group (never our own) while the child
    // is still unreaped, so the group id cannot belong to anyone else yet, then kills the
    // child and waits for it. Never throws.
    static void terminateRequest(platform::ChildProcess& process);
};

} // namespace tarpelix
