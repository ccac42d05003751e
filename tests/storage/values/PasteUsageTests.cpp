#include "storage/PasteUsage.h"

#include "platform/foundation/Crypto.h"
#include "platform/foundation/JsonReader.h"
#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <limits>
#include <utility>
#include <vector>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;
using platform::TimeZone;

namespace {

TransferRecord pasted(double createdAt, const std::string& identity = "me@example.org") {
    return succeeded(makeRecord(createdAt), identity);
}

} // namespace

TEST(PasteUsageLedger, CountsOnlyConfirmedAndTypedPastes) {
    auto insertionFailed = pasted(1);
    insertionFailed.insertionOutcome = TransferOutcome::failed;
    auto emptyPath = pasted(1);
    emptyPath.confirmedRemotePath = "";
    auto noPath = pasted(1);
    noPath.confirmedRemotePath.reset();
    PasteUsageLedger ledger;
    for (const auto& record : {insertionFailed, emptyPath, noPath}) {
        EXPECT_FALSE(PasteUsageLedger::qualifies(record));
        ledger.record(record, TimeZone{"UTC"});
    }
    EXPECT_EQ(ledger.snapshot(), PasteUsage{});
    EXPECT_TRUE(PasteUsageLedger::qualifies(pasted(1)));
}

TEST(PasteUsageLedger, DaysFollowTheLocalCalendarOfTheGivenZone) {
    PasteUsageLedger berlin;
    berlin.record(pasted(lateEvening), TimeZone{"Europe/Berlin"});
    berlin.record(pasted(lateEvening + 3600), TimeZone{"Europe/Berlin"}); // 00:30 the next day
    EXPECT_EQ(berlin.days, (std::set<std::string>{"2026-1-5", "2026-1-6"}));

    PasteUsageLedger utc; // the same two instants fall on one UTC day
    utc.record(pasted(lateEvening), TimeZone{"UTC"});
    utc.record(pasted(lateEvening + 3600), TimeZone{"UTC"});
    EXPECT_EQ(utc.snapshot().activeDays, 1);

    PasteUsageLedger travelling; // counted in Berlin, then in New York after the zone changed
    travelling.record(pasted(lateEvening), TimeZone{"Europe/Berlin"});
    travelling.record(pasted(lateEvening + 3600), TimeZone{"America/New_York"});
    EXPECT_EQ(travelling.days, (std::set<std::string>{"2026-1-5"}));
}

TEST(PasteUsageLedger, MachinesAreSaltedHashesOfTheHost) {
    PasteUsageLedger ledger;
    ledger.record(pasted(1, "Me@Example.ORG"), TimeZone{"UTC"});
    ledger.record(pasted(2, "example.org"), TimeZone{"UTC"});
    EXPECT_EQ(ledger.snapshot().remoteMachines, 1);
    ledger.record(pasted(3, "a@b@example.org"), TimeZone{"UTC"}); // the text after the last "@"
    EXPECT_EQ(ledger.snapshot().remoteMachines, 1);
    ledger.record(pasted(4, "me@example.org:2222"), TimeZone{"UTC"});
    ledger.record(pasted(5, "me@example.org:22"), TimeZone{"UTC"});
    EXPECT_EQ(ledger.snapshot().remoteMachines, 3);
    ledger.record(pasted(6, "me@"), TimeZone{"UTC"}); // counts, adds no machine
    auto usage = ledger.snapshot();
    EXPECT_EQ(usage.successfulPastes, 6);
    EXPECT_EQ(usage.remoteMachines, 3);

    auto digest = platform::sha256(ledger.salt + "example.org");
    EXPECT_TRUE(ledger.machines.count(platform::base64Encode(platform::Bytes(digest.begin(), digest.end()))));
    for (const auto& machine : ledger.machines) {
        EXPECT_EQ(machine.size(), 44u);
        EXPECT_EQ(machine.find("example"), std::string::npos);
    }
    EXPECT_NE(PasteUsageLedger().salt, ledger.salt);
    EXPECT_TRUE(platform::Uuid::parse(ledger.salt));
}

TEST(PasteUsageLedger, KeepsTheEarliestPasteAndEstimatesTimeSaved) {
    PasteUsageLedger ledger;
    ledger.record(pasted(500), TimeZone{"UTC"});
    ledger.record(pasted(100), TimeZone{"UTC"});
    ledger.record(pasted(900), TimeZone{"UTC"});
    auto usage = ledger.snapshot();
    EXPECT_EQ(usage.firstPasteAt, Date{100});
    EXPECT_EQ(usage.estimatedSecondsSaved(), 30);
}

TEST(PasteUsageLedger, RoundTripsItsJson) {
    PasteUsageLedger empty;
    EXPECT_EQ(empty.json(), R"({"successfulPastes":0,"days":[],"machines":[],"salt":")" + empty.salt + R"("})");
    EXPECT_EQ(PasteUsageLedger::fromJson(platform::json::parse(empty.json())), empty);

    PasteUsageLedger full;
    full.record(pasted(lateEvening), TimeZone{"UTC"});
    full.record(pasted(lateEvening + 86400, "other"), TimeZone{"UTC"});
    auto decoded = PasteUsageLedger::fromJson(platform::json::parse(full.json()));
    EXPECT_EQ(decoded, full);
    EXPECT_EQ(decoded.json(), full.json());

    // The largest count whose time saved still fits 64 bits decodes; anything damaged does not.
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max() / PasteUsage::secondsSavedPerPaste;
    auto edge = platform::json::parse(full.json());
    edge["successfulPastes"] = largest;
    EXPECT_EQ(PasteUsageLedger::fromJson(edge).snapshot().estimatedSecondsSaved(),
              largest * PasteUsage::secondsSavedPerPaste);

    const std::vector<std::pair<const char*, std::function<void(nlohmann::json&)>>> damaged = {
        {"no days", [](nlohmann::json& object) { object.erase("days"); }},
        {"a machine that is not text", [](nlohmann::json& object) { object["machines"] = nlohmann::json::array({1}); }},
        {"a negative count", [](nlohmann::json& object) { object["successfulPastes"] = -1; }},
        {"a count whose time saved overflows", [](nlohmann::json& object) { object["successfulPastes"] = largest + 1; }},
    };
    for (const auto& [what, damage] : damaged) {
        auto object = platform::json::parse(full.json());
        damage(object);
        EXPECT_THROW(PasteUsageLedger::fromJson(object), platform::JsonDecodingError) << what;
    }
}
