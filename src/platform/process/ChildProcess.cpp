#include "platform/process/ChildProcess.h"

#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarpelix::platform {

namespace {

// Releases posix_spawn's attribute and file-action objects on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes{};
    posix_spawn_file_actions_t actions{};
    bool attributesReady = false;
    bool actionsReady = false;
    ~SpawnSetup() {
        if (actionsReady) posix_spawn_file_actions_destroy(&actions);
        if (attributesReady) posix_spawnattr_destroy(&attributes);
    }
};

[[noreturn]] void throwSpawnError(int error, const std::string& executable) {
    throw std::system_error(error, std::generic_category(), "Cannot launch " + executable);
}

} // namespace

Pipe Pipe::create() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

bool setNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

ChildProcess::~ChildProcess() { killAndReap(); }

void ChildProcess::launch() {
    if (pid_ > 0) fatal("ChildProcess::launch called twice");
    SpawnSetup setup;
    if (int error = posix_spawnattr_init(&setup.attributes)) throwSpawnError(error, executable);
    setup.attributesReady = true;
    if (int error = posix_spawn_file_actions_init(&setup.actions)) throwSpawnError(error, executable);
    setup.actionsReady = true;

    // Its own process group, so the whole group can be killed; default SIGPIPE and SIGXFSZ,
    // since this process ignores them; no inherited signal mask.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    sigset_t empty;
    sigemptyset(&empty);
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (int error = posix_spawnattr_setflags(&setup.attributes, flags)) throwSpawnError(error, executable);
    if (int error = posix_spawnattr_setpgroup(&setup.attributes, 0)) throwSpawnError(error, executable);
    if (int error = posix_spawnattr_setsigdefault(&setup.attributes, &defaults)) throwSpawnError(error, executable);
    if (int error = posix_spawnattr_setsigmask(&setup.attributes, &empty)) throwSpawnError(error, executable);

    // A source descriptor below 3 could be overwritten by an earlier dup2 of another stream,
    // and dup2 onto itself would keep close-on-exec: move such descriptors out of the way.
    std::vector<UniqueFd> moved;
    auto place = [&](const Stream& stream, int target) {
        switch (stream.kind) {
        case Stream::Kind::inherit: return 0;
        case Stream::Kind::nullDevice:
            return posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null",
                                                    target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
        case Stream::Kind::descriptor: {
            int source = stream.fd;
            if (source >= 0 && source <= 2) {
                int copy = ::fcntl(source, F_DUPFD_CLOEXEC, 3);
                if (copy < 0) return errno;
                moved.emplace_back(copy);
                source = copy;
            }
            return posix_spawn_file_actions_adddup2(&setup.actions, source, target);
        }
        }
        return EINVAL;
    };
    if (int error = place(standardInput, STDIN_FILENO)) throwSpawnError(error, executable);
    if (int error = place(standardOutput, STDOUT_FILENO)) throwSpawnError(error, executable);
    if (int error = place(standardError, STDERR_FILENO)) throwSpawnError(error, executable);
    // Nothing else is inherited: a long-lived child (an ssh master) would otherwise keep
    // pipes of unrelated work open.
    if (int error = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3)) throwSpawnError(error, executable);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (environment) {
        for (auto& entry : *environment) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
    }

    pid_t pid = 0;
    int error = posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes, argv.data(),
                            environment ? envp.data() : environ);
    if (error != 0) throwSpawnError(error, executable);
    pid_ = pid;
    // The child is not reaped before we say so, so its pid cannot name another process yet.
    // Close-on-exec by the kernel's rule. Older kernels (ENOSYS) and sandboxes (EPERM) have
    // none: then the waits are bounded by their limits alone.
    exitDescriptor_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

void ChildProcess::record(const siginfo_t& info) {
    exited_ = true;
    if (info.si_code == CLD_EXITED) {
        reason_ = TerminationReason::exit;
        status_ = info.si_status;
    } else {
        reason_ = TerminationReason::uncaughtSignal;
        status_ = info.si_status;
    }
}

bool ChildProcess::isRunning() {
    if (pid_ <= 0 || exited_) return false;
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        // ECHILD: someone else reaped it (never expected); it has ended with an unknown status.
        exited_ = reaped_ = true;
        reason_ = TerminationReason::uncaughtSignal;
        status_ = SIGKILL;
        return false;
    }
    if (info.si_pid != pid_) return true;
    record(info);
    return false;
}

void ChildProcess::awaitActivity(std::span<pollfd> streams, std::chrono::milliseconds limit) {
    std::array<pollfd, 4> waits{};
    if (streams.size() >= waits.size()) fatal("ChildProcess::awaitActivity: too many streams");
    std::copy(streams.begin(), streams.end(), waits.begin());
    auto count = streams.size();
    // Once the child's end is noted the descriptor stays readable: leave it out, or every
    // later wait would return at once.
    bool watching = exitDescriptor_.valid() && !exited_;
    if (watching) waits[count++] = {exitDescriptor_.get(), POLLIN, 0};
    int ready = ::poll(waits.data(), count, static_cast<int>(limit.count()));
    std::copy(waits.begin(), waits.begin() + static_cast<std::ptrdiff_t>(streams.size()), streams.begin());
    if (watching && ready > 0 && waits[count - 1].revents != 0) isRunning();
}

void ChildProcess::waitUntilExit() {
    if (pid_ <= 0 || reaped_) return;
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED);
    } while (result < 0 && errno == EINTR);
    reaped_ = true;
    exitDescriptor_.reset();
    if (result == 0) {
        record(info);
    } else if (!exited_) {
        exited_ = true;
        reason_ = TerminationReason::uncaughtSignal;
        status_ = SIGKILL;
    }
}

bool ChildProcess::signalGroup(int signalNumber) {
    // While the child is unreaped (even as a zombie) its pid cannot be reused, so the group id
    // is still the child's.
    if (pid_ < 1 || reaped_ || pid_ == ::getpgrp()) return false;
    return ::killpg(pid_, signalNumber) == 0;
}

bool ChildProcess::signal(int signalNumber) {
    if (pid_ < 1 || exited_) return false;
    return ::kill(pid_, signalNumber) == 0;
}

void ChildProcess::killAndReap() {
    if (pid_ < 1 || reaped_) return;
    signalGroup(SIGKILL);
    if (isRunning()) signal(SIGKILL);
    waitUntilExit();
}

} // namespace tarpelix::platform
