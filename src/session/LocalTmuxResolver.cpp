#include "session/LocalTmuxResolver.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/LinuxProfile.h"
#include "platform/process/ChildProcess.h"
#include "platform/process/OutputCollector.h"
#include "session/SSHSessionResolver.h"
#include "ssh/OperationCheck.h"
#include "ssh/SessionInspectionError.h"
#include "model/TerminalUnavailable.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarpelix {

namespace {

[[noreturn]] void fail(const std::string& reason) { throw SessionInspectionError(reason); }

constexpr double queryLimit = 0.5;
constexpr double discoveryLimit = 3.0;
constexpr std::size_t maximumCandidates = 64;
constexpr std::size_t maximumAnswer = 256 * 1024;

// The last route discovery found, kept for the life of the process.
struct Route {
    TerminalProcess process;
    std::string tty;
    LocalTmuxSocket socket;
};
std::mutex routeLock;
std::optional<Route> cachedRoute;


} // namespace

void LocalTmuxResolver::clearCachedRoute() {
    std::lock_guard guard(routeLock);
    cachedRoute.reset();
}

std::vector<std::string> LocalTmuxResolver::queryArguments(const std::string& socket) {
    return {"-u", "-N", "-S", socket, "list-clients", "-F", LocalTmuxClient::format()};
}

platform::Bytes LocalTmuxResolver::query(const std::string& executable, const std::string& socket, double deadline,
                                         const std::shared_ptr<PasteOperation>& operation) const {
    checkOperation(operation);
    platform::ChildProcess child;
    child.executable = executable;
    child.arguments = queryArguments(socket);
    // Whatever fails below, the child and its group are killed and reaped on the way out (by
    // the child object).
    auto collected = platform::runCollectingOutput(
        child, {.deadline = deadline, .maximumBytes = maximumAnswer, .bufferSize = 8192,
                .pause = std::chrono::milliseconds(5), .runLimit = queryLimit},
        [&] { checkOperation(operation); });
    switch (collected.end) {
    case platform::CollectedOutput::End::pipeUnavailable: fail("Cannot read tmux query");
    case platform::CollectedOutput::End::timedOut: fail("tmux query timed out");
    case platform::CollectedOutput::End::tooLarge: fail("tmux query too large");
    case platform::CollectedOutput::End::readFailed: fail("tmux query read failed");
    case platform::CollectedOutput::End::complete: break;
    }
    if (!child.exitedWithStatusZero()) fail("tmux client query failed");
    return std::move(collected.bytes);
}

void LocalTmuxResolver::validateProcess(const TerminalProcess& process, const std::string& tty) const {
    auto session = SSHSessionResolver::classify(inspector.snapshot(tty));
    auto tmux = session.as<ForegroundSession::LocalTmux>();
    if (!tmux || !(tmux->process == process)) fail("Foreground tmux client detached, changed, or was replaced");
}

std::vector<LocalTmuxTarget> LocalTmuxResolver::targetsOf(const platform::Bytes& answer, const std::string& terminalTTY,
                                                          const TerminalProcess& process,
                                                          const LocalTmuxSocket& socket) const {
    std::vector<LocalTmuxTarget> targets;
    for (auto& client : LocalTmuxClient::parse(answer))
        targets.push_back(LocalTmuxTarget{terminalTTY, process, socket, std::move(client)});
    return targets;
}

LocalTmuxTarget LocalTmuxResolver::select(const std::vector<LocalTmuxTarget>& targets, bool requireOrdinaryInput) {
    const LocalTmuxTarget* found = nullptr;
    std::size_t count = 0;
    for (const auto& target : targets) {
        if (target.client.pid == target.process.identity.pid && target.client.tty == target.terminalTTY) {
            found = &target;
            ++count;
        }
    }
    if (count != 1) fail("No unique attached tmux client matches the foreground PID and TTY");
    if (requireOrdinaryInput) found->client.requireOrdinaryInput();
    return *found;
}

LocalTmuxTarget LocalTmuxResolver::resolve(const std::string& terminalTTY, const TerminalProcess& process,
                                           bool requireOrdinaryInput,
                                           const std::shared_ptr<PasteOperation>& operation) const {
    checkOperation(operation);
    validateProcess(process, terminalTTY);

    const std::string directory = platform::LinuxProfile::tmuxSocketDirectory(::getuid());
    struct stat status {};
    if (::lstat(directory.c_str(), &status) != 0 || (status.st_mode & S_IFMT) != S_IFDIR ||
        status.st_uid != ::getuid() || (status.st_mode & 077) != 0)
        fail("Standard private tmux socket directory unavailable");

    std::optional<Route> route;
    {
        std::lock_guard guard(routeLock);
        route = cachedRoute;
    }
    if (route && route->process == process && route->tty == terminalTTY) {
        std::optional<LocalTmuxTarget> selected;
        try {
            if (LocalTmuxSocket::inspect(route->socket.path) == route->socket) {
                auto answer =
                    query(process.executable, route->socket.path, platform::systemUptime() + queryLimit, operation);
                auto candidate = select(targetsOf(answer, terminalTTY, process, route->socket), false);
                if (LocalTmuxSocket::inspect(route->socket.path) == route->socket) {
                    validateProcess(process, terminalTTY);
                    selected = std::move(candidate);
                }
            }
        } catch (const SessionInspectionError&) {
        } catch (const TerminalUnavailable&) {
        } catch (const std::system_error&) {
        }
        if (selected) {
            if (requireOrdinaryInput) selected->client.requireOrdinaryInput();
            return *selected;
        }
        // The cached route failed: forget it silently and discover again, unless the paste is over.
        checkOperation(operation);
        std::lock_guard guard(routeLock);
        cachedRoute.reset();
    }

    // Discovery.
    std::vector<std::string> names;
    {
        DIR* dir = ::opendir(directory.c_str());
        if (!dir) throw std::system_error(errno, std::generic_category(), "Cannot list " + directory);
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(std::move(name));
        }
        ::closedir(dir);
    }
    if (names.size() > maximumCandidates) fail("Too many tmux socket candidates");
    const double discoveryDeadline = platform::systemUptime() + discoveryLimit;
    std::sort(names.begin(), names.end());

    std::vector<LocalTmuxTarget> targets;
    for (const auto& name : names) {
        checkOperation(operation);
        if (platform::systemUptime() >= discoveryDeadline) fail("tmux discovery timed out");
        const std::string path = directory + "/" + name;
        struct stat entry {};
        if (::lstat(path.c_str(), &entry) != 0 || (entry.st_mode & S_IFMT) != S_IFSOCK || entry.st_uid != ::getuid())
            continue;
        platform::Bytes answer;
        try {
            answer = query(process.executable, path, discoveryDeadline, operation);
        } catch (const SessionInspectionError&) {
            continue; // no server, a stale or refused socket, this query's time limit
        } catch (const std::system_error&) {
            continue;
        }
        // A cancelled or timed-out paste (TerminalUnavailable from the operation) is not a
        // socket to skip: it ends discovery, so no route is cached for a paste that is over.
        auto clients = targetsOf(answer, terminalTTY, process, LocalTmuxSocket{path, 0, 0});
        auto socket = LocalTmuxSocket::inspect(path);
        if (socket.device != entry.st_dev || socket.inode != static_cast<std::uint64_t>(entry.st_ino))
            fail("tmux socket changed during discovery");
        for (auto& target : clients) {
            target.socket = socket;
            targets.push_back(std::move(target));
        }
    }
    auto selected = select(targets, requireOrdinaryInput);
    validateProcess(process, terminalTTY);
    {
        std::lock_guard guard(routeLock);
        cachedRoute = Route{process, terminalTTY, selected.socket};
    }
    return selected;
}

void LocalTmuxResolver::revalidate(const LocalTmuxTarget& target, const std::shared_ptr<PasteOperation>& operation) const {
    checkOperation(operation);
    validateProcess(target.process, target.terminalTTY);
    auto socket = LocalTmuxSocket::inspect(target.socket.path);
    if (!(socket == target.socket)) fail("tmux socket changed or disappeared");
    auto answer = query(target.process.executable, socket.path, platform::systemUptime() + queryLimit, operation);
    auto selected = select(targetsOf(answer, target.terminalTTY, target.process, socket), true);
    if (!(LocalTmuxSocket::inspect(target.socket.path) == target.socket)) fail("tmux socket changed during revalidation");
    validateProcess(target.process, target.terminalTTY);
    if (!selected.matches(target)) fail("tmux client, socket, session, window, or pane changed");
}

} // namespace tarpelix
