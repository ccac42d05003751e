// Costs of the storage and diagnostics paths a paste takes: the storage work of one paste (with
// and without a retained image) against the size of the history, the next paste's create with
// records owed since a full disk, and appending diagnostic events.
#include "diagnostics/DiagnosticEvent.h"
#include "diagnostics/DiagnosticStore.h"
#include "storage/TransferStorage.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

using namespace tarpelix;

namespace {

std::filesystem::path scratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarpelix-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
}

TransferRecord newRecord(std::int64_t imageSize) {
    TransferRecord record;
    record.terminal = "com.mitchellh.ghostty";
    record.transport = "ssh";
    record.destinationIdentity = "me@example.org";
    record.imageSize = imageSize;
    return record;
}

std::string remotePath(const platform::Uuid& id) { return "/home/me/.cache/tarpelix/uploads/" + id.uuidString() + ".png"; }

TransferRecord completed(TransferRecord record) {
    record.confirmedRemotePath = remotePath(record.id);
    record.uploadOutcome = TransferOutcome::succeeded;
    record.insertionOutcome = TransferOutcome::succeeded;
    return record;
}

// A store under a scratch directory of the build's file system, so fsyncs cost what they do on a
// real disk (tmpfs would hide them).
std::shared_ptr<TransferStorage> openStorage(const std::filesystem::path& root) {
    TransferStorage::Options options;
    options.root = root;
    options.scheduleMaintenance = false;
    return TransferStorage::create(options);
}

// Earlier pastes written straight into the files, as a long-used store would hold them: every
// other one succeeded, each with a small retained image (so every retained file is a candidate
// for the budget walk).
void fillHistory(const std::filesystem::path& root, int count) {
    openStorage(root).reset(); // creates the directories and the schema
    sqlite3* db = nullptr;
    if (sqlite3_open((root / "transfers.sqlite3").c_str(), &db) != SQLITE_OK) std::abort();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO transfers(id, created_at, payload) VALUES(?, ?, ?)", -1, &insert, nullptr);
    platform::Bytes png(1024, 0x5A);
    for (int i = 0; i < count; ++i) {
        auto record = newRecord(static_cast<std::int64_t>(png.size()));
        record.createdAt = platform::Date{record.createdAt.secondsSinceReferenceDate - 86400 + i};
        record.updatedAt = record.createdAt;
        if (i % 2) record = completed(record);
        record.localFilename = record.expectedFilename();
        std::FILE* file = std::fopen((root / "images" / *record.localFilename).c_str(), "wb");
        if (!file || std::fwrite(png.data(), 1, png.size(), file) != png.size()) std::abort();
        std::fclose(file);
        auto id = record.id.uuidString();
        auto payload = record.json();
        sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 2, record.createdAt.unixSeconds());
        sqlite3_bind_blob(insert, 3, payload.data(), static_cast<int>(payload.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_close(db);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The storage work of one paste, as the transfer does it: the record with its image, the
// storage warning, the confirmed upload and the finished insertion.
void paste(TransferStorage& storage, const platform::Bytes& png) {
    auto record = newRecord(static_cast<std::int64_t>(png.size()));
    storage.beginOperation(record.id);
    record = storage.create(record, png);
    benchmark::DoNotOptimize(storage.status().warning);
    record.confirmedRemotePath = remotePath(record.id);
    record.uploadOutcome = TransferOutcome::succeeded;
    record = storage.update(record);
    record.insertionOutcome = TransferOutcome::succeeded;
    benchmark::DoNotOptimize(storage.update(record));
    storage.endOperation(record.id);
}

// One paste's storage work with an empty store and with 2,000 earlier records, interleaved in
// one run; "ratio" is the second against the first (1.0 means the history costs nothing).
void pasteByHistorySize(benchmark::State& state) {
    constexpr int earlierRecords = 2000;
    auto directory = scratchDirectory();
    fillHistory(directory / "history", earlierRecords);
    auto empty = openStorage(directory / "empty");
    auto history = openStorage(directory / "history");
    platform::Bytes png(static_cast<std::size_t>(state.range(0)), 0x5A);
    using Clock = std::chrono::steady_clock;
    std::vector<double> emptyTimes, historyTimes;
    for (auto _ : state) {
        auto start = Clock::now();
        paste(*empty, png);
        auto middle = Clock::now();
        paste(*history, png);
        auto end = Clock::now();
        emptyTimes.push_back(std::chrono::duration<double, std::milli>(middle - start).count());
        historyTimes.push_back(std::chrono::duration<double, std::milli>(end - middle).count());
    }
    state.counters["empty_ms"] = median(emptyTimes);
    state.counters["history_ms"] = median(historyTimes);
    state.counters["ratio"] = median(historyTimes) / median(emptyTimes);
    empty.reset();
    history.reset();
    std::filesystem::remove_all(directory);
}
BENCHMARK(pasteByHistorySize)->Arg(0)->Arg(1 << 20)->Iterations(100)->Unit(benchmark::kMillisecond);

// The next paste's create while 50 records made on a full disk are still owed, against a create
// with nothing owed, interleaved in one run; "ratio" is the first against the second (1.0 means
// the records owed cost the paste nothing). Each round waits for the write-back, untimed.
void createWithRecordsOwed(benchmark::State& state) {
    constexpr int owed = 50;
    auto directory = scratchDirectory();
    auto full = std::make_shared<std::atomic<bool>>(false);
    auto open = [&](const std::filesystem::path& root) {
        TransferStorage::Options options;
        options.root = root;
        options.scheduleMaintenance = false;
        options.fileOperation = [full](StorageFileOperation operation, const std::filesystem::path&) {
            if (operation == StorageFileOperation::writeImage && *full)
                throw std::system_error(ENOSPC, std::generic_category(), "write");
        };
        return TransferStorage::create(options);
    };
    platform::Bytes png(64 * 1024, 0x5A);
    auto size = static_cast<std::int64_t>(png.size());
    using Clock = std::chrono::steady_clock;
    std::vector<double> owedTimes, noneTimes;
    int round = 0;
    for (auto _ : state) {
        auto withOwed = open(directory / ("owed-" + std::to_string(round)));
        auto withNone = open(directory / ("none-" + std::to_string(round)));
        ++round;
        *full = true;
        for (int i = 0; i < owed; ++i) withOwed->create(newRecord(size), png);
        *full = false;
        auto start = Clock::now();
        benchmark::DoNotOptimize(withNone->create(newRecord(size), png));
        auto middle = Clock::now();
        benchmark::DoNotOptimize(withOwed->create(newRecord(size), png));
        auto end = Clock::now();
        if (withOwed->status().warning) std::abort(); // written back by now
        noneTimes.push_back(std::chrono::duration<double, std::milli>(middle - start).count());
        owedTimes.push_back(std::chrono::duration<double, std::milli>(end - middle).count());
    }
    state.counters["none_owed_ms"] = median(noneTimes);
    state.counters["50_owed_ms"] = median(owedTimes);
    state.counters["ratio"] = median(owedTimes) / median(noneTimes);
    std::filesystem::remove_all(directory);
}
BENCHMARK(createWithRecordsOwed)->Iterations(10)->Unit(benchmark::kMillisecond);

void encodeAndDecodeEvent(benchmark::State& state) {
    DiagnosticEvent event;
    event.timestamp = platform::Date::now();
    event.operationID = platform::Uuid::random();
    event.stage = DiagnosticStage::upload;
    event.outcome = TransferOutcome::succeeded;
    event.durationMilliseconds = 1234;
    event.byteCount = 1 << 20;
    for (auto _ : state) benchmark::DoNotOptimize(DiagnosticEvent::decode(event.json()));
}
BENCHMARK(encodeAndDecodeEvent);

void appendAndSnapshot(benchmark::State& state) {
    auto directory = scratchDirectory();
    DiagnosticStore::Options options;
    options.root = directory / "diagnostics";
    options.scheduleMaintenance = false;
    auto store = DiagnosticStore::create(options);
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i) {
            DiagnosticEvent event;
            event.timestamp = platform::Date::now();
            event.operationID = platform::Uuid::random();
            store->append(event);
        }
        benchmark::DoNotOptimize(store->snapshot());
    }
    store.reset();
    std::filesystem::remove_all(directory);
}
BENCHMARK(appendAndSnapshot)->Unit(benchmark::kMillisecond);

} // namespace
