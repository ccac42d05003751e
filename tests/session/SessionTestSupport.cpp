#include "SessionTestSupport.h"

#include "support/PrivateNamespace.h"

#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace tarpelix::testing {

// Every test of this program runs in a private mount namespace (fresh /tmp and home).
[[maybe_unused]] static const bool privateNamespace = enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});

namespace {
class InterposedHandle final : public platform::ProcessHandle {
public:
    InterposedHandle(const InterposedTable& table, std::unique_ptr<platform::ProcessHandle> real)
        : table_(table), real_(std::move(real)) {}
    pid_t pid() const override { return real_->pid(); }
    std::optional<platform::ProcessInfo> info() const override {
        auto result = real_->info();
        after(InterposedTable::Read::info);
        return result;
    }
    PathResult executablePath(std::size_t limit) const override {
        auto result = real_->executablePath(limit);
        after(InterposedTable::Read::executablePath);
        return result;
    }
    std::optional<platform::Bytes> commandLine(std::size_t limit) const override {
        auto result = table_.failCommandLine ? std::nullopt : real_->commandLine(limit);
        after(InterposedTable::Read::commandLine);
        return result;
    }

private:
    void after(InterposedTable::Read read) const {
        if (table_.afterRead) table_.afterRead(read, real_->pid());
    }
    const InterposedTable& table_;
    std::unique_ptr<platform::ProcessHandle> real_;
};
} // namespace

std::vector<platform::ProcessTableEntry> InterposedTable::processesOnTerminal(dev_t device) const {
    return listing ? listing(device) : real->processesOnTerminal(device);
}

std::unique_ptr<platform::ProcessHandle> InterposedTable::open(pid_t pid) const {
    if (failOpen) return nullptr;
    auto handle = real->open(pid);
    if (!handle) return nullptr;
    return std::make_unique<InterposedHandle>(*this, std::move(handle));
}

std::optional<std::size_t> InterposedTable::argumentSizeLimit() const {
    return argumentLimit ? argumentLimit() : real->argumentSizeLimit();
}

std::string installFakeProgram(const std::string& directory, const std::string& name) {
    auto target = directory + "/" + name;
    std::ifstream in(TARPELIX_FAKE_PROGRAM, std::ios::binary);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    if (!in || !out) throw std::runtime_error("cannot copy the fake program to " + target);
    ::chmod(target.c_str(), 0755);
    return target;
}

} // namespace tarpelix::testing
