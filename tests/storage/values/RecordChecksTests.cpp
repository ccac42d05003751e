#include "storage/RecordChecks.h"
#include "storage/StorageError.h"
#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Date;

namespace {

bool refused(const std::function<void()>& check) {
    auto error = errorOf<StorageError>(check);
    EXPECT_TRUE(!error || *error == StorageError::invalidRecord);
    return error.has_value();
}

// n user-perceived characters, each a two-code-point cluster (e + combining acute).
std::string clusters(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += "e\xCC\x81";
    return text;
}

std::string remotePath(const platform::Uuid& id) { return "/home/me/.cache/tarpelix/uploads/" + id.uuidString() + ".png"; }

} // namespace

TEST(RecordCheck, AcceptsAndRefusesAsTheRulesSay) {
    struct Case {
        const char* name;
        std::function<void(TransferRecord&)> change;
        bool refused;
    } cases[] = {
        {"valid", [](TransferRecord&) {}, false},
        {"negative size", [](TransferRecord& r) { r.imageSize = -1; }, true},
        {"upper-case file name", [](TransferRecord& r) { r.localFilename = r.id.uuidString() + ".png"; }, false},
        {"lower-case file name",
         [](TransferRecord& r) {
             auto name = r.id.uuidString();
             for (auto& c : name) c = static_cast<char>(std::tolower(c));
             r.localFilename = name + ".png";
         },
         true},
        {"other file name", [](TransferRecord& r) { r.localFilename = "image.png"; }, true},
        {"infinite creation", [](TransferRecord& r) { r.createdAt = Date{INFINITY}; }, true},
        {"NaN update", [](TransferRecord& r) { r.updatedAt = Date{NAN}; }, true},
        {"update before creation", [](TransferRecord& r) { r.updatedAt = Date{50}; }, false},
        {"its own remote path", [](TransferRecord& r) { r.confirmedRemotePath = remotePath(r.id); }, false},
        {"an empty remote path", [](TransferRecord& r) { r.confirmedRemotePath = ""; }, false},
        {"another record's remote path",
         [](TransferRecord& r) { r.confirmedRemotePath = remotePath(platform::Uuid::random()); }, true},
        {"a remote path with a line break",
         [](TransferRecord& r) { r.confirmedRemotePath = "/home/me\n" + remotePath(r.id); }, true},
    };
    for (const auto& c : cases) {
        auto record = makeRecord(100);
        c.change(record);
        EXPECT_EQ(refused([&] { checkRecord(record); }), c.refused) << c.name;
    }
}

TEST(LatestAttemptCheck, CountsGraphemesAndTimes) {
    struct Case {
        const char* name;
        std::function<void(PasteAttempt&)> change;
        bool refused;
    } cases[] = {
        {"valid", [](PasteAttempt&) {}, false},
        {"terminal of 256", [](PasteAttempt& a) { a.terminal = clusters(256); }, false},
        {"terminal of 257", [](PasteAttempt& a) { a.terminal = clusters(257); }, true},
        {"transport of 257", [](PasteAttempt& a) { a.transport = std::string(257, 't'); }, true},
        {"next step of 1024", [](PasteAttempt& a) { a.feedback.nextStep = clusters(1024); }, false},
        {"next step of 1025", [](PasteAttempt& a) { a.feedback.nextStep = clusters(1025); }, true},
        {"destination of 1025", [](PasteAttempt& a) { a.feedback.destination = std::string(1025, 'd'); }, true},
        {"explanation of 1025", [](PasteAttempt& a) { a.feedback.explanation = std::string(1025, 'x'); }, true},
        {"updated at creation", [](PasteAttempt& a) { a.updatedAt = a.createdAt; }, false},
        {"updated a second early", [](PasteAttempt& a) { a.updatedAt = Date{99}; }, true},
        {"infinite", [](PasteAttempt& a) { a.updatedAt = Date{INFINITY}; }, true},
        {"other feedback id", [](PasteAttempt& a) { a.feedback.operationID = platform::Uuid::random(); }, true},
    };
    for (const auto& c : cases) {
        auto attempt = attemptFor(platform::Uuid::random(), 100, 100);
        c.change(attempt);
        EXPECT_EQ(refused([&] { checkLatestAttempt(attempt); }), c.refused) << c.name;
    }
}

TEST(StorageError, ForeignFailuresCountAsUnavailable) {
    EXPECT_EQ(storageErrorFrom(std::make_exception_ptr(StorageError::busy)), StorageError::busy);
    EXPECT_EQ(storageErrorFrom(std::make_exception_ptr(std::runtime_error("disk"))), StorageError::unavailable);
}

// The wall clock steps back an hour in the middle of a paste: the final state must still be
// accepted over the stored one, and pass the latest-attempt check.
TEST(AttemptTime, AClockSteppingBackDoesNotLoseTheFinalOutcome) {
    auto id = platform::Uuid::random();
    auto stored = attemptFor(id, 1000, 1005, PasteFeedback::Stage::uploading);
    auto final = attemptFor(id, 1000, 1005 - 3600, PasteFeedback::Stage::inserting, PasteFeedback::Outcome::success);
    ASSERT_FALSE(stored.acceptsUpdate(final)); // as the ordering rule is written

    auto adjusted = attemptKeepingTimeForward(final, stored);
    EXPECT_EQ(adjusted.updatedAt, Date{1005});
    EXPECT_TRUE(stored.acceptsUpdate(adjusted));
    EXPECT_NO_THROW(checkLatestAttempt(adjusted));
    // Nothing changes for an attempt of another paste, or one that is already in order.
    auto newer = attemptFor(platform::Uuid::random(), 2000, 2001);
    EXPECT_EQ(attemptKeepingTimeForward(newer, stored), newer);
    // A first state whose update time fell behind its creation is lifted to it.
    auto first = attemptFor(newer.id, 2000, 1990);
    EXPECT_EQ(attemptKeepingTimeForward(first, std::nullopt).updatedAt, Date{2000});
}
