#pragma once

#include "platform/foundation/Bytes.h"
#include "ssh/TerminalProcess.h"

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tarpelix {

// One row of tmux's list-clients answer.
struct LocalTmuxClient {
    std::int32_t pid = 0;
    std::string tty;
    std::string sessionID;
    std::string windowID;
    std::string paneID;
    std::string paneTTY;
    unsigned long modeCount = 0;
    std::string keyTable;
    bool prefix = false;
    bool control = false;
    bool synchronized = false;
    std::set<std::string> flags;
    bool readonly = false;

    bool operator==(const LocalTmuxClient&) const = default;

    // The thirteen tmux format variables, in field order, and the list-clients format made of them.
    static const std::array<std::string, 13>& fields();
    static const std::string& format();

    // Parses the whole answer; throws SessionInspectionError.
    static std::vector<LocalTmuxClient> parse(const platform::Bytes& data);

    // Typed input goes only to a client in its ordinary state.
    void requireOrdinaryInput() const;
    // A client in a tmux mode still takes a replayed normal paste.
    void requireReplayableInput() const;
};

// A tmux server socket as seen at one moment.
struct LocalTmuxSocket {
    std::string path;
    dev_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const LocalTmuxSocket&) const = default;

    // Throws "tmux socket missing, replaced, or not owned by this user" unless the path is a
    // socket of this user (links not followed).
    static LocalTmuxSocket inspect(const std::string& path);
};

// The route from a terminal through a local tmux client to a tmux pane.
struct LocalTmuxTarget {
    std::string terminalTTY;
    TerminalProcess process; // the tmux client in the terminal's foreground
    LocalTmuxSocket socket;
    LocalTmuxClient client;

    bool operator==(const LocalTmuxTarget&) const = default;
    // Compares the route and the client's identity, not its mode fields.
    bool matches(const LocalTmuxTarget& other) const;
};

} // namespace tarpelix
