#pragma once

#include "platform/foundation/Bytes.h"
#include "platform/process/ProcessTable.h"
#include "ssh/TerminalProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace tarpelix {

// A TTY's foreground process group as read at one moment.
struct ForegroundSnapshot {
    std::string tty;  // the path exactly as passed
    dev_t device = 0; // the TTY's st_rdev
    std::int32_t foregroundGroup = 0;
    std::vector<TerminalProcess> processes; // in process-table order
};

// Turns a terminal's TTY path into the snapshot of its foreground group. Every check is
// strict: a TTY or process that changes, stops, exits or belongs to another user while it is
// read fails the whole snapshot with a SessionInspectionError. Keeps no state between calls.
class ProcessInspector {
public:
    explicit ProcessInspector(std::shared_ptr<const platform::ProcessTable> table = platform::ProcessTable::system());

    ForegroundSnapshot snapshot(const std::string& tty) const;

    // Decodes a process's argument strings (each terminated by a NUL); throws
    // "Malformed process arguments" unless there is at least one, every one is terminated and
    // valid UTF-8. Empty arguments are kept.
    static std::vector<std::string> decodeArguments(const platform::Bytes& bytes);

private:
    std::string executablePath(const platform::ProcessHandle& process) const;
    std::vector<std::string> arguments(const platform::ProcessHandle& process) const;

    std::shared_ptr<const platform::ProcessTable> table_;
};

} // namespace tarpelix
