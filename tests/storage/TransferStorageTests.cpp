#include "storage/TransferStorage.h"

#include "platform/foundation/MainThread.h"
#include "storage/StorageTestSupport.h"
#include "support/DeathTestChild.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;
using Storage = TransferStorage;

namespace {

// Runs an asynchronous load and waits on the main run loop for its one completion.
template <typename Value, typename Start> Value await(Start start) {
    EXPECT_TRUE(platform::isMainThread());
    std::optional<Value> result;
    int calls = 0;
    start([&](Value value) {
        EXPECT_TRUE(platform::isMainThread());
        ++calls;
        result = std::move(value);
    });
    EXPECT_TRUE(runMainUntil([&] { return calls > 0; }));
    return std::move(*result);
}

// The service's status in one line: where it keeps records, its warning, and its figures.
std::string describe(Storage& storage) {
    auto status = storage.status();
    std::string text = status.memoryOnly ? "memory" : "disk";
    if (status.warning) text += std::string(" warning=") + status.warning->what();
    if (status.usage) text += " records=" + std::to_string(status.usage->recordCount);
    if (status.pasteUsage) text += " pastes=" + std::to_string(status.pasteUsage->successfulPastes);
    if (status.clearPending) text += " clear-pending";
    return text;
}

std::optional<platform::Bytes> readImage(Storage& storage, const platform::Uuid& id) {
    return await<std::optional<platform::Bytes>>([&](auto done) { storage.readImage(id, done); });
}
Storage::LatestAttemptResult latestAttempt(Storage& storage) {
    return await<Storage::LatestAttemptResult>([&](auto done) { storage.loadLatestAttempt(done); });
}
std::optional<Storage::LatestImageSnapshot> latestImage(Storage& storage) {
    return await<std::optional<Storage::LatestImageSnapshot>>(
        [&](auto done) { storage.loadLatestImage(done); });
}
std::optional<Storage::ConfirmedUploadSnapshot> confirmedUpload(Storage& storage) {
    return await<std::optional<Storage::ConfirmedUploadSnapshot>>(
        [&](auto done) { storage.loadLatestConfirmedUpload(done); });
}
std::optional<StorageError> save(Storage& storage, const PasteAttempt& attempt) {
    return await<std::optional<StorageError>>([&](auto done) { storage.saveLatestAttempt(attempt, done); });
}

class TransferStorageTest : public ::testing::Test {
protected:
    std::shared_ptr<Storage> make() {
        Storage::Options options;
        options.root = root();
        options.clock = [this] { return Date{now += 1}; };
        options.scheduleMaintenance = false;
        options.policy = policy;
        options.fileOperation = std::ref(hook);
        options.timeZone = [] { return platform::TimeZone{"UTC"}; };
        options.retryDelaySeconds = retryDelay;
        options.retryMaximumDelaySeconds = std::max(retryDelay * 4, retryDelay);
        return Storage::create(options);
    }

    // A store opened separately on the same files, to see what really reached the disk.
    std::shared_ptr<TransferStore> inspect() {
        TransferStore::Options options;
        options.root = root();
        options.scheduleMaintenance = false;
        options.initiallyActiveOperations = inspectProtecting;
        return TransferStore::open(options);
    }

    std::filesystem::path root() const { return scratch / "Tarpelix"; }
    std::filesystem::path database() const { return root() / "transfers.sqlite3"; }

    void makeNewerSchema() {
        std::filesystem::create_directories(root() / "images");
        runSQL(database(), "PRAGMA user_version=4;");
    }

    ScratchDirectory scratch;
    StoragePolicy policy{};
    double retryDelay = 60;
    std::atomic<double> now{800'000'000};
    GuardedHook<StorageFileOperation> hook;
    TransferStore::Identifiers inspectProtecting;
};

} // namespace

TEST_F(TransferStorageTest, AStoreThatCannotOpenLeavesTheServiceServingFromMemory) {
    makeNewerSchema();
    auto storage = make();
    EXPECT_EQ(describe(*storage), "memory warning=unsupportedSchema");

    auto record = storage->create(succeeded(makeRecord(1000, 3)), pngBytes(3));
    EXPECT_FALSE(record.localFilename);
    EXPECT_EQ(storage->latestConfirmedUpload(), record);
    EXPECT_EQ(storage->currentImageData(), pngBytes(3));
    auto image = latestImage(*storage);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->record.id, record.id);
    EXPECT_EQ(readImage(*storage, record.id), pngBytes(3));
    EXPECT_FALSE(readImage(*storage, platform::Uuid::random()));
}

TEST_F(TransferStorageTest, ADatabaseFailureMakesTheServiceMemoryOnlyAndRetryWritesEverythingBack) {
    auto storage = make();
    auto first = storage->create(makeRecord(1000, 4), pngBytes(4));
    ASSERT_TRUE(first.localFilename);
    runSQL(database(), "UPDATE transfers SET payload = CAST('{}' AS BLOB);");

    auto changed = first;
    changed.insertionOutcome = TransferOutcome::failed;
    storage->update(changed);
    EXPECT_EQ(describe(*storage), "memory warning=databaseFailure");

    auto second = storage->create(makeRecord(900), std::nullopt); // older, written only by the retry
    auto third = storage->create(makeRecord(1100), std::nullopt);
    // The bad row stays bad: the retry fails and keeps everything.
    EXPECT_FALSE(storage->retryStorage());
    EXPECT_EQ(describe(*storage), "memory warning=databaseFailure");

    std::filesystem::remove(database());
    EXPECT_TRUE(storage->retryStorage());
    EXPECT_EQ(describe(*storage), "disk records=3 pastes=0");

    inspectProtecting = {first.id, second.id, third.id}; // keep recovery from restamping them
    auto store = inspect();
    EXPECT_EQ(store->record(first.id)->insertionOutcome, TransferOutcome::failed);
    // Oldest first: the store stamps each written record with the next clock reading.
    EXPECT_LT(store->record(second.id)->updatedAt, store->record(first.id)->updatedAt);
    EXPECT_LT(store->record(first.id)->updatedAt, store->record(third.id)->updatedAt);
    // The current image belongs to the first record, whose row was recreated: it is retained again.
    EXPECT_EQ(store->readRetainedImage(first.id), pngBytes(4));
}

TEST_F(TransferStorageTest, AMemoryOnlyServiceRetriesOnItsOwnTimerAndPersistsAgain) {
    std::filesystem::create_directories(root());
    ASSERT_EQ(::chmod(root().c_str(), 0500), 0); // a root without its owner-write bit is unusable
    retryDelay = 0.05;
    auto storage = make();
    EXPECT_EQ(describe(*storage), "memory warning=unavailable");
    auto kept = storage->create(succeeded(makeRecord(1000, 3)), pngBytes(3));

    ASSERT_EQ(::chmod(root().c_str(), 0700), 0);
    EXPECT_TRUE(runMainUntil([&] { return !storage->status().memoryOnly; }));
    EXPECT_EQ(describe(*storage), "disk records=1 pastes=1"); // written back, warning cleared
    auto later = storage->create(makeRecord(2000), std::nullopt);
    auto store = inspect();
    EXPECT_EQ(store->readRetainedImage(kept.id), pngBytes(3));
    EXPECT_TRUE(store->record(later.id));
}

TEST_F(TransferStorageTest, AnImageWriteFailureKeepsTheStoreAndTheRecord) {
    auto storage = make();
    hook.set([](StorageFileOperation operation, const std::filesystem::path& path) {
        if (operation != StorageFileOperation::writeImage) return;
        EXPECT_EQ(path.filename().string().front(), '.'); // a temporary name, renamed when whole
        throw std::runtime_error("disk says no");
    });
    auto record = storage->create(makeRecord(1000, 5), pngBytes(5));
    // The row was rolled back and nothing is left in the directory.
    EXPECT_EQ(describe(*storage), "disk warning=imageWriteFailed records=0 pastes=0");
    EXPECT_TRUE(std::filesystem::is_empty(root() / "images"));

    hook.set(nullptr);
    // The row never existed: the update creates it, with the image.
    EXPECT_TRUE(storage->update(succeeded(record)).localFilename);
    // The warning is sticky until a clear or a retry.
    EXPECT_EQ(describe(*storage), "disk warning=imageWriteFailed records=1 pastes=1");
    EXPECT_TRUE(storage->retryStorage());
    EXPECT_EQ(describe(*storage), "disk records=1 pastes=1");
    EXPECT_EQ(inspect()->readRetainedImage(record.id), pngBytes(5));
}

TEST_F(TransferStorageTest, ADeleteVetoedByTheHookMakesTheServiceMemoryOnly) {
    auto storage = make();
    auto kept = storage->create(makeRecord(1000, 4), pngBytes(4));
    hook.set([](StorageFileOperation operation, const std::filesystem::path&) {
        if (operation == StorageFileOperation::deleteFile) throw std::runtime_error("vetoed");
    });
    EXPECT_EQ(errorOf<StorageError>([&] { storage->clear(); }), StorageError::unavailable);
    EXPECT_TRUE(std::filesystem::exists(root() / "images" / *kept.localFilename));
    EXPECT_EQ(describe(*storage), "memory warning=unavailable");
    hook.set(nullptr);
    EXPECT_EQ(storage->clear(), Storage::ClearResult::cleared); // the memory-only clear, then a fresh store
    EXPECT_EQ(describe(*storage), "disk records=0 pastes=0");
}

// A full disk: every write of a file fails (RLIMIT_FSIZE of 0 applies to root as well).
TEST_F(TransferStorageTest, AFullDiskFallsBackToMemoryAndLosesNothing) {
    auto storage = make();
    auto before = storage->create(makeRecord(1000, 4), pngBytes(4));
    auto id = platform::Uuid::random();
    storage->beginOperation(id);

    struct rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit full = previous;
    full.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);

    auto kept = storage->create(makeRecord(2000, 6, id), pngBytes(6)); // the image cannot be written
    auto done = succeeded(kept);
    storage->update(done); // nor can the row
    storage->saveLatestAttempt(attemptFor(id, 2000, 2001, PasteFeedback::Stage::inserting));
    auto status = storage->status();

    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(status.memoryOnly);
    EXPECT_TRUE(status.warning == StorageError::databaseFailure ||
                status.warning == StorageError::unavailable);
    // The current paste is still served from memory.
    auto latest = latestAttempt(*storage);
    ASSERT_TRUE(latest.attempt);
    EXPECT_EQ(latest.attempt->id, id);
    EXPECT_TRUE(latest.memoryOnly);
    ASSERT_TRUE(latest.upload);
    ASSERT_TRUE(latest.image); // the memory image of this paste
    EXPECT_EQ(readImage(*storage, id), pngBytes(6));

    EXPECT_TRUE(storage->retryStorage());
    storage->endOperation(id);
    auto store = inspect();
    EXPECT_TRUE(store->record(before.id));
    EXPECT_EQ(store->record(id)->insertionOutcome, TransferOutcome::succeeded);
    EXPECT_EQ(store->readRetainedImage(id), pngBytes(6));
    EXPECT_EQ(store->latestAttempt()->id, id);
    EXPECT_EQ(store->pasteUsage().successfulPastes, 1);
}

// The file-size limit as the process meets it: writing past it raises SIGXFSZ, which the
// process ignores from its start, so the image write fails with EFBIG instead of ending the
// process. Run in a child of its own, so the limit does not reach the test runner; the child
// closes its store and removes its own scratch folder before it exits.
TEST_F(TransferStorageTest, AnImageWritePastTheFileSizeLimitIsAWarningNotADeadProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const int exitCode = [&] {
                auto storage = make();
                storage->create(makeRecord(1000, 4), pngBytes(4));
                auto id = platform::Uuid::random();
                storage->beginOperation(id);
                struct rlimit previous {};
                ::getrlimit(RLIMIT_FSIZE, &previous);
                struct rlimit limit = previous;
                limit.rlim_cur = 0;
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
                auto record = storage->create(makeRecord(2000, 6, id), pngBytes(6));
                storage->update(succeeded(record));
                auto status = storage->status();
                ::setrlimit(RLIMIT_FSIZE, &previous); // the death test's own output is a file too
                // The image could not be written: the warning says so (or the store has gone to memory).
                if (!(status.memoryOnly || status.warning == StorageError::imageWriteFailed)) {
                    std::fprintf(stderr, "memory-only %d, warning %s\n", status.memoryOnly,
                                 status.warning ? status.warning->what() : "none");
                    return 3;
                }
                return 0;
            }();
            exitRemoving(scratch.path(), exitCode);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(TransferStorageTest, AClearDuringAnOperationIsDeferredUntilItEnds) {
    auto storage = make();
    auto operation = platform::Uuid::random();
    storage->beginOperation(operation);
    storage->create(succeeded(makeRecord(1000, 3, operation)), pngBytes(3));
    storage->saveLatestAttempt(attemptFor(operation, 1000, 1001));

    EXPECT_EQ(storage->clear(), Storage::ClearResult::deferred);
    EXPECT_TRUE(storage->status().clearPending);
    EXPECT_FALSE(readImage(*storage, operation));
    EXPECT_FALSE(latestImage(*storage));
    auto latest = latestAttempt(*storage);
    EXPECT_TRUE(latest.attempt);
    EXPECT_FALSE(latest.upload);
    EXPECT_FALSE(latest.image);
    EXPECT_TRUE(confirmedUpload(*storage));

    storage->endOperation(operation);
    EXPECT_EQ(describe(*storage), "disk records=0 pastes=0");
    EXPECT_FALSE(latestAttempt(*storage).attempt);
    EXPECT_FALSE(storage->currentImageData());
}

TEST_F(TransferStorageTest, TheClearWaitsForTheLastOfOperationsAndAttempts) {
    auto storage = make();
    auto operation = platform::Uuid::random();
    auto attempt = platform::Uuid::random();
    storage->create(makeRecord(1000), std::nullopt);
    storage->beginOperation(operation);
    storage->beginAttempt(attempt);
    EXPECT_EQ(storage->clear(), Storage::ClearResult::deferred); // sees the attempt begun before it
    storage->endOperation(operation);
    EXPECT_EQ(describe(*storage), "disk records=1 pastes=0 clear-pending");

    EXPECT_FALSE(await<std::optional<StorageError>>([&](auto d) { storage->endAttempt(attempt, d); }));
    EXPECT_EQ(describe(*storage), "disk records=0 pastes=0");
}

TEST_F(TransferStorageTest, TheMemoryOnlyClearRemovesOnlyOwnedFiles) {
    makeNewerSchema();
    auto storage = make();
    ASSERT_TRUE(storage->status().memoryOnly);
    auto images = root() / "images";
    auto id = platform::Uuid::random().uuidString();
    auto lower = lowerCase(id);
    for (const std::string& name :
         std::vector<std::string>{id + ".png", "." + id + ".tmp", lower + ".png", "picture.png", "notes"}) {
        writeFile(images / name, "x");
    }
    writeFile(root() / "transfers.sqlite3-journal", "j");
    writeFile(root() / "other", "o");

    EXPECT_EQ(storage->clear(), Storage::ClearResult::cleared);
    EXPECT_EQ(namesIn(images), (std::set<std::string>{lower + ".png", "picture.png", "notes"}));
    EXPECT_TRUE(std::filesystem::exists(root() / "other"));
    EXPECT_FALSE(std::filesystem::exists(root() / "transfers.sqlite3-journal"));
    EXPECT_EQ(describe(*storage), "disk records=0 pastes=0");
}

TEST_F(TransferStorageTest, AMemoryOnlyClearFailsOnADirectoryNamedLikeAnImage) {
    makeNewerSchema();
    auto storage = make();
    std::filesystem::create_directories(root() / "images" / (platform::Uuid::random().uuidString() + ".png"));
    auto operation = platform::Uuid::random();
    storage->beginOperation(operation);
    EXPECT_EQ(storage->clear(), Storage::ClearResult::deferred);
    EXPECT_EQ(errorOf<StorageError>([&] { storage->endOperation(operation); }), StorageError::unavailable);
    EXPECT_EQ(describe(*storage),
              "memory warning=unavailable clear-pending"); // tried again at the next chance
    EXPECT_TRUE(std::filesystem::exists(database()));
}

TEST_F(TransferStorageTest, TheNewestConfirmedUploadIsKeptAndTiesGoToTheGreaterIdentifier) {
    auto storage = make();
    auto low = succeeded(makeRecord(1000));
    auto high = succeeded(makeRecord(1000));
    if (high.id.uuidString() < low.id.uuidString()) std::swap(low, high);
    auto emptyPath = succeeded(makeRecord(3000));
    emptyPath.confirmedRemotePath = "";
    storage->create(high, std::nullopt);
    storage->create(low, std::nullopt);
    storage->create(emptyPath, std::nullopt);
    auto snapshot = confirmedUpload(*storage);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->record.id, high.id);
    EXPECT_EQ(storage->latestConfirmedUpload()->id, high.id);
}

TEST_F(TransferStorageTest, TheFirstSaveAfterLaunchAsksTheStoredAttempt) {
    auto id = platform::Uuid::random();
    {
        auto storage = make();
        save(*storage, attemptFor(id, 1000, 1010, PasteFeedback::Stage::uploading));
    }
    auto storage = make();
    // An older state of the same paste is refused by the stored one; the completion still runs.
    auto warning = save(*storage, attemptFor(id, 1000, 1011, PasteFeedback::Stage::resolving));
    EXPECT_FALSE(warning);
    auto latest = latestAttempt(*storage);
    EXPECT_EQ(latest.attempt->feedback.stage, PasteFeedback::Stage::uploading);
    EXPECT_FALSE(latest.memoryOnly);
}

TEST_F(TransferStorageTest, AnUnwrittenHeldAttemptWinsOverTheStoredVersion) {
    auto storage = make();
    auto id = platform::Uuid::random();
    save(*storage, attemptFor(id, 1000, 1001));
    // Make the next write fail without dropping the store: an attempt the store refuses to hold.
    auto tooLong = attemptFor(id, 1000, 1002, PasteFeedback::Stage::resolving);
    tooLong.terminal = std::string(300, 't');
    auto warning = save(*storage, tooLong);
    EXPECT_EQ(warning, StorageError::invalidRecord);
    auto latest = latestAttempt(*storage);
    EXPECT_EQ(latest.attempt->feedback.stage, PasteFeedback::Stage::resolving);
    EXPECT_TRUE(latest.memoryOnly);
}

TEST_F(TransferStorageTest, AttemptSnapshotsComeFromItsOwnRecord) {
    policy.imageByteLimit = 4;
    auto storage = make();
    auto retainedId = platform::Uuid::random();
    storage->create(succeeded(makeRecord(1000, 3, retainedId)), pngBytes(3));
    storage->saveLatestAttempt(attemptFor(retainedId, 1000, 1001));
    auto result = latestAttempt(*storage);
    EXPECT_TRUE(result.image);
    EXPECT_TRUE(result.upload);
    EXPECT_EQ(result.attempt->feedback.outcome,
              PasteFeedback::Outcome::success); // reconciled with its record

    // Over the budget: the image is held only in memory, and offered from there while current.
    auto memoryId = platform::Uuid::random();
    auto big = makeRecord(2000, 5, memoryId);
    big.uploadOutcome = TransferOutcome::succeeded;
    big.confirmedRemotePath = ""; // no confirmed path: no upload snapshot
    EXPECT_FALSE(storage->create(big, pngBytes(5)).localFilename);
    storage->saveLatestAttempt(attemptFor(memoryId, 2000, 2001));
    result = latestAttempt(*storage);
    EXPECT_TRUE(result.image);
    EXPECT_FALSE(result.upload);
    EXPECT_EQ(readImage(*storage, memoryId), pngBytes(5));

    // A newer paste replaces the current image: the attempt, without a retained file, gets none.
    storage->create(makeRecord(3000, 2), pngBytes(2));
    result = latestAttempt(*storage);
    EXPECT_EQ(result.attempt->id, memoryId);
    EXPECT_FALSE(result.image);
    EXPECT_FALSE(readImage(*storage, memoryId));
}

TEST_F(TransferStorageTest, TheFinalOutcomeIsStoredWhenTheWallClockStepsBack) {
    auto storage = make();
    auto id = platform::Uuid::random();
    storage->saveLatestAttempt(attemptFor(id, 5000, 5005, PasteFeedback::Stage::uploading));
    auto final =
        attemptFor(id, 5000, 5005 - 3600, PasteFeedback::Stage::inserting, PasteFeedback::Outcome::failed);
    auto warning = save(*storage, final);
    EXPECT_FALSE(warning);
    auto stored = inspect()->latestAttempt();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->feedback.outcome, PasteFeedback::Outcome::failed);
    EXPECT_EQ(stored->updatedAt, Date{5005});
}

TEST_F(TransferStorageTest, AFailedUsageReadShowsAsTheStoresWarningUntilTheNextWrite) {
    auto storage = make();
    storage->create(succeeded(makeRecord(1)), std::nullopt);
    runSQL(database(), "UPDATE paste_usage SET payload = CAST('{}' AS BLOB);");
    storage->create(succeeded(makeRecord(2)), std::nullopt); // the count fails, the record is kept

    EXPECT_EQ(describe(*storage), "disk records=2");
    // The store remembered the failed read of the figures.
    EXPECT_EQ(describe(*storage), "disk warning=databaseFailure records=2");
    storage->create(makeRecord(3), std::nullopt);
    EXPECT_EQ(describe(*storage), "disk records=3");
}

namespace {

constexpr const char* readOnlyRootVariable = "TARPELIX_STORAGE_READ_ONLY_ROOT";

// Runs as an unprivileged user, for whom file modes hold: the storage directory turns
// read-only in the middle of the work, then writable again.
void runReadOnlyScenario(const std::filesystem::path& root) {
    Storage::Options options;
    options.root = root;
    options.scheduleMaintenance = false;
    auto storage = Storage::create(options);
    ASSERT_FALSE(storage->status().memoryOnly);
    auto first = storage->create(makeRecord(1000, 3), pngBytes(3, 1));
    ASSERT_TRUE(first.localFilename);

    ASSERT_EQ(::chmod(root.c_str(), 0500), 0);
    ASSERT_EQ(::chmod((root / "images").c_str(), 0500), 0);
    auto second = storage->create(makeRecord(2000, 4), pngBytes(4, 2)); // the image cannot be written
    EXPECT_EQ(storage->status().warning, StorageError::imageWriteFailed);
    storage->create(makeRecord(3000), std::nullopt); // no journal can be made: a database failure
    EXPECT_EQ(describe(*storage), "memory warning=databaseFailure");
    storage->update(succeeded(second));
    EXPECT_EQ(storage->latestConfirmedUpload()->id, second.id);
    EXPECT_EQ(readImage(*storage, second.id), pngBytes(4, 2));

    EXPECT_FALSE(storage->retryStorage()); // still read-only
    ASSERT_EQ(::chmod(root.c_str(), 0700), 0);
    ASSERT_EQ(::chmod((root / "images").c_str(), 0700), 0);
    EXPECT_TRUE(storage->retryStorage());
    EXPECT_EQ(describe(*storage), "disk records=3 pastes=1");
    EXPECT_EQ(storage->latestRetainedImage()->id, second.id);
    EXPECT_EQ(readImage(*storage, second.id), pngBytes(4, 2));
}

} // namespace

TEST(TransferStorageReadOnly, ADirectoryThatTurnsReadOnlyFallsBackToMemoryAndRecovers) {
    if (const char* root = std::getenv(readOnlyRootVariable)) return runReadOnlyScenario(root);
    ScratchDirectory scratch;
    if (::geteuid() != 0) return runReadOnlyScenario(scratch / "Tarpelix");

    // Root ignores file modes: the scenario runs in a child under the unprivileged uid 65534.
    ASSERT_EQ(::chown(scratch.path().c_str(), 65534, 65534), 0);
    SelfRun run(std::string(readOnlyRootVariable) + "=" + (scratch / "Tarpelix").string(),
                "TransferStorageReadOnly.*");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        gid_t group = 65534;
        if (::setgroups(1, &group) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
        ::execve(run.self.c_str(), run.arguments.data(), run.environment.data());
        ::_exit(126);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged run failed (its output is above)";
}
