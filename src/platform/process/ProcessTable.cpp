#include "platform/process/ProcessTable.h"

#include "platform/foundation/Text.h"
#include "platform/process/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarpelix::platform {

namespace {

// Reads a whole small /proc file through a directory descriptor; at most `limit` bytes.
std::optional<std::string> readAt(int directory, const char* name, std::size_t limit) {
    UniqueFd fd(::openat(directory, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return std::nullopt;
    std::string content;
    char buffer[4096];
    while (content.size() < limit) {
        std::size_t want = std::min(sizeof buffer, limit - content.size());
        ssize_t n = ::read(fd.get(), buffer, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

template <typename T>
bool parseNumber(std::string_view text, T& value) {
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::uint64_t clockTicksPerSecond() {
    static const std::uint64_t ticks = [] {
        long value = ::sysconf(_SC_CLK_TCK);
        return value > 0 ? static_cast<std::uint64_t>(value) : 100;
    }();
    return ticks;
}

ProcessStartTime startTimeOf(std::uint64_t ticks) {
    std::uint64_t perSecond = clockTicksPerSecond();
    return {ticks / perSecond, (ticks % perSecond) * 1'000'000 / perSecond};
}

// /proc/<pid>/stat is one line well under a page.
constexpr std::size_t statLimit = 4096;
constexpr std::size_t statusLimit = 64 * 1024;

class ProcHandle final : public ProcessHandle {
public:
    ProcHandle(pid_t pid, UniqueFd directory) : pid_(pid), directory_(std::move(directory)) {}

    pid_t pid() const override { return pid_; }

    std::optional<ProcessInfo> info() const override {
        auto stat = readAt(directory_.get(), "stat", statLimit);
        if (!stat) return std::nullopt;
        auto fields = parseProcessStat(*stat);
        if (!fields || fields->pid != pid_) return std::nullopt;
        auto status = readAt(directory_.get(), "status", statusLimit);
        if (!status) return std::nullopt;
        auto uids = parseProcessStatusUids(*status);
        if (!uids) return std::nullopt;
        ProcessInfo info;
        info.pid = fields->pid;
        info.realUid = uids->first;
        info.effectiveUid = uids->second;
        info.processGroup = fields->processGroup;
        info.terminalDevice = decodeKernelTerminalNumber(fields->ttyNumber);
        info.terminalForegroundGroup = fields->terminalForegroundGroup;
        info.hasControllingTerminal = fields->ttyNumber != 0;
        switch (fields->state) {
        case 'T':
        case 't': info.state = ProcessRunState::stopped; break;
        case 'Z':
        case 'X': info.state = ProcessRunState::zombie; break;
        default: info.state = ProcessRunState::running; break;
        }
        info.start = startTimeOf(fields->startTicks);
        return info;
    }

    PathResult executablePath(std::size_t limit) const override {
        std::string buffer(limit, '\0');
        ssize_t n = ::readlinkat(directory_.get(), "exe", buffer.data(), buffer.size());
        if (n < 0) return {{}, errno};
        buffer.resize(static_cast<std::size_t>(n));
        return {std::move(buffer), 0};
    }

    std::optional<Bytes> commandLine(std::size_t limit) const override {
        auto content = readAt(directory_.get(), "cmdline", limit);
        if (!content) return std::nullopt;
        return Bytes(content->begin(), content->end());
    }

private:
    pid_t pid_;
    UniqueFd directory_;
};

class ProcTable final : public ProcessTable {
public:
    explicit ProcTable(std::string root) : root_(std::move(root)) {}

    std::vector<ProcessTableEntry> processesOnTerminal(dev_t device) const override {
        UniqueFd rootFd(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!rootFd) throw ProcessTableError(ProcessTableError::Stage::listing, errno);
        // The listing's own descriptor is close-on-exec too: a child started by another thread
        // meanwhile must not inherit it.
        int listingFd = ::fcntl(rootFd.get(), F_DUPFD_CLOEXEC, 0);
        DIR* dir = listingFd >= 0 ? ::fdopendir(listingFd) : nullptr;
        if (!dir) {
            int error = errno;
            if (listingFd >= 0) ::close(listingFd);
            throw ProcessTableError(ProcessTableError::Stage::listing, error);
        }
        std::vector<ProcessTableEntry> entries;
        int error = 0;
        while (true) {
            errno = 0;
            dirent* entry = ::readdir(dir);
            if (!entry) {
                error = errno;
                break;
            }
            pid_t pid = 0;
            std::string_view name(entry->d_name);
            if (!parseNumber(name, pid) || pid < 1) continue;
            // A process may exit between the listing and this read; it is simply not in the table.
            auto path = std::string(name) + "/stat";
            auto stat = readAt(rootFd.get(), path.c_str(), statLimit);
            if (!stat) continue;
            auto fields = parseProcessStat(*stat);
            if (!fields || fields->pid != pid) continue;
            dev_t terminal = decodeKernelTerminalNumber(fields->ttyNumber);
            if (fields->ttyNumber == 0 || terminal != device) continue;
            entries.push_back({pid, startTimeOf(fields->startTicks), fields->processGroup, terminal,
                               fields->terminalForegroundGroup});
        }
        ::closedir(dir);
        if (error != 0) throw ProcessTableError(ProcessTableError::Stage::reading, error);
        return entries;
    }

    std::unique_ptr<ProcessHandle> open(pid_t pid) const override {
        if (pid < 1) return nullptr;
        auto path = root_ + "/" + std::to_string(pid);
        UniqueFd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
        if (!directory) return nullptr;
        return std::make_unique<ProcHandle>(pid, std::move(directory));
    }

    std::optional<std::size_t> argumentSizeLimit() const override {
        long value = ::sysconf(_SC_ARG_MAX);
        if (value <= 0) return std::nullopt;
        // The kernel caps a process's argument and environment area at three quarters of its
        // 8 MiB stack limit, whatever the stack rlimit says (an unlimited stack rlimit makes
        // sysconf report a huge value).
        constexpr std::size_t kernelCap = 6 * 1024 * 1024;
        return std::min(static_cast<std::size_t>(value), kernelCap);
    }

private:
    std::string root_;
};

} // namespace

ProcessTableError::ProcessTableError(Stage stage, int error)
    : std::runtime_error(std::string(stage == Stage::listing ? "cannot list processes: "
                                                             : "cannot read process table: ") +
                         std::strerror(error)),
      stage(stage), error(error) {}

std::shared_ptr<const ProcessTable> ProcessTable::system() {
    static const std::shared_ptr<const ProcessTable> table = std::make_shared<ProcTable>("/proc");
    return table;
}

std::shared_ptr<const ProcessTable> ProcessTable::at(std::string procRoot) {
    return std::make_shared<ProcTable>(std::move(procRoot));
}

dev_t decodeKernelTerminalNumber(std::uint64_t ttyNumber) {
    // The kernel's new_encode_dev: minor low byte, then 12 bits of major, then the minor's rest.
    auto major = static_cast<unsigned>((ttyNumber >> 8) & 0xfff);
    auto minor = static_cast<unsigned>((ttyNumber & 0xff) | ((ttyNumber >> 12) & 0xfff00));
    return makedev(major, minor);
}

std::optional<ProcessStatFields> parseProcessStat(std::string_view line) {
    auto open = line.find('(');
    auto close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
    ProcessStatFields fields;
    auto pidText = line.substr(0, open);
    if (pidText.empty() || pidText.back() != ' ') return std::nullopt;
    if (!parseNumber(pidText.substr(0, pidText.size() - 1), fields.pid)) return std::nullopt;

    // Fields from 3 on, separated by single blanks.
    std::vector<std::string_view> rest;
    auto tail = line.substr(close + 1);
    while (!tail.empty() && (tail.back() == '\n')) tail.remove_suffix(1);
    std::size_t position = 0;
    while (position < tail.size() && rest.size() < 21) {
        if (tail[position] != ' ') return std::nullopt;
        ++position;
        auto end = tail.find(' ', position);
        if (end == std::string_view::npos) end = tail.size();
        rest.push_back(tail.substr(position, end - position));
        position = end;
    }
    // rest[0] is field 3 (state); field N is rest[N - 3].
    if (rest.size() < 20) return std::nullopt;
    if (rest[0].size() != 1) return std::nullopt;
    fields.state = rest[0][0];
    std::int64_t tty = 0;
    if (!parseNumber(rest[5 - 3], fields.processGroup) || !parseNumber(rest[7 - 3], tty) ||
        !parseNumber(rest[8 - 3], fields.terminalForegroundGroup) ||
        !parseNumber(rest[22 - 3], fields.startTicks)) {
        return std::nullopt;
    }
    // tty_nr is printed as a signed int; the encoding uses its 32 bits.
    fields.ttyNumber = static_cast<std::uint32_t>(tty);
    return fields;
}

std::optional<std::pair<uid_t, uid_t>> parseProcessStatusUids(std::string_view status) {
    for (auto line : text::split(status, '\n')) {
        if (!line.starts_with("Uid:")) continue;
        line.remove_prefix(4);
        uid_t values[2] = {};
        for (auto& value : values) {
            std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string_view::npos) return std::nullopt;
            line.remove_prefix(start);
            std::size_t stop = line.find_first_of(" \t");
            if (!parseNumber(line.substr(0, stop), value)) return std::nullopt;
            line.remove_prefix(stop == std::string_view::npos ? line.size() : stop);
        }
        return std::make_pair(values[0], values[1]);
    }
    return std::nullopt;
}

} // namespace tarpelix::platform
