#include "platform/foundation/Clock.h"
#include "platform/foundation/LinuxProfile.h"
#include "platform/foundation/Text.h"
#include "platform/process/ChildProcess.h"
#include "platform/process/OutputCollector.h"
#include "platform/process/UniqueFd.h"
#include "ssh/OperationCheck.h"
#include "ssh/SSHConfiguration.h"
#include "ssh/SSHTransport.h"
#include "ssh/SessionInspectionError.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix {

namespace {

constexpr double evaluationLimit = 5.0;
constexpr std::size_t maximumOutput = 1024 * 1024;
constexpr std::size_t maximumConfigurationFile = 1024 * 1024;
constexpr std::size_t maximumIncludedEntries = 64;
const std::string systemConfiguration = "/etc/ssh/ssh_config";
const std::string systemConfigurationDirectory = "/etc/ssh/ssh_config.d";

std::mutex cacheLock;
std::optional<SSHConfigurationCache> cache;

[[noreturn]] void fail(const std::string& reason) { throw SessionInspectionError(reason); }


std::vector<std::string> wordsOf(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '=') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// The stock include line of the system configuration, which does not switch caching off.
bool isStockInclude(const std::vector<std::string>& words) {
    for (const auto& line : platform::LinuxProfile::stockSSHIncludeLines())
        if (words == wordsOf(line)) return true;
    return false;
}

// False when the file holds a construct whose effect a byte snapshot cannot capture.
bool allowsCaching(std::string_view content, bool isSystemConfiguration) {
    for (auto line : platform::text::split(content, '\n')) {
        auto words = wordsOf(line);
        if (words.empty()) continue;
        auto keyword = platform::text::lowercased(words.front());
        if (keyword == "match") return false;
        if (keyword == "include" && !(isSystemConfiguration && isStockInclude(words))) return false;
    }
    return true;
}

// Appends one file's record to the snapshot; false when caching is not allowed.
bool appendFile(platform::Bytes& snapshot, const std::string& path) {
    snapshot.insert(snapshot.end(), path.begin(), path.end());
    snapshot.push_back(0);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) return false;
        snapshot.push_back(0);
        return true;
    }
    if (!S_ISREG(status.st_mode) || static_cast<std::size_t>(status.st_size) > maximumConfigurationFile) return false;
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    std::string content;
    char buffer[16384];
    while (true) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > maximumConfigurationFile) return false;
    }
    if (!platform::text::isValidUTF8(content) || !allowsCaching(content, path == systemConfiguration)) return false;
    snapshot.push_back(1);
    snapshot.insert(snapshot.end(), content.begin(), content.end());
    snapshot.push_back(0);
    return true;
}

} // namespace

void SSHConfigurationEvaluator::clearCache() {
    std::lock_guard guard(cacheLock);
    cache.reset();
}

std::optional<platform::Bytes> SSHConfigurationEvaluator::cacheInputs() {
    std::vector<std::string> included;
    std::size_t entries = 0;
    if (DIR* dir = ::opendir(systemConfigurationDirectory.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            ++entries;
            if (name.front() != '.') included.push_back(std::move(name));
        }
        ::closedir(dir);
    }
    if (entries > maximumIncludedEntries) return std::nullopt;
    std::sort(included.begin(), included.end());

    // ssh reads ~/.ssh/config from the password database's home, whatever $HOME says.
    std::vector<std::string> files = {platform::LinuxProfile::passwordDatabaseHome() + "/.ssh/config",
                                      systemConfiguration};
    for (const auto& name : included) files.push_back(systemConfigurationDirectory + "/" + name);

    platform::Bytes snapshot;
    for (const auto& path : files)
        if (!appendFile(snapshot, path)) return std::nullopt;
    return snapshot;
}

SSHConfiguration SSHConfigurationEvaluator::evaluate(const SSHDestination& destination,
                                                     const std::shared_ptr<PasteOperation>& operation,
                                                     const std::optional<SSHProcess>& session, double deadline) const {
    checkOperation(operation);
    SSHTransport::checkDeadline(deadline);

    auto inputs = cacheInputs();
    {
        std::unique_lock guard(cacheLock);
        auto entry = std::move(cache);
        cache.reset();
        if (inputs && entry && entry->matches(destination, session, *inputs, platform::systemUptime())) {
            auto configuration = entry->configuration;
            cache = std::move(entry);
            guard.unlock();
            checkOperation(operation);
            SSHTransport::checkDeadline(deadline);
            return configuration;
        }
    }

    platform::ChildProcess child;
    child.executable = "/usr/bin/ssh";
    child.arguments = {"-G", destination.original};
    SSHTransport::checkDeadline(deadline);
    // Every failure from here kills the child (with its group) as the child object goes away.
    auto collected = platform::runCollectingOutput(
        child, {.deadline = deadline, .maximumBytes = maximumOutput, .bufferSize = 8192,
                .pause = std::chrono::milliseconds(10), .runLimit = evaluationLimit},
        [&] { checkOperation(operation); });
    switch (collected.end) {
    case platform::CollectedOutput::End::timedOut: fail("OpenSSH configuration evaluation timed out");
    case platform::CollectedOutput::End::tooLarge: fail("OpenSSH configuration output is too large");
    case platform::CollectedOutput::End::pipeUnavailable:
    case platform::CollectedOutput::End::readFailed: fail("Cannot read OpenSSH configuration output");
    case platform::CollectedOutput::End::complete: break;
    }
    if (!child.exitedWithStatusZero())
        fail("OpenSSH configuration evaluation failed (" + std::to_string(child.terminationStatus()) +
             "); check SSH config");
    checkOperation(operation);
    SSHTransport::checkDeadline(deadline);
    auto configuration = SSHConfiguration::parse(collected.bytes);

    if (inputs) {
        auto again = cacheInputs();
        if (again && *again == *inputs) {
            std::lock_guard guard(cacheLock);
            cache = SSHConfigurationCache{destination, session, std::move(*inputs),
                                          platform::systemUptime() + cacheLifetime, configuration};
        }
    }
    return configuration;
}

} // namespace tarpelix
