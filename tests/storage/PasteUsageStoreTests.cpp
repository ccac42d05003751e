#include "storage/TransferStore.h"

#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

class PasteUsageStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<TransferStore> open() {
        TransferStore::Options options;
        options.root = scratch / "Tarpelix";
        options.scheduleMaintenance = false;
        options.timeZone = [this] { return zone; };
        return TransferStore::open(options);
    }

    void execute(const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((scratch / "Tarpelix" / "transfers.sqlite3").c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    ScratchDirectory scratch;
    platform::TimeZone zone{"UTC"};
};

// 2026-01-05 22:30 UTC (23:30 in Berlin).
const double lateEvening = Date::fromUnixSeconds(1767652200).secondsSinceReferenceDate;

} // namespace

TEST_F(PasteUsageStoreTest, ARecordCountsOnceWhenItFirstQualifies) {
    auto store = open();
    auto record = store->create(makeRecord(lateEvening), std::nullopt);
    EXPECT_EQ(store->pasteUsage().successfulPastes, 0);
    auto done = succeeded(record);
    store->update(done);
    store->update(done);
    done.updatedAt = Date{lateEvening + 5};
    store->update(done);
    auto usage = store->pasteUsage();
    EXPECT_EQ(usage.successfulPastes, 1);
    EXPECT_EQ(usage.remoteMachines, 1);
    EXPECT_EQ(usage.activeDays, 1);
    EXPECT_EQ(usage.firstPasteAt, Date{lateEvening});
}

TEST_F(PasteUsageStoreTest, UnsavedRecordsAreAddedWithoutBeingStored) {
    auto store = open();
    auto usage = store->pasteUsage({succeeded(makeRecord(1)), succeeded(makeRecord(2)), makeRecord(3)});
    EXPECT_EQ(usage.successfulPastes, 2);
    EXPECT_EQ(store->pasteUsage().successfulPastes, 0);
    // A record already counted is not counted twice.
    auto stored = store->create(succeeded(makeRecord(4)), std::nullopt);
    EXPECT_EQ(store->pasteUsage({stored}).successfulPastes, 1);
}

TEST_F(PasteUsageStoreTest, DaysAreTakenInTheZoneCurrentWhenCounted) {
    zone = {"Europe/Berlin"};
    auto store = open();
    store->create(succeeded(makeRecord(lateEvening)), std::nullopt); // 5 January in Berlin
    EXPECT_EQ(store->pasteUsage().activeDays, 1);

    // The Mac moved west: 01:30 UTC is still the evening of 5 January in New York.
    zone = {"America/New_York"};
    store->create(succeeded(makeRecord(lateEvening + 3 * 3600)), std::nullopt);
    EXPECT_EQ(store->pasteUsage().activeDays, 1);

    // Back in Berlin the same hour is past midnight: a second day.
    zone = {"Europe/Berlin"};
    store->create(succeeded(makeRecord(lateEvening + 3 * 3600 + 1)), std::nullopt);
    EXPECT_EQ(store->pasteUsage().activeDays, 2);
}

TEST_F(PasteUsageStoreTest, TheBackfillCountsOlderRecordsAndKeepsTheEarliestFirstPaste) {
    auto store = open();
    store->create(succeeded(makeRecord(2000)), std::nullopt);
    store.reset();
    auto older = succeeded(makeRecord(1000), "other.example");
    execute("INSERT INTO transfers VALUES('" + older.id.uuidString() + "', 1, CAST('" + older.json() + "' AS BLOB));");
    store = open();
    auto usage = store->pasteUsage();
    EXPECT_EQ(usage.successfulPastes, 2);
    EXPECT_EQ(usage.remoteMachines, 2);
    EXPECT_EQ(usage.firstPasteAt, Date{1000});
    store.reset();
    EXPECT_EQ(open()->pasteUsage().successfulPastes, 2); // counted once, not at every open
}

TEST_F(PasteUsageStoreTest, AFailedCountKeepsTheRecordAndStopsTheFiguresUntilAClear) {
    auto store = open();
    store->create(succeeded(makeRecord(1)), std::nullopt);
    execute("UPDATE paste_usage SET payload = CAST('{}' AS BLOB);");
    auto record = store->create(makeRecord(2), std::nullopt);
    EXPECT_EQ(store->update(succeeded(record)), succeeded(record));
    EXPECT_EQ(store->record(record.id)->uploadOutcome, TransferOutcome::succeeded);
    try {
        store->pasteUsage();
        ADD_FAILURE() << "the figures were read";
    } catch (const StorageError& error) {
        EXPECT_EQ(error, StorageError::databaseFailure);
    }
    store->clear();
    EXPECT_EQ(store->pasteUsage().successfulPastes, 0);
}
