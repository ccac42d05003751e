#include "model/PasteAttempt.h"

#include "platform/foundation/JsonReader.h"
#include "platform/foundation/Text.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using Outcome = PasteFeedback::Outcome;
using Stage = PasteFeedback::Stage;
using T = TransferOutcome;
using platform::Date;

namespace {

PasteFeedback feedbackAt(Stage stage, std::optional<Outcome> outcome = std::nullopt, bool uploaded = false) {
    PasteFeedback feedback;
    feedback.operationID = platform::Uuid::random();
    feedback.stage = stage;
    feedback.uploadConfirmed = uploaded;
    if (outcome) feedback.finish(*outcome, std::nullopt, uploaded);
    return feedback;
}

PasteAttempt attemptOf(const PasteFeedback& feedback, double created = 100, double updated = 100,
                       const std::string& terminal = "ghostty", const std::string& transport = "ssh") {
    return PasteAttempt(feedback, Date{created}, Date{updated}, terminal, transport);
}

TransferRecord recordFor(const PasteAttempt& attempt, T upload, T insertion,
                         std::optional<std::string> remotePath = std::nullopt) {
    TransferRecord record;
    record.id = attempt.id;
    record.createdAt = attempt.createdAt;
    record.updatedAt = attempt.createdAt;
    record.terminal = "com.mitchellh.ghostty";
    record.transport = "ssh";
    record.destinationIdentity = "me@example.org:22";
    record.imageSize = 10;
    record.confirmedRemotePath = std::move(remotePath);
    record.uploadOutcome = upload;
    record.insertionOutcome = insertion;
    return record;
}

const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"; // one cluster

} // namespace

TEST(PasteAttemptInit, DerivesOutcomesFromTheFeedback) {
    struct Case {
        std::optional<Outcome> outcome;
        T insertion;
        T uploadWhenUnconfirmed;
    } cases[] = {
        {std::nullopt, T::pending, T::pending},
        {Outcome::success, T::succeeded, T::failed},
        {Outcome::failed, T::failed, T::failed},
        {Outcome::cancelled, T::cancelled, T::cancelled},
        {Outcome::uploadedWithoutInsertion, T::failed, T::failed},
        {Outcome::ambiguous, T::ambiguous, T::failed},
        {Outcome::normalPaste, T::cancelled, T::cancelled},
        {Outcome::interrupted, T::interrupted, T::interrupted},
    };
    for (const auto& c : cases) {
        for (bool confirmed : {false, true}) {
            auto feedback = feedbackAt(Stage::uploading);
            feedback.outcome = c.outcome;
            feedback.uploadConfirmed = confirmed;
            auto attempt = attemptOf(feedback);
            EXPECT_EQ(attempt.insertionOutcome, c.insertion);
            EXPECT_EQ(attempt.uploadOutcome, confirmed ? T::succeeded : c.uploadWhenUnconfirmed);
            EXPECT_EQ(attempt.id, feedback.operationID);
        }
    }
}

TEST(PasteAttemptInit, CutsTextsAtTheirGraphemeLimits) {
    auto feedback = feedbackAt(Stage::resolving);
    feedback.explanation = std::string(2000, 'e');
    feedback.destination = std::string(1023, 'd') + family + family; // 1,025 clusters
    feedback.nextStep = std::string(1024, 'n');
    std::string terminal;
    for (int i = 0; i < 300; ++i) terminal += family;
    auto attempt = attemptOf(feedback, 1, 1, terminal, "é");
    EXPECT_EQ(attempt.feedback.explanation, std::string(1024, 'e'));
    EXPECT_EQ(attempt.feedback.destination, std::string(1023, 'd') + family); // the emoji is never split
    EXPECT_EQ(attempt.feedback.nextStep, std::string(1024, 'n'));
    EXPECT_EQ(platform::text::graphemeCount(attempt.terminal), 256u);
    EXPECT_EQ(attempt.terminal.size(), 256 * family.size());
    EXPECT_EQ(attempt.transport, "é");
}

TEST(PasteAttemptAcceptsUpdate, FollowsTheOrderingRules) {
    auto base = attemptOf(feedbackAt(Stage::resolving), 100, 110, "ghostty", "ssh");
    auto with = [&](auto change) {
        auto copy = base;
        change(copy);
        return copy;
    };
    auto cancelled = with([](PasteAttempt& a) { a.feedback.finish(Outcome::cancelled, "Paste cancelled", false); });
    auto older = attemptOf(feedbackAt(Stage::inserting, Outcome::success, true), 100, 200);
    auto newer = attemptOf(feedbackAt(Stage::preparing), 150, 150);
    struct Case {
        const char* name;
        PasteAttempt stored;
        PasteAttempt incoming;
        bool accepted;
    } cases[] = {
        {"identical copy", base, base, false},
        {"later update", base, with([](PasteAttempt& a) { a.updatedAt = Date{111}; }), true},
        {"earlier update with an outcome", base, with([](PasteAttempt& a) {
             a.updatedAt = Date{109};
             a.feedback.finish(Outcome::success, std::nullopt, true);
         }),
         false},
        {"other creation time", base, with([](PasteAttempt& a) {
             a.createdAt = Date{101};
             a.updatedAt = Date{120};
         }),
         false},
        {"stage back", with([](PasteAttempt& a) { a.feedback.stage = Stage::uploading; }),
         with([](PasteAttempt& a) { a.updatedAt = Date{120}; }), false},
        {"stage forward, same time", base, with([](PasteAttempt& a) { a.feedback.stage = Stage::uploading; }), true},
        {"outcome lost", cancelled, with([](PasteAttempt& a) { a.updatedAt = Date{120}; }), false},
        {"outcome gained, same time", base, cancelled, true},
        {"outcome changed", cancelled, with([](PasteAttempt& a) {
             a.updatedAt = Date{120};
             a.feedback.finish(Outcome::success, std::nullopt, true);
         }),
         false},
        {"revision with the upload", cancelled, with([](PasteAttempt& a) {
             a.updatedAt = Date{120};
             a.feedback.finish(Outcome::ambiguous, std::nullopt, true);
         }),
         true},
        {"revision to uploadedWithoutInsertion", cancelled, with([](PasteAttempt& a) {
             a.feedback.finish(Outcome::uploadedWithoutInsertion, std::nullopt, true);
         }),
         true},
        {"revision without the upload", cancelled, with([](PasteAttempt& a) {
             a.updatedAt = Date{120};
             a.feedback.finish(Outcome::ambiguous, std::nullopt, false);
         }),
         false},
        {"upload confirmed, same time", base, with([](PasteAttempt& a) { a.feedback.uploadConfirmed = true; }), true},
        {"destination gained, same time", base, with([](PasteAttempt& a) { a.feedback.destination = "host"; }), true},
        {"transport known, same time", with([](PasteAttempt& a) { a.transport = "unknown"; }), base, true},
        {"terminal known, same time", with([](PasteAttempt& a) { a.terminal = "unknown"; }), base, true},
        {"transport forgotten, same time", base, with([](PasteAttempt& a) { a.transport = "unknown"; }), false},
        {"explanation changed only, same time", base, with([](PasteAttempt& a) { a.feedback.explanation = "x"; }),
         false},
        {"a newer paste", older, newer, true},
        {"an older paste", newer, older, false},
        {"another paste created at the same time", older, attemptOf(feedbackAt(Stage::preparing)), false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.stored.acceptsUpdate(c.incoming), c.accepted) << c.name;
}

TEST(PasteAttemptReconciled, MergesNamesAndDestinationFromTheRecord) {
    auto attempt = attemptOf(feedbackAt(Stage::resolving), 100, 110, "unknown", "unknown");
    struct Case {
        std::string identity;
        std::optional<std::string> destination;
    } cases[] = {
        {"me@example.org:22", "me@example.org"},
        {"me@example.org:2222", "me@example.org:2222"},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        auto record = recordFor(attempt, T::pending, T::pending);
        record.destinationIdentity = c.identity;
        auto merged = attempt.reconciled(record, false, Date{120});
        EXPECT_EQ(merged.feedback.destination, c.destination) << c.identity;
        EXPECT_EQ(merged.terminal, "com.mitchellh.ghostty");
        EXPECT_EQ(merged.transport, "ssh");
        EXPECT_EQ(merged.updatedAt, Date{120});
    }
    // A record of another paste is ignored, and nothing to correct keeps the attempt whole.
    auto other = recordFor(attemptOf(feedbackAt(Stage::resolving)), T::succeeded, T::succeeded, "/r");
    EXPECT_EQ(attempt.reconciled(other, false, Date{500}), attempt);
    EXPECT_EQ(attempt.reconciled(std::nullopt, false, Date{500}), attempt);
}

TEST(PasteAttemptReconciled, AConfirmedUploadAlignsTheOutcomeWithTheInsertion) {
    auto running = attemptOf(feedbackAt(Stage::uploading), 100, 110);

    auto uploadOnly = running.reconciled(recordFor(running, T::succeeded, T::pending), false, Date{120});
    EXPECT_TRUE(uploadOnly.feedback.uploadConfirmed);
    EXPECT_EQ(uploadOnly.uploadOutcome, T::succeeded);
    EXPECT_FALSE(uploadOnly.feedback.outcome);
    EXPECT_EQ(uploadOnly.updatedAt, Date{120});
    // The clock stepped back: the correction keeps the attempt's own time.
    EXPECT_EQ(running.reconciled(recordFor(running, T::succeeded, T::pending), false, Date{50}).updatedAt, Date{110});

    auto done = running.reconciled(recordFor(running, T::succeeded, T::succeeded, "/r/x.png"), false, Date{120});
    EXPECT_EQ(done.feedback.outcome, Outcome::success);
    EXPECT_EQ(done.feedback.explanation,
              "The image path was handed to the terminal; agent consumption is not confirmed.");
    EXPECT_EQ(done.insertionOutcome, T::succeeded);

    // A succeeded insertion of the attempt survives a record that still says pending.
    auto insertedFeedback = feedbackAt(Stage::inserting, Outcome::success, true);
    insertedFeedback.destination = "example.org";
    auto inserted = attemptOf(insertedFeedback, 100, 110);
    auto kept = inserted.reconciled(recordFor(inserted, T::succeeded, T::pending, "/r"), false, Date{120});
    EXPECT_EQ(kept.insertionOutcome, T::succeeded);
    EXPECT_EQ(kept, inserted);
}

TEST(PasteAttemptReconciled, ACancelledAttemptWithAConfirmedUploadIsRevised) {
    auto feedback = feedbackAt(Stage::inserting);
    feedback.finish(Outcome::cancelled, "Paste cancelled — focus or input changed", false);
    auto cancelled = attemptOf(feedback, 100, 110);
    auto revised = cancelled.reconciled(recordFor(cancelled, T::pending, T::failed, "/r/x.png"), false, Date{130});
    EXPECT_EQ(revised.feedback.outcome, Outcome::uploadedWithoutInsertion);
    EXPECT_FALSE(revised.feedback.isRevision);
    EXPECT_EQ(revised.uploadOutcome, T::succeeded);
    EXPECT_EQ(revised.feedback.explanation, "The image was uploaded, but its path was not inserted. Paste stopped "
                                            "because terminal focus or input changed.");
    EXPECT_EQ(revised.feedback.nextStep,
              "Check the terminal, then use Copy Last Uploaded Path to paste the path manually. Focus the intended "
              "terminal and use Copy Last Uploaded Path to paste manually when ready.");
    EXPECT_EQ(revised.updatedAt, Date{130});
}

TEST(PasteAttemptReconciled, AnInterruptedRunEndsOpenAttempts) {
    auto uploading = attemptOf(feedbackAt(Stage::uploading), 100, 110);
    auto stopped = uploading.reconciled(std::nullopt, true, Date{200});
    EXPECT_EQ(stopped.uploadOutcome, T::interrupted);
    EXPECT_EQ(stopped.insertionOutcome, T::interrupted);
    EXPECT_EQ(stopped.feedback.outcome, Outcome::interrupted);
    EXPECT_EQ(stopped.feedback.explanation, "The image paste was interrupted when Tarpelix stopped.");
    EXPECT_EQ(stopped.updatedAt, Date{200});

    auto inserting = attemptOf(feedbackAt(Stage::inserting, std::nullopt, true), 100, 110);
    auto handoff = inserting.reconciled(recordFor(inserting, T::succeeded, T::pending), true, Date{200});
    EXPECT_EQ(handoff.insertionOutcome, T::ambiguous);
    EXPECT_EQ(handoff.feedback.outcome, Outcome::ambiguous);
    EXPECT_EQ(handoff.feedback.explanation, "The image was uploaded, but terminal handoff could not be confirmed.");

    auto typed = inserting.reconciled(recordFor(inserting, T::succeeded, T::succeeded), true, Date{200});
    EXPECT_EQ(typed.feedback.outcome, Outcome::success);
    EXPECT_EQ(typed.feedback.nextStep, "Review the terminal input before submitting it.");

    // Interrupted while inserting after a cancellation: the handoff is ambiguous.
    auto feedback = feedbackAt(Stage::inserting);
    feedback.finish(Outcome::cancelled, "Paste cancelled", false);
    auto cancelled = attemptOf(feedback, 100, 110);
    auto ended = cancelled.reconciled(std::nullopt, true, Date{200});
    EXPECT_EQ(ended.feedback.outcome, Outcome::ambiguous);
    EXPECT_EQ(ended.insertionOutcome, T::ambiguous);

    // A finished attempt is not reopened by an interruption.
    auto failed = attemptOf(feedbackAt(Stage::uploading, Outcome::failed), 100, 110);
    EXPECT_EQ(failed.reconciled(std::nullopt, true, Date{200}), failed);
}

TEST(PasteAttemptJson, WritesTheEightKeysInOrderAndRoundTripsByteForByte) {
    auto full = feedbackAt(Stage::inserting);
    full.destination = "user@höst.example:2222 / 端末";
    full.finish(Outcome::uploadedWithoutInsertion, "Cannot read SSH response \"quoted\"\n", true);
    full.isRevision = true;
    full.explanation = *full.explanation + std::string(1200, 'x');
    auto sparse = feedbackAt(Stage::preparing);
    auto emoji = feedbackAt(Stage::resolving);
    std::string many;
    for (int i = 0; i < 1100; ++i) many += family;
    emoji.destination = many;

    sparse.operationID = *platform::Uuid::parse("00000000-0000-4000-8000-000000000001");
    EXPECT_EQ(attemptOf(sparse, 800000000, 800000000.5, "iterm2", "mosh").json(),
              R"({"id":"00000000-0000-4000-8000-000000000001","createdAt":800000000,"updatedAt":800000000.5,)"
              R"("terminal":"iterm2","transport":"mosh","feedback":{"operationID":"00000000-0000-4000-8000-)"
              R"(000000000001","stage":0,"uploadConfirmed":false,"isRevision":false},"uploadOutcome":"pending",)"
              R"("insertionOutcome":"pending"})");

    for (const auto& attempt : {attemptOf(full, 1.5e8 + 0.123456789, 1.5e8 + 1.1, family, "ssh"),
                                attemptOf(sparse, -5, 0, "unknown", "unknown"),
                                attemptOf(emoji, 793400000.25, 793400000.25)}) {
        auto first = attempt.json();
        auto decoded = PasteAttempt::fromJson(platform::json::parse(first));
        EXPECT_EQ(decoded, attempt);
        EXPECT_EQ(decoded.json(), first);
    }
}

TEST(PasteAttemptJson, RefusesMissingKeysAndUnknownNamesButIgnoresExtraKeys) {
    auto attempt = attemptOf(feedbackAt(Stage::preparing), 1, 2);
    auto object = platform::json::parse(attempt.json());
    for (const char* key : {"id", "createdAt", "updatedAt", "terminal", "transport", "feedback", "uploadOutcome",
                            "insertionOutcome"}) {
        auto copy = object;
        copy.erase(key);
        EXPECT_THROW(PasteAttempt::fromJson(copy), platform::JsonDecodingError) << key;
    }
    auto bad = object;
    bad["uploadOutcome"] = "Succeeded";
    EXPECT_THROW(PasteAttempt::fromJson(bad), platform::JsonDecodingError);
    bad = object;
    bad["createdAt"] = "1";
    EXPECT_THROW(PasteAttempt::fromJson(bad), platform::JsonDecodingError);
    bad = object;
    bad["feedback"]["stage"] = 4;
    EXPECT_THROW(PasteAttempt::fromJson(bad), platform::JsonDecodingError);
    EXPECT_THROW(PasteAttempt::fromJson(platform::json::parse("[1]")), platform::JsonDecodingError);
    EXPECT_THROW(platform::json::parse("{\"id\":"), platform::JsonDecodingError);

    auto extra = object;
    extra["ninth"] = 9;
    EXPECT_EQ(PasteAttempt::fromJson(extra), attempt);
}

TEST(TransferRecordJson, RoundTripsAndLeavesOutAbsentOptionals) {
    TransferRecord record;
    record.id = *platform::Uuid::parse("00000000-0000-4000-8000-0000000000AB");
    record.createdAt = Date{700000000.125};
    record.updatedAt = Date{700000001};
    record.terminal = "com.mitchellh.ghostty";
    record.transport = "ssh";
    record.destinationIdentity = "me@host:22";
    record.imageSize = 4096;
    EXPECT_EQ(record.json(),
              R"({"id":"00000000-0000-4000-8000-0000000000AB","createdAt":700000000.125,"updatedAt":700000001,)"
              R"("terminal":"com.mitchellh.ghostty","transport":"ssh","destinationIdentity":"me@host:22",)"
              R"("imageSize":4096,"uploadOutcome":"pending","insertionOutcome":"pending"})");
    EXPECT_EQ(TransferRecord::fromJson(platform::json::parse(record.json())), record);

    record.localFilename = record.expectedFilename();
    record.confirmedRemotePath = "/home/me/.cache/tarpelix/uploads/x.png";
    record.uploadOutcome = T::succeeded;
    record.insertionOutcome = T::ambiguous;
    record.failureCategory = TransferFailureCategory::timeout;
    auto text = record.json();
    EXPECT_EQ(TransferRecord::fromJson(platform::json::parse(text)), record);
    EXPECT_EQ(TransferRecord::fromJson(platform::json::parse(text)).json(), text);

    auto object = platform::json::parse(text);
    object.erase("failureCategory");
    EXPECT_FALSE(TransferRecord::fromJson(object).failureCategory);
    object.erase("transport");
    EXPECT_THROW(TransferRecord::fromJson(object), platform::JsonDecodingError);
    object = platform::json::parse(text);
    object["imageSize"] = 1.5;
    EXPECT_THROW(TransferRecord::fromJson(object), platform::JsonDecodingError);
    object = platform::json::parse(text);
    object["failureCategory"] = "Timeout";
    EXPECT_THROW(TransferRecord::fromJson(object), platform::JsonDecodingError);
}

// Texts from process arguments may hold bytes that are not UTF-8; a stored record must still
// read back (they are written as U+FFFD), and a number too large for a double is refused
// rather than read as infinity.
TEST(TransferRecordJson, InvalidTextAndOverflowingNumbers) {
    TransferRecord record;
    record.terminal = "term\xFF";
    record.transport = "ssh";
    record.destinationIdentity = "me@h\xC3";
    auto decoded = TransferRecord::fromJson(platform::json::parse(record.json()));
    EXPECT_EQ(decoded.terminal, "term\xEF\xBF\xBD");
    EXPECT_EQ(decoded.destinationIdentity, "me@h\xEF\xBF\xBD");
    EXPECT_EQ(TransferRecord::fromJson(platform::json::parse(decoded.json())).json(), decoded.json());

    auto text = record.json();
    const auto at = text.find("\"createdAt\":") + 12;
    text.replace(at, text.find(',', at) - at, "1e400");
    EXPECT_THROW(TransferRecord::fromJson(platform::json::parse(text)), platform::JsonDecodingError);
}
