#pragma once

#include "model/PasteAttempt.h"
#include "model/TransferRecord.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTimer.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Calendar.h"
#include "platform/foundation/Date.h"
#include "storage/PasteUsage.h"
#include "storage/StorageError.h"
#include "storage/StorageFileOperation.h"
#include "storage/StorageHealth.h"
#include "storage/StoragePolicy.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarpelix {

class SQLiteDatabase;

// The persistent half of transfer storage: one SQLite database ("transfers.sqlite3") and one
// directory of retained PNG files ("images") under the storage root. Every operation runs
// synchronously on the store's own serial queue and reports failures as StorageError; the
// caller must not be on that queue.
//
// The transfers rows are kept decoded in memory, with what is known of each retained file, so
// a paste's create and updates cost the same whatever the history holds. The rows are read at
// open and read again whenever another connection has written the database; retained files are
// looked at again at open and by every full maintenance run (hourly, or when asked).
class TransferStore : public std::enable_shared_from_this<TransferStore> {
public:
    using Clock = std::function<platform::Date()>;
    using Identifiers = std::set<platform::Uuid>;

    struct Options {
        std::filesystem::path root = defaultRoot();
        Clock clock = platform::Date::now;
        StoragePolicy policy{};
        bool scheduleMaintenance = true;
        StorageFileHook fileOperation;
        Identifiers initiallyActiveOperations;
        // The time zone whose calendar days the usage statistics count.
        std::function<platform::TimeZone()> timeZone = platform::TimeZone::current;
        // The maintenance timer's period (hourly; tests shorten it).
        double maintenanceIntervalSeconds = 3600;
    };

    // The Application Support directory with "Tarpelix" appended; creates nothing.
    static std::filesystem::path defaultRoot();

    // Opens (creating and migrating as needed) or throws StorageError.
    static std::shared_ptr<TransferStore> open(Options options);
    ~TransferStore();
    TransferStore(const TransferStore&) = delete;
    TransferStore& operator=(const TransferStore&) = delete;

    TransferRecord create(const TransferRecord& record, const std::optional<platform::Bytes>& pngData);
    TransferRecord update(const TransferRecord& record);
    std::optional<TransferRecord> record(const platform::Uuid& id);
    std::optional<TransferRecord> latestConfirmedUpload();
    void saveLatestAttempt(const PasteAttempt& attempt);
    std::optional<PasteAttempt> latestAttempt();
    PasteUsage pasteUsage(const std::vector<TransferRecord>& adding = {});
    StorageHealth health();
    std::optional<TransferRecord> latestRetainedImage();
    std::optional<platform::Bytes> readRetainedImage(const platform::Uuid& id);
    void maintain(const Identifiers& protecting);
    void clear();
    void setActiveOperations(Identifiers identifiers);

    const std::filesystem::path& root() const { return root_; }

private:
    explicit TransferStore(Options options);

    template <typename Body>
    auto perform(Body&& body) -> decltype(body());
    // perform, with the rows brought up to date with the database first.
    template <typename Body>
    auto performWithRows(Body&& body) -> decltype(body());

    // Opening.
    void openFiles();
    void migrate(std::int64_t version);
    void backfillUsage();
    void reconcileLatestAttemptAtOpen();
    void startMaintenanceTimer(double interval);
    void runTimedMaintenance();

    // Directories and files.
    void verifyDirectories() const;
    static void makePrivateDirectory(const std::filesystem::path& directory);
    std::optional<std::int64_t> retainedFileSize(const TransferRecord& record) const;
    void measureRetainedFiles();
    std::vector<std::filesystem::path> ownedImageFiles() const;
    void removeFile(const std::filesystem::path& path);
    std::string writeImage(const platform::Uuid& id, const platform::Bytes& png);
    bool passesSafeOpen(const TransferRecord& record, platform::Bytes* contents) const;

    // Rows. The cache mirrors the transfers table: keyed and ordered by the row's own created_at
    // and id columns, newest first, as the all-records statement orders them.
    using RowKey = std::pair<double, std::string>;
    struct NewestFirst {
        bool operator()(const RowKey& a, const RowKey& b) const {
            return a.first != b.first ? a.first > b.first : a.second > b.second;
        }
    };
    struct Row {
        TransferRecord record;
        std::optional<std::int64_t> retainedSize; // the retained file's size when last seen present
    };
    struct RowWrite {
        RowKey key;
        Row row;
        bool inserting;
    };

    void ensureRows();
    void loadRows();
    std::int64_t dataVersion();
    void transaction(const std::function<void()>& body);
    void putRow(const RowKey& key, Row row);
    void eraseRow(const RowKey& key);
    void setRetainedSize(const RowKey& key, Row& row, std::optional<std::int64_t> size);
    const Row* findRow(const platform::Uuid& id) const;
    std::optional<TransferRecord> readRecord(const platform::Uuid& id);
    void writeRecord(const TransferRecord& record, bool inserting, std::optional<std::int64_t> retainedSize = {});
    std::optional<PasteAttempt> readLatestAttempt();
    void writeLatestAttempt(const PasteAttempt& attempt);
    std::optional<PasteUsageLedger> readLedger();
    bool isCounted(const platform::Uuid& id);
    void recordUsage(const TransferRecord& record);

    // Images and maintenance.
    // With `lookAtFiles`, every retained file is measured again first (open, hourly, asked for);
    // otherwise the sizes the store knows are used.
    void maintainStorage(const Identifiers& protecting, std::int64_t reservingBytes, bool lookAtFiles);
    void recoverInterruptedWrites();

    std::shared_ptr<platform::DispatchQueue> worker_;
    std::filesystem::path root_;
    std::filesystem::path images_;
    std::filesystem::path databaseFile_;
    Clock clock_;
    StoragePolicy policy_;
    StorageFileHook fileOperation_;
    std::function<platform::TimeZone()> timeZone_;
    Identifiers activeOperations_;
    std::shared_ptr<platform::DispatchTimer> maintenanceTimer_;
    std::unique_ptr<SQLiteDatabase> database_;
    std::optional<StorageError> lastFailure_;
    std::optional<StorageError> latestAttemptFailure_;
    std::optional<StorageError> usageFailure_;

    std::map<RowKey, Row, NewestFirst> rows_;
    std::unordered_map<std::string, RowKey> rowKeys_; // id column → key
    std::set<RowKey, NewestFirst> referenced_;         // rows with a local file name
    std::set<RowKey, NewestFirst> missing_;            // … whose file was absent when last looked at
    std::int64_t retainedBytes_ = 0;                   // sum of the present retained files' sizes
    bool rowsLoaded_ = false;
    std::int64_t dataVersion_ = 0;
    std::vector<RowWrite> pendingWrites_; // applied to the rows when their transaction commits
};

// Every public operation: on the worker, directories verified first; any failure is recorded
// as the last failure and thrown as a StorageError.
template <typename Body>
auto TransferStore::perform(Body&& body) -> decltype(body()) {
    return worker_->sync([&]() -> decltype(body()) {
        try {
            verifyDirectories();
            return body();
        } catch (...) {
            auto error = storageErrorFrom(std::current_exception());
            lastFailure_ = error;
            throw error;
        }
    });
}

template <typename Body>
auto TransferStore::performWithRows(Body&& body) -> decltype(body()) {
    return perform([&]() -> decltype(body()) {
        ensureRows();
        return body();
    });
}

} // namespace tarpelix
