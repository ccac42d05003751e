#include "diagnostics/DiagnosticReport.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using platform::Date;

namespace {

DiagnosticEvent eventAt(double unixSeconds, DiagnosticStage stage, TransferOutcome outcome, const char* id) {
    DiagnosticEvent event;
    event.timestamp = Date::fromUnixSeconds(unixSeconds);
    event.operationID = *platform::Uuid::parse(id);
    event.terminal = DiagnosticTerminal::ghostty;
    event.transport = DiagnosticTransport::ssh;
    event.stage = stage;
    event.outcome = outcome;
    return event;
}

const char* idA = "00000000-0000-4000-8000-00000000000A";
const char* idB = "00000000-0000-4000-8000-00000000000B";

} // namespace

TEST(DiagnosticReport, WritesTheWholeReportByteForByte) {
    DiagnosticSnapshot snapshot;
    auto upload = eventAt(1767323045.6789, DiagnosticStage::upload, TransferOutcome::ambiguous, idA); // 2026-01-02T03:04:05.678
    upload.durationMilliseconds = 1200;
    upload.byteCount = 4096;
    upload.failureCategory = TransferFailureCategory::timeout;
    auto capture = eventAt(1767323040, DiagnosticStage::capture, TransferOutcome::succeeded, idA);
    auto insertion = eventAt(1767323050, DiagnosticStage::insertion, TransferOutcome::failed, idB);
    auto tied = eventAt(1767323050, DiagnosticStage::capture, TransferOutcome::succeeded, idA);
    // The timeline sorts by time only: the tie keeps its place after the insertion.
    snapshot.events = {upload, insertion, capture, tied};
    // The health counts 9 events; the report counts the 4 retained in the snapshot.
    snapshot.health = DiagnosticHealth{9, 912, DiagnosticError::corruptLog};
    TransferStorage::Status storage;
    storage.warning = StorageError::imageWriteFailed;
    storage.clearPending = true;
    storage.usage = StorageHealth{7, 2, 2048, 40960, StorageError::invalidRecord};

    EXPECT_EQ(DiagnosticReport::make(snapshot, storage, "1.2.3", {15, 7, 1}),
              "Tarpelix Diagnostic Report\n"
              "App version: 1.2.3\n"
              "macOS version: 15.7.1\n"
              "\n"
              "Storage\n"
              "Mode: persistent\n"
              "Warning: image write failed\n"
              "Clear pending: yes\n"
              "Records: 7\n"
              "Retained images: 2\n"
              "Image bytes: 2048\n"
              "Database bytes: 40960\n"
              "Maintenance warning: invalid record\n"
              "\n"
              "Diagnostics\n"
              "Retained events: 4\n"
              "Log bytes: 912\n"
              "Logging warning: corrupt log\n"
              "\n"
              "Outcome counts (retained events)\n"
              "capture/succeeded: 2\n"
              "insertion/failed: 1\n"
              "upload/ambiguous: 1\n"
              "\n"
              "Redacted timeline (UTC)\n"
              "Insertion success records terminal handoff only; remote delivery and consumption are unverified.\n"
              "2026-01-02T03:04:00.000Z | 00000000-0000-4000-8000-00000000000A | ghostty | ssh | capture | succeeded\n"
              "2026-01-02T03:04:05.678Z | 00000000-0000-4000-8000-00000000000A | ghostty | ssh | upload | ambiguous | "
              "duration_ms=1200 | bytes=4096 | failure=timeout\n"
              "2026-01-02T03:04:10.000Z | 00000000-0000-4000-8000-00000000000B | ghostty | ssh | insertion | failed\n"
              "2026-01-02T03:04:10.000Z | 00000000-0000-4000-8000-00000000000A | ghostty | ssh | capture | succeeded\n");
}

TEST(DiagnosticReport, AnEmptyLogAndAStorelessStatus) {
    TransferStorage::Status storage;
    storage.memoryOnly = true;
    auto text = DiagnosticReport::make(DiagnosticSnapshot{}, storage, "10.4", {-1, 2, -3});
    EXPECT_EQ(text, "Tarpelix Diagnostic Report\n"
                    "App version: 10.4\n"
                    "macOS version: 0.2.0\n"
                    "\n"
                    "Storage\n"
                    "Mode: memory only\n"
                    "Warning: none\n"
                    "Clear pending: no\n"
                    "Usage: unavailable\n"
                    "\n"
                    "Diagnostics\n"
                    "Retained events: 0\n"
                    "Log bytes: 0\n"
                    "Logging warning: none\n"
                    "\n"
                    "Outcome counts (retained events)\n"
                    "No events\n"
                    "\n"
                    "Redacted timeline (UTC)\n"
                    "Insertion success records terminal handoff only; remote delivery and consumption are unverified.\n");
}

TEST(DiagnosticReport, ShowsOnlyPlainNumericVersions) {
    struct Case {
        std::string version;
        const char* shown;
    } cases[] = {
        {"1.2.3", "1.2.3"},  {"10.4", "10.4"},       {"7", "7"},
        {"1.2.3.4", "1.2.3.4"}, {"1.2.3-beta", "unknown"}, {"1..2", "unknown"},
        {"1.2.3.4.5", "unknown"}, {"", "unknown"}, {std::string(33, '1'), "unknown"},
        {std::string(32, '1'), nullptr}, {".1", "unknown"}, {"1.", "unknown"}, {"١.٢", "unknown"},
    };
    for (const auto& c : cases) {
        auto text = DiagnosticReport::make(DiagnosticSnapshot{}, TransferStorage::Status{}, c.version, {15, 7, 0});
        std::string shown = c.shown ? c.shown : c.version;
        EXPECT_NE(text.find("\nApp version: " + shown + "\n"), std::string::npos) << c.version;
    }
}

TEST(DiagnosticReport, TimesAreUtcWithTruncatedMilliseconds) {
    struct Case {
        double unixSeconds;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1767323045.9999, "2026-01-02T03:04:05.999Z"},
        {-0.0005, "1969-12-31T23:59:59.999Z"},
        {951782400, "2000-02-29T00:00:00.000Z"},
        {978307200, "2001-01-01T00:00:00.000Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DiagnosticReport::isoTimestamp(Date::fromUnixSeconds(c.unixSeconds)), c.text) << c.unixSeconds;
    }
}
