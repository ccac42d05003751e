// Retained images, the image budget, recovery, health and clearing of the transfer store.
#include "storage/TransferStore.h"

#include "platform/foundation/Files.h"
#include "storage/RecordChecks.h"
#include "storage/RetainedImageName.h"
#include "storage/SQLiteDatabase.h"

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarpelix {

namespace files = platform::files;


namespace {

// The most PNG bytes a paste hands over (the clipboard capture's processing limit): a
// retained file larger than this was never written by a paste, and is never read.
constexpr std::int64_t retainedImageReadLimit = 100'000'000;

} // namespace

// MARK: Files

// The size of a record's retained file, when it is present and is the file the store wrote:
// a file of another size than the record's image is not its image, and counts as absent.
std::optional<std::int64_t> TransferStore::retainedFileSize(const TransferRecord& record) const {
    auto status = files::statusIfExists(images_ / *record.localFilename);
    if (!status || !S_ISREG(status->st_mode)) return std::nullopt;
    if (static_cast<std::int64_t>(status->st_size) != record.imageSize) return std::nullopt;
    return static_cast<std::int64_t>(status->st_size);
}

// Looks at every retained file again: a file changed behind the store's back is seen here.
void TransferStore::measureRetainedFiles() {
    for (const auto& key : referenced_) {
        auto& row = rows_.at(key);
        setRetainedSize(key, row, retainedFileSize(row.record));
    }
}

std::vector<std::filesystem::path> TransferStore::ownedImageFiles() const {
    std::vector<std::filesystem::path> owned;
    for (const auto& name : files::directoryEntries(images_)) {
        if (!isRetainedImageName(name)) continue;
        auto path = images_ / name;
        auto status = files::statusIfExists(path);
        if (status && (S_ISREG(status->st_mode) || S_ISLNK(status->st_mode))) owned.push_back(path);
    }
    return owned;
}

void TransferStore::removeFile(const std::filesystem::path& path) {
    auto status = files::statusIfExists(path);
    if (!status) return;
    if (!S_ISREG(status->st_mode) && !S_ISLNK(status->st_mode)) throw StorageError::unavailable;
    if (fileOperation_) fileOperation_(StorageFileOperation::deleteFile, path);
    try {
        files::removeEntry(path); // a symbolic link itself, never its target
    } catch (const std::system_error& error) {
        if (!files::isMissing(error.code())) throw;
    }
}

std::string TransferStore::writeImage(const platform::Uuid& id, const platform::Bytes& png) {
    auto name = id.uuidString() + ".png";
    auto temporary = images_ / ("." + platform::Uuid::random().uuidString() + ".tmp");
    try {
        if (fileOperation_) fileOperation_(StorageFileOperation::writeImage, temporary);
        files::writeNewFileDurably(temporary, png.data(), png.size(), 0600);
        // Exclusive: a complete file appears under its final name, or nothing does.
        files::renameExclusive(temporary, images_ / name);
    } catch (...) {
        files::removeQuietly(temporary);
        throw StorageError::imageWriteFailed;
    }
    files::syncDirectory(images_);
    return name;
}

bool TransferStore::passesSafeOpen(const TransferRecord& record, platform::Bytes* contents) const {
    if (!record.localFilename || *record.localFilename != record.expectedFilename()) return false;
    constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
    files::FileDescriptor file;
    try {
        auto root = files::openFile(root_, directoryFlags);
        auto images = files::openAt(root.get(), "images", directoryFlags);
        file = files::openAt(images.get(), record.localFilename->c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    } catch (const std::system_error&) {
        return false;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return false;
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 0444) == 0 ||
        status.st_nlink != 1) {
        return false;
    }
    // A file of another size than the record's image, or larger than any paste's, is not the
    // image the store wrote: it counts as missing, and none of it is read.
    if (static_cast<std::int64_t>(status.st_size) != record.imageSize || record.imageSize > retainedImageReadLimit) {
        return false;
    }
    if (!contents) return true;
    // A file that grew or shrank since its size was taken is not that image either.
    auto bytes = files::readAtMost(file.get(), static_cast<std::size_t>(record.imageSize));
    if (!bytes || static_cast<std::int64_t>(bytes->size()) != record.imageSize) return false;
    *contents = std::move(*bytes);
    return true;
}

// MARK: Create

TransferRecord TransferStore::create(const TransferRecord& record, const std::optional<platform::Bytes>& pngData) {
    return performWithRows([&] {
        if (record.localFilename || record.imageSize < 0 ||
            (pngData && static_cast<std::int64_t>(pngData->size()) != record.imageSize)) {
            throw StorageError::invalidRecord;
        }
        auto stored = record;
        stored.updatedAt = clock_();
        checkRecord(stored);
        if (findRow(stored.id)) throw StorageError::invalidRecord;

        std::int64_t size = pngData ? static_cast<std::int64_t>(pngData->size()) : 0;
        bool fits = pngData && size <= policy_.imageByteLimit;
        auto protecting = activeOperations_;
        protecting.insert(stored.id);
        maintainStorage(protecting, fits ? size : 0, false);
        if (fits) fits = retainedBytes_ <= policy_.imageByteLimit - size;

        std::optional<std::filesystem::path> finalFile;
        try {
            transaction([&] {
                if (findRow(stored.id)) throw StorageError::invalidRecord;
                std::optional<std::int64_t> retainedSize;
                if (pngData && fits) {
                    stored.localFilename = writeImage(stored.id, *pngData);
                    finalFile = images_ / *stored.localFilename;
                    retainedSize = size;
                }
                writeRecord(stored, true, retainedSize);
            });
        } catch (...) {
            if (finalFile) files::removeQuietly(*finalFile);
            throw;
        }
        lastFailure_.reset();
        return stored;
    });
}

// MARK: Budget, recovery

// Walks the records that name a retained file, oldest first, and evicts until the budget holds;
// a file found absent loses its reference whatever the budget. Protected records are never touched.
void TransferStore::maintainStorage(const Identifiers& protecting, std::int64_t reservingBytes, bool lookAtFiles) {
    verifyDirectories();
    auto now = clock_();
    try {
        readLatestAttempt(); // only to note an unreadable attempt
    } catch (const StorageError& error) {
        if (!(error == StorageError::invalidRecord)) throw;
    }
    if (lookAtFiles) measureRetainedFiles();
    auto overBudget = [&] { return policy_.imageByteLimit - reservingBytes < retainedBytes_; };
    std::size_t absentLeft = 0;
    for (const auto& key : missing_) absentLeft += !protecting.count(rows_.at(key).record.id);

    // Under the budget with no absent file left to clear, nothing further would change.
    std::optional<RowKey> cursor;
    while (absentLeft > 0 || overBudget()) {
        auto after = cursor ? referenced_.lower_bound(*cursor) : referenced_.end();
        if (after == referenced_.begin()) break;
        auto key = *std::prev(after); // the next newer record
        cursor = key;
        auto& row = rows_.at(key);
        if (protecting.count(row.record.id)) continue;
        if (!row.retainedSize) {
            --absentLeft;
        } else if (!overBudget()) {
            continue;
        }
        auto cleared = row.record;
        removeFile(images_ / *cleared.localFilename);
        setRetainedSize(key, row, std::nullopt); // gone, whatever happens to the row
        cleared.localFilename.reset();
        cleared.updatedAt = now;
        try {
            transaction([&] { writeRecord(cleared, false); });
        } catch (const StorageError& error) {
            // A row whose rewrite would not read back keeps its reference, to a file now absent.
            if (!(error == StorageError::invalidRecord)) throw;
        }
    }
}

void TransferStore::recoverInterruptedWrites() {
    ensureRows();
    std::vector<TransferRecord> records;
    std::set<std::string> referenced;
    for (const auto& [key, row] : rows_) {
        records.push_back(row.record);
        if (row.record.localFilename) referenced.insert(*row.record.localFilename);
    }
    for (const auto& path : ownedImageFiles()) {
        if (!referenced.count(path.filename().string())) removeFile(path);
    }
    transaction([&] {
        for (const auto& record : records) {
            if (activeOperations_.count(record.id)) continue;
            auto recovered = record;
            if (recovered.localFilename && !retainedFileSize(recovered)) recovered.localFilename.reset();
            if (recovered.uploadOutcome == TransferOutcome::pending) {
                bool confirmed = recovered.confirmedRemotePath && !recovered.confirmedRemotePath->empty();
                recovered.uploadOutcome = confirmed ? TransferOutcome::succeeded : TransferOutcome::interrupted;
            }
            if (recovered.insertionOutcome == TransferOutcome::pending) {
                recovered.insertionOutcome = TransferOutcome::interrupted;
            }
            if (recovered == record) continue;
            recovered.updatedAt = clock_();
            try {
                writeRecord(recovered, false);
            } catch (const StorageError& error) {
                // A record whose rewrite would not read back is left as stored.
                if (!(error == StorageError::invalidRecord)) throw;
            }
        }
    });
}

// MARK: Reads, health, maintenance, clear

std::optional<TransferRecord> TransferStore::latestRetainedImage() {
    return performWithRows([&]() -> std::optional<TransferRecord> {
        for (const auto& key : referenced_) {
            const auto& record = rows_.at(key).record;
            if (passesSafeOpen(record, nullptr)) return record;
        }
        return std::nullopt;
    });
}

std::optional<platform::Bytes> TransferStore::readRetainedImage(const platform::Uuid& id) {
    return performWithRows([&]() -> std::optional<platform::Bytes> {
        auto record = readRecord(id);
        if (!record || record->id != id) return std::nullopt;
        platform::Bytes bytes;
        if (!passesSafeOpen(*record, &bytes)) return std::nullopt;
        return bytes;
    });
}

StorageHealth TransferStore::health() {
    return performWithRows([&] {
        // The files as the store last saw them: at open, at a full maintenance run, or as it wrote them.
        StorageHealth health;
        health.recordCount = static_cast<std::int64_t>(rows_.size());
        health.imageCount = static_cast<std::int64_t>(referenced_.size() - missing_.size());
        health.imageBytes = retainedBytes_;
        auto status = files::statusIfExists(databaseFile_);
        health.databaseBytes = status ? static_cast<std::int64_t>(status->st_size) : 0;
        health.lastFailure = lastFailure_ ? lastFailure_ : latestAttemptFailure_;
        return health;
    });
}

void TransferStore::maintain(const Identifiers& protecting) {
    performWithRows([&] {
        auto all = protecting;
        all.insert(activeOperations_.begin(), activeOperations_.end());
        maintainStorage(all, 0, true);
        lastFailure_.reset();
    });
}

void TransferStore::clear() {
    perform([&] {
        if (!activeOperations_.empty()) throw StorageError::busy;
        // Files before rows: a failure below leaves references that maintenance clears.
        for (const auto& path : ownedImageFiles()) removeFile(path);
        // Not through the row cache: a clear needs no row to be readable.
        std::int64_t version = 0;
        database_->transaction([&] {
            version = dataVersion(); // no other connection can commit until this one has
            database_->execute("DELETE FROM transfers");
            database_->execute("DELETE FROM latest_attempt");
            database_->execute("DELETE FROM paste_usage");
            database_->execute("DELETE FROM counted_pastes");
        });
        rows_.clear();
        rowKeys_.clear();
        referenced_.clear();
        missing_.clear();
        retainedBytes_ = 0;
        dataVersion_ = version;
        rowsLoaded_ = true;
        latestAttemptFailure_.reset();
        usageFailure_.reset();
        lastFailure_.reset();
    });
}

} // namespace tarpelix
