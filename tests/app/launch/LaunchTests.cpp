// The application started over folders that another program left damaged, oversized or odd:
// it starts, stays within a memory a user would accept, quits when asked and leaves files that
// read. Run as the built executable, so the peak is the whole process's.

#include "platform/foundation/PropertyList.h"
#include "storage/TransferStore.h"
#include "support/PeakMemory.h"
#include "support/TemporaryDirectory.h"

#include "platform/foundation/PropertyListFiles.h"
#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
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
#if defined(__SANITIZE_ADDRESS__)
    // The libraries' own leaks at exit, suppressed as the test programs suppress them.
    const auto suppressions = configHome.parent_path() / "leak-suppressions";
    std::ofstream(suppressions) << "leak:libfontconfig.so\nleak:libcrypto.so\n";
    variables.push_back("LSAN_OPTIONS=suppressions=" + suppressions.string());
#endif
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view text(*variable);
        if (!text.starts_with("XDG_CONFIG_HOME=") && !text.starts_with("XDG_DATA_HOME=") &&
            !text.starts_with("LSAN_OPTIONS="))
            variables.emplace_back(text);
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
    // The kernel's figure for a waited child would include what this process held when it
    // spawned it: the peak is read off the running process instead.
    run.peakKB = tarpelix::testing::peakResidentKB(pid);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &run.status, 0);
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

namespace {

// The data folder after one paste: a record with its retained PNG, the latest attempt and the
// usage ledger, written by the store itself.
tarpelix::TransferRecord storeOnePaste(const fs::path& folder) {
    namespace support = tarpelix::testing;
    tarpelix::TransferStore::Options options;
    options.root = folder;
    options.scheduleMaintenance = false;
    auto store = tarpelix::TransferStore::open(options);
    const double now = Date::now().secondsSinceReferenceDate;
    auto record = store->create(support::succeeded(support::makeRecord(now, 40'000)), support::pngBytes(40'000));
    store->saveLatestAttempt(support::attemptFor(record.id, now, now));
    return record;
}

void execute(const fs::path& database, const std::string& sql) {
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &connection), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(connection);
}

constexpr std::size_t megabyte = 1'000'000;

// A check that the statement still answers `expected`: the damaged value is still in the
// database, neither read into a record nor replaced.
std::function<bool()> stillAnswers(const fs::path& folder, const std::string& query, const std::string& expected) {
    EXPECT_EQ(tarpelix::testing::querySingle(folder / "transfers.sqlite3", query), expected) << query;
    return [=] { return tarpelix::testing::querySingle(folder / "transfers.sqlite3", query) == expected; };
}

std::string blobOf(const std::string& sql) { return "CAST(" + sql + " AS BLOB)"; }
// `count` copies of one ASCII character, made inside SQLite.
std::string repeated(char c, std::size_t count) {
    return "replace(hex(zeroblob(" + std::to_string(count / 2) + ")), '00', '" + std::string(2, c) + "')";
}


} // namespace

// Files of the data folder that another program grew far past anything the application writes:
// it starts over each in bounded memory, reading none of it whole, and leaves it as it found it
// or, for a damaged diagnostic segment, deletes it as it deletes any damaged segment.
TEST(ApplicationLaunch, OversizedDataFilesAreNotReadWhole) {
    const struct {
        const char* name;
        // Damages the folder after one paste; returns what must be true of it after the run.
        std::function<std::function<bool()>(const fs::path& folder, const tarpelix::TransferRecord&)> damage;
    } cases[] = {
        {"a 300 MB record payload",
         [](const fs::path& folder, const tarpelix::TransferRecord& record) {
             const auto row = " WHERE id = '" + record.id.uuidString() + "'";
             execute(folder / "transfers.sqlite3", "UPDATE transfers SET payload = zeroblob(" +
                                                      std::to_string(300 * megabyte) + ")" + row);
             return stillAnswers(folder, "SELECT length(payload) FROM transfers" + row, std::to_string(300 * megabyte));
         }},
        {"a 300 MB record payload as text",
         [](const fs::path& folder, const tarpelix::TransferRecord& record) {
             const auto row = " WHERE id = '" + record.id.uuidString() + "'";
             execute(folder / "transfers.sqlite3",
                     "UPDATE transfers SET payload = " + repeated(' ', 300 * megabyte) + row);
             return stillAnswers(folder, "SELECT typeof(payload) || length(payload) FROM transfers" + row,
                                 "text" + std::to_string(300 * megabyte));
         }},
        {"a 20 MB record payload nested 10 million deep",
         [](const fs::path& folder, const tarpelix::TransferRecord& record) {
             const auto row = " WHERE id = '" + record.id.uuidString() + "'";
             execute(folder / "transfers.sqlite3",
                     "UPDATE transfers SET payload = " +
                         blobOf(repeated('[', 10 * megabyte) + " || " + repeated(']', 10 * megabyte)) + row);
             return stillAnswers(folder, "SELECT length(payload) FROM transfers" + row, std::to_string(20 * megabyte));
         }},
        {"a 100 MB latest attempt",
         [](const fs::path& folder, const tarpelix::TransferRecord&) {
             execute(folder / "transfers.sqlite3",
                     "UPDATE latest_attempt SET payload = " + blobOf(repeated('[', 100 * megabyte)));
             return stillAnswers(folder, "SELECT length(payload) FROM latest_attempt", std::to_string(100 * megabyte));
         }},
        {"a 100 MB usage ledger",
         [](const fs::path& folder, const tarpelix::TransferRecord&) {
             execute(folder / "transfers.sqlite3",
                     "UPDATE paste_usage SET payload = " + blobOf(repeated('[', 100 * megabyte)));
             return stillAnswers(folder, "SELECT length(payload) FROM paste_usage", std::to_string(100 * megabyte));
         }},
        {"a retained image grown to 1 GB",
         [](const fs::path& folder, const tarpelix::TransferRecord& record) {
             const auto image = folder / "images" / (record.id.uuidString() + ".png");
             fs::resize_file(image, 1'000 * megabyte); // sparse: no disk for it
             return std::function<bool()>([image] { return fs::file_size(image) == 1'000 * megabyte; });
         }},
        {"a 4.9 MB diagnostic segment of one deep line",
         [](const fs::path& folder, const tarpelix::TransferRecord&) {
             fs::create_directories(folder / "diagnostics");
             const auto segment = folder / "diagnostics" / ("diagnostic-" + Uuid::random().uuidString() + ".jsonl");
             std::ofstream(segment) << std::string(4'900'000, '[') << '\n';
             return std::function<bool()>([segment] { return !fs::exists(segment); });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory home;
        const fs::path config = home.file("config"), data = home.file("data");
        const auto folder = data / "Tarpelix";
        const auto record = storeOnePaste(folder);
        const auto holds = c.damage(folder, record);
        const auto run = launch(config, data, [&] { return setupRecorded(config); });
        expectStartedAndQuit(run);
        EXPECT_TRUE(holds());
    }
}

// Defaults files of up to the 16 MB a file is read at: one whose keys sit beside a long comment
// keeps them when setup records its progress; one of 16 MB of attributes is refused in bounded
// memory and replaced by fresh defaults, as a launch without any file writes them.
TEST(ApplicationLaunch, DefaultsWithALongCommentKeepTheirKeysAndAttributesStayBounded) {
    const auto keysOf = [](const Dictionary& values) {
        std::set<std::string> keys;
        for (const auto& [key, value] : values) keys.insert(key);
        return keys;
    };
    // What setup writes over no defaults file at all.
    std::set<std::string> freshKeys;
    {
        TemporaryDirectory home;
        const fs::path config = home.file("config"), data = home.file("data");
        expectStartedAndQuit(launch(config, data, [&] { return setupRecorded(config); }));
        const auto fresh = readDefaults(config);
        ASSERT_TRUE(fresh);
        freshKeys = keysOf(*fresh);
        ASSERT_TRUE(freshKeys.contains("onboardingProgress"));
    }

    const auto commented = [](std::size_t size) {
        return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
               "<key>lastSettingsSection</key><string>storage</string><!--" +
               std::string(size, 'c') + "--><key>showPasteOverlay</key><false/></dict></plist>";
    };
    // A key that is missing fails the expectation, and the later cases still report.
    const auto valueOf = [](const Dictionary& values, const std::string& key) -> std::optional<PropertyListValue> {
        const auto found = values.find(key);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
    auto expectKept = [&](const Dictionary& values, const std::string&) {
        EXPECT_EQ(valueOf(values, "lastSettingsSection"), std::optional(PropertyListValue("storage")));
        EXPECT_EQ(valueOf(values, "showPasteOverlay"), std::optional(PropertyListValue(false)));
        auto expected = freshKeys;
        expected.insert({"lastSettingsSection", "showPasteOverlay"});
        EXPECT_EQ(keysOf(values), expected);
    };
    auto expectReplaced = [&](const Dictionary& values, const std::string& text) {
        EXPECT_EQ(keysOf(values), freshKeys);
        EXPECT_EQ(text.find("=''"), std::string::npos) << "an attribute of the refused document is still there";
        EXPECT_LT(text.size(), 64'000u);
    };
    const struct {
        const char* name;
        std::string bytes;
        std::function<void(const Dictionary&, const std::string&)> expect;
    } cases[] = {
        {"a 5 MB comment", commented(5'000'000), expectKept},
        {"16 MB of attributes", tarpelix::testing::plist::manyAttributes(PropertyList::maximumSize), expectReplaced},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory home;
        const fs::path config = home.file("config"), data = home.file("data");
        fs::create_directories(defaultsFile(config).parent_path());
        std::ofstream(defaultsFile(config), std::ios::binary) << c.bytes;
        const auto run = launch(config, data, [&] { return setupRecorded(config); });
        expectStartedAndQuit(run);
        const auto values = readDefaults(config);
        EXPECT_TRUE(values) << "no defaults file that reads back";
        if (values) c.expect(*values, tarpelix::testing::readFile(defaultsFile(config)));
    }
}
