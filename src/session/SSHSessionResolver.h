#pragma once

#include "session/LocalTmuxClient.h"
#include "session/ProcessInspector.h"
#include "session/SSHSession.h"
#include "ssh/SSHDestination.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix {

// The foreground job of a TTY that is neither a transport, a multiplexer nor a known shell.
struct LocalForegroundSession {
    std::string tty;
    dev_t device = 0;
    std::int32_t foregroundGroup = 0;
    std::vector<TerminalProcess> processes; // sorted by pid ascending
    bool operator==(const LocalForegroundSession&) const = default;
};

// The two verdicts that carry only their text, shared by classification and resolution so
// that a classification verdict passes into the resolution unchanged: a job recognised but
// not served, and one that cannot be determined.
struct UnsupportedVerdict {
    std::string text;
    bool operator==(const UnsupportedVerdict&) const = default;
};
struct UnresolvedVerdict {
    std::string text;
    bool operator==(const UnresolvedVerdict&) const = default;
};

// What classification makes of a TTY's foreground job.
struct ForegroundSession {
    struct SSH {
        SSHProcess process; // ssh or mosh-client with its destination
        bool operator==(const SSH&) const = default;
    };
    struct LocalShell {
        TerminalProcess process;
        bool operator==(const LocalShell&) const = default;
    };
    struct LocalApplication {
        LocalForegroundSession session;
        bool operator==(const LocalApplication&) const = default;
    };
    struct LocalTmux {
        TerminalProcess process; // the tmux client
        bool operator==(const LocalTmux&) const = default;
    };
    using Unsupported = UnsupportedVerdict;
    using Unresolved = UnresolvedVerdict;
    using Value = std::variant<SSH, LocalShell, LocalApplication, LocalTmux, Unsupported, Unresolved>;

    Value value;

    template <typename Case>
    const Case* as() const { return std::get_if<Case>(&value); }
    bool operator==(const ForegroundSession&) const = default;
};

// The verdict on where a paste into a terminal pane goes.
struct SessionResolution {
    // A local tmux client whose state takes a normal (replayed) paste but not typed input.
    struct Passthrough {
        LocalTmuxTarget target;
        bool operator==(const Passthrough&) const = default;
    };
    struct SSH {
        SSHSession session;
        bool operator==(const SSH&) const = default;
    };
    struct LocalShell {
        TerminalProcess process;
        std::optional<LocalTmuxTarget> localTmux;
        bool operator==(const LocalShell&) const = default;
    };
    struct LocalApplication {
        LocalForegroundSession session;
        std::optional<LocalTmuxTarget> localTmux;
        bool operator==(const LocalApplication&) const = default;
    };
    using Unsupported = UnsupportedVerdict;
    using Unresolved = UnresolvedVerdict;
    using Value = std::variant<Passthrough, SSH, LocalShell, LocalApplication, Unsupported, Unresolved>;

    Value value;

    template <typename Case>
    const Case* as() const { return std::get_if<Case>(&value); }
    bool operator==(const SessionResolution&) const = default;

    // The one-line text of the verdict.
    std::string status() const;
};

class PasteOperation;

// Decides where a paste into a terminal pane goes: inspects the TTY, classifies its
// foreground job, follows a local tmux client into its pane and evaluates the OpenSSH
// configuration of an ssh or mosh destination. Classification is pure and reads only the
// snapshot it is given.
struct SSHSessionResolver {
    ProcessInspector inspector;

    // Never throws: every error becomes an unresolved verdict with the error's text.
    SessionResolution resolve(const std::string& tty, const std::shared_ptr<PasteOperation>& operation) const;
    // Throw when the session ended or changed since it was resolved.
    void revalidate(const SSHSession& session, const std::shared_ptr<PasteOperation>& operation) const;
    void revalidate(const LocalForegroundSession& session, const std::shared_ptr<PasteOperation>& operation) const;

    static inline const std::string unsupportedJobReason =
        "Foreground job is not a supported SSH/mosh command, interactive local shell, or local tmux client";

    static ForegroundSession classify(const ForegroundSnapshot& snapshot);
    // True when the snapshot classifies as ssh with exactly this process.
    static bool matches(const SSHProcess& process, const ForegroundSnapshot& snapshot);
    // True when the snapshot classifies as a local application with exactly this session.
    static bool matches(const LocalForegroundSession& session, const ForegroundSnapshot& snapshot);
};

} // namespace tarpelix
