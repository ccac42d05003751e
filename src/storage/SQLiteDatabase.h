#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

struct sqlite3;
struct sqlite3_stmt;

namespace tarpelix {

// One prepared statement, finalized when released. Every failure to bind or step throws
// StorageError::databaseFailure.
class SQLiteStatement {
public:
    SQLiteStatement(sqlite3* database, std::string_view sql);
    ~SQLiteStatement();
    SQLiteStatement(const SQLiteStatement&) = delete;
    SQLiteStatement& operator=(const SQLiteStatement&) = delete;

    SQLiteStatement& bind(int index, std::string_view text);
    SQLiteStatement& bind(int index, double number);
    SQLiteStatement& bindBlob(int index, std::string_view bytes);

    // Steps once: true for a row, false for done; anything else throws.
    bool step();
    // Steps and requires done.
    void run();

    // Column 0 as a blob; none when NULL or empty.
    std::optional<std::string> blob(int column) const;
    std::int64_t int64(int column) const;
    double real(int column) const;
    std::string text(int column) const;

private:
    sqlite3_stmt* statement_ = nullptr;
};

// One connection, opened read-write and full-mutex on an existing file without following a
// final symbolic link; closed when released.
class SQLiteDatabase {
public:
    // Throws StorageError::unavailable when the connection cannot be opened.
    explicit SQLiteDatabase(const std::filesystem::path& file);
    ~SQLiteDatabase();
    SQLiteDatabase(const SQLiteDatabase&) = delete;
    SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

    SQLiteStatement prepare(std::string_view sql) { return SQLiteStatement(handle_, sql); }
    // Runs statements without preparation; a non-zero result throws databaseFailure.
    void execute(const char* sql);
    // Runs and ignores the result (for ROLLBACK after a failure).
    void executeQuietly(const char* sql) noexcept;

    // Runs the body inside "BEGIN IMMEDIATE" … "COMMIT"; on a failure of the body or of the
    // commit, "ROLLBACK" runs and the body's error (or databaseFailure) is thrown.
    template <typename Body>
    auto transaction(Body&& body) -> decltype(body()) {
        execute("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(body())>) {
                body();
                execute("COMMIT");
            } else {
                auto result = body();
                execute("COMMIT");
                return result;
            }
        } catch (...) {
            executeQuietly("ROLLBACK");
            throw;
        }
    }

    std::int64_t userVersion();

private:
    sqlite3* handle_ = nullptr;
};

} // namespace tarpelix
