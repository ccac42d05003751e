#include "storage/TransferStorage.h"

#include "storage/StorageTestSupport.h"
#include "support/MainLoop.h"
#include "support/PeakMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

// The data folder on a disk that fills up and empties again: while full, every image write
// fails as a full disk fails it; `allowed` lets that many writes through first.
class TransferStorageFullDiskTest : public ::testing::Test {
protected:
    TransferStorageFullDiskTest() {
        hook.set([this](StorageFileOperation operation, const std::filesystem::path&) {
            if (operation != StorageFileOperation::writeImage) return;
            ++imageWrites;
            if (full && allowed-- <= 0) throw std::system_error(ENOSPC, std::generic_category(), "write");
        });
    }

    std::shared_ptr<TransferStorage> make(double retryDelay = 60) {
        TransferStorage::Options options;
        options.root = scratch / "Tarpelix";
        options.clock = [this] { return Date{now += 1}; };
        options.scheduleMaintenance = false;
        options.fileOperation = std::ref(hook);
        options.timeZone = [] { return platform::TimeZone{"UTC"}; };
        options.retryDelaySeconds = retryDelay;
        options.retryMaximumDelaySeconds = retryDelay * 4;
        return TransferStorage::create(options);
    }

    // What reached the disk, read as the next launch reads it.
    std::shared_ptr<TransferStore> inspect(TransferStore::Identifiers protecting = {}) {
        TransferStore::Options options;
        options.root = scratch / "Tarpelix";
        options.scheduleMaintenance = false;
        options.initiallyActiveOperations = std::move(protecting);
        return TransferStore::open(options);
    }

    ScratchDirectory scratch;
    std::atomic<double> now{800'000'000};
    std::atomic<bool> full{false};
    std::atomic<int> allowed{0};
    std::atomic<int> imageWrites{0};
    GuardedHook<StorageFileOperation> hook;
    const platform::Bytes png = pngBytes(40 * 1024, 7);
};

} // namespace

TEST_F(TransferStorageFullDiskTest, APasteMadeWhileTheDiskIsFullIsSavedWithItsImageOnceSpaceIsBack) {
    auto storage = make();
    full = true;
    auto first = storage->create(makeRecord(1000, static_cast<std::int64_t>(png.size())), png);
    auto uploaded = first;
    uploaded.uploadOutcome = TransferOutcome::succeeded;
    storage->update(uploaded);
    auto done = storage->update(succeeded(first));
    EXPECT_EQ(storage->status().warning, StorageError::imageWriteFailed);
    EXPECT_FALSE(storage->status().memoryOnly);
    EXPECT_FALSE(inspect({first.id})->record(first.id));

    full = false;
    auto second = storage->create(makeRecord(2000, 4), pngBytes(4, 2)); // the next paste
    auto status = storage->status();
    EXPECT_FALSE(status.warning); // what Settings and the menu read
    EXPECT_EQ(status.usage->recordCount, 2);
    std::optional<StorageError> saved = StorageError::busy;
    storage->saveLatestAttempt(attemptFor(second.id, 2000, 2001), [&](auto warning) { saved = warning; });
    ASSERT_TRUE(runMainUntil([&] { return !saved; }));
    storage.reset();

    // Relaunch.
    auto relaunched = make();
    EXPECT_FALSE(relaunched->status().warning);
    EXPECT_EQ(relaunched->status().usage->recordCount, 2);
    relaunched.reset();
    auto store = inspect();
    auto stored = store->record(first.id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->confirmedRemotePath, done.confirmedRemotePath);
    EXPECT_EQ(stored->insertionOutcome, TransferOutcome::succeeded);
    EXPECT_EQ(store->readRetainedImage(first.id), png);
    EXPECT_EQ(store->readRetainedImage(second.id), pngBytes(4, 2));
}

TEST_F(TransferStorageFullDiskTest, TheRetryTimerAloneWritesItBackOnceSpaceIsBack) {
    auto storage = make(0.02);
    full = true;
    auto record = storage->create(succeeded(makeRecord(1000, static_cast<std::int64_t>(png.size()))), png);
    // The timer keeps trying while the disk stays full.
    EXPECT_TRUE(runMainUntil([&] { return imageWrites >= 3; }));
    EXPECT_EQ(storage->status().warning, StorageError::imageWriteFailed);

    full = false;
    EXPECT_TRUE(runMainUntil([&] { return !storage->status().warning; }));
    auto store = inspect();
    EXPECT_EQ(store->record(record.id)->confirmedRemotePath, record.confirmedRemotePath);
    EXPECT_EQ(store->readRetainedImage(record.id), png);
}

// The image a newer paste replaced in memory gets its record's next write; when the disk refuses
// it again, the row is stored without it and nothing is owed any more.
TEST_F(TransferStorageFullDiskTest, AnOwedImageTheDiskRefusesAgainLeavesItsRowWithoutAFileAndNothingOwed) {
    auto storage = make();
    full = true;
    auto kept = storage->create(succeeded(makeRecord(1000, static_cast<std::int64_t>(png.size()))), png);
    allowed = 1; // room for the next paste's small image, not for the older one's
    auto next = storage->create(makeRecord(2000, 4), pngBytes(4, 2));

    const auto status = storage->status(); // queued after the write-back the paste's create scheduled
    EXPECT_EQ(imageWrites, 3) << "the older paste's, the next one's, the older one's again";
    EXPECT_FALSE(status.warning) << "nothing is left unwritten";
    ASSERT_TRUE(status.pasteUsage);
    EXPECT_EQ(status.pasteUsage->successfulPastes, 1);
    {
        auto store = inspect();
        const auto stored = store->record(kept.id);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->confirmedRemotePath, kept.confirmedRemotePath);
        EXPECT_FALSE(stored->localFilename);
        EXPECT_FALSE(store->readRetainedImage(kept.id));
        EXPECT_EQ(store->readRetainedImage(next.id), pngBytes(4, 2));
        EXPECT_EQ(namesIn(scratch / "Tarpelix" / "images"), std::set<std::string>{next.id.uuidString() + ".png"});
    }

    full = false;
    const int writesBefore = imageWrites;
    EXPECT_TRUE(storage->retryStorage());
    EXPECT_EQ(imageWrites, writesBefore) << "an image was still held for the older paste";
    storage.reset();
    EXPECT_FALSE(inspect()->record(kept.id)->localFilename);
}

namespace {

// A disk with room for small images only: while it lives, a write of this process past `bytes`
// into any file fails, as the kernel fails a write past the file size limit (EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_), 0);
        previous_ = ::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
        const rlimit limit{bytes, saved_.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0) << std::strerror(errno);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

} // namespace

// Ten times a 4 MB paste the disk refuses, then a 4-byte one it takes: each big image gets one
// more write, after the small paste, and is let go when that fails too. Nothing builds up in
// memory, and once the service is released, as at a quit, every row is on disk.
TEST_F(TransferStorageFullDiskTest, OnADiskWithRoomForSmallImagesOnlyNoImageBuildsUpAndEveryRowIsStored) {
    auto storage = make();
    const auto big = pngBytes(4 * 1024 * 1024, 9);
    std::vector<TransferRecord> bigs, smalls;
    std::vector<platform::Bytes> smallImages;
    {
        FileSizeLimit tight(1024 * 1024);
        const auto heldBefore = static_cast<long long>(heapBytesInUse());
        for (int round = 0; round < 10; ++round) {
            SCOPED_TRACE(round);
            bigs.push_back(storage->create(
                succeeded(makeRecord(1000 + 2 * round, static_cast<std::int64_t>(big.size()))), big));
            EXPECT_EQ(storage->status().warning, StorageError::imageWriteFailed);
            smallImages.push_back(pngBytes(4, static_cast<std::uint8_t>(round)));
            smalls.push_back(storage->create(makeRecord(1001 + 2 * round, 4), smallImages.back()));
            EXPECT_FALSE(storage->status().warning) << "left unwritten after the write-back";
        }
        const auto grew = static_cast<long long>(heapBytesInUse()) - heldBefore;
        std::printf("the heap grew by %lld kB over ten rounds\n", grew / 1024);
        EXPECT_LT(grew, static_cast<long long>(big.size())) << "bytes still held after ten rounds";
        storage.reset(); // a quit, the disk still tight
    }

    auto store = inspect();
    std::size_t bigRows = 0;
    for (const auto& record : bigs) {
        const auto stored = store->record(record.id);
        if (!stored) continue;
        ++bigRows;
        EXPECT_EQ(stored->confirmedRemotePath, record.confirmedRemotePath);
        EXPECT_FALSE(stored->localFilename);
    }
    EXPECT_EQ(bigRows, bigs.size()) << "rows of the big pastes on disk";
    std::set<std::string> smallFiles;
    for (std::size_t i = 0; i < smalls.size(); ++i) {
        EXPECT_EQ(store->readRetainedImage(smalls[i].id), smallImages[i]);
        smallFiles.insert(smalls[i].id.uuidString() + ".png");
    }
    EXPECT_EQ(namesIn(scratch / "Tarpelix" / "images"), smallFiles) << "a file for one of the big images";
}

TEST_F(TransferStorageFullDiskTest, UnwrittenRecordsAreWrittenBackOldestFirstAfterTheNextPaste) {
    auto storage = make();
    full = true;
    std::vector<TransferRecord> records;
    for (double createdAt : {3000, 1000, 2000}) {
        records.push_back(storage->create(makeRecord(createdAt, 4), pngBytes(4, 3)));
    }
    full = false;
    auto next = storage->create(makeRecord(4000), std::nullopt);
    EXPECT_FALSE(storage->status().warning);

    auto store = inspect({records[0].id, records[1].id, records[2].id, next.id});
    auto writtenAt = [&](const TransferRecord& record) { return store->record(record.id)->updatedAt; };
    // The store stamps each row with the next clock reading: the paste's own row first.
    EXPECT_LT(writtenAt(next), writtenAt(records[1]));
    EXPECT_LT(writtenAt(records[1]), writtenAt(records[2]));
    EXPECT_LT(writtenAt(records[2]), writtenAt(records[0]));
    // The image still held in memory (the last one pasted) is retained with its record.
    EXPECT_EQ(store->readRetainedImage(records[2].id), pngBytes(4, 3));
}

namespace {

constexpr const char* fullDiskVariable = "TARPELIX_STORAGE_FULL_TMPFS";

// The sequence on a real 400 KB file system that fills up, inside a private mount namespace.
void runOnFullTmpfs(const std::filesystem::path& mountPoint) {
    ASSERT_EQ(::mount("tarpelix-full", mountPoint.c_str(), "tmpfs", 0, "size=400k,mode=0700"), 0)
        << std::strerror(errno);
    TransferStorage::Options options;
    options.root = mountPoint / "Tarpelix";
    options.scheduleMaintenance = false;
    options.timeZone = [] { return platform::TimeZone{"UTC"}; };
    auto storage = TransferStorage::create(options);
    ASSERT_FALSE(storage->status().memoryOnly);

    auto filler = mountPoint / "filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    std::vector<char> block(4096, 'x');
    for (std::size_t size : {block.size(), std::size_t{1}}) {
        while (::write(fd, block.data(), size) > 0) {}
    }
    ::close(fd);

    auto png = pngBytes(40 * 1024, 7);
    auto first = storage->create(makeRecord(1000, static_cast<std::int64_t>(png.size())), png);
    auto uploaded = first;
    uploaded.uploadOutcome = TransferOutcome::succeeded;
    storage->update(uploaded);
    storage->update(succeeded(first));
    EXPECT_EQ(storage->status().warning, StorageError::imageWriteFailed);

    std::filesystem::remove(filler);
    storage->create(makeRecord(2000, 4), pngBytes(4, 2));
    EXPECT_FALSE(storage->status().warning);
    storage.reset();

    auto relaunched = TransferStorage::create(options);
    EXPECT_FALSE(relaunched->status().warning);
    EXPECT_EQ(relaunched->status().usage->recordCount, 2);
    relaunched.reset();
    TransferStore::Options inspecting;
    inspecting.root = options.root;
    inspecting.scheduleMaintenance = false;
    auto store = TransferStore::open(inspecting);
    EXPECT_EQ(store->record(first.id)->insertionOutcome, TransferOutcome::succeeded);
    EXPECT_EQ(store->readRetainedImage(first.id), png);
}

} // namespace

TEST(TransferStorageFullTmpfs, APasteMadeOnAFullFileSystemIsSavedOnceSpaceIsBack) {
    if (const char* mountPoint = std::getenv(fullDiskVariable)) return runOnFullTmpfs(mountPoint);
    if (::geteuid() != 0 || ::access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "needs root and unshare";
    ScratchDirectory scratch;
    std::filesystem::create_directory(scratch / "data");
    SelfRun run(std::string(fullDiskVariable) + "=" + (scratch / "data").string(), "TransferStorageFullTmpfs.*");
    std::string unshare = "/usr/bin/unshare", mountOption = "-m", propagation = "--propagation", mode = "private";
    std::vector<char*> arguments = {unshare.data(), mountOption.data(), propagation.data(), mode.data(),
                                    run.self.data(), run.filterArgument.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, unshare.c_str(), nullptr, nullptr, arguments.data(), run.environment.data()), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run on the full file system failed (its output is above)";
}

TEST_F(TransferStorageFullDiskTest, RecordsOwedAreWrittenAfterTheNextPastesCreateHasReturned) {
    // Once the paste's own image is written, the next clock reading is the write-back's first
    // record: the gate holds it there.
    Gate gate;
    std::atomic<bool> pasteImageWritten{false};
    TransferStorage::Options options;
    options.root = scratch / "Tarpelix";
    options.clock = [&] {
        if (pasteImageWritten) gate.pass();
        return Date{now += 1};
    };
    options.scheduleMaintenance = false;
    options.fileOperation = std::ref(hook);
    options.timeZone = [] { return platform::TimeZone{"UTC"}; };
    auto storage = TransferStorage::create(options);

    full = true;
    std::vector<TransferRecord> owed;
    for (int i = 0; i < 50; ++i)
        owed.push_back(storage->create(makeRecord(1000 + i, 4), pngBytes(4, static_cast<std::uint8_t>(i))));
    ASSERT_EQ(storage->status().warning, StorageError::imageWriteFailed);
    const auto rowIds = [&] { return queryColumn(scratch / "Tarpelix" / "transfers.sqlite3", "SELECT id FROM transfers"); };
    ASSERT_TRUE(rowIds().empty());

    full = false;
    gate.arm();
    hook.set([&](StorageFileOperation operation, const std::filesystem::path&) {
        if (operation == StorageFileOperation::writeImage) pasteImageWritten = true;
    });
    auto pasting = std::async(std::launch::async, [&] { return storage->create(makeRecord(2000, 4), pngBytes(4, 99)); });
    const bool returned = pasting.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_TRUE(returned) << "the paste's create waited for the records owed";
    EXPECT_TRUE(gate.awaitHeld()) << "the records owed are written back without another call";
    std::optional<TransferRecord> next;
    if (returned) {
        next = pasting.get();
        EXPECT_EQ(rowIds(), std::vector<std::string>{next->id.uuidString()}) << "none of the records owed before it";
    }
    gate.release();
    if (!returned) next = pasting.get();

    // After it, every record owed, and the warning cleared.
    EXPECT_FALSE(storage->status().warning);
    const auto ids = rowIds();
    EXPECT_EQ(ids.size(), 51u);
    for (const auto& record : owed) EXPECT_EQ(std::count(ids.begin(), ids.end(), record.id.uuidString()), 1);
    // The last one owed still had its image in memory: it is stored with it, as is the paste's.
    storage.reset();
    auto store = inspect();
    EXPECT_EQ(store->readRetainedImage(owed.back().id), pngBytes(4, 49));
    EXPECT_EQ(store->readRetainedImage(next->id), pngBytes(4, 99));
}

namespace {

// Whether thread `tid` of this process sleeps in a futex wait, as the caller of a synchronous
// operation does once its block is queued.
bool waitsInFutex(pid_t tid) {
    std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return syscall >> number && number == SYS_futex;
}

// Starts `operation` on a thread of its own and returns once that thread waits: its call has
// then queued its block behind whatever the service queue runs now.
std::thread startQueued(std::function<void()> operation) {
    auto tid = std::make_shared<std::atomic<pid_t>>(0);
    std::thread thread([tid, operation = std::move(operation)] {
        *tid = ::gettid();
        operation();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(*tid && waitsInFutex(*tid)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(*tid && waitsInFutex(*tid)) << "the operation never waited for the service queue";
    return thread;
}

// What interferes while the next paste's create writes its image: it returns a thread to join
// once that create has returned, or none.
using Interference = std::function<std::thread(const std::shared_ptr<TransferStorage>&, const TransferRecord& owed)>;

} // namespace

// A record left unwritten by a full disk, whose image a newer paste replaced in memory, is stored
// with that image by whichever write-back reaches it first once space is back, also one queued
// ahead of the write-back the newer paste's create schedules.
class OwedImageTest : public TransferStorageFullDiskTest {
protected:
    void expectOwedImageKept(double retryDelay, const Interference& interfere,
                             const std::function<void(const TransferRecord&, std::optional<StorageError>)>& expectStored) {
        auto storage = make(retryDelay);
        full = true;
        const auto owedImage = pngBytes(40 * 1024, 5);
        const auto owed = storage->create(makeRecord(1000, static_cast<std::int64_t>(owedImage.size())), owedImage);
        ASSERT_EQ(storage->status().warning, StorageError::imageWriteFailed);

        full = false;
        const auto next = makeRecord(2000, 4);
        const auto nextImage = pngBytes(4, 2);
        // Whose image each write is, in order: the first once the create has begun is the paste's.
        std::mutex mutex;
        std::vector<std::string> imagesWritten;
        std::atomic<bool> creating{false};
        std::thread interfering;
        hook.set([&](StorageFileOperation operation, const std::filesystem::path&) {
            if (operation != StorageFileOperation::writeImage) return;
            bool ofNext = false;
            {
                std::lock_guard lock(mutex);
                ofNext = creating && std::count(imagesWritten.begin(), imagesWritten.end(), "next") == 0;
                imagesWritten.push_back(ofNext ? "next" : "owed");
            }
            if (ofNext) interfering = interfere(storage, owed);
        });
        creating = true;
        const auto created = storage->create(next, nextImage);
        if (interfering.joinable()) interfering.join();
        // Every write-back was queued by now: the status comes after them.
        const auto warning = storage->status().warning;
        storage.reset();
        {
            std::lock_guard lock(mutex);
            EXPECT_EQ(imagesWritten, (std::vector<std::string>{"next", "owed"}));
        }

        auto store = inspect();
        EXPECT_EQ(store->readRetainedImage(owed.id), owedImage);
        EXPECT_EQ(store->readRetainedImage(created.id), nextImage);
        const auto stored = store->record(owed.id);
        ASSERT_TRUE(stored);
        expectStored(*stored, warning);
    }
};

// A retry that writes everything back clears the warning.
void writtenByARetry(const TransferRecord&, std::optional<StorageError> warning) { EXPECT_FALSE(warning); }

TEST_F(OwedImageTest, WhenTheRetryTimerComesDueDuringTheNextPastesCreate) {
    // The first retry is due half a second after the failure; the paste's image write outlasts it.
    expectOwedImageKept(
        0.5,
        [](const auto&, const auto&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            return std::thread();
        },
        writtenByARetry);
}

TEST_F(OwedImageTest, WhenRetryIsPressedDuringTheNextPastesCreate) {
    expectOwedImageKept(
        60,
        [](const auto& storage, const auto&) {
            return startQueued([storage] { EXPECT_TRUE(storage->retryStorage()); });
        },
        writtenByARetry);
}

TEST_F(OwedImageTest, WhenTheOwedRecordIsUpdatedDuringTheNextPastesCreate) {
    expectOwedImageKept(
        60,
        [](const auto& storage, const auto& owed) {
            return startQueued([storage, owed] { storage->update(succeeded(owed)); });
        },
        // The warning stays until the next retry finds nothing left, as after any update.
        [](const TransferRecord& stored, std::optional<StorageError>) {
            EXPECT_EQ(stored.insertionOutcome, TransferOutcome::succeeded);
            EXPECT_EQ(stored.confirmedRemotePath, succeeded(stored).confirmedRemotePath);
        });
}
