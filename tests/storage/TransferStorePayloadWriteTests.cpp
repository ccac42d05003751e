// Payloads the store would write longer than it reads: they are not written, and the row on
// disk stays the one that reads.
#include "storage/TransferStore.h"

#include "storage/RecordChecks.h"
#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

class TransferStorePayloadWriteTest : public ::testing::Test {
protected:
    std::shared_ptr<TransferStore> open() {
        TransferStore::Options options;
        options.root = root();
        options.clock = [] { return Date{800'000'500}; };
        options.scheduleMaintenance = false;
        options.timeZone = [] { return platform::TimeZone{"UTC"}; };
        return TransferStore::open(options);
    }
    std::filesystem::path root() const { return scratch / "Tarpelix"; }
    std::filesystem::path database() const { return root() / "transfers.sqlite3"; }
    std::string storedLength(const TransferRecord& record) const {
        return querySingle(database(), "SELECT length(payload) FROM transfers WHERE id = " +
                                           sqlQuoted(record.id.uuidString()));
    }

    ScratchDirectory scratch;
};

// A record of `count` slashes as terminal, and its JSON as another writer may store it, with the
// slashes unescaped. "/" is written escaped, so the store's own JSON of it is `count` bytes longer.
// Built around a short record's JSON: encoding megabytes takes seconds under the sanitizers.
std::pair<TransferRecord, std::string> ofSlashes(double createdAt, std::size_t count) {
    auto record = makeRecord(createdAt);
    record.terminal = "@";
    auto json = record.json();
    json.replace(json.find("\"@\""), 3, "\"" + std::string(count, '/') + "\"");
    record.terminal.assign(count, '/');
    return {record, json};
}

} // namespace

TEST_F(TransferStorePayloadWriteTest, APendingRowThatWouldRewriteTooLongIsLeftAsStoredAndStillReads) {
    open().reset(); // the schema
    // 4.3 MB as stored, 8.6 MB once rewritten: over the 8 MiB a row is read at.
    const auto [foreign, payload] = ofSlashes(800'000'100, 4'300'000);
    ASSERT_LT(payload.size(), recordPayloadLimit.bytes);
    ASSERT_GT(payload.size() + foreign.terminal.size(), recordPayloadLimit.bytes);
    auto ordinary = makeRecord(800'000'200);
    runSQL(database(), insertRow(foreign, payload) + insertRow(ordinary));

    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        auto store = open(); // recovery rewrites pending outcomes as interrupted
        EXPECT_EQ(storedLength(foreign), std::to_string(payload.size())) << "left as stored";
        const auto read = store->record(foreign.id);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, foreign);
        const auto recovered = store->record(ordinary.id);
        ASSERT_TRUE(recovered);
        EXPECT_EQ(recovered->uploadOutcome, TransferOutcome::interrupted);
        EXPECT_EQ(recovered->insertionOutcome, TransferOutcome::interrupted);
        EXPECT_EQ(store->health().recordCount, 2);
        if (opening == 1) continue;

        // An update that would not read back fails and leaves the row as it was.
        auto changed = foreign;
        changed.uploadOutcome = TransferOutcome::failed;
        EXPECT_EQ(errorOf<StorageError>([&] { store->update(changed); }), StorageError::invalidRecord);
        EXPECT_EQ(storedLength(foreign), std::to_string(payload.size()));
        EXPECT_EQ(store->record(foreign.id), foreign);
    }
}

TEST_F(TransferStorePayloadWriteTest, ACreateThatWouldNotReadBackIsRefusedAndLeavesNoRowOrImage) {
    auto store = open();
    // At the limit it is written and reads back; one slash more, it is refused.
    const auto frame = ofSlashes(800'000'100, 0).second.size();
    const auto room = recordPayloadLimit.bytes - frame;
    auto atLimit = ofSlashes(800'000'100, room / 2).first; // each slash writes as two bytes
    atLimit.terminal.append(room % 2, 't');
    EXPECT_NO_THROW(store->create(atLimit, std::nullopt));

    auto over = ofSlashes(800'000'200, room / 2 + 1).first;
    over.imageSize = 64;
    EXPECT_EQ(errorOf<StorageError>([&] { store->create(over, pngBytes(64)); }), StorageError::invalidRecord);
    EXPECT_FALSE(store->record(over.id));
    EXPECT_TRUE(namesIn(root() / "images").empty()) << "the image written for it is removed";

    store.reset();
    store = open();
    EXPECT_EQ(store->health().recordCount, 1);
    ASSERT_TRUE(store->record(atLimit.id));
    EXPECT_EQ(store->record(atLimit.id)->terminal, atLimit.terminal);
}
