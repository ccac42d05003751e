#pragma once

#include "platform/process/ProcessTable.h"
#include "session/SSHSessionResolver.h"
#include "ssh/SessionInspectionError.h"
#include "support/Command.h"
#include "support/Eventually.h"
#include "support/PseudoTerminal.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::testing {

// The real process table, with hooks that act between the reads of an inspection (to make a
// process exec or exit at an exact point) or replace one answer (for failures the kernel
// cannot be made to produce on demand).
class InterposedTable : public platform::ProcessTable {
public:
    enum class Read { info, executablePath, commandLine };

    std::shared_ptr<const platform::ProcessTable> real = platform::ProcessTable::system();
    std::function<std::vector<platform::ProcessTableEntry>(dev_t)> listing; // replaces the listing
    std::function<void(Read, pid_t)> afterRead;                             // runs after each read
    std::function<std::optional<std::size_t>()> argumentLimit;              // replaces the limit
    bool failOpen = false;
    bool failCommandLine = false;

    std::vector<platform::ProcessTableEntry> processesOnTerminal(dev_t device) const override;
    std::unique_ptr<platform::ProcessHandle> open(pid_t pid) const override;
    std::optional<std::size_t> argumentSizeLimit() const override;
};

// A copy of the fake program under another name, executable, inside `directory`.
std::string installFakeProgram(const std::string& directory, const std::string& name);

// A pseudo-terminal's program: `arguments` is its whole argument vector; the environment is
// the default one and `extraEnvironment`.
PseudoTerminal::Options program(const std::string& executable, std::vector<std::string> arguments,
                                std::vector<std::string> extraEnvironment = {});

// Classifies the terminal's foreground job until it is of the kind `Case` (programs take a
// moment to start) and returns it; none when it never was. `last` receives the last verdict.
template <typename Case>
std::optional<Case> classifiedAs(const std::string& tty, ForegroundSession* last = nullptr) {
    std::optional<Case> found;
    ProcessInspector inspector;
    waitUntil([&] {
        try {
            auto session = SSHSessionResolver::classify(inspector.snapshot(tty));
            if (last) *last = session;
            if (auto match = session.as<Case>()) found = *match;
        } catch (const SessionInspectionError&) {
        }
        return found.has_value();
    });
    return found;
}

// The environment of the tmux servers and clients of the tests.
std::vector<std::string> tmuxEnvironment();
// The private tmux socket directory, made (mode 0700) when missing.
std::string tmuxDirectory();
// The same directory emptied of whatever an earlier test left there.
std::string emptyTmuxDirectory();

// A real tmux server on a socket of the private socket directory, with one detached session
// "main"; killed with its panes when released.
class TmuxServer {
public:
    explicit TmuxServer(const std::string& name);
    ~TmuxServer();
    TmuxServer(const TmuxServer&) = delete;
    TmuxServer& operator=(const TmuxServer&) = delete;

    const std::string& socket() const { return socket_; }
    pid_t serverPid() const { return serverPid_; }
    CommandResult tmux(std::vector<std::string> arguments) const;
    // Attaches a client to "main" from a new pseudo-terminal and waits until it is listed.
    std::unique_ptr<PseudoTerminal> attach() const;
    // A format evaluated for the client on `tty`; empty when no such client is listed.
    std::string clientField(const std::string& tty, const std::string& format) const;

private:
    std::string socket_;
    pid_t serverPid_ = 0;
};

} // namespace tarpelix::testing
