#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tarpelix::platform {

// A real pseudo-terminal running a real program as its session leader, as a terminal pane
// does: what is written to it arrives as typed input, and everything the program prints is
// read continuously and kept. Stopping (or releasing) it kills every process of its session
// and reaps the program.
class PseudoTerminalSession {
public:
    struct Options {
        // The program and its arguments; a name without a slash is looked up in PATH.
        std::vector<std::string> arguments;
        // "NAME=value" entries; empty: this process's environment with TERM set.
        std::vector<std::string> environment;
        // The file to run when argument 0 is not its path (a login shell's "-bash", say).
        std::string executable;
    };

    // Throws std::system_error when the program cannot be started.
    explicit PseudoTerminalSession(Options options);
    ~PseudoTerminalSession();
    PseudoTerminalSession(const PseudoTerminalSession&) = delete;
    PseudoTerminalSession& operator=(const PseudoTerminalSession&) = delete;

    // The terminal device of the pane, e.g. "/dev/pts/3".
    const std::string& tty() const { return tty_; }
    // The session leader (the program started).
    pid_t pid() const { return pid_; }

    // Writes bytes to the terminal as typed input. False once the session has stopped.
    bool write(std::string_view bytes);
    // Everything the program printed so far.
    std::string output() const;
    // Waits until what was printed contains `text`.
    bool waitForOutput(std::string_view text, double timeoutSeconds = 10.0) const;

    // The terminal's foreground process group; -1 once the session has stopped.
    pid_t foregroundGroup() const;

    // Kills the session's processes, reaps the program and closes the terminal; idempotent.
    void stop();

private:
    void readLoop();

    int master_ = -1;
    int wake_[2] = {-1, -1};
    pid_t pid_ = -1;
    std::string tty_;
    std::thread reader_;
    mutable std::mutex writeMutex_; // one write at a time; the terminal closes under it
    std::atomic<bool> stopped_{false};
    mutable std::mutex mutex_; // guards output_
    mutable std::condition_variable printed_;
    std::string output_;
};

} // namespace tarpelix::platform
