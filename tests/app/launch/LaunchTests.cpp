// The application started over folders that another program left damaged, oversized or odd:
// it starts, stays within a memory a user would accept, quits when asked and leaves files that
// read. Run as the built executable, so the peak is the whole process's, from the kernel.

#include "platform/foundation/PropertyList.h"
#include "support/TemporaryDirectory.h"

#include "platform/foundation/PropertyListFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace tarpelix::platform;
using tarpelix::testing::TemporaryDirectory;
using Dictionary = PropertyListValue::Dictionary;

// The peak a user would accept of a menu-bar agent (it needs about 25 MB over clean folders).
// The sanitizers' shadow memory and quarantine make their figures no measure of it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long acceptablePeakKB = 0; // not checked
#else
constexpr long acceptablePeakKB = 128 * 1024;
#endif

struct Run {
    bool started = false; // `ready` came true before the deadline
    int status = -1;      // as waitpid gives it
    long peakKB = 0;      // the process's maximum resident size
};

// Whether the process catches `signal`: its run loop turns SIGTERM into a quit request only once
// it runs, and before that the signal ends it as any process.
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("SigCgt:")) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Starts the application with the given homes, waits until `ready` and it catches SIGTERM
// (checked every 20 ms, for at most a minute), asks it to quit with SIGTERM and waits for it.
Run launch(const fs::path& configHome, const fs::path& dataHome, const std::function<bool()>& ready) {
    std::vector<std::string> variables = {"XDG_CONFIG_HOME=" + configHome.string(),
                                          "XDG_DATA_HOME=" + dataHome.string()};
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view text(*variable);
        if (!text.starts_with("XDG_CONFIG_HOME=") && !text.starts_with("XDG_DATA_HOME=")) variables.emplace_back(text);
    }
    std::vector<char*> environment;
    for (auto& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    char program[] = TARPELIX_EXECUTABLE;
    char* arguments[] = {program, nullptr};
    pid_t pid = 0;
    Run run;
    if (::posix_spawn(&pid, program, nullptr, nullptr, arguments, environment.data()) != 0) return run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!(run.started = ready() && catches(pid, SIGTERM)) && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return run; // ended by itself
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGTERM);
    rusage usage{};
    ::wait4(pid, &run.status, 0, &usage);
    run.peakKB = usage.ru_maxrss;
    std::fprintf(stderr, "peak %ld kB\n", run.peakKB);
    return run;
}

fs::path defaultsFile(const fs::path& configHome) { return configHome / "Tarpelix" / "UserDefaults.plist"; }

// The defaults as a dictionary, when the file reads as one.
std::optional<Dictionary> readDefaults(const fs::path& configHome) {
    auto root = PropertyList::readFile(defaultsFile(configHome));
    auto* values = root ? root->get<Dictionary>() : nullptr;
    return values ? std::optional(std::move(*values)) : std::nullopt;
}

bool setupRecorded(const fs::path& configHome) {
    auto values = readDefaults(configHome);
    return values && values->contains("onboardingProgress");
}

void expectStartedAndQuit(const Run& run) {
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << "status " << run.status;
    if (acceptablePeakKB > 0) {
        EXPECT_LT(run.peakKB, acceptablePeakKB);
    }
}

} // namespace

// A defaults file of 526 KB that reads as 262,000 values under 510 levels: setup records its
// progress beside them, in a file that reads again and keeps them at the next launch.
TEST(ApplicationLaunch, DeepDefaultsAreKeptAndRewrittenReadable) {
    TemporaryDirectory home;
    const fs::path config = home.file("config"), data = home.file("data");
    fs::create_directories(defaultsFile(config).parent_path());
    const auto bytes = tarpelix::testing::plist::deepShared("\x09", 510, 261'544);
    std::ofstream(defaultsFile(config), std::ios::binary) << bytes;
    const auto original = readDefaults(config);
    ASSERT_TRUE(original && original->contains("a"));

    const auto first = launch(config, data, [&] { return setupRecorded(config); });
    expectStartedAndQuit(first);
    const auto written = readDefaults(config);
    ASSERT_TRUE(written);
    EXPECT_LE(fs::file_size(defaultsFile(config)), PropertyList::maximumSize);
    EXPECT_TRUE(written->contains("a") && written->at("a") == original->at("a"));

    // The next launch reads that file: the values are still there once it has quit.
    fs::remove_all(data);
    const auto second = launch(config, data, [&] { return fs::exists(data / "Tarpelix" / "transfers.sqlite3"); });
    expectStartedAndQuit(second);
    const auto again = readDefaults(config);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->contains("onboardingProgress"));
    EXPECT_TRUE(again->contains("a") && again->at("a") == original->at("a"));
}
