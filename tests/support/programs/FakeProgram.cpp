// A stand-in program for tests, driven by its environment so that its argument vector can
// look exactly like the real program's:
//   TARPELIX_FAKE_MODE   pause (default): print "ready" and wait for a signal;
//                        zombie-foreground: hand the terminal to a child that then dies
//                        unreaped, print "ready" and wait;
//                        exec-on-usr1: print "ready", exec TARPELIX_FAKE_EXEC on SIGUSR1;
//                        respond: print TARPELIX_FAKE_STDOUT / TARPELIX_FAKE_STDERR (files)
//                        and exit with TARPELIX_FAKE_EXIT (default 0).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t execRequested = 0;

const char* variable(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void copyFile(const char* path, int fd) {
    if (!path) return;
    int in = open(path, O_RDONLY);
    if (in < 0) return;
    char buffer[65536];
    ssize_t n;
    while ((n = read(in, buffer, sizeof buffer)) > 0) writeAll(fd, buffer, static_cast<size_t>(n));
    close(in);
}

void ready() { writeAll(STDOUT_FILENO, "ready\n", 6); }

} // namespace

int main() {
    std::string mode = variable("TARPELIX_FAKE_MODE", "pause");

    if (mode == "respond") {
        copyFile(std::getenv("TARPELIX_FAKE_STDOUT"), STDOUT_FILENO);
        copyFile(std::getenv("TARPELIX_FAKE_STDERR"), STDERR_FILENO);
        return std::atoi(variable("TARPELIX_FAKE_EXIT", "0"));
    }

    if (mode == "zombie-foreground") {
        signal(SIGTTOU, SIG_IGN);
        pid_t child = fork();
        if (child == 0) {
            setpgid(0, 0);
            pause();
            _exit(0);
        }
        setpgid(child, child);
        tcsetpgrp(STDIN_FILENO, child);
        kill(child, SIGKILL);
        // Not reaped: the foreground group now holds only a zombie.
        siginfo_t info{};
        waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
        ready();
        while (true) pause();
    }

    if (mode == "exec-on-usr1") {
        struct sigaction action {};
        action.sa_handler = [](int) { execRequested = 1; };
        sigaction(SIGUSR1, &action, nullptr);
        sigset_t blocked, previous;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR1);
        sigprocmask(SIG_BLOCK, &blocked, &previous);
        ready();
        while (!execRequested) sigsuspend(&previous);
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        const char* target = variable("TARPELIX_FAKE_EXEC", "/bin/sleep");
        execl(target, target, "1000", static_cast<char*>(nullptr));
        return 127;
    }

    ready();
    while (true) pause();
}
