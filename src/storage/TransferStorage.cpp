#include "storage/TransferStorage.h"

#include "platform/foundation/Files.h"
#include "storage/RecordChecks.h"
#include "storage/RetainedImageName.h"

#include <algorithm>
#include <sys/stat.h>

namespace tarpelix {

namespace files = platform::files;


std::shared_ptr<TransferStorage> TransferStorage::create(Options options) {
    std::shared_ptr<TransferStorage> storage(new TransferStorage(std::move(options)));
    // A store that failed to open is retried once the service can be referred to weakly.
    if (!storage->store_) storage->scheduleRetry();
    return storage;
}

std::shared_ptr<TransferStorage> TransferStorage::create() { return create(Options{}); }

TransferStorage::TransferStorage(Options options)
    : queue_(platform::DispatchQueue::create("com.tarpelix.transfer-storage-service")),
      root_(std::move(options.root)),
      clock_(std::move(options.clock)),
      policy_(options.policy),
      scheduleMaintenance_(options.scheduleMaintenance),
      fileOperation_(std::move(options.fileOperation)),
      timeZone_(std::move(options.timeZone)),
      firstRetryDelay_(options.retryDelaySeconds),
      retryMaximumDelay_(options.retryMaximumDelaySeconds),
      retryDelay_(firstRetryDelay_) {
    // Not yet shared: the open runs on the constructing thread.
    try {
        store_ = openStore();
    } catch (...) {
        rememberFailure(std::current_exception());
    }
}

TransferStorage::~TransferStorage() = default;

std::shared_ptr<TransferStore> TransferStorage::openStore() {
    auto protectedSet = busySet();
    if (attemptDirty_ && latestAttempt_) protectedSet.insert(latestAttempt_->id);
    TransferStore::Options options;
    options.root = root_;
    options.clock = clock_;
    options.policy = policy_;
    options.scheduleMaintenance = scheduleMaintenance_;
    options.fileOperation = fileOperation_;
    options.initiallyActiveOperations = protectedSet;
    options.timeZone = timeZone_;
    return TransferStore::open(options);
}

void TransferStorage::rememberFailure(std::exception_ptr error) {
    warning_ = storageErrorFrom(error);
    if (*warning_ == StorageError::databaseFailure || *warning_ == StorageError::unavailable) store_.reset();
    // Memory-only, or the store stays open but left records or the attempt unwritten (an image
    // that could not be written): the same retry writes them back.
    if (!retryTimer_ && (!store_ || hasUnwritten())) {
        retryDelay_ = firstRetryDelay_;
        scheduleRetry();
    }
}

// A one-shot retry on the service's own queue, never on a paste's path. Without a weak
// reference (still inside the constructor) `create` schedules it instead.
void TransferStorage::scheduleRetry() {
    std::weak_ptr<TransferStorage> weak = weak_from_this();
    if (weak.expired()) return;
    retryTimer_ = platform::DispatchTimer::create(
        queue_, retryMaximumDelay_,
        [weak] {
            if (auto self = weak.lock()) self->retryOnTimer();
        },
        retryDelay_);
}

void TransferStorage::retryOnTimer() {
    if (writeBackEverything()) return; // it stopped the timer
    if (store_ && !hasUnwritten()) {
        retryTimer_.reset();
        return;
    }
    retryDelay_ = std::min(retryDelay_ * 2, retryMaximumDelay_);
    scheduleRetry(); // replaces this timer
}

TransferStorage::Identifiers TransferStorage::busySet() const {
    auto busy = active_;
    busy.insert(activeAttempts_.begin(), activeAttempts_.end());
    return busy;
}

void TransferStorage::pushBusySet() {
    if (store_) store_->setActiveOperations(busySet());
}


void TransferStorage::trimPersistedCache() {
    auto keep = busySet();
    keep.insert(dirty_.begin(), dirty_.end());
    if (latestAttempt_) keep.insert(latestAttempt_->id);
    if (currentImage_) keep.insert(currentImage_->id);
    const TransferRecord* newestConfirmed = nullptr;
    for (const auto& [id, record] : records_) {
        if (record.hasConfirmedUpload() && (!newestConfirmed || isNewer(record, *newestConfirmed))) {
            newestConfirmed = &record;
        }
    }
    if (newestConfirmed) keep.insert(newestConfirmed->id);
    std::erase_if(records_, [&](const auto& entry) { return !keep.count(entry.first); });
}

// MARK: Operations and attempts

void TransferStorage::beginOperation(const platform::Uuid& id) {
    queue_->sync([&] {
        active_.insert(id);
        pushBusySet();
    });
}

void TransferStorage::endOperation(const platform::Uuid& id) {
    queue_->sync([&] {
        active_.erase(id);
        pushBusySet();
        if (readyToClear()) clearNow();
    });
}

void TransferStorage::beginAttempt(const platform::Uuid& id) {
    queue_->async([self = shared_from_this(), id] {
        self->activeAttempts_.insert(id);
        self->pushBusySet();
    });
}

void TransferStorage::endAttempt(const platform::Uuid& id, WarningCompletion completion) {
    queue_->async([self = shared_from_this(), id, completion = std::move(completion)]() mutable {
        self->activeAttempts_.erase(id);
        self->pushBusySet();
        if (self->readyToClear()) {
            try {
                self->clearNow();
            } catch (const StorageError&) {
                // The failed clear is the warning now; the completion carries it.
            }
        }
        deliver(std::move(completion), self->warning_);
    });
}

// MARK: Records

void TransferStorage::rememberWritten(const TransferRecord& result) {
    records_[result.id] = result;
    if (currentImage_ && currentImage_->id == result.id && result.localFilename) currentImage_->memoryOnly = false;
    trimPersistedCache();
}

TransferRecord TransferStorage::create(const TransferRecord& record, const std::optional<platform::Bytes>& pngData) {
    return queue_->sync([&] {
        auto copy = record;
        copy.localFilename.reset();
        copy.updatedAt = clock_();
        records_[copy.id] = copy;
        dirty_.insert(copy.id);
        // The image this one replaces in memory, when its record still waits for it: kept as
        // owed below if this write succeeds, so whichever write reaches that record next tries
        // them together.
        std::optional<CurrentImage> superseded;
        if (pngData) {
            if (currentImage_ && currentImage_->memoryOnly && currentImage_->id != copy.id &&
                dirty_.count(currentImage_->id)) {
                superseded = std::move(currentImage_);
            }
            currentImage_ = CurrentImage{copy.id, *pngData, true};
        }
        auto result = copy;
        bool written = false;
        if (store_) {
            try {
                result = store_->create(copy, pngData);
                dirty_.erase(copy.id);
                written = true;
            } catch (...) {
                rememberFailure(std::current_exception());
            }
        }
        if (written && superseded) owedImages_.insert_or_assign(superseded->id, std::move(superseded->data));
        rememberWritten(result);
        if (written) writeBackLater();
        return result;
    });
}

// Writes a record whose row may or may not exist; the caller handles failures. A new row gets
// the image held in memory for the record, if any: the current image or one owed to it. An
// owed image gets this one write: when the disk refuses the image itself, the row is stored
// without it and the image let go, so no record waits in memory for what the disk may never
// take. Once written, the record owes nothing more.
TransferRecord TransferStorage::writeBack(TransferRecord record) {
    auto stored = store_->record(record.id);
    if (stored) {
        record.localFilename = stored->localFilename;
        auto result = store_->update(record);
        owedImages_.erase(record.id);
        return result;
    }
    record.localFilename.reset();
    if (currentImage_ && currentImage_->id == record.id) return store_->create(record, currentImage_->data);
    auto owed = owedImages_.find(record.id);
    if (owed == owedImages_.end()) return store_->create(record, std::nullopt);
    try {
        auto result = store_->create(record, owed->second);
        owedImages_.erase(owed);
        return result;
    } catch (const StorageError& error) {
        if (!(error == StorageError::imageWriteFailed)) throw; // still owed: the next write tries it
        owedImages_.erase(owed);
        rememberFailure(std::current_exception());
    }
    return store_->create(record, std::nullopt);
}

TransferRecord TransferStorage::update(const TransferRecord& record) {
    return queue_->sync([&] {
        auto copy = record;
        copy.updatedAt = clock_();
        dirty_.insert(copy.id);
        auto result = copy;
        bool written = false;
        if (store_) {
            try {
                result = writeBack(copy);
                dirty_.erase(copy.id);
                written = true;
            } catch (...) {
                rememberFailure(std::current_exception());
            }
        }
        rememberWritten(result);
        if (written) writeBackLater();
        return result;
    });
}

// A create or update whose own write succeeded has whatever else is unwritten written back
// after it has returned, on the service queue: records owed since a full disk never delay the
// paste whose record was just written. What they are written with stays in the service, so a
// retry or update that reaches them first writes them just as fully.
void TransferStorage::writeBackLater() {
    queue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->writeBackAfterSuccess();
    });
}

// Writes back whatever else is unwritten. When the write that scheduled it was the last one
// owed, a retry that had backed off is brought back to its first delay: its write-back then
// finds nothing left and clears the warning.
void TransferStorage::writeBackAfterSuccess() {
    if (!store_) return;
    if (hasUnwritten()) {
        writeBackDirty();
        trimPersistedCache();
    } else if (retryTimer_ && retryDelay_ > firstRetryDelay_) {
        retryDelay_ = firstRetryDelay_;
        scheduleRetry();
    }
}

// MARK: Status, clear, retry

TransferStorage::Status TransferStorage::status() {
    return queue_->sync([&] {
        Status status;
        if (store_) {
            try {
                status.usage = store_->health();
            } catch (...) {
                rememberFailure(std::current_exception());
            }
        }
        if (store_) {
            std::vector<TransferRecord> unsaved;
            for (const auto& id : dirty_) {
                if (auto it = records_.find(id); it != records_.end()) unsaved.push_back(it->second);
            }
            try {
                status.pasteUsage = store_->pasteUsage(unsaved);
            } catch (...) {
                // Not remembered: the figures are simply not shown.
            }
        }
        status.warning = warning_ ? warning_ : (status.usage ? status.usage->lastFailure : std::nullopt);
        status.memoryOnly = !store_;
        status.clearPending = clearPending_;
        return status;
    });
}

TransferStorage::ClearResult TransferStorage::clear() {
    return queue_->sync([&] {
        if (!busySet().empty()) {
            clearPending_ = true;
            return ClearResult::deferred;
        }
        clearNow();
        return ClearResult::cleared;
    });
}

void TransferStorage::clearNow() {
    try {
        if (store_) {
            store_->clear();
        } else {
            clearWithoutStore();
        }
    } catch (...) {
        rememberFailure(std::current_exception());
        throw *warning_;
    }
    records_.clear();
    dirty_.clear();
    currentImage_.reset();
    owedImages_.clear();
    latestAttempt_.reset();
    attemptDirty_ = false;
    warning_.reset();
    clearPending_ = false;
    retryTimer_.reset(); // the clear reopened the store
}

void TransferStorage::removeRegularFile(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) throw std::system_error(errno, std::generic_category(), "lstat");
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) throw StorageError::unavailable;
    if (fileOperation_) fileOperation_(StorageFileOperation::deleteFile, path);
    files::removeEntry(path); // a symbolic link itself, never its target
}

// Without a store the service deletes the image and database files itself, then reopens.
void TransferStorage::clearWithoutStore() {
    if (auto rootStatus = files::statusIfExists(root_)) {
        if (!S_ISDIR(rootStatus->st_mode)) throw StorageError::unavailable;
        auto images = root_ / "images";
        if (auto imagesStatus = files::statusIfExists(images)) {
            if (!S_ISDIR(imagesStatus->st_mode)) throw StorageError::unavailable;
            for (const auto& name : files::directoryEntries(images)) {
                if (isRetainedImageName(name)) removeRegularFile(images / name);
            }
        }
        for (const char* name : {"transfers.sqlite3", "transfers.sqlite3-journal", "transfers.sqlite3-wal",
                                 "transfers.sqlite3-shm"}) {
            try {
                removeRegularFile(root_ / name);
            } catch (const std::system_error& error) {
                if (!files::isMissing(error.code())) throw;
            }
        }
    }
    store_ = openStore();
}

bool TransferStorage::retryStorage() {
    return queue_->sync([&] { return writeBackEverything(); });
}

bool TransferStorage::writeBackEverything() {
    trimPersistedCache();
    try {
        if (!store_) store_ = openStore();
        store_->setActiveOperations(busySet());
    } catch (...) {
        rememberFailure(std::current_exception());
        return false;
    }
    return writeBackDirty();
}

// Writes every unwritten record back, oldest first, then the unwritten attempt. A record that
// fails while the store stays open (its image still cannot be written) stays unwritten and the
// others go on; a failure that closes the store ends the write-back. True when nothing is left
// unwritten: the warning then clears and the retry stops.
bool TransferStorage::writeBackDirty() {
    trimPersistedCache();
    std::erase_if(dirty_, [&](const auto& id) { return !records_.count(id); }); // nothing left to write
    std::erase_if(owedImages_, [&](const auto& owed) { return !dirty_.count(owed.first); });
    std::vector<TransferRecord> pending;
    for (const auto& id : dirty_) pending.push_back(records_.at(id));
    std::stable_sort(pending.begin(), pending.end(),
                     [](const auto& a, const auto& b) { return a.createdAt < b.createdAt; });
    for (const auto& record : pending) {
        if (!store_) break;
        try {
            auto result = writeBack(record);
            records_[result.id] = result;
            if (currentImage_ && currentImage_->id == result.id && result.localFilename) {
                currentImage_->memoryOnly = false;
            }
            dirty_.erase(result.id);
        } catch (...) {
            rememberFailure(std::current_exception());
        }
    }
    if (store_ && attemptDirty_ && latestAttempt_) {
        try {
            store_->saveLatestAttempt(*latestAttempt_);
            attemptDirty_ = false;
        } catch (...) {
            rememberFailure(std::current_exception());
        }
    }
    if (!store_ || hasUnwritten()) return false;
    warning_.reset();
    retryTimer_.reset();
    return true;
}

} // namespace tarpelix
