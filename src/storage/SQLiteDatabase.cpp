#include "storage/SQLiteDatabase.h"

#include "storage/StorageError.h"

#include <sqlite3.h>

namespace tarpelix {

SQLiteStatement::SQLiteStatement(sqlite3* database, std::string_view sql) {
    if (sqlite3_prepare_v2(database, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK ||
        !statement_) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
        throw StorageError::databaseFailure;
    }
}

SQLiteStatement::~SQLiteStatement() { sqlite3_finalize(statement_); }

SQLiteStatement& SQLiteStatement::bind(int index, std::string_view text) {
    if (sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK) {
        throw StorageError::databaseFailure;
    }
    return *this;
}

SQLiteStatement& SQLiteStatement::bind(int index, double number) {
    if (sqlite3_bind_double(statement_, index, number) != SQLITE_OK) throw StorageError::databaseFailure;
    return *this;
}

SQLiteStatement& SQLiteStatement::bindBlob(int index, std::string_view bytes) {
    if (sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT) != SQLITE_OK) {
        throw StorageError::databaseFailure;
    }
    return *this;
}

bool SQLiteStatement::step() {
    switch (sqlite3_step(statement_)) {
    case SQLITE_ROW: return true;
    case SQLITE_DONE: return false;
    default: throw StorageError::databaseFailure;
    }
}

void SQLiteStatement::run() {
    if (step()) throw StorageError::databaseFailure;
}

std::optional<std::string> SQLiteStatement::blob(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    if (!bytes || size <= 0) return std::nullopt;
    return std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

std::int64_t SQLiteStatement::int64(int column) const { return sqlite3_column_int64(statement_, column); }

double SQLiteStatement::real(int column) const { return sqlite3_column_double(statement_, column); }

std::string SQLiteStatement::text(int column) const {
    const unsigned char* characters = sqlite3_column_text(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    if (!characters || size <= 0) return {};
    return std::string(reinterpret_cast<const char*>(characters), static_cast<std::size_t>(size));
}

SQLiteDatabase::SQLiteDatabase(const std::filesystem::path& file) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
    if (sqlite3_open_v2(file.c_str(), &handle_, flags, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(handle_);
        handle_ = nullptr;
        throw StorageError::unavailable;
    }
    sqlite3_busy_timeout(handle_, 500);
}

SQLiteDatabase::~SQLiteDatabase() { sqlite3_close_v2(handle_); }

void SQLiteDatabase::execute(const char* sql) {
    if (sqlite3_exec(handle_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw StorageError::databaseFailure;
}

void SQLiteDatabase::executeQuietly(const char* sql) noexcept { sqlite3_exec(handle_, sql, nullptr, nullptr, nullptr); }

std::int64_t SQLiteDatabase::userVersion() {
    auto statement = prepare("PRAGMA user_version");
    if (!statement.step()) throw StorageError::databaseFailure;
    return statement.int64(0);
}

} // namespace tarpelix
