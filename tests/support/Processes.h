#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::testing {

// What a test needs to know about a live process, read from /proc/<pid>/stat.
struct ProcessStatus {
    pid_t pid = 0;
    char state = '?';
    pid_t parent = 0;
    pid_t processGroup = 0;
    pid_t session = 0;
};

std::optional<ProcessStatus> processStatus(pid_t pid);
// Every process (zombies excluded) that `keep` accepts.
std::vector<pid_t> livingProcesses(const std::function<bool(const ProcessStatus&)>& keep);
// Every process (zombies excluded) whose group, or session, is the given one.
std::vector<pid_t> livingProcessesInGroup(pid_t group);
std::vector<pid_t> livingProcessesInSession(pid_t session);
// The target of /proc/<pid>/exe, empty when unreadable.
std::string executableOf(pid_t pid);

// Kills every process of a session and waits until none is left alive (zombies of other
// parents aside); then reaps `child` when it is ours.
void killSession(pid_t session, pid_t child);

} // namespace tarpelix::testing
