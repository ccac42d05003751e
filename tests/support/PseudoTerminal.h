#pragma once

#include "platform/desktop/PseudoTerminalSession.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarpelix::testing {

// A simulated terminal pane's pseudo-terminal, with what tests of process inspection need on
// top: argument 0 apart from the program's path, a small fixed environment, and waits on the
// terminal's foreground job. Everything of its session is killed when it is released.
class PseudoTerminal : public platform::PseudoTerminalSession {
public:
    struct Options {
        std::string executable;               // the program to run
        std::vector<std::string> arguments;   // its whole argument vector, element 0 included
        std::vector<std::string> environment; // "NAME=value"; empty gives defaultEnvironment()
    };

    explicit PseudoTerminal(Options options);
    // Runs `executable` with argument 0 equal to it and the given further arguments.
    PseudoTerminal(const std::string& executable, std::vector<std::string> furtherArguments);

    // Writes to the terminal's input, as typing does; throws once the terminal is gone.
    void type(std::string_view text);
    // Waits until the foreground group differs from the session leader's.
    bool waitForForegroundJob(double timeoutSeconds = 10.0) const;
    // Kills the whole session and reaps the program now.
    void terminate() { stop(); }

    static std::vector<std::string> defaultEnvironment();
};

} // namespace tarpelix::testing
