#include "diagnostics/DiagnosticStore.h"

#include "storage/StorageTestSupport.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

std::vector<std::filesystem::path> segmentFiles(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        if (entry.path().extension() == ".jsonl") found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string segmentName() { return "diagnostic-" + platform::Uuid::random().uuidString() + ".jsonl"; }

class DiagnosticStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<DiagnosticStore> open(DiagnosticPolicy policy = {}) {
        DiagnosticStore::Options options;
        options.root = root();
        options.clock = [this] { return Date{now.load()}; };
        options.policy = policy;
        options.scheduleMaintenance = false;
        options.fileOperation = std::ref(hook);
        return DiagnosticStore::create(options);
    }

    DiagnosticEvent event(double age = 10, std::optional<std::int64_t> duration = std::nullopt) {
        DiagnosticEvent event;
        event.timestamp = Date{now.load() - age};
        event.operationID = platform::Uuid::random();
        event.terminal = DiagnosticTerminal::ghostty;
        event.transport = DiagnosticTransport::ssh;
        event.stage = DiagnosticStage::upload;
        event.outcome = TransferOutcome::succeeded;
        event.durationMilliseconds = duration;
        return event;
    }

    std::string line(const DiagnosticEvent& e) { return e.json() + "\n"; }

    std::filesystem::path root() const { return scratch / "diagnostics"; }

    ScratchDirectory scratch;
    std::atomic<double> now{800'000'000};
    GuardedHook<DiagnosticFileOperation> hook;
};

} // namespace

TEST_F(DiagnosticStoreTest, AppendedEventsReachASegmentFileAndTheSnapshot) {
    auto store = open();
    EXPECT_EQ(modeOf(root()), 0700u);
    auto first = event(20);
    auto second = event(30); // older, appended later: the snapshot sorts by time
    store->append(first);
    store->append(second);
    store->append(first); // the same event twice is listed once but stored twice
    auto snapshot = store->snapshot();
    EXPECT_EQ(snapshot.events, (std::vector<DiagnosticEvent>{second, first}));
    auto files = segmentFiles(root());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readFile(files[0]), line(first) + line(second) + line(first));
    EXPECT_EQ(modeOf(files[0]), 0600u);
    EXPECT_EQ(snapshot.health, (DiagnosticHealth{2, static_cast<std::int64_t>(readFile(files[0]).size()), {}}));
}

TEST_F(DiagnosticStoreTest, AtMostTheNewestHundredEventsWaitForADrain) {
    // Hold the worker inside a snapshot (its clock read) while 150 events arrive.
    Gate gate;
    DiagnosticStore::Options options;
    options.root = root();
    options.scheduleMaintenance = false;
    options.clock = [&] {
        gate.pass();
        return Date{now.load()};
    };
    auto store = DiagnosticStore::create(options);
    gate.arm();
    std::thread blocker([&] { store->snapshot(); });
    bool held = gate.awaitHeld();
    std::vector<DiagnosticEvent> appended;
    for (int i = 0; i < 150; ++i) {
        appended.push_back(event(1000 - i));
        store->append(appended.back());
    }
    gate.release();
    blocker.join();
    ASSERT_TRUE(held) << "the worker never read the clock";
    auto snapshot = store->snapshot();
    EXPECT_EQ(snapshot.events, std::vector<DiagnosticEvent>(appended.begin() + 50, appended.end()));
}

TEST_F(DiagnosticStoreTest, EventsTheDiskRefusesWaitInTheFallbackAndAreWrittenFirstLater) {
    auto store = open();
    hook.set([](DiagnosticFileOperation operation, const std::filesystem::path&) {
        if (operation == DiagnosticFileOperation::write) throw std::runtime_error("no space");
    });
    std::vector<DiagnosticEvent> refused;
    for (int i = 0; i < 101; ++i) {
        refused.push_back(event(500 - i));
        store->append(refused.back());
    }
    auto snapshot = store->snapshot();
    // The fallback keeps the newest hundred.
    EXPECT_EQ(snapshot.events, std::vector<DiagnosticEvent>(refused.begin() + 1, refused.end()));
    EXPECT_EQ(snapshot.health, (DiagnosticHealth{100, 0, DiagnosticError::writeFailed}));
    EXPECT_TRUE(segmentFiles(root()).empty());

    // A snapshot with nothing pending does not write the fallback.
    hook.set(nullptr);
    store->snapshot();
    EXPECT_TRUE(segmentFiles(root()).empty());

    auto next = event(1);
    store->append(next);
    snapshot = store->snapshot();
    EXPECT_FALSE(snapshot.health.lastFailure);
    auto files = segmentFiles(root());
    ASSERT_EQ(files.size(), 1u);
    std::string expected;
    for (auto it = refused.begin() + 1; it != refused.end(); ++it) expected += line(*it);
    expected += line(next);
    EXPECT_EQ(readFile(files[0]), expected);
}

TEST_F(DiagnosticStoreTest, ExpiredFallbackEventsAreNeitherShownNorWritten) {
    DiagnosticPolicy policy;
    policy.maxAge = 100;
    auto store = open(policy);
    hook.set([](DiagnosticFileOperation, const std::filesystem::path&) { throw std::runtime_error("no"); });
    auto old = event(50);
    store->append(old);
    EXPECT_EQ(store->snapshot().events.size(), 1u);
    now = now + 60; // the event is now 110 seconds old
    hook.set(nullptr);
    EXPECT_TRUE(store->snapshot().events.empty());
    store->maintain();
    EXPECT_TRUE(segmentFiles(root()).empty());
}

TEST_F(DiagnosticStoreTest, OutOfBoundsEventsAreDroppedAndNoted) {
    auto store = open();
    // The dropped event comes last, so the outcome is the same whether one drain or two take them.
    store->append(event(10, 5));
    store->append(event(10, 86'400'001));
    auto snapshot = store->snapshot();
    EXPECT_EQ(snapshot.events.size(), 1u);
    EXPECT_EQ(snapshot.health.lastFailure, DiagnosticError::invalidEvent);

    // When the same drain also fails on the disk, the disk failure is what is recorded.
    hook.set([](DiagnosticFileOperation, const std::filesystem::path&) { throw std::runtime_error("no"); });
    store->append(event(10, 5));
    store->append(event(10, -1));
    EXPECT_EQ(store->snapshot().health.lastFailure, DiagnosticError::writeFailed);
}

TEST_F(DiagnosticStoreTest, ClearTouchesOnlyTheStoresOwnFiles) {
    auto store = open();
    store->clear();
    EXPECT_FALSE(store->snapshot().health.lastFailure);
    store->append(event());
    store->snapshot();
    auto id = platform::Uuid::random().uuidString();
    auto lower = lowerCase(id);
    const std::vector<std::string> foreign = {"diagnostic-" + lower + ".jsonl", "diagnostic-" + id + ".json",
                                              "notes.jsonl", "diagnostic-x.jsonl"};
    for (const auto& name : foreign) writeFile(root() / name, "keep");
    writeFile(root() / ("diagnostic-" + id + ".tmp"), "half");

    store->clear();
    auto snapshot = store->snapshot();
    EXPECT_TRUE(snapshot.events.empty());
    EXPECT_EQ(snapshot.health, (DiagnosticHealth{0, 0, {}}));
    EXPECT_EQ(namesIn(root()), std::set<std::string>(foreign.begin(), foreign.end()));
    for (const auto& name : foreign) EXPECT_EQ(readFile(root() / name), "keep") << name;
}

TEST_F(DiagnosticStoreTest, AnUnusablePolicyIsRecordedAndThrownByMaintain) {
    DiagnosticPolicy policy;
    policy.segmentByteLimit = 0;
    auto store = open(policy);
    EXPECT_EQ(errorOf<DiagnosticError>([&] { store->maintain(); }), DiagnosticError::unavailable);
    EXPECT_EQ(store->snapshot().health.lastFailure, DiagnosticError::unavailable);
}

TEST_F(DiagnosticStoreTest, TheLoadRepairsWhatIsDamagedAndLeavesWhatIsWhole) {
    std::filesystem::create_directories(root());
    auto a = event(40), b = event(30), c = event(20), expired = event(900'000);
    auto whole = root() / segmentName();
    auto partial = root() / segmentName();
    auto broken = root() / segmentName();
    auto stale = root() / segmentName();
    auto leftover = root() / ("diagnostic-" + platform::Uuid::random().uuidString() + ".tmp");
    writeFile(whole, line(a));
    auto partialLine = line(b);
    writeFile(partial, partialLine.substr(0, partialLine.size() - 1)); // no final line feed
    writeFile(broken, line(c) + "\n{\"garbage\"\n" + line(expired));
    writeFile(stale, line(expired));
    writeFile(leftover, "half");
    struct stat before {};
    ::stat(whole.c_str(), &before);

    auto store = open();
    auto snapshot = store->snapshot();
    EXPECT_EQ(snapshot.events, (std::vector<DiagnosticEvent>{a, b, c}));
    EXPECT_EQ(snapshot.health.lastFailure, DiagnosticError::corruptLog);
    EXPECT_EQ(readFile(partial), line(b));
    EXPECT_EQ(readFile(broken), line(c));
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_FALSE(std::filesystem::exists(leftover));
    // An unchanged file re-encodes to the same bytes and is not rewritten.
    struct stat after {};
    ::stat(whole.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // A second load finds nothing more to repair.
    store.reset();
    EXPECT_FALSE(open()->snapshot().health.lastFailure);
}

TEST_F(DiagnosticStoreTest, SegmentsAreOrderedByTheirFirstEventThenByName) {
    std::filesystem::create_directories(root());
    auto early = event(50), late = event(10);
    writeFile(root() / "diagnostic-FFFFFFFF-0000-4000-8000-000000000000.jsonl", line(early));
    writeFile(root() / "diagnostic-00000000-0000-4000-8000-000000000000.jsonl", line(late));
    auto store = open();
    auto next = event(1);
    store->append(next); // goes into the segment last in order: the one holding the later event
    store->snapshot();
    EXPECT_EQ(readFile(root() / "diagnostic-00000000-0000-4000-8000-000000000000.jsonl"), line(late) + line(next));
}

TEST_F(DiagnosticStoreTest, OldestFilesGoFirstWhenTheTotalIsExceeded) {
    std::filesystem::create_directories(root());
    auto older = event(30), newer = event(20);
    auto olderFile = root() / segmentName();
    auto newerFile = root() / segmentName();
    writeFile(olderFile, line(older));
    writeFile(newerFile, line(newer));
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ::utimensat(AT_FDCWD, olderFile.c_str(), times, 0);
    DiagnosticPolicy policy;
    policy.totalByteLimit = static_cast<std::int64_t>(line(newer).size()) + 10;
    auto store = open(policy);
    EXPECT_FALSE(std::filesystem::exists(olderFile));
    EXPECT_EQ(store->snapshot().events, std::vector<DiagnosticEvent>{newer});
}

TEST_F(DiagnosticStoreTest, SegmentsRollOverAndTheOldestMakesRoom) {
    auto sample = line(event());
    auto size = static_cast<std::int64_t>(sample.size());
    DiagnosticPolicy policy;
    policy.segmentByteLimit = 2 * size;
    policy.totalByteLimit = 5 * size;
    auto store = open(policy);
    std::vector<DiagnosticEvent> events;
    for (int i = 0; i < 4; ++i) {
        events.push_back(event(100 - i));
        store->append(events.back());
        store->snapshot();
    }
    ASSERT_EQ(segmentFiles(root()).size(), 2u); // two lines per segment
    // A fifth line: the last segment is full, so a new one; 4 + 0 + 1 lines fit exactly.
    events.push_back(event(95));
    store->append(events.back());
    EXPECT_EQ(store->snapshot().events.size(), 5u);
    // A sixth goes into the last segment (1 line): 5 + 1 + 1 > 5 with its bytes counted
    // twice, so the oldest segment (two events) is deleted first.
    events.push_back(event(94));
    store->append(events.back());
    auto snapshot = store->snapshot();
    EXPECT_EQ(snapshot.events, std::vector<DiagnosticEvent>(events.begin() + 2, events.end()));
    EXPECT_EQ(segmentFiles(root()).size(), 2u);

    // A line longer than the whole limit is refused and deletes nothing.
    DiagnosticPolicy tiny = policy;
    tiny.totalByteLimit = size - 1;
    store.reset();
    auto small = open(tiny); // the load itself trims to the limit
    auto filesBefore = segmentFiles(root());
    small->append(event(1));
    EXPECT_EQ(small->snapshot().health.lastFailure, DiagnosticError::writeFailed);
    EXPECT_EQ(segmentFiles(root()), filesBefore);
}

TEST_F(DiagnosticStoreTest, UnusableDirectoriesSendEventsToTheFallbackWithoutBlocking) {
    auto other = scratch / "other";
    std::filesystem::create_directories(other);
    struct Case {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"root is a file", [&] { writeFile(root(), "x"); }},
        {"root is a symbolic link", [&] { std::filesystem::create_directory_symlink(other, root()); }},
        {"a FIFO named like a segment",
         [&] {
             std::filesystem::create_directories(root());
             ASSERT_EQ(::mkfifo((root() / segmentName()).c_str(), 0600), 0);
         }},
        {"a symbolic link named like a segment",
         [&] {
             std::filesystem::create_directories(root());
             writeFile(other / "target", "");
             std::filesystem::create_symlink(other / "target", root() / segmentName());
         }},
        {"a read-only directory",
         [&] {
             std::filesystem::create_directories(root());
             ::chmod(root().c_str(), 0500);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod(root().c_str(), 0700);
        std::filesystem::remove_all(root());
        c.make();
        auto store = open();
        auto kept = event();
        store->append(kept);
        auto snapshot = store->snapshot();
        EXPECT_EQ(snapshot.health.lastFailure, DiagnosticError::unavailable);
        EXPECT_EQ(snapshot.events, std::vector<DiagnosticEvent>{kept});
        EXPECT_THROW(store->maintain(), DiagnosticError);
    }
    ::chmod(root().c_str(), 0700);
}

TEST_F(DiagnosticStoreTest, DeletingAFileThatIsAlreadyGoneSucceeds) {
    auto store = open();
    store->append(event());
    store->snapshot();
    for (const auto& file : segmentFiles(root())) std::filesystem::remove(file);
    EXPECT_NO_THROW(store->clear());
    EXPECT_EQ(store->snapshot().health.byteCount, 0);
}

TEST_F(DiagnosticStoreTest, TheHourlyPassWritesTheFallback) {
    DiagnosticStore::Options options;
    options.root = root();
    options.maintenanceIntervalSeconds = 0.02;
    std::atomic<bool> refuse{true};
    options.fileOperation = [&](DiagnosticFileOperation, const std::filesystem::path&) {
        if (refuse) throw std::runtime_error("no");
    };
    auto store = DiagnosticStore::create(options);
    now = Date::now().secondsSinceReferenceDate; // this store runs on the real clock
    store->append(event());
    EXPECT_TRUE(runMainUntil([&] { return store->snapshot().health.lastFailure.has_value(); }));
    refuse = false;
    EXPECT_TRUE(runMainUntil([&] { return segmentFiles(root()).size() == 1; }));
    std::weak_ptr<DiagnosticStore> weak = store;
    store.reset();
    EXPECT_TRUE(runMainUntil([&] { return weak.expired(); }));
}

TEST(DiagnosticStoreConcurrency, AppendsFromManyThreadsWhileDrainsRun) {
    ScratchDirectory scratch;
    DiagnosticStore::Options options;
    options.root = scratch / "diagnostics";
    options.scheduleMaintenance = false;
    auto store = DiagnosticStore::create(options);
    constexpr int threads = 8;
    constexpr int perThread = 60;
    std::set<platform::Uuid> appended;
    std::mutex appendedMutex;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            auto snapshot = store->snapshot();
            EXPECT_LE(snapshot.events.size(), static_cast<std::size_t>(threads * perThread));
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < perThread; ++i) {
                DiagnosticEvent event;
                event.timestamp = Date::now();
                event.operationID = platform::Uuid::random();
                {
                    std::lock_guard lock(appendedMutex);
                    appended.insert(event.operationID);
                }
                store->append(event);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    done = true;
    reader.join();
    auto snapshot = store->snapshot();
    // Bursts may overflow the pending list (newest 100 kept), never more than was appended.
    EXPECT_GE(snapshot.events.size(), 100u);
    for (const auto& event : snapshot.events) EXPECT_TRUE(appended.count(event.operationID));
    EXPECT_FALSE(snapshot.health.lastFailure);
}
