#include "SessionTestSupport.h"

#include "support/PrivateNamespace.h"

#include "platform/foundation/LinuxProfile.h"
#include "support/Eventually.h"
#include "support/Processes.h"
#include "support/TemporaryDirectory.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarpelix::testing {

// Every test of this program runs in a private mount namespace (fresh /tmp and home), with
// no tmux of the user's own in its environment.
[[maybe_unused]] static const bool privateNamespace = [] {
    ::unsetenv("TMUX");
    ::unsetenv("TMUX_PANE");
    ::unsetenv("TMUX_TMPDIR");
    return enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});
}();

namespace {
class InterposedHandle final : public platform::ProcessHandle {
public:
    InterposedHandle(const InterposedTable& table, std::unique_ptr<platform::ProcessHandle> real)
        : table_(table), real_(std::move(real)) {}
    pid_t pid() const override { return real_->pid(); }
    std::optional<platform::ProcessInfo> info() const override {
        auto result = real_->info();
        after(InterposedTable::Read::info);
        return result;
    }
    PathResult executablePath(std::size_t limit) const override {
        auto result = real_->executablePath(limit);
        after(InterposedTable::Read::executablePath);
        return result;
    }
    std::optional<platform::Bytes> commandLine(std::size_t limit) const override {
        auto result = table_.failCommandLine ? std::nullopt : real_->commandLine(limit);
        after(InterposedTable::Read::commandLine);
        return result;
    }

private:
    void after(InterposedTable::Read read) const {
        if (table_.afterRead) table_.afterRead(read, real_->pid());
    }
    const InterposedTable& table_;
    std::unique_ptr<platform::ProcessHandle> real_;
};
} // namespace

std::vector<platform::ProcessTableEntry> InterposedTable::processesOnTerminal(dev_t device) const {
    return listing ? listing(device) : real->processesOnTerminal(device);
}

std::unique_ptr<platform::ProcessHandle> InterposedTable::open(pid_t pid) const {
    if (failOpen) return nullptr;
    auto handle = real->open(pid);
    if (!handle) return nullptr;
    return std::make_unique<InterposedHandle>(*this, std::move(handle));
}

std::optional<std::size_t> InterposedTable::argumentSizeLimit() const {
    return argumentLimit ? argumentLimit() : real->argumentSizeLimit();
}

std::string installFakeProgram(const std::string& directory, const std::string& name) {
    auto target = directory + "/" + name;
    std::ifstream in(TARPELIX_FAKE_PROGRAM, std::ios::binary);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    if (!in || !out) throw std::runtime_error("cannot copy the fake program to " + target);
    ::chmod(target.c_str(), 0755);
    return target;
}

PseudoTerminal::Options program(const std::string& executable, std::vector<std::string> arguments,
                                std::vector<std::string> extraEnvironment) {
    PseudoTerminal::Options options{executable, std::move(arguments), PseudoTerminal::defaultEnvironment()};
    for (auto& entry : extraEnvironment) options.environment.push_back(std::move(entry));
    return options;
}

std::vector<std::string> tmuxEnvironment() {
    return {"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + platform::LinuxProfile::passwordDatabaseHome(),
            "TERM=xterm-256color", "LANG=C.UTF-8", "SHELL=/bin/bash"};
}

std::string tmuxDirectory() {
    auto directory = platform::LinuxProfile::tmuxSocketDirectory(::getuid());
    ::mkdir(directory.c_str(), 0700);
    return directory;
}

std::string emptyTmuxDirectory() {
    auto directory = platform::LinuxProfile::tmuxSocketDirectory(::getuid());
    removeTree(directory);
    return tmuxDirectory();
}

TmuxServer::TmuxServer(const std::string& name) : socket_(tmuxDirectory() + "/" + name) {
    auto started = tmux({"-f", "/dev/null", "new-session", "-d", "-s", "main", "-x", "100", "-y", "30"});
    if (started.status != 0) throw std::runtime_error("cannot start a tmux server on " + socket_);
    auto pid = tmux({"display-message", "-p", "#{pid}"});
    serverPid_ = std::atoi(pid.output.c_str());
}

TmuxServer::~TmuxServer() {
    if (serverPid_ > 0) {
        // The panes lead sessions of their own; end them with the server (kill-server would
        // wait for them to hang up).
        ::kill(serverPid_, SIGCONT);
        auto panes = tmux({"list-panes", "-a", "-F", "#{pane_pid}"}).output;
        ::kill(serverPid_, SIGKILL);
        std::istringstream lines(panes);
        for (std::string line; std::getline(lines, line);)
            if (pid_t pane = std::atoi(line.c_str()); pane > 0) killSession(pane, -1);
        waitUntil([&] {
            auto status = processStatus(serverPid_);
            return !status || status->state == 'Z';
        });
    }
    ::unlink(socket_.c_str());
}

CommandResult TmuxServer::tmux(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"/usr/bin/tmux", "-S", socket_});
    return runCommand(arguments, tmuxEnvironment());
}

std::unique_ptr<PseudoTerminal> TmuxServer::attach() const {
    PseudoTerminal::Options options;
    options.executable = "/usr/bin/tmux";
    options.arguments = {"tmux", "-S", socket_, "attach-session", "-t", "main"};
    options.environment = tmuxEnvironment();
    auto client = std::make_unique<PseudoTerminal>(options);
    bool attached = waitUntil([&] {
        client->output();
        return clientField(client->tty(), "#{client_pid}") == std::to_string(client->pid());
    });
    if (!attached) throw std::runtime_error("tmux client did not attach");
    return client;
}

std::string TmuxServer::clientField(const std::string& tty, const std::string& format) const {
    std::istringstream lines(tmux({"list-clients", "-F", "#{client_tty}\t" + format}).output);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(tty + "\t")) return line.substr(tty.size() + 1);
    return "";
}

} // namespace tarpelix::testing
