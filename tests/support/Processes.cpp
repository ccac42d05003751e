#include "support/Processes.h"

#include "support/Eventually.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tarpelix::testing {

std::optional<ProcessStatus> processStatus(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    auto close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(line.substr(close + 1));
    ProcessStatus status;
    status.pid = pid;
    if (!(rest >> status.state >> status.parent >> status.processGroup >> status.session)) return std::nullopt;
    return status;
}

std::vector<pid_t> livingProcesses(const std::function<bool(const ProcessStatus&)>& keep) {
    std::vector<pid_t> result;
    DIR* dir = ::opendir("/proc");
    if (!dir) return result;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid < 1) continue;
        auto status = processStatus(static_cast<pid_t>(pid));
        if (status && status->state != 'Z' && status->state != 'X' && keep(*status)) result.push_back(status->pid);
    }
    ::closedir(dir);
    return result;
}

std::vector<pid_t> livingProcessesInGroup(pid_t group) {
    return livingProcesses([&](const ProcessStatus& s) { return s.processGroup == group; });
}

std::vector<pid_t> livingProcessesInSession(pid_t session) {
    return livingProcesses([&](const ProcessStatus& s) { return s.session == session; });
}

std::string executableOf(pid_t pid) {
    char buffer[4096];
    auto path = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void killSession(pid_t session, pid_t child) {
    if (session > 0) {
        waitUntil([&] {
            auto members = livingProcessesInSession(session);
            for (pid_t pid : members) ::kill(pid, SIGKILL);
            // Stopped members die on SIGKILL too; our own child becomes a zombie until reaped.
            if (child > 0) {
                int status = 0;
                if (::waitpid(child, &status, WNOHANG) == child) child = -1;
            }
            return members.empty();
        }, 20.0);
    }
    if (child > 0) {
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

} // namespace tarpelix::testing
