#include "support/Command.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarpelix::testing {

namespace {

// Starts a program (argument 0 is its path) with standard input from /dev/null, the default
// SIGPIPE and SIGXFSZ and the given standard output and error; `output` is a descriptor to duplicate, or
// -1 to open `outputFile` for appending; standard error goes to `errorFile`, or joins
// standard output when that is empty. An empty environment inherits this process's one.
// Throws when the program cannot be started.
pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment, int output,
            const std::string& outputFile, const std::string& errorFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (errorFile.empty())
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    pid_t pid = 0;
    int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(),
                            environment.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0]);
    return pid;
}

void reap(pid_t pid, int* status) {
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

CommandResult runCommand(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                         const std::string& errorFile) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    CommandResult result;
    pid_t pid = 0;
    try {
        pid = spawn(arguments, environment, fds[1], "", errorFile.empty() ? "/dev/null" : errorFile);
    } catch (const std::runtime_error&) {
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    ::close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    reap(pid, &status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& arguments, const std::string& logFile)
    : pid_(spawn(arguments, {}, -1, logFile, "")) {}

BackgroundProcess::~BackgroundProcess() { stop(); }

bool BackgroundProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
}

void BackgroundProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    reap(pid_, &status);
    pid_ = -1;
}

} // namespace tarpelix::testing
