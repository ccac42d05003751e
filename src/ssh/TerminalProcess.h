#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix {

// One process instance: a reused pid with another start time is another process. The start
// time is the kernel's, in seconds and microseconds since boot.
struct ProcessIdentity {
    std::int32_t pid = 0;
    std::uint64_t startSeconds = 0;
    std::uint64_t startMicroseconds = 0;
    bool operator==(const ProcessIdentity&) const = default;
};

// One member of a terminal's foreground process group.
struct TerminalProcess {
    ProcessIdentity identity;
    dev_t ttyDevice = 0;            // the device number of the TTY
    std::int32_t processGroup = 0;  // the foreground process group
    std::string executable;         // an absolute path
    std::vector<std::string> arguments; // the argument vector, first element included
    bool operator==(const TerminalProcess&) const = default;
};

} // namespace tarpelix
