#pragma once

#include "model/PasteAttempt.h"
#include "model/TransferRecord.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTimer.h"
#include "platform/foundation/Bytes.h"
#include "storage/PasteUsage.h"
#include "storage/StorageError.h"
#include "storage/StorageFileOperation.h"
#include "storage/StorageHealth.h"
#include "storage/StoragePolicy.h"
#include "storage/TransferStore.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

namespace tarpelix {

// The application's one storage service. It keeps every record still in use or not yet
// written in memory, so a paste never fails because the disk failed; it falls back to a
// memory-only mode with a sticky warning when the store cannot be opened or fails badly;
// it tracks running operations and attempts so the store leaves their records alone, and
// defers a clear requested while they run. While memory-only, or while a failed write (an image
// that could not be written) leaves records unwritten, it tries the store again on its own timer
// (first after a minute, then less and less often, at least hourly); a successful create or
// update also has whatever else is unwritten written back, once it has returned. The warning
// clears once a write-back leaves nothing unwritten. All state lives on the service's serial
// queue, which may wait for the store's queue, never the reverse. Completions run on the main
// queue.
class TransferStorage : public std::enable_shared_from_this<TransferStorage> {
public:
    using Clock = std::function<platform::Date()>;
    using Identifiers = std::set<platform::Uuid>;

    enum class ClearResult { cleared, deferred };

    struct Status {
        bool memoryOnly = false;
        std::optional<StorageError> warning;
        bool clearPending = false;
        std::optional<StorageHealth> usage;
        std::optional<PasteUsage> pasteUsage;
    };

    struct LatestImageSnapshot {
        TransferRecord record;
    };

    struct ConfirmedUploadSnapshot {
        TransferRecord record;
    };

    struct LatestAttemptResult {
        std::optional<PasteAttempt> attempt;
        bool memoryOnly = false;
        std::optional<StorageError> warning;
        std::optional<ConfirmedUploadSnapshot> upload;
        std::optional<LatestImageSnapshot> image;
    };

    struct Options {
        std::filesystem::path root = TransferStore::defaultRoot();
        Clock clock = platform::Date::now;
        StoragePolicy policy{};
        bool scheduleMaintenance = true;
        StorageFileHook fileOperation;
        // Handed to the store (the usage statistics' calendar).
        std::function<platform::TimeZone()> timeZone = platform::TimeZone::current;
        // The wait before the first retry of a memory-only service; it doubles after each failed
        // retry up to the maximum (tests shorten both).
        double retryDelaySeconds = 60;
        double retryMaximumDelaySeconds = 3600;
    };

    using WarningCompletion = std::function<void(std::optional<StorageError>)>;

    // Opens the store on the calling thread; never fails (an open failure leaves it memory-only).
    static std::shared_ptr<TransferStorage> create(Options options);
    static std::shared_ptr<TransferStorage> create(); // the application's defaults
    ~TransferStorage();
    TransferStorage(const TransferStorage&) = delete;
    TransferStorage& operator=(const TransferStorage&) = delete;

    // Synchronous operations: never call them from the service queue.
    void beginOperation(const platform::Uuid& id);
    void endOperation(const platform::Uuid& id); // throws the pending clear's StorageError
    TransferRecord create(const TransferRecord& record, const std::optional<platform::Bytes>& pngData);
    TransferRecord update(const TransferRecord& record);
    Status status();
    ClearResult clear(); // throws StorageError
    bool retryStorage();
    std::optional<platform::Bytes> currentImageData();
    std::optional<TransferRecord> latestConfirmedUpload();
    std::optional<TransferRecord> latestRetainedImage();

    // Asynchronous operations: return at once; completions run once, on the main queue.
    void beginAttempt(const platform::Uuid& id);
    void endAttempt(const platform::Uuid& id, WarningCompletion completion);
    void saveLatestAttempt(const PasteAttempt& attempt, WarningCompletion completion = {});
    void loadLatestAttempt(std::function<void(LatestAttemptResult)> completion);
    void loadLatestImage(std::function<void(std::optional<LatestImageSnapshot>)> completion);
    void loadLatestConfirmedUpload(std::function<void(std::optional<ConfirmedUploadSnapshot>)> completion);
    void readImage(const platform::Uuid& id, std::function<void(std::optional<platform::Bytes>)> completion);

private:
    struct CurrentImage {
        platform::Uuid id;
        platform::Bytes data;
        bool memoryOnly = true;
    };

    explicit TransferStorage(Options options);

    std::shared_ptr<TransferStore> openStore();
    void rememberFailure(std::exception_ptr error);
    bool writeBackEverything();
    bool writeBackDirty();
    void writeBackLater();
    void writeBackAfterSuccess();
    bool hasUnwritten() const { return !dirty_.empty() || (attemptDirty_ && latestAttempt_); }
    void scheduleRetry();
    void retryOnTimer();
    void trimPersistedCache();
    Identifiers busySet() const;
    void pushBusySet();
    bool readyToClear() const { return active_.empty() && activeAttempts_.empty() && clearPending_; }
    void clearNow();
    void clearWithoutStore();
    void removeRegularFile(const std::filesystem::path& path);
    TransferRecord writeBack(TransferRecord record);
    void rememberWritten(const TransferRecord& result);
    std::optional<TransferRecord> memoryImageRecord() const;
    std::optional<LatestImageSnapshot> latestImageSnapshot();
    std::optional<ConfirmedUploadSnapshot> latestConfirmedUploadSnapshot();

    // The newer of two records: the later creation, ties to the greater identifier text.
    static bool isNewer(const TransferRecord& candidate, const TransferRecord& than) {
        if (candidate.createdAt != than.createdAt) return candidate.createdAt > than.createdAt;
        return candidate.id.uuidString() > than.id.uuidString();
    }

    template <typename Value>
    static void deliver(std::function<void(Value)> completion, Value value);

    std::shared_ptr<platform::DispatchQueue> queue_;
    std::filesystem::path root_;
    Clock clock_;
    StoragePolicy policy_;
    bool scheduleMaintenance_;
    StorageFileHook fileOperation_;
    std::function<platform::TimeZone()> timeZone_;
    std::shared_ptr<TransferStore> store_;
    std::unordered_map<platform::Uuid, TransferRecord> records_;
    Identifiers dirty_;
    std::optional<CurrentImage> currentImage_;
    // Images of unwritten records that a newer paste replaced as the current image while the
    // store could take it. Each goes with its record's next write: stored with it, or let go
    // when the disk refuses the image itself, the row then stored without it. It stays only
    // while a failure of another kind leaves its record unwritten, and goes with a clear.
    std::unordered_map<platform::Uuid, platform::Bytes> owedImages_;
    Identifiers active_;
    Identifiers activeAttempts_;
    std::optional<StorageError> warning_;
    bool clearPending_ = false;
    std::optional<PasteAttempt> latestAttempt_;
    bool attemptDirty_ = false;
    double firstRetryDelay_;
    double retryMaximumDelay_;
    double retryDelay_; // the wait before the next retry
    // Set while memory-only, or while records or the attempt are left unwritten.
    std::shared_ptr<platform::DispatchTimer> retryTimer_;
};

// Posts the completion, if any, with the value to the main queue.
template <typename Value>
void TransferStorage::deliver(std::function<void(Value)> completion, Value value) {
    if (!completion) return;
    platform::DispatchQueue::main()->async(
        [completion = std::move(completion), value = std::move(value)]() mutable { completion(std::move(value)); });
}

} // namespace tarpelix
