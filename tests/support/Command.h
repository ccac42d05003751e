#pragma once

#include <string>
#include <vector>

namespace tarpelix::testing {

struct CommandResult {
    int status = -1; // the exit status, or 128 + the signal
    std::string output;
};

// Runs a program (argument 0 is its path) to its end with standard input from /dev/null,
// collecting standard output; standard error goes to `errorFile` when one is given, else to
// /dev/null. An empty environment inherits this process's one.
CommandResult runCommand(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                         const std::string& errorFile = "");

} // namespace tarpelix::testing
