#include "support/PseudoTerminal.h"

#include "support/Eventually.h"
#include "support/Processes.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace tarpelix::testing {

PseudoTerminal::PseudoTerminal(Options options) {
    if (options.environment.empty()) options.environment = defaultEnvironment();
    // Everything the child needs is prepared before the fork: after it, only async-signal-safe
    // calls until exec.
    std::vector<char*> argv;
    for (auto& argument : options.arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : options.environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    struct winsize size {};
    size.ws_row = 40;
    size.ws_col = 120;
    char name[256] = {};
    pid_t pid = ::forkpty(&master_, name, nullptr, &size);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        sigset_t all;
        sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::close_range(3, ~0U, 0);
        ::execve(options.executable.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    pid_ = pid;
    tty_ = name;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::PseudoTerminal(const std::string& executable, std::vector<std::string> furtherArguments)
    : PseudoTerminal([&] {
          Options options;
          options.executable = executable;
          options.arguments.push_back(executable);
          for (auto& argument : furtherArguments) options.arguments.push_back(std::move(argument));
          return options;
      }()) {}

PseudoTerminal::~PseudoTerminal() { terminate(); }

std::vector<std::string> PseudoTerminal::defaultEnvironment() {
    std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin", "TERM=dumb", "LANG=C.UTF-8"};
    if (const char* home = std::getenv("HOME")) environment.push_back(std::string("HOME=") + home);
    return environment;
}

void PseudoTerminal::terminate() {
    if (pid_ > 0) {
        killSession(pid_, pid_);
        pid_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PseudoTerminal::type(std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(master_, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("cannot write to the terminal");
        } else {
            pollfd wait{master_, POLLOUT, 0};
            ::poll(&wait, 1, 10);
        }
    }
}

void PseudoTerminal::drain() {
    if (master_ < 0) return;
    char buffer[4096];
    while (true) {
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break; // EAGAIN, or EIO once the program has gone
    }
}

const std::string& PseudoTerminal::output() {
    drain();
    return output_;
}

bool PseudoTerminal::waitForOutput(std::string_view text, double timeoutSeconds) {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeoutSeconds);
}

pid_t PseudoTerminal::foregroundGroup() const { return ::tcgetpgrp(master_); }

bool PseudoTerminal::waitForForegroundJob(double timeoutSeconds) {
    return waitUntil([&] {
        drain();
        pid_t group = foregroundGroup();
        return group > 0 && group != pid_;
    }, timeoutSeconds);
}

} // namespace tarpelix::testing
