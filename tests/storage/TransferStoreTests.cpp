#include "storage/TransferStore.h"

#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

class TransferStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<TransferStore> open(StoragePolicy policy = {}) {
        TransferStore::Options options;
        options.root = root();
        options.clock = [this] { return Date{now}; };
        options.policy = policy;
        options.scheduleMaintenance = false;
        options.initiallyActiveOperations = active;
        options.timeZone = [] { return platform::TimeZone{"UTC"}; };
        return TransferStore::open(options);
    }

    std::optional<StorageError> openFailure(StoragePolicy policy = {}) {
        return errorOf<StorageError>([&] { open(policy); });
    }

    std::filesystem::path root() const { return scratch / "Tarpelix"; }
    std::filesystem::path images() const { return root() / "images"; }
    std::filesystem::path database() const { return root() / "transfers.sqlite3"; }

    ScratchDirectory scratch;
    double now = 800'000'000;
    TransferStore::Identifiers active;
};

} // namespace

TEST_F(TransferStoreTest, AFreshRootGetsPrivateDirectoriesAndTheCurrentSchema) {
    auto store = open();
    EXPECT_EQ(modeOf(root()), 0700u);
    EXPECT_EQ(modeOf(images()), 0700u);
    EXPECT_EQ(modeOf(database()), 0600u);
    store.reset();
    EXPECT_EQ(querySingle(database(), "PRAGMA user_version"), "3");
    EXPECT_EQ(querySingle(database(), "SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master ORDER BY name)"),
              "counted_pastes,latest_attempt,paste_usage,sqlite_autoindex_counted_pastes_1,"
              "sqlite_autoindex_transfers_1,transfers,transfers_created");
}

TEST_F(TransferStoreTest, OlderSchemasMigrateAndKeepEveryRow) {
    auto first = makeRecord(1000);
    auto second = succeeded(makeRecord(2000));
    auto attempt = attemptFor(second.id, 2000, 2001, PasteFeedback::Stage::inserting, PasteFeedback::Outcome::success);

    const std::string version1 =
        "CREATE TABLE transfers (id TEXT PRIMARY KEY NOT NULL, created_at REAL NOT NULL, payload BLOB NOT NULL);"
        "CREATE INDEX transfers_created ON transfers(created_at DESC);" +
        insertRow(first) + insertRow(second) + "PRAGMA user_version=1;";
    const std::string version2 = version1 +
                                 "CREATE TABLE latest_attempt (slot INTEGER PRIMARY KEY CHECK(slot = 1), payload BLOB "
                                 "NOT NULL); INSERT INTO latest_attempt VALUES(1, CAST(" +
                                 sqlQuoted(attempt.json()) + " AS BLOB)); PRAGMA user_version=2;";
    struct Case {
        const char* name;
        std::string setup;
        std::size_t records;
    } cases[] = {
        {"version 0", "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('kept');", 0},
        {"version 1", version1, 2},
        {"version 2", version2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root());
        std::filesystem::create_directories(images());
        runSQL(database(), c.setup);
        auto store = open();
        EXPECT_EQ(store->health().recordCount, static_cast<std::int64_t>(c.records));
        if (c.records) {
            EXPECT_EQ(store->record(first.id)->terminal, first.terminal);
            EXPECT_EQ(store->record(second.id)->uploadOutcome, TransferOutcome::succeeded);
            // The backfill counted the successful paste that was stored before the ledger existed.
            EXPECT_EQ(store->pasteUsage().successfulPastes, 1);
        }
        store.reset();
        EXPECT_EQ(querySingle(database(), "PRAGMA user_version"), "3");
        EXPECT_EQ(querySingle(database(), "SELECT count(*) FROM sqlite_master WHERE name = 'counted_pastes'"), "1");
        if (c.records == 0) {
            EXPECT_EQ(querySingle(database(), "SELECT text FROM notes"), "kept");
        }
        if (std::string(c.name) == "version 2") {
            EXPECT_EQ(querySingle(database(), "SELECT count(*) FROM latest_attempt"), "1");
        }
    }
}

TEST_F(TransferStoreTest, NewerOrNegativeSchemasAndForeignFilesAreRefusedUntouched) {
    struct Case {
        const char* name;
        std::function<void()> make;
        StorageError expected;
    } cases[] = {
        {"version 4", [&] { runSQL(database(), "CREATE TABLE t(x); INSERT INTO t VALUES(1); PRAGMA user_version=4;"); },
         StorageError::unsupportedSchema},
        {"version -1", [&] { runSQL(database(), "CREATE TABLE t(x); PRAGMA user_version=-1;"); },
         StorageError::unsupportedSchema},
        {"not a database", [&] { writeFile(database(), std::string(4096, 'x')); }, StorageError::databaseFailure},
        {"a transfers row that does not decode",
         [&] {
             open().reset();
             auto record = makeRecord(1000);
             auto payload = record.json();
             payload.replace(payload.find("\"terminal\""), 10, "\"Terminal\"");
             runSQL(database(), insertRow(record, payload));
         },
         StorageError::databaseFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root());
        std::filesystem::create_directories(images());
        c.make();
        auto before = readFile(database());
        EXPECT_EQ(openFailure(), c.expected);
        EXPECT_EQ(readFile(database()), before);
        EXPECT_FALSE(std::filesystem::exists(root() / "transfers.sqlite3-journal"));
    }
}

TEST_F(TransferStoreTest, UnusableRootsAndDatabasePathsAreUnavailable) {
    auto elsewhere = scratch / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    struct Case {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"root is a symbolic link", [&] { std::filesystem::create_directory_symlink(elsewhere, root()); }},
        {"root is a file", [&] { writeFile(root(), "x"); }},
        {"database is a directory", [&] { std::filesystem::create_directories(database()); }},
        {"database is a symbolic link",
         [&] {
             std::filesystem::create_directories(root());
             writeFile(elsewhere / "db", "");
             std::filesystem::create_symlink(elsewhere / "db", database());
         }},
        {"images is a file",
         [&] {
             std::filesystem::create_directories(root());
             writeFile(images(), "");
         }},
        {"root without its owner-write bit",
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
        EXPECT_EQ(openFailure(), StorageError::unavailable);
    }
    EXPECT_EQ(openFailure(StoragePolicy{-1}), StorageError::invalidRecord);
}

TEST_F(TransferStoreTest, AnUnreadableLatestAttemptIsNotedAndReplacedByTheNextSave) {
    open().reset();
    runSQL(database(), "INSERT INTO latest_attempt VALUES(1, CAST('not json' AS BLOB));");
    auto store = open();
    EXPECT_EQ(store->health().lastFailure, StorageError::invalidRecord);
    EXPECT_THROW(store->latestAttempt(), StorageError);

    auto attempt = attemptFor(platform::Uuid::random(), now, now);
    store->saveLatestAttempt(attempt);
    EXPECT_EQ(store->latestAttempt(), attempt);
    EXPECT_FALSE(store->health().lastFailure);
}

TEST_F(TransferStoreTest, UpdatesMustMatchTheStoredRow) {
    auto store = open();
    auto stored = store->create(makeRecord(1000, 3), pngBytes(3));
    ASSERT_TRUE(stored.localFilename);
    EXPECT_EQ(stored.updatedAt, Date{now});

    struct Case {
        const char* name;
        std::function<void(TransferRecord&)> change;
    } refused[] = {
        {"other image size", [](TransferRecord& r) { r.imageSize = 4; }},
        {"other creation", [](TransferRecord& r) { r.createdAt = Date{1001}; }},
        {"no file name", [](TransferRecord& r) { r.localFilename.reset(); }},
        {"unknown id", [](TransferRecord& r) { r.id = platform::Uuid::random(); }},
    };
    for (const auto& c : refused) {
        auto changed = stored;
        changed.insertionOutcome = TransferOutcome::failed;
        c.change(changed);
        EXPECT_EQ(errorOf<StorageError>([&] { store->update(changed); }), StorageError::invalidRecord) << c.name;
    }
    EXPECT_EQ(store->record(stored.id), stored);
    EXPECT_EQ(store->health().lastFailure, StorageError::invalidRecord);

    auto changed = stored;
    changed.insertionOutcome = TransferOutcome::failed;
    changed.updatedAt = Date{5};
    EXPECT_EQ(store->update(changed), changed); // the store keeps the caller's updatedAt
    EXPECT_EQ(store->record(stored.id), changed);
    EXPECT_FALSE(store->health().lastFailure);
}

TEST_F(TransferStoreTest, CreatesRefuseMismatchedImagesAndDuplicates) {
    auto store = open();
    auto record = makeRecord(1000, 10);
    EXPECT_THROW(store->create(record, pngBytes(9)), StorageError);
    auto named = record;
    named.localFilename = record.expectedFilename();
    EXPECT_THROW(store->create(named, pngBytes(10)), StorageError);
    EXPECT_FALSE(store->record(record.id));
    EXPECT_TRUE(std::filesystem::is_empty(images()));

    store->create(record, pngBytes(10));
    EXPECT_THROW(store->create(record, std::nullopt), StorageError);
    EXPECT_EQ(store->health().recordCount, 1);
}

TEST_F(TransferStoreTest, RecordsSortNewestFirstWithTiesByIdentifier) {
    auto store = open();
    auto low = succeeded(makeRecord(1000));
    auto high = succeeded(makeRecord(1000));
    if (high.id < low.id) std::swap(low, high);
    store->create(low, std::nullopt);
    store->create(high, std::nullopt);
    EXPECT_EQ(store->latestConfirmedUpload()->id, high.id);
    auto newer = makeRecord(2000);
    store->create(newer, std::nullopt); // not confirmed: not offered
    EXPECT_EQ(store->latestConfirmedUpload()->id, high.id);
}

TEST_F(TransferStoreTest, TheImageBudgetKeepsTheNewestAndNeverTheProtected) {
    auto store = open(StoragePolicy{100});
    auto exact = store->create(makeRecord(1000, 100), pngBytes(100));
    EXPECT_TRUE(exact.localFilename); // exactly the budget fits

    auto over = store->create(makeRecord(1001, 101), pngBytes(101));
    EXPECT_FALSE(over.localFilename); // one byte over: stored without its image
    EXPECT_EQ(over.imageSize, 101);
    EXPECT_TRUE(store->record(exact.id)->localFilename); // and nothing was evicted for it

    auto a = store->create(makeRecord(1002, 40), pngBytes(40));
    EXPECT_FALSE(store->record(exact.id)->localFilename); // oldest out first
    EXPECT_EQ(store->record(exact.id)->imageSize, 100);
    EXPECT_EQ(store->record(exact.id)->updatedAt, Date{now});
    auto b = store->create(makeRecord(1003, 40), pngBytes(40));
    EXPECT_TRUE(store->record(a.id)->localFilename);

    store->setActiveOperations({a.id});
    auto c = store->create(makeRecord(1004, 40), pngBytes(40));
    EXPECT_TRUE(store->record(a.id)->localFilename); // protected
    EXPECT_FALSE(store->record(b.id)->localFilename);
    EXPECT_TRUE(c.localFilename);

    // Protected images alone may exceed the budget; they are still never evicted.
    store->setActiveOperations({a.id, c.id});
    auto d = store->create(makeRecord(1005, 40), pngBytes(40));
    EXPECT_FALSE(d.localFilename);
    store->maintain({});
    EXPECT_TRUE(store->record(a.id)->localFilename);
    EXPECT_TRUE(store->record(c.id)->localFilename);
    auto health = store->health();
    EXPECT_EQ(health.imageCount, 2);
    EXPECT_EQ(health.imageBytes, 80);
    EXPECT_EQ(health.recordCount, 6);
}

TEST_F(TransferStoreTest, UnsafeRetainedFilesAreNeverRead) {
    auto store = open();
    auto linked = store->create(makeRecord(1000, 5), pngBytes(5, 1));
    auto foreign = store->create(makeRecord(1001, 5), pngBytes(5, 2));
    auto doubled = store->create(makeRecord(1002, 5), pngBytes(5, 3));
    auto unreadable = store->create(makeRecord(1003, 5), pngBytes(5, 4));
    auto plain = store->create(makeRecord(999, 5), pngBytes(5, 5));
    EXPECT_EQ(store->readRetainedImage(plain.id), pngBytes(5, 5));

    auto target = scratch / "target.png";
    writeFile(target, "target");
    std::filesystem::remove(images() / *linked.localFilename);
    std::filesystem::create_symlink(target, images() / *linked.localFilename);
    ASSERT_EQ(::chown((images() / *foreign.localFilename).c_str(), 65534, 65534), 0);
    std::filesystem::create_hard_link(images() / *doubled.localFilename, scratch / "second-link");
    ::chmod((images() / *unreadable.localFilename).c_str(), 0200);

    for (const auto& record : {linked, foreign, doubled, unreadable}) {
        EXPECT_FALSE(store->readRetainedImage(record.id)) << record.id.uuidString();
    }
    EXPECT_EQ(store->latestRetainedImage()->id, plain.id);

    // Maintenance treats the link as an absent file: the link goes, its target stays.
    store->maintain({});
    EXPECT_FALSE(std::filesystem::is_symlink(images() / *linked.localFilename));
    EXPECT_EQ(readFile(target), "target");
    EXPECT_FALSE(store->record(linked.id)->localFilename);
    EXPECT_TRUE(store->record(foreign.id)->localFilename);
}

TEST_F(TransferStoreTest, RecoveryRemovesLeftoversAndEndsPendingTransfers) {
    auto store = open();
    auto confirmed = makeRecord(1000);
    confirmed.confirmedRemotePath = "/r/.cache/tarpelix/uploads/" + confirmed.id.uuidString() + ".png";
    auto unconfirmed = makeRecord(1001);
    auto running = makeRecord(1002);
    auto retained = store->create(makeRecord(1003, 4), pngBytes(4));
    store->create(confirmed, std::nullopt);
    store->create(unconfirmed, std::nullopt);
    store->create(running, std::nullopt);
    store.reset();

    auto stray = platform::Uuid::random().uuidString();
    auto lower = lowerCase(stray);
    writeFile(images() / ("." + stray + ".tmp"), "half");
    writeFile(images() / (stray + ".png"), "unreferenced");
    writeFile(images() / (lower + ".png"), "lower case");
    writeFile(images() / "notes.txt", "other");
    auto directory = platform::Uuid::random().uuidString() + ".png";
    std::filesystem::create_directories(images() / directory);

    now += 50;
    active = {running.id};
    store = open();
    EXPECT_EQ(namesIn(images()), (std::set<std::string>{lower + ".png", "notes.txt", directory, *retained.localFilename}));

    auto recoveredConfirmed = *store->record(confirmed.id);
    EXPECT_EQ(recoveredConfirmed.uploadOutcome, TransferOutcome::succeeded);
    EXPECT_EQ(recoveredConfirmed.insertionOutcome, TransferOutcome::interrupted);
    EXPECT_EQ(recoveredConfirmed.updatedAt, Date{now});
    EXPECT_EQ(store->record(unconfirmed.id)->uploadOutcome, TransferOutcome::interrupted);
    EXPECT_EQ(store->record(running.id)->uploadOutcome, TransferOutcome::pending);
    EXPECT_EQ(store->record(running.id)->updatedAt, Date{now - 50});
}

TEST_F(TransferStoreTest, AConfirmedPathItsUploadCouldNotHaveConfirmedIsNeverOfferedNorWritten) {
    auto home = [](const platform::Uuid& id) { return "/home/me/.cache/tarpelix/uploads/" + id.uuidString() + ".png"; };
    struct Case {
        const char* name;
        std::function<std::string(const platform::Uuid&)> path;
    } cases[] = {
        {"control characters", [](const platform::Uuid& id) { return "/home/me\x1b[2J/.cache/tarpelix/uploads/" + id.uuidString() + ".png"; }},
        {"another record's path", [&](const platform::Uuid&) { return home(platform::Uuid::random()); }},
        {"a .. piece", [](const platform::Uuid& id) { return "/home/../.cache/tarpelix/uploads/" + id.uuidString() + ".png"; }},
        {"relative", [&](const platform::Uuid& id) { return home(id).substr(1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root());
        open().reset();
        // A finished paste and one cut off during its upload, both with the forged path, and the
        // latest attempt of the second.
        auto finished = succeeded(makeRecord(1000));
        finished.confirmedRemotePath = c.path(finished.id);
        auto cutOff = makeRecord(2000);
        cutOff.confirmedRemotePath = c.path(cutOff.id);
        auto attempt = attemptFor(cutOff.id, 2000, 2001, PasteFeedback::Stage::uploading);
        runSQL(database(), insertRow(finished) + insertRow(cutOff) + "INSERT INTO latest_attempt VALUES(1, CAST(" +
                               sqlQuoted(attempt.json()) + " AS BLOB));");

        auto store = open();
        auto expected = finished;
        expected.confirmedRemotePath.reset();
        EXPECT_EQ(store->record(finished.id), expected); // everything else kept
        EXPECT_FALSE(store->latestConfirmedUpload());
        EXPECT_EQ(store->pasteUsage().successfulPastes, 0);
        EXPECT_EQ(store->record(cutOff.id)->uploadOutcome, TransferOutcome::interrupted); // not confirmed by it
        EXPECT_FALSE(store->latestAttempt()->feedback.uploadConfirmed);

        auto fresh = makeRecord(3000);
        fresh.confirmedRemotePath = c.path(fresh.id);
        EXPECT_EQ(errorOf<StorageError>([&] { store->create(fresh, std::nullopt); }), StorageError::invalidRecord);
        auto stored = store->create(makeRecord(3000), std::nullopt);
        stored.confirmedRemotePath = c.path(stored.id);
        EXPECT_EQ(errorOf<StorageError>([&] { store->update(stored); }), StorageError::invalidRecord);
        EXPECT_FALSE(store->record(stored.id)->confirmedRemotePath);
    }
}

TEST_F(TransferStoreTest, RowsAnotherConnectionWroteAreReadAgain) {
    auto store = open();
    auto mine = store->create(makeRecord(1000), std::nullopt);
    auto theirs = makeRecord(2000);
    runSQL(database(), insertRow(theirs));
    EXPECT_EQ(store->record(theirs.id), theirs);
    EXPECT_EQ(store->health().recordCount, 2);

    // A row damaged by another program fails the reads, as a bad row always does.
    runSQL(database(), "UPDATE transfers SET payload = CAST('{}' AS BLOB) WHERE id = " + sqlQuoted(theirs.id.uuidString()));
    EXPECT_EQ(errorOf<StorageError>([&] { store->record(mine.id); }), StorageError::databaseFailure);
    EXPECT_EQ(errorOf<StorageError>([&] { store->update(mine); }), StorageError::databaseFailure);
    runSQL(database(), "DELETE FROM transfers WHERE id = " + sqlQuoted(theirs.id.uuidString()));
    EXPECT_EQ(store->record(mine.id), mine);
    EXPECT_EQ(store->health().recordCount, 1);
}

TEST_F(TransferStoreTest, ClearingIsRefusedWhileBusyAndOtherwiseRemovesOnlyOwnedFiles) {
    auto store = open();
    auto record = store->create(succeeded(makeRecord(1000, 4)), pngBytes(4));
    writeFile(images() / "keep.txt", "mine");
    store->setActiveOperations({record.id});
    EXPECT_THROW(store->clear(), StorageError);
    EXPECT_EQ(store->health().lastFailure, StorageError::busy);
    EXPECT_TRUE(std::filesystem::exists(images() / *record.localFilename));
    EXPECT_TRUE(store->record(record.id));

    store->setActiveOperations({});
    store->clear();
    EXPECT_FALSE(store->record(record.id));
    EXPECT_EQ(namesIn(images()), std::set<std::string>{"keep.txt"});
    EXPECT_EQ(store->pasteUsage().successfulPastes, 0);
    EXPECT_FALSE(store->health().lastFailure);
}

TEST_F(TransferStoreTest, OperationsFailWhenTheDirectoriesGoAway) {
    auto store = open();
    std::filesystem::remove_all(images());
    EXPECT_EQ(errorOf<StorageError>([&] { store->record(platform::Uuid::random()); }), StorageError::unavailable);
    EXPECT_THROW(store->health(), StorageError);
    std::filesystem::create_directories(images());
    EXPECT_EQ(store->health().lastFailure, StorageError::unavailable);
    store->maintain({});
    EXPECT_FALSE(store->health().lastFailure);
}
