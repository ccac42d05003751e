#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tarpelix::testing {

// A real pseudo-terminal running a real program as its session leader, as a terminal pane
// does. Everything of its session is killed and the program reaped when it is released.
class PseudoTerminal {
public:
    struct Options {
        std::string executable;                 // the program to run
        std::vector<std::string> arguments;     // its whole argument vector, element 0 included
        std::vector<std::string> environment;   // "NAME=value"; empty gives a small default
    };

    explicit PseudoTerminal(Options options);
    // Runs `executable` with argument 0 equal to it and the given further arguments.
    PseudoTerminal(const std::string& executable, std::vector<std::string> furtherArguments);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& tty() const { return tty_; }
    pid_t pid() const { return pid_; }
    int master() const { return master_; }

    // Writes to the terminal's input, as typing does.
    void type(std::string_view text);
    // Everything the program printed so far (reads what is pending first).
    const std::string& output();
    // Waits until the printed text contains `text`.
    bool waitForOutput(std::string_view text, double timeoutSeconds = 10.0);
    // The terminal's foreground process group.
    pid_t foregroundGroup() const;
    // Waits until the foreground group differs from the session leader's.
    bool waitForForegroundJob(double timeoutSeconds = 10.0);

    // Kills the whole session and reaps the program now.
    void terminate();

    static std::vector<std::string> defaultEnvironment();

private:
    void drain();

    int master_ = -1;
    pid_t pid_ = -1;
    std::string tty_;
    std::string output_;
};

} // namespace tarpelix::testing
