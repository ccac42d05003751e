#pragma once

#include "platform/process/UniqueFd.h"

#include <chrono>
#include <csignal>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <vector>

namespace tarpelix::platform {

// A pipe whose two ends are close-on-exec in this process.
struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
    // Throws std::system_error when the pipe cannot be made.
    static Pipe create();
};

// Makes a descriptor non-blocking; false (errno set) on failure.
bool setNonBlocking(int fd);

// One child process: configured, launched once, then observed until it is reaped.
//
// The child leads a process group of its own (its pid is the group's id), gets the default
// SIGPIPE disposition back, and inherits no descriptor but its three standard streams.
//
// Watching the child (isRunning) notes its termination without reaping it: while it is an
// unreaped zombie its pid, and so its group id, cannot be reused, so the group can still be
// killed safely (a grandchild may still hold its pipes). It is reaped only explicitly
// (waitUntilExit, killAndReap), through its own pid, never waitpid(-1); after that no signal
// is sent to it or its group. Used by one thread at a time.
//
// A launched child also has a process descriptor (pidfd) where the kernel offers one, so a
// wait for its pipes can end the moment the child ends instead of at the end of a pause.
class ChildProcess {
public:
    // Where a standard stream of the child goes.
    struct Stream {
        enum class Kind { inherit, nullDevice, descriptor };
        Kind kind = Kind::nullDevice;
        int fd = -1; // for `descriptor`: a descriptor of this process, duplicated into the child

        static Stream inherit() { return {Kind::inherit, -1}; }
        static Stream nullDevice() { return {Kind::nullDevice, -1}; }
        static Stream descriptor(int fd) { return {Kind::descriptor, fd}; }
    };

    enum class TerminationReason { exit, uncaughtSignal };

    std::string executable;
    std::vector<std::string> arguments;                  // without the program itself
    std::optional<std::vector<std::string>> environment; // "NAME=value"; absent inherits ours
    Stream standardInput = Stream::nullDevice();
    Stream standardOutput = Stream::nullDevice();
    Stream standardError = Stream::nullDevice();

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child that is still unreaped when the object goes away is killed with its group and reaped.
    ~ChildProcess();

    // Starts the child; its argument 0 is the executable path. Throws std::system_error with
    // the spawn error ("Cannot launch <path>: <reason>"). Launching twice is a programming error.
    void launch();

    bool launched() const { return pid_ > 0; }
    pid_t processIdentifier() const { return pid_; }

    // True until the child has ended; notes its termination (without reaping) once it has.
    bool isRunning();
    // Waits at most `limit` until one of `streams` is ready (their `revents` are filled in)
    // or, while it runs, the child ends; an end seen here is noted as isRunning notes it.
    // Without a process descriptor only the streams and the limit end the wait. At most
    // three streams.
    void awaitActivity(std::span<pollfd> streams, std::chrono::milliseconds limit);
    // Whether the child's end can be waited for (false before launch, after reaping, and
    // where the kernel refuses process descriptors).
    bool watchesExit() const { return exitDescriptor_.valid(); }
    // Blocks until the child has ended and reaps it.
    void waitUntilExit();
    bool exited() const { return exited_; }
    bool reaped() const { return reaped_; }

    // Valid once ended: the exit status, or the signal number for a child killed by a signal.
    int terminationStatus() const { return status_; }
    TerminationReason terminationReason() const { return reason_; }
    bool exitedWithStatusZero() const { return exited_ && reason_ == TerminationReason::exit && status_ == 0; }

    // Sends a signal to the child's process group. Refused (false) once the child was reaped,
    // because its group id may then belong to someone else, and for our own group.
    bool signalGroup(int signal);
    // Sends a signal to the child itself while it runs.
    bool signal(int signal);

    // Kills the group (while the child is still unreaped) and the child, then reaps it. Does
    // nothing for a child never launched or already reaped.
    void killAndReap();

private:
    void record(const siginfo_t& info);

    pid_t pid_ = 0;
    UniqueFd exitDescriptor_; // readable once the child has ended
    bool exited_ = false;
    bool reaped_ = false;
    int status_ = 0;
    TerminationReason reason_ = TerminationReason::exit;
};

} // namespace tarpelix::platform
