#include "platform/process/ProcessTable.h"

#include "platform/foundation/Text.h"
#include "platform/process/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tarpelix::platform {

namespace {

// Reads a small /proc file into `buffer` and returns what it holds; absent when it cannot be
// opened or read. procfs hands a whole record to a read large enough for it, so a read that
// leaves room in the buffer has seen the end and needs no second read to find it.
std::optional<std::string_view> readSmall(int directory, const char* name, char* buffer, std::size_t capacity) {
    UniqueFd fd(::openat(directory, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return std::nullopt;
    std::size_t length = 0;
    while (length < capacity) {
        ssize_t n = ::read(fd.get(), buffer + length, capacity - length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        length += static_cast<std::size_t>(n);
        if (length < capacity) break;
    }
    return std::string_view(buffer, length);
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

// /proc/<pid>/stat is one line of 52 numbers and a command name of at most 64 bytes; the
// "Uid:" line of /proc/<pid>/status is among its first few hundred bytes.
constexpr std::size_t statLimit = 2048;
constexpr std::size_t statusLimit = 4096;

class ProcHandle final : public ProcessHandle {
public:
    ProcHandle(pid_t pid, UniqueFd directory) : pid_(pid), directory_(std::move(directory)) {}

    pid_t pid() const override { return pid_; }

    std::optional<ProcessInfo> info() const override {
        char statBuffer[statLimit];
        auto stat = readSmall(directory_.get(), "stat", statBuffer, sizeof statBuffer);
        if (!stat) return std::nullopt;
        auto fields = parseProcessStat(*stat);
        if (!fields || fields->pid != pid_) return std::nullopt;
        char statusBuffer[statusLimit];
        auto status = readSmall(directory_.get(), "status", statusBuffer, sizeof statusBuffer);
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
        UniqueFd fd(::openat(directory_.get(), "cmdline", O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!fd) return std::nullopt;
        // The kernel copies as much of the argument area as the read asks for, so a short read
        // is the end; the buffer doubles only for arguments longer than a page.
        Bytes bytes;
        std::size_t want = std::min<std::size_t>(limit, 4096);
        while (want > 0) {
            std::size_t had = bytes.size();
            bytes.resize(had + want);
            ssize_t n = ::read(fd.get(), bytes.data() + had, want);
            if (n < 0 && errno == EINTR) {
                bytes.resize(had);
                continue;
            }
            if (n < 0) return std::nullopt;
            bytes.resize(had + static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < want) break;
            want = std::min(limit - bytes.size(), bytes.size());
        }
        return bytes;
    }

private:
    pid_t pid_;
    UniqueFd directory_;
};

// The process ids of a procfs directory, in its own order.
std::vector<pid_t> listProcesses(int root) {
    std::vector<pid_t> pids;
    std::vector<char> buffer(64 * 1024);
    while (true) {
        ssize_t n = ::getdents64(root, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ProcessTableError(ProcessTableError::Stage::reading, errno);
        }
        if (n == 0) return pids;
        for (ssize_t offset = 0; offset < n;) {
            auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            pid_t pid = 0;
            if (parseNumber(std::string_view(entry->d_name), pid) && pid >= 1) pids.push_back(pid);
        }
    }
}

// The entry of one process when its controlling terminal is `device`. A process that exited
// since the listing is simply not in the table.
std::optional<ProcessTableEntry> readEntry(int root, pid_t pid, dev_t device) {
    char path[32];
    auto end = std::to_chars(path, path + 16, pid).ptr;
    std::memcpy(end, "/stat", sizeof "/stat");
    char buffer[statLimit];
    auto stat = readSmall(root, path, buffer, sizeof buffer);
    if (!stat) return std::nullopt;
    auto fields = parseProcessStat(*stat);
    if (!fields || fields->pid != pid || fields->ttyNumber == 0) return std::nullopt;
    dev_t terminal = decodeKernelTerminalNumber(fields->ttyNumber);
    if (terminal != device) return std::nullopt;
    return ProcessTableEntry{pid, startTimeOf(fields->startTicks), fields->processGroup, terminal,
                             fields->terminalForegroundGroup};
}

// The processors this process may run on.
std::size_t availableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
}

// Reading one process's stat costs the kernel several microseconds, so a large table is read
// by several threads. The work is cut into blocks of consecutive entries that threads claim in
// turn; each block's matches are kept apart and the blocks are joined in table order. The
// calling thread starts at once and never waits for another thread to start or to be
// scheduled again: once no block is left to claim, it reads the blocks still being read
// elsewhere itself, and whichever reader finishes a block first publishes it.
constexpr std::size_t blockSize = 8;
constexpr std::size_t processesPerThread = 24;
constexpr std::size_t maximumThreads = 8;

class TableRead {
public:
    TableRead(UniqueFd root, std::vector<pid_t> pids, dev_t device)
        : root_(std::move(root)), device_(device), pids_(std::move(pids)),
          blocks_((pids_.size() + blockSize - 1) / blockSize), found_(blocks_), taken_(blocks_), done_(blocks_) {}

    std::size_t size() const { return pids_.size(); }

    // Reads blocks until none is left to claim.
    void work() {
        for (std::size_t block; (block = next_.fetch_add(1, std::memory_order_relaxed)) < blocks_;) read(block);
    }

    // The matches in table order. The caller has worked itself.
    std::vector<ProcessTableEntry> result() {
        for (std::size_t block = 0; block < blocks_; ++block) {
            if (done_[block].load(std::memory_order_acquire)) continue;
            read(block);
            // Lost to another reader that is publishing the same block: a few instructions.
            while (!done_[block].load(std::memory_order_acquire)) std::this_thread::yield();
        }
        std::vector<ProcessTableEntry> entries;
        for (auto& block : found_) entries.insert(entries.end(), block.begin(), block.end());
        return entries;
    }

private:
    void read(std::size_t block) {
        std::vector<ProcessTableEntry> matches;
        std::size_t stop = std::min(pids_.size(), (block + 1) * blockSize);
        for (std::size_t index = block * blockSize; index < stop; ++index)
            if (auto entry = readEntry(root_.get(), pids_[index], device_)) matches.push_back(*entry);
        if (taken_[block].exchange(true, std::memory_order_acq_rel)) return;
        found_[block] = std::move(matches);
        done_[block].store(true, std::memory_order_release);
    }

    const UniqueFd root_; // owned here: a helper may still be reading after the caller returned
    const dev_t device_;
    const std::vector<pid_t> pids_;
    const std::size_t blocks_;
    std::vector<std::vector<ProcessTableEntry>> found_; // written once, by the block's publisher
    std::vector<std::atomic<bool>> taken_;
    std::vector<std::atomic<bool>> done_;
    std::atomic<std::size_t> next_{0};
};

// Threads that help with table reads, started when first wanted and kept for the life of the
// process (a paste reads the table several times in a row). An offered read that is finished
// before a helper gets to it costs that helper nothing.
class ReadHelpers {
public:
    static ReadHelpers& shared() {
        static auto* helpers = new ReadHelpers; // never destroyed: its threads outlive main()
        return *helpers;
    }

    void offer(const std::shared_ptr<TableRead>& read, std::size_t count) {
        std::lock_guard guard(lock_);
        while (threads_ < count) {
            try {
                std::thread([this] { serve(); }).detach();
            } catch (const std::system_error&) {
                break; // no thread to be had: the others share its part
            }
            ++threads_;
        }
        for (std::size_t index = 0; index < std::min(count, threads_); ++index) queue_.push_back(read);
        wake_.notify_all();
    }

private:
    [[noreturn]] void serve() {
        while (true) {
            std::shared_ptr<TableRead> read;
            {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [&] { return !queue_.empty(); });
                read = std::move(queue_.front());
                queue_.pop_front();
            }
            read->work();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<TableRead>> queue_;
    std::size_t threads_ = 0;
};

std::vector<ProcessTableEntry> readEntries(UniqueFd root, dev_t device) {
    auto pids = listProcesses(root.get());
    auto read = std::make_shared<TableRead>(std::move(root), std::move(pids), device);
    std::size_t threads = std::min({availableProcessors(), maximumThreads, read->size() / processesPerThread});
    if (threads > 1) ReadHelpers::shared().offer(read, threads - 1);
    read->work();
    return read->result();
}

class ProcTable final : public ProcessTable {
public:
    explicit ProcTable(std::string root) : root_(std::move(root)) {}

    std::vector<ProcessTableEntry> processesOnTerminal(dev_t device) const override {
        // Close-on-exec: a child started by another thread meanwhile must not inherit it.
        UniqueFd root(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!root) throw ProcessTableError(ProcessTableError::Stage::listing, errno);
        return readEntries(std::move(root), device);
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

    // Fields from 3 on, each after a single blank; field 22 (the start time) is the last one read.
    auto tail = line.substr(close + 1);
    while (!tail.empty() && tail.back() == '\n') tail.remove_suffix(1);
    std::int64_t tty = 0;
    std::size_t position = 0;
    for (int field = 3; field <= 22; ++field) {
        if (position >= tail.size() || tail[position] != ' ') return std::nullopt;
        ++position;
        auto end = std::min(tail.find(' ', position), tail.size());
        auto text = tail.substr(position, end - position);
        position = end;
        bool ok = true;
        switch (field) {
        case 3:
            ok = text.size() == 1;
            if (ok) fields.state = text[0];
            break;
        case 5: ok = parseNumber(text, fields.processGroup); break;
        case 7: ok = parseNumber(text, tty); break;
        case 8: ok = parseNumber(text, fields.terminalForegroundGroup); break;
        case 22: ok = parseNumber(text, fields.startTicks); break;
        default: break;
        }
        if (!ok) return std::nullopt;
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
