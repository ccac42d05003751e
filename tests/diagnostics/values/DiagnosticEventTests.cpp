#include "diagnostics/DiagnosticEvent.h"

#include "platform/foundation/JsonReader.h"
#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tarpelix;
using tarpelix::testing::errorOf;
using platform::Date;

namespace {

DiagnosticEvent sampleEvent() {
    DiagnosticEvent event;
    event.timestamp = Date{786000000.125};
    event.operationID = *platform::Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    event.terminal = DiagnosticTerminal::iterm2;
    event.transport = DiagnosticTransport::mosh;
    event.stage = DiagnosticStage::upload;
    event.outcome = TransferOutcome::failed;
    return event;
}

} // namespace

TEST(DiagnosticEventLine, WritesSortedKeysWithoutAbsentValuesAndReadsBackTheSameBytes) {
    const std::string keys = R"("operationID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","outcome":"failed",)"
                             R"("stage":"upload","terminal":"iterm2","timestamp":)";
    auto optionals = sampleEvent();
    optionals.failureCategory = TransferFailureCategory::timeout;
    optionals.durationMilliseconds = 1500;
    optionals.byteCount = 0;
    auto wholeSeconds = optionals;
    wholeSeconds.timestamp = Date{800000000};
    auto extremes = sampleEvent();
    extremes.timestamp = Date{1.0 / 3.0};
    extremes.failureCategory = TransferFailureCategory::authentication;
    extremes.durationMilliseconds = DiagnosticEvent::maxDurationMilliseconds;
    extremes.byteCount = DiagnosticEvent::maxByteCount;
    const std::string counted = R"({"byteCount":0,"durationMilliseconds":1500,"failureCategory":"timeout",)";
    struct Case {
        const char* name;
        DiagnosticEvent event;
        std::string line; // empty: only the round trip is checked
    } cases[] = {
        {"absent values", sampleEvent(), "{" + keys + R"(786000000.125,"transport":"mosh"})"},
        {"present values", optionals, counted + keys + R"(786000000.125,"transport":"mosh"})"},
        {"whole seconds", wholeSeconds, counted + keys + R"(800000000,"transport":"mosh"})"},
        {"extremes", extremes, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto line = c.event.json();
        if (!c.line.empty()) {
            EXPECT_EQ(line, c.line);
        }
        auto decoded = DiagnosticEvent::decode(line);
        EXPECT_EQ(decoded, c.event);
        EXPECT_EQ(decoded.json(), line);
    }
}

TEST(DiagnosticEventLine, BoundsAreCheckedOnReading) {
    struct Case {
        std::optional<std::int64_t> duration;
        std::optional<std::int64_t> bytes;
        bool valid;
    } cases[] = {
        {86'400'000, std::nullopt, true},       {86'400'001, std::nullopt, false},
        {-1, std::nullopt, false},              {0, 0, true},
        {std::nullopt, 1'000'000'000'000, true}, {std::nullopt, 1'000'000'000'001, false},
        {std::nullopt, -5, false},
    };
    for (const auto& c : cases) {
        auto event = sampleEvent();
        event.durationMilliseconds = c.duration;
        event.byteCount = c.bytes;
        EXPECT_EQ(event.isWithinBounds(), c.valid);
        auto error = errorOf<DiagnosticError>([&] { DiagnosticEvent::decode(event.json()); });
        EXPECT_EQ(error.has_value(), !c.valid);
        if (error) {
            EXPECT_EQ(*error, DiagnosticError::invalidEvent);
        }
    }
    auto event = sampleEvent();
    event.timestamp = Date{NAN};
    EXPECT_FALSE(event.isWithinBounds());
    EXPECT_THROW(event.json(), DiagnosticEvent::EncodingError);
}

TEST(DiagnosticEventLine, TheStrictReaderTellsCorruptionFromBadValues) {
    const std::string id = R"("operationID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D")";
    const std::string rest = R"("outcome":"failed","stage":"upload","terminal":"iterm2","timestamp":1,"transport":"ssh")";

    // Any key the event does not have: corrupt, whatever its value and whatever else is valid.
    for (const char* extra : {R"("host":"example.org")", R"("Terminal":"iterm2")", R"("x":null)"}) {
        auto error = errorOf<DiagnosticError>([&] { DiagnosticEvent::decode("{" + id + "," + rest + "," + extra + "}"); });
        EXPECT_EQ(error, DiagnosticError::corruptLog) << extra;
    }
    // A bad value is the decoder's own error.
    const std::string refused[] = {
        "{" + id + R"(,"outcome":"failed","stage":"upload","terminal":"Ghostty","timestamp":1,"transport":"ssh"})",
        "{" + id + R"(,"outcome":"failed","stage":"upload","terminal":"iterm2","timestamp":"1","transport":"ssh"})",
        "{" + id + "," + rest + R"(,"durationMilliseconds":1.5})",
        "{" + id + "," + rest + R"(,"byteCount":"7"})",
        "{" + id + "," + rest + R"(,"failureCategory":"Timeout"})",
        "{" + rest + "}",
        "[1]",
        "not json",
        "{" + id + "," + rest + "} trailing",
    };
    for (const auto& line : refused) {
        EXPECT_THROW(DiagnosticEvent::decode(line), platform::JsonDecodingError) << line;
    }

    // A null optional reads as absent, so the event re-encodes without the key.
    auto withNull = "{" + id + "," + rest + R"(,"failureCategory":null})";
    auto decoded = DiagnosticEvent::decode(withNull);
    EXPECT_FALSE(decoded.failureCategory);
    EXPECT_NE(decoded.json(), withNull);
}

TEST(DiagnosticEventLine, TheTimestampCountsFromTwoThousandOne) {
    // A line written with seconds since 1970 reads as a date 31 years later, without error.
    auto line = sampleEvent().json();
    auto at = line.find("786000000.125");
    line.replace(at, 13, "1764307200");
    auto event = DiagnosticEvent::decode(line);
    EXPECT_EQ(event.timestamp.unixSeconds(), 1764307200.0 + Date::referenceDateOffsetFrom1970);
}
