// Segment files and lines larger than the store ever writes: they are damaged, and the load
// neither reads such a file whole nor hands such a line to the JSON parser.

#include "diagnostics/DiagnosticStore.h"

#include "storage/StorageTestSupport.h"

#include "support/PeakMemory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

constexpr double now = 800'000'000;

std::string segmentName() { return "diagnostic-" + platform::Uuid::random().uuidString() + ".jsonl"; }

std::shared_ptr<DiagnosticStore> openStore(const std::filesystem::path& root, DiagnosticPolicy policy = {}) {
    DiagnosticStore::Options options;
    options.root = root;
    options.clock = [] { return Date{now}; };
    options.policy = policy;
    options.scheduleMaintenance = false;
    return DiagnosticStore::create(options);
}

DiagnosticEvent plainEvent(double age) {
    DiagnosticEvent event;
    event.timestamp = Date{now - age};
    event.operationID = platform::Uuid::random();
    event.terminal = DiagnosticTerminal::iterm2;
    event.transport = DiagnosticTransport::mosh;
    event.stage = DiagnosticStage::insertion;
    event.outcome = TransferOutcome::failed;
    event.failureCategory = TransferFailureCategory::timeout;
    event.durationMilliseconds = 1234;
    return event;
}

// The case whose name is longest among the first `count` cases of an enumeration.
template <typename Enum>
Enum longestCase(int count) {
    Enum best = static_cast<Enum>(0);
    for (int i = 1; i < count; ++i) {
        if (rawValue(static_cast<Enum>(i)).size() > rawValue(best).size()) best = static_cast<Enum>(i);
    }
    return best;
}

// Every character inside the line's strings (keys and values) as a \u00XX escape: the
// longest form in which a reader still accepts the same event.
std::string everyStringCharacterEscaped(const std::string& json) {
    std::string out;
    bool inString = false;
    char escape[8];
    for (char c : json) {
        if (c == '"') {
            inString = !inString;
            out.push_back(c);
        } else if (inString) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned char>(c));
            out += escape;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A line whose object is followed by blanks up to `size` bytes, line feed excluded.
std::string paddedLine(const DiagnosticEvent& event, std::size_t size) {
    auto json = event.json();
    return json + std::string(size - json.size(), ' ') + "\n";
}

class DiagnosticSegmentBoundsTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(root()); }
    std::filesystem::path root() const { return scratch / "diagnostics"; }

    ScratchDirectory scratch;
};

} // namespace

TEST_F(DiagnosticSegmentBoundsTest, ALongerSegmentThanTheStoreWritesIsDeletedUnreadAndTheStoreStarts) {
    const std::int64_t limit = DiagnosticPolicy{}.segmentByteLimit;
    // Good lines filling exactly `extra` bytes past the segment limit, the last padded with blanks.
    auto filled = [&](std::int64_t extra, std::vector<DiagnosticEvent>& events) {
        std::string content;
        for (;;) {
            events.push_back(plainEvent(100 + static_cast<double>(events.size())));
            auto line = events.back().json() + "\n";
            auto room = limit + extra - static_cast<std::int64_t>(content.size());
            if (static_cast<std::int64_t>(line.size()) * 2 > room) {
                return content + paddedLine(events.back(), static_cast<std::size_t>(room - 1));
            }
            content += line;
        }
    };
    std::vector<DiagnosticEvent> atLimit, overLimit;
    auto whole = root() / segmentName(), oversized = root() / segmentName();
    writeFile(whole, filled(0, atLimit));
    writeFile(oversized, filled(1, overLimit));
    ASSERT_EQ(std::filesystem::file_size(oversized), static_cast<std::uintmax_t>(limit + 1));

    auto store = openStore(root());
    auto snapshot = store->snapshot();
    EXPECT_EQ(snapshot.health.lastFailure, DiagnosticError::corruptLog);
    EXPECT_FALSE(std::filesystem::exists(oversized));
    EXPECT_TRUE(std::filesystem::exists(whole));
    // The file at the limit keeps every event (the padded line is rewritten without its blanks).
    EXPECT_EQ(snapshot.events.size(), atLimit.size());
    for (const auto& event : overLimit)
        EXPECT_EQ(std::count(snapshot.events.begin(), snapshot.events.end(), event), 0);

    // The store goes on writing; the next load finds nothing damaged.
    auto next = plainEvent(1);
    store->append(next);
    EXPECT_EQ(store->snapshot().events.back(), next);
    store.reset();
    auto reopened = openStore(root())->snapshot();
    EXPECT_FALSE(reopened.health.lastFailure);
    EXPECT_EQ(reopened.events.size(), atLimit.size() + 1);
}

TEST_F(DiagnosticSegmentBoundsTest, AnOversizedFileNeverEvictsTheReadableSegmentsFromTheBudget) {
    // Two valid segments of ten events each, then a newer file over the whole budget.
    std::vector<DiagnosticEvent> written;
    std::vector<std::filesystem::path> valid;
    for (int segment = 0; segment < 2; ++segment) {
        std::string content;
        for (int i = 0; i < 10; ++i) {
            written.push_back(plainEvent(1000 - static_cast<double>(written.size())));
            content += written.back().json() + "\n";
        }
        valid.push_back(root() / segmentName());
        writeFile(valid.back(), content);
    }
    auto oversized = root() / segmentName();
    writeFile(oversized, std::string(6'000'000, ' ') + "\n");
    const auto base = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(valid[0], base);
    std::filesystem::last_write_time(valid[1], base + std::chrono::minutes(1));
    std::filesystem::last_write_time(oversized, base + std::chrono::minutes(2));

    auto snapshot = openStore(root())->snapshot();
    EXPECT_EQ(snapshot.health.lastFailure, DiagnosticError::corruptLog);
    EXPECT_EQ(snapshot.events, written);
    EXPECT_FALSE(std::filesystem::exists(oversized));
    EXPECT_TRUE(std::filesystem::exists(valid[0]));
    EXPECT_TRUE(std::filesystem::exists(valid[1]));
}

TEST_F(DiagnosticSegmentBoundsTest, ASegmentHoldingOneLineLongerThanASmallSegmentLimitStillReads) {
    // With a segment limit below one line, the store writes each event alone into its own segment.
    DiagnosticPolicy policy;
    policy.segmentByteLimit = 10;
    auto store = openStore(root(), policy);
    auto first = plainEvent(20), second = plainEvent(10);
    store->append(first);
    store->append(second);
    ASSERT_EQ(store->snapshot().events.size(), 2u);
    store.reset();
    auto snapshot = openStore(root(), policy)->snapshot();
    EXPECT_EQ(snapshot.events, (std::vector<DiagnosticEvent>{first, second}));
    EXPECT_FALSE(snapshot.health.lastFailure);
}

TEST_F(DiagnosticSegmentBoundsTest, TheLongestEventReadsAndALineOneByteLongerIsDamaged) {
    // The longest event: every optional present, the longest names, the widest numbers in bounds.
    DiagnosticEvent longest;
    longest.timestamp = Date{-1.2345678901234567e-300};
    longest.operationID = platform::Uuid::random();
    longest.terminal = longestCase<DiagnosticTerminal>(4);
    longest.transport = longestCase<DiagnosticTransport>(3);
    longest.stage = longestCase<DiagnosticStage>(4);
    longest.outcome = longestCase<TransferOutcome>(6);
    longest.failureCategory = longestCase<TransferFailureCategory>(8);
    longest.durationMilliseconds = DiagnosticEvent::maxDurationMilliseconds;
    longest.byteCount = DiagnosticEvent::maxByteCount;
    auto escaped = everyStringCharacterEscaped(longest.json());
    ASSERT_LE(escaped.size(), DiagnosticEvent::maxLineBytes);
    EXPECT_EQ(DiagnosticEvent::decode(escaped), longest);

    auto atBound = plainEvent(30), overBound = plainEvent(20), after = plainEvent(10);
    auto file = root() / segmentName();
    writeFile(file, escaped + "\n" + paddedLine(atBound, DiagnosticEvent::maxLineBytes) +
                        paddedLine(overBound, DiagnosticEvent::maxLineBytes + 1) + after.json() + "\n");

    DiagnosticPolicy policy;
    policy.maxAge = 1e308; // keeps the far-past timestamp of the longest event
    auto snapshot = openStore(root(), policy)->snapshot();
    EXPECT_EQ(snapshot.events, (std::vector<DiagnosticEvent>{longest, atBound, after}));
    EXPECT_EQ(snapshot.health.lastFailure, DiagnosticError::corruptLog);
    EXPECT_EQ(readFile(file), longest.json() + "\n" + atBound.json() + "\n" + after.json() + "\n");
    EXPECT_EQ(errorOf<DiagnosticError>([&] {
                  DiagnosticEvent::decode(paddedLine(overBound, DiagnosticEvent::maxLineBytes + 1));
              }),
              DiagnosticError::corruptLog);
}

namespace {

constexpr int startedDamaged = 40, startedOtherwise = 41, tooMuchMemory = 42;
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's quarantine holds on to freed blocks, so every line's parse adds to the peak.
constexpr long memoryLimitKB = 64 * 1024;
#else
constexpr long memoryLimitKB = 8 * 1024;
#endif


// Opens a store over a directory holding one segment file of `content` and exits with what
// came of it. The peak is reset first (clear_refs 5), so what it grows by is the load's own.
// The directory is the child's own and removed before it exits.
[[noreturn]] void openAndExit(const std::string& content) {
    ::alarm(120);
    int code = startedOtherwise;
    {
        ScratchDirectory scratch;
        auto root = scratch / "diagnostics";
        std::filesystem::create_directories(root);
        writeFile(root / segmentName(), content);
        const long before = resetPeakResidentKB();
        auto health = openStore(root)->snapshot().health;
        const long growth = peakResidentKB() - before;
        std::fprintf(stderr, "load peak grew by %ld kB\n", growth);
        if (growth >= memoryLimitKB) {
            code = tooMuchMemory;
        } else if (health.lastFailure == DiagnosticError::corruptLog && std::filesystem::is_empty(root)) {
            code = startedDamaged; // the damaged file deleted
        }
    }
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace

TEST(DiagnosticSegmentBoundsDeathTest, DeeplyNestedSegmentsLoadInBoundedMemory) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::size_t limit = static_cast<std::size_t>(DiagnosticPolicy{}.segmentByteLimit);
    std::string lineOfBrackets(DiagnosticEvent::maxLineBytes + 1, '[');
    lineOfBrackets.back() = '\n';
    std::string manyLines;
    while (manyLines.size() + lineOfBrackets.size() <= limit) manyLines += lineOfBrackets;
    const std::vector<std::pair<const char*, std::string>> shapes = {
        {"4.9 MB in one line", std::string(4'900'000, '[') + "\n"},
        {"one line at the segment limit", std::string(limit - 1, '[') + "\n"},
        {"lines as long as any event, filling a segment", manyLines},
    };
    for (const auto& [name, content] : shapes) {
        SCOPED_TRACE(name);
        EXPECT_EXIT(openAndExit(content), ::testing::ExitedWithCode(startedDamaged), "load peak grew by");
    }
}
