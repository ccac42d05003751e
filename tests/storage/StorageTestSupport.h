#pragma once

#include "model/PasteAttempt.h"
#include "model/TransferRecord.h"
#include "platform/foundation/Bytes.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <optional>
#include <set>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarpelix::testing {

// A private temporary directory, removed with everything in it (modes restored first).
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarpelix-storage-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, error);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     error);
        std::filesystem::remove_all(path_, error);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::set<std::string> namesIn(const std::filesystem::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) names.insert(entry.path().filename());
    return names;
}

inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

inline std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The error a call throws, or nothing when it returns.
template <typename Error, typename Call>
std::optional<Error> errorOf(Call&& call) {
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

// Runs statements directly on a database file, as another program would.
inline void runSQL(const std::filesystem::path& file, const std::string& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The first column of every row a query returns.
inline std::vector<std::string> queryColumn(const std::filesystem::path& file, const std::string& query) {
    std::vector<std::string> values;
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            auto* text = sqlite3_column_text(statement, 0);
            values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return values;
}

inline std::string querySingle(const std::filesystem::path& file, const std::string& query) {
    auto values = queryColumn(file, query);
    return values.empty() ? std::string() : values.front();
}

// An SQL string literal of `text`, copied a run between quotes at a time: tests quote payloads
// of megabytes, and a character at a time takes seconds under the sanitizers.
inline std::string sqlQuoted(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (std::size_t start = 0;;) {
        const auto quote = text.find('\'', start);
        if (quote == std::string::npos) {
            out.append(text, start);
            break;
        }
        out.append(text, start, quote + 1 - start) += '\''; // a quote is written twice
        start = quote + 1;
    }
    out += '\'';
    return out;
}

// A transfers row written behind the store's back.
inline std::string insertRow(const TransferRecord& record, const std::string& payload) {
    return "INSERT INTO transfers(id, created_at, payload) VALUES(" + sqlQuoted(record.id.uuidString()) + ", " +
           std::to_string(record.createdAt.unixSeconds()) + ", CAST(" + sqlQuoted(payload) + " AS BLOB));";
}
inline std::string insertRow(const TransferRecord& record) { return insertRow(record, record.json()); }

// A file hook the test may replace while worker threads call it.
template <typename Operation>
class GuardedHook {
public:
    using Function = std::function<void(Operation, const std::filesystem::path&)>;
    void set(Function function) {
        std::lock_guard lock(mutex_);
        function_ = std::move(function);
    }
    void operator()(Operation operation, const std::filesystem::path& path) const {
        Function current;
        {
            std::lock_guard lock(mutex_);
            current = function_;
        }
        if (current) current(operation, path);
    }

private:
    mutable std::mutex mutex_;
    Function function_;
};

// Once armed, holds the next thread that passes until the test releases it.
class Gate {
public:
    void arm() {
        std::lock_guard lock(mutex_);
        armed_ = true;
    }
    void pass() {
        std::unique_lock lock(mutex_);
        if (!armed_) return;
        armed_ = false;
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    bool awaitHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return held_; });
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            armed_ = false;
            released_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false, held_ = false, released_ = false;
};

// Runs this test program again as a child with one more environment variable and a filter.
struct SelfRun {
    SelfRun(const std::string& variable, const std::string& filter)
        : self(std::filesystem::read_symlink("/proc/self/exe")), filterArgument("--gtest_filter=" + filter),
          setting(variable) {
        for (char** entry = environ; *entry; ++entry) environment.push_back(*entry);
        environment.push_back(setting.data());
        environment.push_back(nullptr);
        arguments = {self.data(), filterArgument.data(), nullptr};
    }
    SelfRun(const SelfRun&) = delete; // the argument vectors point into the members
    std::string self, filterArgument, setting;
    std::vector<char*> environment, arguments;
};

// Deterministic bytes standing in for a PNG of a record.
inline platform::Bytes pngBytes(std::size_t size, std::uint8_t seed = 1) {
    platform::Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return bytes;
}

inline TransferRecord makeRecord(double createdAt, std::int64_t imageSize = 0,
                                 std::optional<platform::Uuid> id = std::nullopt) {
    TransferRecord record;
    if (id) record.id = *id;
    record.createdAt = platform::Date{createdAt};
    record.updatedAt = record.createdAt;
    record.terminal = "com.mitchellh.ghostty";
    record.transport = "ssh";
    record.destinationIdentity = "me@example.org:22";
    record.imageSize = imageSize;
    return record;
}

inline PasteAttempt attemptFor(const platform::Uuid& id, double createdAt, double updatedAt,
                               PasteFeedback::Stage stage = PasteFeedback::Stage::preparing,
                               std::optional<PasteFeedback::Outcome> outcome = std::nullopt) {
    PasteFeedback feedback;
    feedback.operationID = id;
    feedback.stage = stage;
    if (outcome) feedback.finish(*outcome, std::nullopt, false);
    return PasteAttempt(feedback, platform::Date{createdAt}, platform::Date{updatedAt}, "ghostty", "ssh");
}

// 2026-01-05 22:30 UTC, which is 23:30 in Berlin.
inline const double lateEvening = platform::Date::fromUnixSeconds(1767652200).secondsSinceReferenceDate;

// A record that counts as a successful paste.
inline TransferRecord succeeded(TransferRecord record, const std::string& identity = "me@example.org") {
    record.destinationIdentity = identity;
    record.confirmedRemotePath = "/home/me/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
    record.uploadOutcome = TransferOutcome::succeeded;
    record.insertionOutcome = TransferOutcome::succeeded;
    return record;
}

} // namespace tarpelix::testing
