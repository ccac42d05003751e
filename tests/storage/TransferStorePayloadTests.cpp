// Stored payloads the application never writes at that size or in that form: read as damaged
// rows, without being loaded or parsed whole.
#include "storage/TransferStore.h"

#include "platform/foundation/JsonReader.h"
#include "storage/RecordChecks.h"
#include "storage/StorageTestSupport.h"

#include "support/PeakMemory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

constexpr const char* probeRootVariable = "TARPELIX_PAYLOAD_PROBE_ROOT";


std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const StorageError& error) {
        return error.what();
    }
    return "-";
}

// The child: opens the store over the prepared root and asks for the attempt and the usage,
// then prints what each gave and how far the peak resident size grew meanwhile.
[[noreturn]] void probe(const char* root) {
    const long before = resetPeakResidentKB();
    std::string opened, attempt = "-", usage = "-";
    try {
        TransferStore::Options options;
        options.root = root;
        options.scheduleMaintenance = false;
        auto store = TransferStore::open(options);
        opened = "opened";
        attempt = failureOf([&] { store->latestAttempt(); });
        usage = failureOf([&] { store->pasteUsage(); });
    } catch (const StorageError& error) {
        opened = error.what();
    }
    std::printf("open=%s attempt=%s usage=%s grewKB=%ld\n", opened.c_str(), attempt.c_str(), usage.c_str(),
                peakResidentKB() - before);
    std::fflush(nullptr);
    std::_Exit(0);
}

struct ProbeResult {
    std::string outcome; // "open=… attempt=… usage=…"
    long grewKB = -1;
};

// Runs the probe in a fresh process of this program over `root`.
ProbeResult runProbe(const std::filesystem::path& root) {
    SelfRun run(std::string(probeRootVariable) + "=" + root.string(), "TransferStorePayloadMemory.*");
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    pid_t child = 0;
    int spawned = posix_spawn(&child, run.self.c_str(), &actions, nullptr, run.arguments.data(), run.environment.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = ::read(output[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(output[0]);
    if (spawned != 0) return {};
    int status = 0;
    ::waitpid(child, &status, 0);
    auto line = text.find("open=");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line == std::string::npos) return {text, -1};
    auto grew = text.find(" grewKB=", line);
    auto end = text.find('\n', line);
    return {text.substr(line, grew - line), std::stol(text.substr(grew + 8, end - grew - 8))};
}

} // namespace

// Oversized record payloads are started over by the application in its launch tests; here, a
// text payload, and the costliest shapes a limit still admits.
TEST(TransferStorePayloadMemory, HugePayloadsAreRefusedWithoutBeingRead) {
    if (const char* root = std::getenv(probeRootVariable)) probe(root);

    ScratchDirectory scratch;
    const auto root = scratch / "Tarpelix";
    const auto database = root / "transfers.sqlite3";
    const auto record = makeRecord(1000);
    const std::string row = "INSERT INTO transfers(id, created_at, payload) VALUES(" + sqlQuoted(record.id.uuidString()) +
                            ", 1000, ";
    // As much JSON as a limit admits, shaped to cost most to parse: 4 MiB levels deep, or
    // 2.8 million empty objects side by side.
    const std::string deep = "CAST(replace(hex(zeroblob(2097152)), '0', '[') || replace(hex(zeroblob(2097152)), '0', ']') AS BLOB)";
    const std::string wide = "CAST('[' || replace(hex(zeroblob(1398100)), '0', '{},') || '{}]' AS BLOB)";
    const struct {
        const char* name;
        std::string sql;
        const char* expected;
    } shapes[] = {
        {"100 MB text attempt", "INSERT INTO latest_attempt VALUES(1, CAST(zeroblob(100000000) AS TEXT));",
         "open=opened attempt=invalidRecord usage=-"},
        {"deep record within the limit", row + deep + ");", "open=databaseFailure attempt=- usage=-"},
        {"wide ledger within the limit", "INSERT INTO paste_usage VALUES(1, " + wide + ");",
         "open=opened attempt=- usage=databaseFailure"},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::filesystem::remove_all(root);
        {
            TransferStore::Options options;
            options.root = root;
            options.scheduleMaintenance = false;
            TransferStore::open(options);
        }
        runSQL(database, shape.sql);
        auto result = runProbe(root);
        std::printf("%s: %s, peak grew by %ld kB\n", shape.name, result.outcome.c_str(), result.grewKB);
        EXPECT_EQ(result.outcome, shape.expected);
        EXPECT_GE(result.grewKB, 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) // their shadow memory is not the reading's
        EXPECT_LT(result.grewKB, 64 * 1024);
#endif
    }
}

namespace {

class TransferStorePayloadTest : public ::testing::Test {
protected:
    std::shared_ptr<TransferStore> open() {
        TransferStore::Options options;
        options.root = root();
        options.clock = [] { return Date{800'000'000}; };
        options.scheduleMaintenance = false;
        options.timeZone = [] { return platform::TimeZone{"UTC"}; };
        return TransferStore::open(options);
    }
    std::filesystem::path root() const { return scratch / "Tarpelix"; }
    std::filesystem::path database() const { return root() / "transfers.sqlite3"; }
    std::string payloadOf(const std::string& table, const std::string& where) const {
        return querySingle(database(), "SELECT CAST(payload AS TEXT) FROM " + table + " WHERE " + where);
    }

    // A table's payload: the JSON the application writes there, the table's limit, the
    // statement that stores a payload value, and what the store makes of a payload it reads and
    // of one it refuses.
    struct Table {
        std::string json;
        std::size_t limit;
        std::function<std::string(const std::string& value)> store;
        std::function<void()> expectRead, expectRefused;
    };

    // Stores, in a fresh store each, a blob at the table's limit (read), one byte past it, the
    // JSON as text and a number (each refused).
    void expectEachPayload(const Table& table) {
        const struct {
            const char* name;
            std::string value;
            bool read;
        } payloads[] = {
            {"a blob at the limit", "CAST(" + sqlQuoted(padded(table.json, table.limit)) + " AS BLOB)", true},
            {"a blob one byte past it", "CAST(" + sqlQuoted(padded(table.json, table.limit + 1)) + " AS BLOB)", false},
            {"text", sqlQuoted(table.json), false},
            {"a number", "42", false},
        };
        for (const auto& payload : payloads) {
            SCOPED_TRACE(payload.name);
            std::filesystem::remove_all(root());
            open().reset();
            runSQL(database(), table.store(payload.value));
            payload.read ? table.expectRead() : table.expectRefused();
        }
    }

    // A payload of exactly `size` bytes: the JSON followed by spaces.
    static std::string padded(const std::string& json, std::size_t size) {
        return json + std::string(size - json.size(), ' ');
    }

    ScratchDirectory scratch;
};

} // namespace

// Each table's payload is read up to its limit, and past it, or as anything but a blob, it is
// the damaged row that table knows: the open fails, or the attempt or the usage does. One test
// per table: each reads megabytes, which takes seconds under the sanitizers.
TEST_F(TransferStorePayloadTest, TheTransfersTableRefusesAPayloadPastItsLimitOrNotABlob) {
    const auto record = succeeded(makeRecord(1000));
    expectEachPayload({record.json(), recordPayloadLimit.bytes,
                       [&](const std::string& value) {
                           return "INSERT INTO transfers VALUES(" + sqlQuoted(record.id.uuidString()) +
                                  ", 1000, " + value + ");";
                       },
                       [&] { EXPECT_EQ(open()->record(record.id), record); },
                       [&] {
                           auto before = readFile(database());
                           EXPECT_EQ(errorOf<StorageError>([&] { open(); }), StorageError::databaseFailure);
                           EXPECT_EQ(readFile(database()), before);
                       }});
}

TEST_F(TransferStorePayloadTest, TheLatestAttemptTableRefusesAPayloadPastItsLimitOrNotABlob) {
    const auto record = succeeded(makeRecord(1000));
    const auto attempt =
        attemptFor(record.id, 1000, 1001, PasteFeedback::Stage::inserting, PasteFeedback::Outcome::success);
    expectEachPayload(
        {attempt.json(), attemptPayloadLimit.bytes,
         [](const std::string& value) { return "INSERT INTO latest_attempt VALUES(1, " + value + ");"; },
         [&] { EXPECT_EQ(open()->latestAttempt(), attempt); },
         [&] {
             auto store = open();
             EXPECT_EQ(store->health().lastFailure, StorageError::invalidRecord);
             EXPECT_EQ(errorOf<StorageError>([&] { store->latestAttempt(); }), StorageError::invalidRecord);
         }});
}

TEST_F(TransferStorePayloadTest, ThePasteUsageTableRefusesAPayloadPastItsLimitOrNotABlob) {
    PasteUsageLedger ledger;
    ledger.record(succeeded(makeRecord(1000)), platform::TimeZone{"UTC"});
    expectEachPayload(
        {ledger.json(), ledgerPayloadLimit.bytes,
         [](const std::string& value) { return "INSERT INTO paste_usage VALUES(1, " + value + ");"; },
         [&] { EXPECT_EQ(open()->pasteUsage(), ledger.snapshot()); },
         [&] {
             EXPECT_EQ(errorOf<StorageError>([&] { open()->pasteUsage(); }), StorageError::databaseFailure);
         }});
}

// The largest payloads the application can write: a destination as long as `ssh -G` may report
// (1 MiB, here all characters JSON escapes), the longest confirmed path an upload marker can
// carry, and a usage ledger of a century of daily use on 10,000 machines. They read back whole,
// and each is well within its table's limit.
TEST_F(TransferStorePayloadTest, TheLargestPayloadsTheApplicationWritesReadBack) {
    auto record = succeeded(makeRecord(1000));
    record.destinationIdentity = std::string(512 * 1024, '"') + "@" + std::string(512 * 1024 - 32, '\\') + ":65535";
    record.confirmedRemotePath = "/" + std::string(65'536 - 150, 'h') + "/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
    record.failureCategory = TransferFailureCategory::unknown;

    auto attempt = attemptFor(record.id, 1000, 1001, PasteFeedback::Stage::inserting, PasteFeedback::Outcome::success);
    std::string marks; // one user-perceived character of 1 MiB
    for (int i = 0; i < 512 * 1024 - 8; ++i) marks += "\xCC\x81";
    attempt.feedback.destination = "me@e" + marks;
    attempt.feedback.explanation = std::string(PasteAttempt::textLimit, '"');
    attempt.feedback.nextStep = std::string(PasteAttempt::textLimit, '\\');
    attempt.terminal = std::string(PasteAttempt::nameLimit, '"');
    attempt.transport = std::string(PasteAttempt::nameLimit, '\\');

    PasteUsageLedger ledger;
    for (int day = 0; day < 36'525; ++day) {
        auto daily = succeeded(makeRecord(day * 86'400.0), "me@host-" + std::to_string(day % 10'000) + ".example.org");
        ledger.record(daily, platform::TimeZone{"UTC"});
    }
    ASSERT_EQ(ledger.snapshot().remoteMachines, 10'000);

    std::optional<TransferRecord> written;
    std::optional<PasteAttempt> savedAttempt;
    {
        auto store = open();
        written = store->create(record, std::nullopt);
        store->saveLatestAttempt(attempt);
        savedAttempt = store->latestAttempt();
    }
    ASSERT_EQ(written->destinationIdentity, record.destinationIdentity);
    ASSERT_EQ(written->confirmedRemotePath, record.confirmedRemotePath);
    ASSERT_EQ(savedAttempt->feedback.destination, attempt.feedback.destination);
    runSQL(database(), "INSERT OR REPLACE INTO paste_usage VALUES(1, CAST(" + sqlQuoted(ledger.json()) + " AS BLOB));");

    auto store = open();
    EXPECT_EQ(store->record(record.id), written);
    EXPECT_EQ(store->latestAttempt(), savedAttempt);
    EXPECT_EQ(store->pasteUsage(), ledger.snapshot());
    const struct {
        const char* table;
        std::size_t limit;
        std::size_t atLeast;
    } sizes[] = {
        {"transfers", recordPayloadLimit.bytes, 2 * 1024 * 1024},
        {"latest_attempt", attemptPayloadLimit.bytes, 1024 * 1024},
        {"paste_usage", ledgerPayloadLimit.bytes, 900'000},
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.table);
        auto length = std::stoul(querySingle(database(), std::string("SELECT length(payload) FROM ") + size.table));
        std::printf("largest %s payload: %lu bytes\n", size.table, length);
        EXPECT_GE(length, size.atLeast); // the shape meant
        EXPECT_LE(length * 3, size.limit);
    }
}

// A row whose payload is another record's, under an id of its own, is damaged: it neither
// replaces that record nor gets its retained image deleted, however often the store is opened.
TEST_F(TransferStorePayloadTest, AStrayRowChangesNoOtherRecordAndDeletesNoImage) {
    const auto png = pngBytes(64);
    for (const char* strayID : {"STRAY", "another record's id", "the id in lower case"}) {
        SCOPED_TRACE(strayID);
        std::filesystem::remove_all(root());
        TransferRecord stored;
        {
            auto store = open();
            stored = store->update(succeeded(store->create(makeRecord(1000, 64), png)));
        }
        ASSERT_TRUE(stored.localFilename);
        const auto image = root() / "images" / *stored.localFilename;
        const auto before = payloadOf("transfers", "id = " + sqlQuoted(stored.id.uuidString()));

        // The payload of an earlier, unfinished state of that record.
        auto stray = stored;
        stray.confirmedRemotePath.reset();
        stray.uploadOutcome = TransferOutcome::pending;
        stray.insertionOutcome = TransferOutcome::pending;
        std::string id = strayID == std::string("STRAY")                 ? "STRAY"
                         : strayID == std::string("another record's id") ? platform::Uuid::random().uuidString()
                                                                         : lowerCase(stored.id.uuidString());
        runSQL(database(), "INSERT INTO transfers VALUES(" + sqlQuoted(id) + ", 2000, CAST(" + sqlQuoted(stray.json()) +
                               " AS BLOB));");

        for (int launch = 0; launch < 2; ++launch) {
            EXPECT_EQ(errorOf<StorageError>([&] { open(); }), StorageError::databaseFailure);
        }
        EXPECT_EQ(payloadOf("transfers", "id = " + sqlQuoted(stored.id.uuidString())), before);
        EXPECT_EQ(readFile(image), std::string(png.begin(), png.end()));
    }
}

// Payloads the store would write longer than it reads: they are not written, and the row on
// disk stays the one that reads.
namespace {

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

std::string storedLength(const std::filesystem::path& database, const TransferRecord& record) {
    return querySingle(database, "SELECT length(payload) FROM transfers WHERE id = " + sqlQuoted(record.id.uuidString()));
}

} // namespace

TEST_F(TransferStorePayloadTest, APendingRowThatWouldRewriteTooLongIsLeftAsStoredAndStillReads) {
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
        EXPECT_EQ(storedLength(database(), foreign), std::to_string(payload.size())) << "left as stored";
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
        EXPECT_EQ(storedLength(database(), foreign), std::to_string(payload.size()));
        EXPECT_EQ(store->record(foreign.id), foreign);
    }
}

TEST_F(TransferStorePayloadTest, ACreateThatWouldNotReadBackIsRefusedAndLeavesNoRowOrImage) {
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
