// Costs of the storage and diagnostics paths a paste takes: writing and completing a transfer
// record (with and without a retained image), and appending diagnostic events.
#include "diagnostics/DiagnosticEvent.h"
#include "diagnostics/DiagnosticStore.h"
#include "storage/TransferStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

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

void createAndComplete(benchmark::State& state) {
    auto directory = scratchDirectory();
    TransferStore::Options options;
    options.root = directory / "Tarpelix";
    options.scheduleMaintenance = false;
    auto store = TransferStore::open(options);
    auto size = static_cast<std::size_t>(state.range(0));
    platform::Bytes png(size, 0x5A);
    for (auto _ : state) {
        auto record = newRecord(static_cast<std::int64_t>(size));
        std::optional<platform::Bytes> image;
        if (size) image = png;
        auto stored = store->create(record, image);
        stored.confirmedRemotePath = "/home/me/.cache/tarpelix/uploads/x.png";
        stored.uploadOutcome = TransferOutcome::succeeded;
        stored.insertionOutcome = TransferOutcome::succeeded;
        benchmark::DoNotOptimize(store->update(stored));
    }
    store.reset();
    std::filesystem::remove_all(directory);
}
BENCHMARK(createAndComplete)->Arg(0)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

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
