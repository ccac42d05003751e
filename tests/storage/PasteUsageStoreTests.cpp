#include "storage/TransferStore.h"

#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

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

    void execute(const std::string& sql) { runSQL(scratch / "Tarpelix" / "transfers.sqlite3", sql); }

    ScratchDirectory scratch;
    platform::TimeZone zone{"UTC"};
};

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
    execute(insertRow(older));
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
    EXPECT_EQ(errorOf<StorageError>([&] { store->pasteUsage(); }), StorageError::databaseFailure);
    store->clear();
    EXPECT_EQ(store->pasteUsage().successfulPastes, 0);
}
