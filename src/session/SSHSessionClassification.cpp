// Classification of a TTY's foreground job.
#include "session/SSHSessionResolver.h"

#include "platform/foundation/LinuxProfile.h"
#include "platform/process/PathComponents.h"
#include "ssh/SessionInspectionError.h"

#include <algorithm>
#include <array>
#include <set>

namespace tarpelix {

namespace {

constexpr std::array<std::string_view, 6> significantNames = {"ssh", "mosh", "mosh-client", "mosh-server", "tmux",
                                                              "screen"};
constexpr std::array<std::string_view, 6> shellOptions = {"-l", "-i", "-il", "-li", "--login", "--interactive"};

bool isSignificant(const TerminalProcess& process) {
    auto name = platform::lastPathComponent(process.executable);
    return std::find(significantNames.begin(), significantNames.end(), name) != significantNames.end() ||
           platform::LinuxProfile::isSystemShell(process.executable);
}

// The names an interactive system shell may have been started under: its last path
// component or its full path, each with or without a leading "-", for the executable and for
// the shell it stands for; a bash also as sh.
bool isShellName(const std::string& executable, const std::string& first) {
    std::string standsFor = platform::LinuxProfile::systemShellStandingFor(executable);
    for (const std::string& path : {executable, standsFor}) {
        std::string name(platform::lastPathComponent(path));
        if (first == name || first == "-" + name || first == path || first == "-" + path) return true;
    }
    if (standsFor == "/bin/bash")
        for (const char* alias : {"sh", "-sh", "/bin/sh", "-/bin/sh"})
            if (first == alias) return true;
    return false;
}

bool isInteractiveShell(const TerminalProcess& process) {
    if (!platform::LinuxProfile::isSystemShell(process.executable) || process.arguments.empty()) return false;
    if (!isShellName(process.executable, process.arguments.front())) return false;
    return std::all_of(process.arguments.begin() + 1, process.arguments.end(), [](const std::string& option) {
        return std::find(shellOptions.begin(), shellOptions.end(), option) != shellOptions.end();
    });
}

ForegroundSession transport(const ForegroundSnapshot& snapshot, const TerminalProcess& process, bool mosh) {
    try {
        auto destination = mosh ? SSHDestination::mosh(process.arguments) : SSHDestination(process.arguments);
        return {ForegroundSession::SSH{SSHProcess(snapshot.tty, process, destination)}};
    } catch (const SessionInspectionError& error) {
        return {ForegroundSession::Unsupported{error.reason}};
    }
}

} // namespace

ForegroundSession SSHSessionResolver::classify(const ForegroundSnapshot& snapshot) {
    if (snapshot.foregroundGroup < 1) return {ForegroundSession::Unresolved{"No foreground process group"}};
    std::vector<TerminalProcess> group;
    for (const auto& process : snapshot.processes)
        if (process.ttyDevice == snapshot.device && process.processGroup == snapshot.foregroundGroup)
            group.push_back(process);
    if (group.empty()) return {ForegroundSession::Unresolved{"No foreground process on the captured TTY"}};

    if (std::any_of(group.begin(), group.end(), isSignificant)) {
        if (group.size() != 1)
            return {ForegroundSession::Unresolved{"Ambiguous foreground transport, multiplexer, or shell process group"}};
        const auto& process = group.front();
        auto name = platform::lastPathComponent(process.executable);
        if (process.executable == "/usr/bin/ssh") return transport(snapshot, process, false);
        if (name == "mosh-client") return transport(snapshot, process, true);
        if (name == "tmux") return {ForegroundSession::LocalTmux{process}};
        if (isInteractiveShell(process)) return {ForegroundSession::LocalShell{process}};
        return {ForegroundSession::Unsupported{unsupportedJobReason}};
    }

    std::set<std::int32_t> pids;
    for (const auto& process : group) {
        if (process.executable.empty() || process.executable.front() != '/' || process.arguments.empty() ||
            !pids.insert(process.identity.pid).second) {
            return {ForegroundSession::Unresolved{"Incomplete or ambiguous local foreground process information"}};
        }
    }
    std::sort(group.begin(), group.end(),
              [](const TerminalProcess& a, const TerminalProcess& b) { return a.identity.pid < b.identity.pid; });
    return {ForegroundSession::LocalApplication{
        LocalForegroundSession{snapshot.tty, snapshot.device, snapshot.foregroundGroup, std::move(group)}}};
}

bool SSHSessionResolver::matches(const SSHProcess& process, const ForegroundSnapshot& snapshot) {
    auto session = classify(snapshot);
    auto ssh = session.as<ForegroundSession::SSH>();
    return ssh && ssh->process == process;
}

bool SSHSessionResolver::matches(const LocalForegroundSession& session, const ForegroundSnapshot& snapshot) {
    auto current = classify(snapshot);
    auto local = current.as<ForegroundSession::LocalApplication>();
    return local && local->session == session;
}

} // namespace tarpelix
