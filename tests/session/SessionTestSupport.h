#pragma once

#include "platform/process/ProcessTable.h"

#include <functional>
#include <memory>
#include <string>

namespace tarpelix::testing {

// The real process table, with hooks that act between the reads of an inspection (to make a
// process exec or exit at an exact point) or replace one answer (for failures the kernel
// cannot be made to produce on demand).
class InterposedTable : public platform::ProcessTable {
public:
    enum class Read { info, executablePath, commandLine };

    std::shared_ptr<const platform::ProcessTable> real = platform::ProcessTable::system();
    std::function<std::vector<platform::ProcessTableEntry>(dev_t)> listing; // replaces the listing
    std::function<void(Read, pid_t)> afterRead;                             // runs after each read
    std::function<std::optional<std::size_t>()> argumentLimit;              // replaces the limit
    bool failOpen = false;
    bool failCommandLine = false;

    std::vector<platform::ProcessTableEntry> processesOnTerminal(dev_t device) const override;
    std::unique_ptr<platform::ProcessHandle> open(pid_t pid) const override;
    std::optional<std::size_t> argumentSizeLimit() const override;
};

// A copy of the fake program under another name, executable, inside `directory`.
std::string installFakeProgram(const std::string& directory, const std::string& name);

} // namespace tarpelix::testing
