// The store across a killed writer and across its own release while its timer runs.
#include "storage/TransferStore.h"

#include "storage/StorageTestSupport.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

namespace {

constexpr const char* crashRootVariable = "TARPELIX_STORE_CRASH_ROOT";
constexpr int progressDescriptor = 3;

std::size_t imageSizeFor(const platform::Uuid& id) { return 200'000 + id.bytes()[0] * 1000; }
std::uint8_t seedFor(const platform::Uuid& id) { return id.bytes()[1]; }

// The child: creates records with images and completes them, reporting each commit, until killed.
[[noreturn]] void writeUntilKilled(const char* root) {
    try {
        TransferStore::Options options;
        options.root = root;
        options.scheduleMaintenance = false;
        auto store = TransferStore::open(options);
        for (int i = 0;; ++i) {
            auto record = makeRecord(1000 + i);
            record.imageSize = static_cast<std::int64_t>(imageSizeFor(record.id));
            auto stored = store->create(record, pngBytes(imageSizeFor(record.id), seedFor(record.id)));
            if (::write(progressDescriptor, "c", 1) != 1) ::_exit(4);
            store->update(succeeded(stored));
            if (::write(progressDescriptor, "u", 1) != 1) ::_exit(4);
        }
    } catch (...) {
        ::_exit(3);
    }
}

} // namespace

TEST(TransferStoreCrash, AKilledWriterLeavesTheOldOrTheNewStateNeverATornOne) {
    if (const char* root = std::getenv(crashRootVariable)) writeUntilKilled(root);

    ScratchDirectory scratch;
    auto root = scratch / "Tarpelix";
    SelfRun run(std::string(crashRootVariable) + "=" + root.string(),
                "TransferStoreCrash.AKilledWriterLeavesTheOldOrTheNewStateNeverATornOne");

    std::size_t committed = 0;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int progress[2];
        ASSERT_EQ(::pipe2(progress, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, progress[1], progressDescriptor);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, run.self.c_str(), &actions, nullptr, run.arguments.data(), run.environment.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(progress[1]);

        // Let it commit a few steps (a different number each round), then kill it mid-write.
        std::size_t wanted = 2 + static_cast<std::size_t>(round) * 3;
        std::size_t seen = 0;
        while (seen < wanted) {
            pollfd wait{progress[0], POLLIN, 0};
            ASSERT_EQ(::poll(&wait, 1, 60'000), 1) << "the writer made no progress";
            char marks[64];
            auto n = ::read(progress[0], marks, sizeof marks);
            ASSERT_GT(n, 0) << "the writer ended";
            for (ssize_t i = 0; i < n; ++i) committed += marks[i] == 'c';
            seen += static_cast<std::size_t>(n);
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(progress[0]);
        ASSERT_TRUE(WIFSIGNALED(status));

        TransferStore::Options options;
        options.root = root;
        options.scheduleMaintenance = false;
        auto store = TransferStore::open(options);
        auto ids = queryColumn(root / "transfers.sqlite3", "SELECT id FROM transfers");
        EXPECT_GE(ids.size(), committed);
        EXPECT_LE(ids.size(), committed + 1);
        std::set<std::string> referenced;
        for (const auto& text : ids) {
            auto id = *platform::Uuid::parse(text);
            auto record = store->record(id);
            ASSERT_TRUE(record);
            EXPECT_NE(record->uploadOutcome, TransferOutcome::pending); // recovery ended it
            if (!record->localFilename) continue;
            referenced.insert(*record->localFilename);
            EXPECT_EQ(store->readRetainedImage(id), pngBytes(imageSizeFor(id), seedFor(id)));
        }
        for (const auto& entry : std::filesystem::directory_iterator(root / "images")) {
            EXPECT_TRUE(referenced.count(entry.path().filename().string())) << entry.path();
        }
        committed = ids.size();
    }
}

TEST(TransferStoreTimer, ReleasingTheLastReferenceWhileTheTimerRunsIsSafe) {
    ScratchDirectory scratch;
    Gate gate;

    TransferStore::Options options;
    options.root = scratch / "Tarpelix";
    options.maintenanceIntervalSeconds = 0.01;
    // The clock is read once per maintenance run; once armed it holds the timer's run until
    // the test has dropped its own reference, so the run's reference is the last one.
    options.clock = [&] {
        gate.pass();
        return platform::Date::now();
    };
    auto store = TransferStore::open(options);
    store->create(makeRecord(1000, 3), pngBytes(3));
    std::weak_ptr<TransferStore> weak = store;
    gate.arm();
    bool held = gate.awaitHeld();
    store.reset();
    gate.release();
    EXPECT_TRUE(held) << "the timer never ran";
    EXPECT_TRUE(runMainUntil([&] { return weak.expired(); }, 30));
    // The files the released store left are whole: a new store opens them.
    options.clock = platform::Date::now;
    options.scheduleMaintenance = false;
    EXPECT_EQ(TransferStore::open(options)->health().imageCount, 1);
}
