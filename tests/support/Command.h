#pragma once

#include <string>
#include <sys/types.h>
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

// A program left running in the background (a server), its output going to a file; killed
// and reaped when released.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& arguments, const std::string& logFile);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    pid_t pid() const { return pid_; }
    bool running();
    void stop();

private:
    pid_t pid_ = -1;
};

} // namespace tarpelix::testing
