#include "storage/TransferStorage.h"

#include "storage/StorageTestSupport.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::testing;

// Paste transfers on many threads while the main thread keeps loading: every completion
// arrives once, nothing races, nothing deadlocks, and every record reaches the store.
TEST(TransferStorageConcurrency, ManyTransfersAndLoadsAtOnce) {
    ScratchDirectory scratch;
    TransferStorage::Options options;
    options.root = scratch / "Tarpelix";
    options.timeZone = [] { return platform::TimeZone{"UTC"}; };
    auto storage = TransferStorage::create(options);

    constexpr int threads = 6;
    constexpr int transfersPerThread = 12;
    std::atomic<int> finishedThreads{0};
    std::atomic<int> attemptCompletions{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < transfersPerThread; ++i) {
                auto record = makeRecord(1000 + t * 100 + i, i % 3 == 0 ? 64 : 0);
                storage->beginAttempt(record.id);
                storage->beginOperation(record.id);
                std::optional<platform::Bytes> png;
                if (record.imageSize) png = pngBytes(64, static_cast<std::uint8_t>(i));
                auto stored = storage->create(record, png);
                auto at = record.createdAt.secondsSinceReferenceDate;
                storage->saveLatestAttempt(attemptFor(record.id, at, at, PasteFeedback::Stage::uploading));
                storage->update(succeeded(stored));
                if (i % 4 == 0) (void)storage->status();
                storage->endOperation(record.id);
                storage->endAttempt(record.id, [&](std::optional<StorageError>) { ++attemptCompletions; });
            }
            ++finishedThreads;
        });
    }

    int loadsIssued = 0;
    std::atomic<int> loadsCompleted{0};
    runMainUntil(
        [&] {
            // A new round of loads once the previous round has answered.
            if (finishedThreads < threads && loadsCompleted == loadsIssued) {
                loadsIssued += 4;
                storage->loadLatestAttempt([&](TransferStorage::LatestAttemptResult) { ++loadsCompleted; });
                storage->loadLatestImage([&](std::optional<TransferStorage::LatestImageSnapshot> snapshot) {
                    if (snapshot) {
                        storage->readImage(snapshot->record.id, [](std::optional<platform::Bytes>) {});
                    }
                    ++loadsCompleted;
                });
                storage->loadLatestConfirmedUpload(
                    [&](std::optional<TransferStorage::ConfirmedUploadSnapshot>) { ++loadsCompleted; });
                storage->readImage(platform::Uuid::random(), [&](std::optional<platform::Bytes>) { ++loadsCompleted; });
            }
            return finishedThreads == threads && loadsCompleted == loadsIssued &&
                   attemptCompletions == threads * transfersPerThread;
        },
        120);
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(loadsCompleted.load(), loadsIssued);
    EXPECT_EQ(attemptCompletions.load(), threads * transfersPerThread);

    auto status = storage->status();
    EXPECT_FALSE(status.memoryOnly);
    EXPECT_FALSE(status.warning);
    EXPECT_EQ(status.usage->recordCount, threads * transfersPerThread);
    EXPECT_EQ(status.pasteUsage->successfulPastes, threads * transfersPerThread);
    EXPECT_EQ(storage->clear(), TransferStorage::ClearResult::cleared);
}
