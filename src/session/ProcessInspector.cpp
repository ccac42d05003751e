#include "session/ProcessInspector.h"

#include "platform/foundation/LinuxProfile.h"
#include "platform/foundation/Text.h"
#include "ssh/SessionInspectionError.h"

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix {

namespace {

constexpr std::size_t executablePathLimit = 4096;
constexpr std::size_t bufferCap = 16 * 1024 * 1024;

[[noreturn]] void fail(const std::string& reason) { throw SessionInspectionError(reason); }

const char* const exitedReason = "Foreground process exited or cannot be inspected";

} // namespace

ProcessInspector::ProcessInspector(std::shared_ptr<const platform::ProcessTable> table) : table_(std::move(table)) {}

ForegroundSnapshot ProcessInspector::snapshot(const std::string& tty) const {
    if (!platform::LinuxProfile::isInspectableTerminalPath(tty)) fail("Unsupported terminal TTY");

    struct stat status {};
    if (::lstat(tty.c_str(), &status) != 0 || (status.st_mode & S_IFMT) != S_IFCHR)
        fail("Terminal TTY disappeared or is not a character device");
    const dev_t device = status.st_rdev;

    std::vector<platform::ProcessTableEntry> table;
    try {
        table = table_->processesOnTerminal(device);
    } catch (const platform::ProcessTableError& error) {
        if (error.stage == platform::ProcessTableError::Stage::listing)
            fail("Cannot inspect terminal processes (" + std::to_string(error.error) + ")");
        fail("Cannot read terminal process table (" + std::to_string(error.error) + ")");
    }

    // Every process of the terminal must name the same, positive foreground group.
    std::optional<pid_t> group;
    for (const auto& entry : table) {
        if (entry.terminalDevice != device) continue;
        if (group && *group != entry.terminalForegroundGroup) fail("Terminal foreground process group is missing or changed");
        group = entry.terminalForegroundGroup;
    }
    if (!group || *group < 1) fail("Terminal foreground process group is missing or changed");
    const pid_t foregroundGroup = *group;

    std::vector<platform::ProcessTableEntry> members;
    for (const auto& entry : table)
        if (entry.terminalDevice == device && entry.processGroup == foregroundGroup) members.push_back(entry);
    if (members.empty()) fail("No inspectable foreground process on this TTY");

    const uid_t uid = ::getuid();
    std::vector<TerminalProcess> processes;
    for (const auto& entry : members) {
        auto process = table_->open(entry.pid);
        if (!process) fail(exitedReason);
        auto first = process->info();
        if (!first) fail(exitedReason);
        bool firstCheck = first->terminalDevice == device && first->terminalForegroundGroup == foregroundGroup &&
                          first->processGroup == foregroundGroup && first->start == entry.start &&
                          first->effectiveUid == uid && first->realUid == uid && first->hasControllingTerminal &&
                          first->state != platform::ProcessRunState::stopped &&
                          first->state != platform::ProcessRunState::zombie;
        if (!firstCheck) fail("Foreground process changed, stopped, or belongs to another user");

        auto path = executablePath(*process);
        auto argumentVector = arguments(*process);

        auto second = process->info();
        if (!second) fail(exitedReason);
        bool secondCheck = second->pid == first->pid && second->start == first->start &&
                           second->effectiveUid == first->effectiveUid && second->realUid == first->realUid &&
                           second->processGroup == foregroundGroup &&
                           second->terminalForegroundGroup == foregroundGroup && second->terminalDevice == device &&
                           second->state != platform::ProcessRunState::stopped &&
                           second->state != platform::ProcessRunState::zombie;
        if (!secondCheck || executablePath(*process) != path) fail("Foreground process changed while reading it");

        processes.push_back(TerminalProcess{
            ProcessIdentity{first->pid, first->start.seconds, first->start.microseconds},
            device, foregroundGroup, std::move(path), std::move(argumentVector)});
    }
    return ForegroundSnapshot{tty, device, foregroundGroup, std::move(processes)};
}

std::string ProcessInspector::executablePath(const platform::ProcessHandle& process) const {
    auto result = process.executablePath(executablePathLimit);
    const auto& path = result.bytes;
    // A result that fills the whole buffer may have been cut short. The kernel marks an
    // executable replaced or removed on disk with " (deleted)": that path no longer names it.
    constexpr std::string_view deleted = " (deleted)";
    bool usable = result.error == 0 && !path.empty() && path.size() < executablePathLimit &&
                  path.find('\0') == std::string::npos && platform::text::isValidUTF8(path) && path.front() == '/' &&
                  !(path.size() >= deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0);
    if (!usable) fail("Cannot read foreground executable path");
    return path;
}

std::vector<std::string> ProcessInspector::arguments(const platform::ProcessHandle& process) const {
    auto limit = table_->argumentSizeLimit();
    if (!limit || *limit == 0 || *limit > bufferCap) fail("Cannot determine process argument buffer size");
    auto bytes = process.commandLine(*limit);
    if (!bytes) fail("Cannot read foreground process arguments");
    return decodeArguments(*bytes);
}

std::vector<std::string> ProcessInspector::decodeArguments(const platform::Bytes& bytes) {
    std::vector<std::string> result;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t end = position;
        while (end < bytes.size() && bytes[end] != 0) ++end;
        if (end == bytes.size()) fail("Malformed process arguments"); // no terminating NUL
        std::string argument(bytes.begin() + static_cast<std::ptrdiff_t>(position),
                             bytes.begin() + static_cast<std::ptrdiff_t>(end));
        if (!platform::text::isValidUTF8(argument)) fail("Malformed process arguments");
        result.push_back(std::move(argument));
        position = end + 1;
    }
    if (result.empty()) fail("Malformed process arguments");
    return result;
}

} // namespace tarpelix
