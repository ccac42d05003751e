// A stand-in for mosh-client. Started the way the mosh launcher starts the real client
// ("mosh-client", "-# <destination> |", <address>, <port>), it is its terminal's foreground
// job and relays that terminal to `ssh <destination>` running on a pseudo-terminal of its
// own, as the real client relays it to the remote host. The ssh child leads a session of its
// own, so the terminal's foreground group holds this process alone.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string display = argv[1];
    if (display.size() < 6 || display.compare(0, 3, "-# ") != 0) return 2;
    const std::string destination = display.substr(3, display.size() - 5);

    termios saved{};
    const bool isTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    winsize size{};
    ::ioctl(STDIN_FILENO, TIOCGWINSZ, &size);
    int master = -1;
    pid_t child = ::forkpty(&master, nullptr, isTerminal ? &saved : nullptr, &size);
    if (child < 0) return 1;
    if (child == 0) {
        ::execlp("ssh", "ssh", destination.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (isTerminal) {
        termios raw = saved;
        ::cfmakeraw(&raw);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {master, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0 || !writeAll(master, buffer, n)) break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0 || !writeAll(STDOUT_FILENO, buffer, n)) break;
        }
    }
    if (isTerminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    ::close(master);
    ::kill(child, SIGHUP);
    int status = 0;
    ::waitpid(child, &status, 0);
    return 0;
}
