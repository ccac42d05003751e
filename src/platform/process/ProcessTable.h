#pragma once

#include "platform/foundation/Bytes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

// The kernel's process table and per-process information, read from /proc.
namespace tarpelix::platform {

// A process start time as the kernel reports it: seconds and microseconds since boot, taken
// from the boot-relative clock ticks of /proc/<pid>/stat, so a wall-clock step never makes
// a process look changed.
struct ProcessStartTime {
    std::uint64_t seconds = 0;
    std::uint64_t microseconds = 0;
    bool operator==(const ProcessStartTime&) const = default;
};

// One row of the process table: only what inspection of a terminal needs.
struct ProcessTableEntry {
    pid_t pid = 0;
    ProcessStartTime start;
    pid_t processGroup = 0;
    dev_t terminalDevice = 0;          // the controlling terminal, 0 when none
    pid_t terminalForegroundGroup = 0; // that terminal's foreground group, 0 or below when none
};

enum class ProcessRunState { running, stopped, zombie };

// Per-process information of one process.
struct ProcessInfo {
    pid_t pid = 0;
    uid_t realUid = 0;
    uid_t effectiveUid = 0;
    pid_t processGroup = 0;
    dev_t terminalDevice = 0;
    pid_t terminalForegroundGroup = 0;
    bool hasControllingTerminal = false;
    ProcessRunState state = ProcessRunState::running;
    ProcessStartTime start;
};

// The table could not be listed (`listing`) or a listing failed part-way (`reading`).
class ProcessTableError : public std::runtime_error {
public:
    enum class Stage { listing, reading };
    ProcessTableError(Stage stage, int error);
    Stage stage;
    int error; // errno
};

// One process, opened once: every read goes through the same /proc/<pid> directory
// descriptor, so a process that exits and whose pid is reused is never mixed in (reads of
// the old directory fail instead).
class ProcessHandle {
public:
    virtual ~ProcessHandle() = default;
    virtual pid_t pid() const = 0;
    // Absent once the process is gone or cannot be read.
    virtual std::optional<ProcessInfo> info() const = 0;
    // The raw target of the executable link (no terminating NUL), or the errno of the failure.
    struct PathResult {
        std::string bytes;
        int error = 0;
    };
    virtual PathResult executablePath(std::size_t limit) const = 0;
    // The raw argument strings, each followed by a NUL, at most `limit` bytes; absent on failure.
    virtual std::optional<Bytes> commandLine(std::size_t limit) const = 0;
};

// The process table. The system one reads /proc; tests may wrap it to act between reads.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    // The table read from /proc.
    static std::shared_ptr<const ProcessTable> system();
    // A table read from another procfs mount point (tests point it at a missing directory).
    static std::shared_ptr<const ProcessTable> at(std::string procRoot);

    // Every process whose controlling terminal is `device`, in the order of the table. Each
    // process's stat is read once; a large table is read by several threads at once.
    // Throws ProcessTableError.
    virtual std::vector<ProcessTableEntry> processesOnTerminal(dev_t device) const = 0;
    // Opens one process; null when it no longer exists or cannot be opened.
    virtual std::unique_ptr<ProcessHandle> open(pid_t pid) const = 0;
    // The largest argument area a process can have, in bytes; absent when unknown.
    virtual std::optional<std::size_t> argumentSizeLimit() const = 0;
};

// Decodes the controlling-terminal number of /proc/<pid>/stat into a device number.
dev_t decodeKernelTerminalNumber(std::uint64_t ttyNumber);

// The fields of one /proc/<pid>/stat line that the table uses. The command name may hold
// blanks and parentheses, so the fields are read after the last ")".
struct ProcessStatFields {
    pid_t pid = 0;
    char state = '?';
    pid_t processGroup = 0;
    std::uint64_t ttyNumber = 0;
    pid_t terminalForegroundGroup = 0;
    std::uint64_t startTicks = 0;
};
std::optional<ProcessStatFields> parseProcessStat(std::string_view line);

// The real and effective uid from the "Uid:" line of /proc/<pid>/status.
std::optional<std::pair<uid_t, uid_t>> parseProcessStatusUids(std::string_view status);

} // namespace tarpelix::platform
