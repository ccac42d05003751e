#pragma once

#include "session/LocalTmuxClient.h"
#include "session/ProcessInspector.h"

#include <memory>
#include <string>
#include <vector>

namespace tarpelix {

class PasteOperation;

// Follows a local tmux client in a terminal's foreground to the tmux pane it shows: finds
// the user's tmux server in the private socket directory, asks it which clients are
// attached and picks the one that is this process on this TTY. The route to the socket is
// cached, process-wide, for the next paste; every target is re-validated before use.
struct LocalTmuxResolver {
    ProcessInspector inspector;

    LocalTmuxTarget resolve(const std::string& terminalTTY, const TerminalProcess& process, bool requireOrdinaryInput,
                            const std::shared_ptr<PasteOperation>& operation) const;
    void revalidate(const LocalTmuxTarget& target, const std::shared_ptr<PasteOperation>& operation) const;

    static LocalTmuxTarget select(const std::vector<LocalTmuxTarget>& targets, bool requireOrdinaryInput);
    static std::vector<std::string> queryArguments(const std::string& socket);

    // Forgets the cached route (tests start from a known state).
    static void clearCachedRoute();

private:
    platform::Bytes query(const std::string& executable, const std::string& socket, double deadline,
                          const std::shared_ptr<PasteOperation>& operation) const;
    void validateProcess(const TerminalProcess& process, const std::string& tty) const;
    std::vector<LocalTmuxTarget> targetsOf(const platform::Bytes& answer, const std::string& terminalTTY,
                                           const TerminalProcess& process, const LocalTmuxSocket& socket) const;
};

} // namespace tarpelix
