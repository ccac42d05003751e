#include "platform/desktop/PseudoTerminalSession.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace tarpelix::platform {

namespace {

std::string resolveExecutable(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::stringstream directories(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

// The session of a process, from /proc/<pid>/stat; -1 when it is gone or a zombie.
pid_t livingSessionOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return -1;
    auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    pid_t group = 0;
    pid_t session = -1;
    fields >> state >> parent >> group >> session;
    return state == 'Z' || state == 'X' ? -1 : session;
}

std::vector<pid_t> livingProcessesInSession(pid_t session) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    while (auto* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) continue;
        if (livingSessionOf(static_cast<pid_t>(pid)) == session) found.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    return found;
}

} // namespace

PseudoTerminalSession::PseudoTerminalSession(Options options) {
    if (options.arguments.empty()) throw std::system_error(EINVAL, std::generic_category(), "no program");
    if (options.environment.empty()) {
        for (char** entry = environ; *entry; ++entry) {
            if (std::string_view(*entry).rfind("TERM=", 0) != 0) options.environment.emplace_back(*entry);
        }
        options.environment.emplace_back("TERM=xterm-256color");
    }
    // Everything the child needs is made before the fork: after it, only async-signal-safe
    // calls until exec.
    const std::string executable =
        options.executable.empty() ? resolveExecutable(options.arguments[0]) : options.executable;
    std::vector<char*> argv;
    for (auto& argument : options.arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : options.environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    struct winsize size {};
    size.ws_row = 40;
    size.ws_col = 120;
    char name[256] = {};
    pid_t pid = ::forkpty(&master_, name, nullptr, &size);
    if (pid < 0) {
        int error = errno;
        ::close(wake_[0]);
        ::close(wake_[1]);
        throw std::system_error(error, std::generic_category(), "forkpty");
    }
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGXFSZ, SIG_DFL);
        ::close_range(3, ~0U, 0);
        ::execve(executable.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    pid_ = pid;
    tty_ = name;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    reader_ = std::thread([this] { readLoop(); });
}

PseudoTerminalSession::~PseudoTerminalSession() { stop(); }

void PseudoTerminalSession::readLoop() {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return; // stopping
        if (fds[0].revents == 0) continue;
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // EIO: every process has closed the terminal. Wait for the stop.
            pollfd wait{wake_[0], POLLIN, 0};
            while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
            }
            return;
        }
        {
            std::lock_guard lock(mutex_);
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        printed_.notify_all();
    }
}

bool PseudoTerminalSession::write(std::string_view bytes) {
    std::lock_guard lock(writeMutex_); // one writer at a time keeps typed chunks whole
    if (stopped_) return false;
    while (!bytes.empty()) {
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

std::string PseudoTerminalSession::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

bool PseudoTerminalSession::waitForOutput(std::string_view text, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    return printed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return output_.find(text) != std::string::npos; });
}

pid_t PseudoTerminalSession::foregroundGroup() const {
    std::lock_guard lock(writeMutex_); // the terminal is closed under this lock
    if (stopped_) return -1;
    return ::tcgetpgrp(master_);
}

void PseudoTerminalSession::stop() {
    if (stopped_.exchange(true)) return;
    // Every process of the pane's session goes, the program first.
    ::kill(pid_, SIGKILL);
    for (int round = 0; round < 500; ++round) {
        auto living = livingProcessesInSession(pid_);
        if (living.empty()) break;
        for (pid_t pid : living) ::kill(pid, SIGKILL);
        ::waitpid(pid_, nullptr, WNOHANG);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    // A write blocked on a full terminal has failed by now: nothing reads the other side.
    std::lock_guard lock(writeMutex_);
    char wake = 1;
    while (::write(wake_[1], &wake, 1) < 0 && errno == EINTR) {
    }
    if (reader_.joinable()) reader_.join();
    ::close(master_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

} // namespace tarpelix::platform
