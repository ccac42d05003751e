#include "storage/TransferStore.h"

#include "platform/foundation/Files.h"
#include "platform/foundation/JsonReader.h"
#include "platform/foundation/LinuxProfile.h"
#include "storage/RecordChecks.h"
#include "storage/SQLiteDatabase.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix {

namespace files = platform::files;

namespace {
constexpr std::int64_t currentSchemaVersion = 3;

std::string idText(const platform::Uuid& id) { return id.uuidString(); }

// The payload column as a statement's result, or NULL when it is not a blob of at most `limit`
// bytes. The cases run in order, and typeof() and length() of a blob read no content, so an
// oversized or foreign payload is never loaded.
std::string boundedPayload(const platform::json::Limits& limit) {
    return "CASE WHEN typeof(payload) <> 'blob' THEN NULL WHEN length(payload) > " + std::to_string(limit.bytes) +
           " THEN NULL ELSE payload END";
}

// A payload as it is written: one longer than its table's read limit would not read back (the
// row would be damaged), so it is refused and the stored row stays as it was.
std::string payloadWithin(std::string payload, const platform::json::Limits& limit) {
    if (payload.size() > limit.bytes) throw StorageError::invalidRecord;
    return payload;
}

// A transfers row as a checked record; a bad row is a database failure. The payload must be the
// record of the row's own id: one that names another record would otherwise replace it.
TransferRecord decodeRecordRow(const std::string& idType, const std::string& id,
                               const std::optional<std::string>& payload) {
    if (!payload || idType != "text") throw StorageError::databaseFailure;
    TransferRecord record;
    try {
        record = TransferRecord::fromJson(platform::json::parse(*payload, recordPayloadLimit));
        if (record.id.uuidString() != id) throw StorageError::databaseFailure;
        // A path this record's upload could not have confirmed is never offered: the record is
        // read without it.
        if (!hasAcceptableRemotePath(record)) record.confirmedRemotePath.reset();
        checkRecord(record);
    } catch (const platform::JsonDecodingError&) {
        throw StorageError::databaseFailure;
    } catch (const StorageError&) {
        throw StorageError::databaseFailure;
    }
    return record;
}
} // namespace

std::filesystem::path TransferStore::defaultRoot() {
    return std::filesystem::path(platform::LinuxProfile::applicationSupportDirectory()) / "Tarpelix";
}

TransferStore::TransferStore(Options options)
    : worker_(platform::DispatchQueue::create("com.tarpelix.transfer-storage")),
      root_(std::move(options.root)),
      images_(root_ / "images"),
      databaseFile_(root_ / "transfers.sqlite3"),
      clock_(std::move(options.clock)),
      policy_(options.policy),
      fileOperation_(std::move(options.fileOperation)),
      timeZone_(std::move(options.timeZone)),
      activeOperations_(std::move(options.initiallyActiveOperations)) {}

std::shared_ptr<TransferStore> TransferStore::open(Options options) {
    bool schedule = options.scheduleMaintenance;
    double interval = options.maintenanceIntervalSeconds;
    std::shared_ptr<TransferStore> store(new TransferStore(std::move(options)));
    try {
        store->openFiles();
    } catch (...) {
        auto error = storageErrorFrom(std::current_exception());
        store->database_.reset();
        throw error;
    }
    if (schedule) store->startMaintenanceTimer(interval);
    return store;
}

TransferStore::~TransferStore() {
    // May run on the worker itself (the timer's strong reference was the last one): nothing
    // here waits for the worker.
    if (maintenanceTimer_) maintenanceTimer_->cancel();
    database_.reset();
}

// MARK: Opening

void TransferStore::openFiles() {
    if (policy_.imageByteLimit < 0) throw StorageError::invalidRecord;
    makePrivateDirectory(root_);
    makePrivateDirectory(images_);

    auto status = files::statusIfExists(databaseFile_);
    if (status && !S_ISREG(status->st_mode)) throw StorageError::unavailable;
    if (!status) {
        try {
            files::openFile(databaseFile_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600).closeChecked();
        } catch (const std::system_error&) {
            throw StorageError::unavailable;
        }
    }
    status = files::statusIfExists(databaseFile_);
    if (!status || !S_ISREG(status->st_mode)) throw StorageError::unavailable;
    if (::chmod(databaseFile_.c_str(), 0600) != 0) throw StorageError::unavailable;

    database_ = std::make_unique<SQLiteDatabase>(databaseFile_);
    // Read before anything that could change the file: a newer schema is left untouched.
    auto version = database_->userVersion();
    if (version > currentSchemaVersion || version < 0) throw StorageError::unsupportedSchema;
    database_->execute("PRAGMA journal_mode=DELETE");
    database_->execute("PRAGMA synchronous=FULL");
    migrate(version);
    backfillUsage();
    recoverInterruptedWrites();
    reconcileLatestAttemptAtOpen();
    maintainStorage(activeOperations_, 0, false); // the files were measured as the rows were read
}

void TransferStore::migrate(std::int64_t version) {
    if (version <= 0) {
        database_->transaction([&] {
            database_->execute(
                "CREATE TABLE transfers (id TEXT PRIMARY KEY NOT NULL, created_at REAL NOT NULL, payload BLOB NOT NULL)");
            database_->execute("CREATE INDEX transfers_created ON transfers(created_at DESC)");
            database_->execute("PRAGMA user_version=1");
        });
    }
    if (version <= 1) {
        database_->transaction([&] {
            database_->execute("CREATE TABLE IF NOT EXISTS latest_attempt (slot INTEGER PRIMARY KEY CHECK(slot = 1), "
                               "payload BLOB NOT NULL)");
            database_->execute("PRAGMA user_version=2");
        });
    }
    if (version <= 2) {
        database_->transaction([&] {
            database_->execute("CREATE TABLE IF NOT EXISTS paste_usage (slot INTEGER PRIMARY KEY CHECK(slot = 1), "
                               "payload BLOB NOT NULL)");
            database_->execute("CREATE TABLE IF NOT EXISTS counted_pastes (id TEXT PRIMARY KEY NOT NULL)");
            database_->execute("PRAGMA user_version=3");
        });
    }
}

void TransferStore::backfillUsage() {
    try {
        transaction([&] {
            for (const auto& [key, row] : rows_) recordUsage(row.record);
        });
    } catch (const StorageError& error) {
        usageFailure_ = error;
    } catch (...) {
        usageFailure_ = StorageError::databaseFailure;
    }
}

void TransferStore::reconcileLatestAttemptAtOpen() {
    try {
        auto stored = readLatestAttempt();
        if (!stored || activeOperations_.count(stored->id)) return;
        auto record = readRecord(stored->id);
        auto reconciled = stored->reconciled(record, true, clock_());
        if (!(reconciled == *stored)) transaction([&] { writeLatestAttempt(reconciled); });
    } catch (const StorageError& error) {
        if (!(error == StorageError::invalidRecord)) throw;
        latestAttemptFailure_ = StorageError::invalidRecord;
    }
}

void TransferStore::startMaintenanceTimer(double interval) {
    std::weak_ptr<TransferStore> weak = weak_from_this();
    maintenanceTimer_ = platform::DispatchTimer::create(
        worker_, interval,
        [weak] {
            // The strong reference may be the last one: then the store is released here, on
            // its own worker, once the run has finished.
            if (auto self = weak.lock()) self->runTimedMaintenance();
        },
        interval);
}

void TransferStore::runTimedMaintenance() {
    try {
        ensureRows();
        maintainStorage(activeOperations_, 0, true);
        lastFailure_.reset();
    } catch (...) {
        lastFailure_ = storageErrorFrom(std::current_exception());
    }
}

// MARK: Directories

void TransferStore::verifyDirectories() const {
    for (const auto& directory : {root_, images_}) {
        auto status = files::statusIfExists(directory);
        if (!status || !S_ISDIR(status->st_mode)) throw StorageError::unavailable;
    }
}

void TransferStore::makePrivateDirectory(const std::filesystem::path& directory) {
    auto status = files::statusIfExists(directory);
    if (status && !(S_ISDIR(status->st_mode) && (status->st_mode & S_IWUSR))) throw StorageError::unavailable;
    if (!status) {
        std::filesystem::path partial;
        for (const auto& component : directory) {
            partial /= component;
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) throw StorageError::unavailable;
        }
    }
    status = files::statusIfExists(directory);
    if (!status || !S_ISDIR(status->st_mode)) throw StorageError::unavailable;
    if (::chmod(directory.c_str(), 0700) != 0) throw StorageError::unavailable;
}

// MARK: Rows

std::int64_t TransferStore::dataVersion() {
    auto statement = database_->prepare("PRAGMA data_version");
    if (!statement.step()) throw StorageError::databaseFailure;
    return statement.int64(0);
}

// Reads the rows again when they were never read, a read failed, or another connection has
// committed since: a bad row fails every operation that needs the rows until it is mended.
void TransferStore::ensureRows() {
    auto version = dataVersion();
    if (rowsLoaded_ && version == dataVersion_) return;
    dataVersion_ = version;
    loadRows();
}

void TransferStore::loadRows() {
    rowsLoaded_ = false;
    rows_.clear();
    rowKeys_.clear();
    referenced_.clear();
    missing_.clear();
    retainedBytes_ = 0;
    static const std::string all = "SELECT id, created_at, typeof(id), " + boundedPayload(recordPayloadLimit) +
                                   " FROM transfers ORDER BY created_at DESC, id DESC";
    auto statement = database_->prepare(all);
    while (statement.step()) {
        auto id = statement.text(0);
        putRow({statement.real(1), id}, Row{decodeRecordRow(statement.text(2), id, statement.blob(3)), {}});
    }
    measureRetainedFiles();
    rowsLoaded_ = true;
}

// Runs the body in a write transaction; the rows it wrote enter the cache once it has committed.
void TransferStore::transaction(const std::function<void()>& body) {
    pendingWrites_.clear();
    try {
        database_->transaction([&] {
            ensureRows(); // another connection may have committed since the operation began
            body();
        });
    } catch (...) {
        pendingWrites_.clear();
        throw;
    }
    auto writes = std::move(pendingWrites_);
    pendingWrites_.clear();
    for (auto& write : writes) {
        if (!write.inserting) {
            // An update changes only a row that exists, as the statement does.
            auto existing = rowKeys_.find(write.key.second);
            if (existing == rowKeys_.end()) continue;
            eraseRow(existing->second);
        }
        putRow(write.key, std::move(write.row));
    }
}

void TransferStore::putRow(const RowKey& key, Row row) {
    if (row.record.localFilename) {
        referenced_.insert(key);
        if (row.retainedSize) {
            retainedBytes_ += *row.retainedSize;
        } else {
            missing_.insert(key);
        }
    } else {
        row.retainedSize.reset();
    }
    rowKeys_[key.second] = key;
    rows_.insert_or_assign(key, std::move(row));
}

void TransferStore::eraseRow(const RowKey& key) {
    auto found = rows_.find(key);
    if (found == rows_.end()) return;
    if (found->second.record.localFilename) {
        referenced_.erase(key);
        missing_.erase(key);
        if (found->second.retainedSize) retainedBytes_ -= *found->second.retainedSize;
    }
    rowKeys_.erase(key.second);
    rows_.erase(found);
}

void TransferStore::setRetainedSize(const RowKey& key, Row& row, std::optional<std::int64_t> size) {
    if (!row.record.localFilename) return;
    if (row.retainedSize) retainedBytes_ -= *row.retainedSize;
    row.retainedSize = size;
    if (size) {
        retainedBytes_ += *size;
        missing_.erase(key);
    } else {
        missing_.insert(key);
    }
}

const TransferStore::Row* TransferStore::findRow(const platform::Uuid& id) const {
    auto key = rowKeys_.find(idText(id));
    return key == rowKeys_.end() ? nullptr : &rows_.at(key->second);
}

std::optional<TransferRecord> TransferStore::readRecord(const platform::Uuid& id) {
    if (const auto* row = findRow(id)) return row->record;
    return std::nullopt;
}

void TransferStore::writeRecord(const TransferRecord& record, bool inserting, std::optional<std::int64_t> retainedSize) {
    {
        auto payload = payloadWithin(record.json(), recordPayloadLimit);
        auto statement = database_->prepare(inserting ? "INSERT INTO transfers(id, created_at, payload) VALUES(?, ?, ?)"
                                                      : "UPDATE transfers SET created_at = ?2, payload = ?3 WHERE id = ?1");
        statement.bind(1, idText(record.id)).bind(2, record.createdAt.unixSeconds()).bindBlob(3, payload);
        statement.run();
    }
    // An update keeps what is known of the file it still names.
    if (!inserting && !retainedSize && record.localFilename) {
        if (const auto* old = findRow(record.id); old && old->record.localFilename == record.localFilename) {
            retainedSize = old->retainedSize;
        }
    }
    pendingWrites_.push_back({{record.createdAt.unixSeconds(), idText(record.id)}, Row{record, retainedSize}, inserting});
    if (!PasteUsageLedger::qualifies(record)) return;
    database_->execute("SAVEPOINT update_paste_usage");
    try {
        recordUsage(record);
        database_->execute("RELEASE update_paste_usage");
    } catch (...) {
        auto error = std::current_exception();
        try {
            database_->execute("ROLLBACK TO update_paste_usage");
            database_->execute("RELEASE update_paste_usage");
        } catch (...) {
            throw StorageError::databaseFailure;
        }
        // A failure to count never loses the record row.
        try {
            std::rethrow_exception(error);
        } catch (const StorageError& storageError) {
            usageFailure_ = storageError;
        } catch (...) {
            usageFailure_ = StorageError::databaseFailure;
        }
    }
}

std::optional<PasteAttempt> TransferStore::readLatestAttempt() {
    static const std::string read = "SELECT " + boundedPayload(attemptPayloadLimit) + " FROM latest_attempt WHERE slot = 1";
    auto statement = database_->prepare(read);
    if (!statement.step()) return std::nullopt;
    auto payload = statement.blob(0);
    try {
        if (!payload) throw StorageError::invalidRecord;
        auto attempt = PasteAttempt::fromJson(platform::json::parse(*payload, attemptPayloadLimit));
        checkLatestAttempt(attempt);
        return attempt;
    } catch (const platform::JsonDecodingError&) {
    } catch (const StorageError&) {
    }
    latestAttemptFailure_ = StorageError::invalidRecord;
    throw StorageError::invalidRecord;
}

void TransferStore::writeLatestAttempt(const PasteAttempt& attempt) {
    checkLatestAttempt(attempt);
    auto payload = payloadWithin(attempt.json(), attemptPayloadLimit);
    auto statement = database_->prepare("INSERT OR REPLACE INTO latest_attempt(slot, payload) VALUES(1, ?)");
    statement.bindBlob(1, payload);
    statement.run();
}

std::optional<PasteUsageLedger> TransferStore::readLedger() {
    static const std::string read = "SELECT " + boundedPayload(ledgerPayloadLimit) + " FROM paste_usage WHERE slot = 1";
    auto statement = database_->prepare(read);
    if (!statement.step()) return std::nullopt;
    auto payload = statement.blob(0);
    if (!payload) throw StorageError::databaseFailure;
    try {
        return PasteUsageLedger::fromJson(platform::json::parse(*payload, ledgerPayloadLimit));
    } catch (const platform::JsonDecodingError&) {
        throw StorageError::databaseFailure;
    }
}

bool TransferStore::isCounted(const platform::Uuid& id) {
    auto statement = database_->prepare("SELECT 1 FROM counted_pastes WHERE id = ?");
    statement.bind(1, idText(id));
    return statement.step();
}

void TransferStore::recordUsage(const TransferRecord& record) {
    if (!PasteUsageLedger::qualifies(record) || isCounted(record.id)) return;
    auto ledger = readLedger().value_or(PasteUsageLedger());
    ledger.record(record, timeZone_());
    auto payload = payloadWithin(ledger.json(), ledgerPayloadLimit);
    auto write = database_->prepare("INSERT OR REPLACE INTO paste_usage(slot, payload) VALUES(1, ?)");
    write.bindBlob(1, payload);
    write.run();
    auto count = database_->prepare("INSERT INTO counted_pastes(id) VALUES(?)");
    count.bind(1, idText(record.id));
    count.run();
}

// MARK: Operations

TransferRecord TransferStore::update(const TransferRecord& record) {
    return performWithRows([&] {
        checkRecord(record);
        auto protecting = activeOperations_;
        protecting.insert(record.id);
        maintainStorage(protecting, 0, false);
        transaction([&] {
            auto stored = readRecord(record.id);
            if (!stored || stored->createdAt != record.createdAt || stored->localFilename != record.localFilename ||
                stored->imageSize != record.imageSize) {
                throw StorageError::invalidRecord;
            }
            writeRecord(record, false);
        });
        lastFailure_.reset();
        return record;
    });
}

std::optional<TransferRecord> TransferStore::record(const platform::Uuid& id) {
    return performWithRows([&] { return readRecord(id); });
}

std::optional<TransferRecord> TransferStore::latestConfirmedUpload() {
    return performWithRows([&]() -> std::optional<TransferRecord> {
        for (const auto& [key, row] : rows_) {
            if (row.record.hasConfirmedUpload()) return row.record;
        }
        return std::nullopt;
    });
}

void TransferStore::saveLatestAttempt(const PasteAttempt& attempt) {
    performWithRows([&] {
        auto incoming = attemptKeepingTimeForward(attempt, std::nullopt);
        checkLatestAttempt(incoming);
        transaction([&] {
            std::optional<PasteAttempt> stored;
            try {
                stored = readLatestAttempt();
            } catch (const StorageError& error) {
                if (!(error == StorageError::invalidRecord)) throw;
            }
            incoming = attemptKeepingTimeForward(incoming, stored);
            if (stored && !stored->acceptsUpdate(incoming)) return;
            auto record = readRecord(incoming.id);
            writeLatestAttempt(incoming.reconciled(record, false, incoming.updatedAt));
            latestAttemptFailure_.reset();
        });
        lastFailure_.reset();
    });
}

std::optional<PasteAttempt> TransferStore::latestAttempt() {
    return performWithRows([&]() -> std::optional<PasteAttempt> {
        auto stored = readLatestAttempt();
        if (!stored) return std::nullopt;
        auto record = readRecord(stored->id);
        auto reconciled = stored->reconciled(record, false, stored->updatedAt);
        if (!(reconciled == *stored)) transaction([&] { writeLatestAttempt(reconciled); });
        return reconciled;
    });
}

PasteUsage TransferStore::pasteUsage(const std::vector<TransferRecord>& adding) {
    return perform([&] {
        if (usageFailure_) throw *usageFailure_;
        auto ledger = readLedger().value_or(PasteUsageLedger());
        for (const auto& record : adding) {
            if (PasteUsageLedger::qualifies(record) && !isCounted(record.id)) ledger.record(record, timeZone_());
        }
        return ledger.snapshot();
    });
}

void TransferStore::setActiveOperations(Identifiers identifiers) {
    worker_->sync([&] { activeOperations_ = std::move(identifiers); });
}

} // namespace tarpelix
