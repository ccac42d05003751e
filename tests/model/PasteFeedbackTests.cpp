#include "model/PasteFeedback.h"

#include "platform/foundation/JsonReader.h"

#include <gtest/gtest.h>

using namespace tarpelix;
using Outcome = PasteFeedback::Outcome;
using Stage = PasteFeedback::Stage;

namespace {

PasteFeedback finished(Outcome outcome, std::optional<std::string> error, bool uploaded = false,
                       Stage stage = Stage::preparing) {
    PasteFeedback feedback;
    feedback.operationID = platform::Uuid::random();
    feedback.stage = stage;
    feedback.finish(outcome, error, uploaded);
    return feedback;
}

struct Advice {
    const char* explanation;
    const char* nextStep;
};

const Advice rows[] = {
    {},
    {"The image exceeds the 100 MB processing limit.", "Resize the image, copy it again, then paste."},
    {"The clipboard image could not be read.", "Allow clipboard access if prompted, copy the image again, then paste."},
    {"Paste stopped because the Mac slept or woke.", "Check the intended terminal and connection, then paste again."},
    {"Paste stopped because Tarpelix was disabled.", "Enable Tarpelix, then paste again when ready."},
    {"SSH could not verify the remote host.", "Verify the host identity in your terminal, then paste again."},
    {"SSH authentication failed.", "Check that SSH connects without a password prompt, then paste again."},
    {"Tarpelix could not access the terminal.",
     "Check Accessibility and Automation permissions in System Settings, then reopen Tarpelix."},
    {"The paste operation timed out.", "Check the connection and terminal, then paste again."},
    {"Paste stopped because terminal focus or input changed.",
     "Focus the intended terminal and paste again when ready."},
    {"Tarpelix could not safely identify the terminal session.",
     "Select the intended terminal session and paste again."},
    {"The image could not be uploaded over SSH.", "Check that SSH connects to the destination, then paste again."},
    {"The image paste could not be completed.", "Check the intended terminal and connection, then paste again."},
};

} // namespace

TEST(PasteFeedbackAdvice, KeywordTableTakesTheFirstMatchingRow) {
    struct Case {
        std::optional<std::string> reason;
        int row;
    } cases[] = {
        {"Image exceeds the 100 MB processing limit — resize it and paste again", 1},
        {"Clipboard changed during image capture — paste again", 2},
        {"Paste cancelled — Mac slept or woke; paste again", 3},
        {"Mac went to sleep", 3},
        {"Paste cancelled — Tarpelix disabled", 4},
        {"Tarpelix was turned off", 4},
        {"Host key verification failed", 5},
        {"REMOTE HOST IDENTIFICATION HAS CHANGED", 5},
        {"bad host-key", 5},
        {"Permission denied (publickey)", 6},
        {"authentication failed", 6},
        {"password prompt", 6},
        {"Terminal Automation denied — enable it in System Settings", 7},
        {"Cannot verify paste focus — check Accessibility", 7},
        {"not authorized to send Apple events", 7},
        {"error -1743", 7},
        {"permission missing", 7},
        {"tmux discovery timed out", 8},
        {"Paste cancelled — input changed or operation timed out", 8},
        {"connect timeout", 8},
        {"Paste cancelled — focus or input changed", 9},
        {"user was typing", 9},
        {"window clicked", 9},
        {"tmux mode changed — paste cancelled", 10},
        {"Session changed", 10},
        {"pane closed", 10},
        {"target vanished", 10},
        {"unstable", 10}, // "tab" inside a longer word
        {"ÜBERTRAGUNG TIMED OUT", 8}, // non-ASCII upper case around the keyword
        {"Unsupported mosh launcher address", 11},
        {"Cannot read SSH response", 11},
        {"network down", 11},
        {"", 12},
        {std::nullopt, 12},
        {"something odd", 12},
    };
    for (const auto& c : cases) {
        auto feedback = finished(Outcome::failed, c.reason);
        EXPECT_EQ(feedback.explanation, rows[c.row].explanation) << c.reason.value_or("(none)");
        EXPECT_EQ(feedback.nextStep, rows[c.row].nextStep) << c.reason.value_or("(none)");
    }
}

TEST(PasteFeedbackFinish, ComposesTextsByOutcome) {
    auto uploadingFailure = finished(Outcome::failed, std::nullopt, false, Stage::uploading);
    EXPECT_EQ(uploadingFailure.explanation, "The image could not be uploaded.");
    EXPECT_EQ(uploadingFailure.nextStep, rows[12].nextStep);
    EXPECT_EQ(finished(Outcome::failed, std::nullopt, false, Stage::resolving).explanation, rows[12].explanation);
    // At stage uploading a known reason keeps its own explanation.
    EXPECT_EQ(finished(Outcome::failed, "Upload timed out", false, Stage::uploading).explanation, rows[8].explanation);

    auto success = finished(Outcome::success, "ignored");
    EXPECT_EQ(success.explanation, "The image path was handed to the terminal; agent consumption is not confirmed.");
    EXPECT_EQ(success.nextStep, "Review the terminal input before submitting it.");

    for (std::optional<std::string> plain : {std::optional<std::string>(), std::optional<std::string>("Paste cancelled")}) {
        auto cancelled = finished(Outcome::cancelled, plain);
        EXPECT_EQ(cancelled.explanation, "The image paste was cancelled.");
        EXPECT_EQ(cancelled.nextStep, "Focus the intended terminal and paste again when ready.");
    }
    auto focusCancel = finished(Outcome::cancelled, "Paste cancelled — focus or input changed");
    EXPECT_EQ(focusCancel.explanation, rows[9].explanation);
    EXPECT_EQ(focusCancel.nextStep, rows[9].nextStep);

    auto interrupted = finished(Outcome::interrupted, std::nullopt);
    EXPECT_EQ(interrupted.explanation, "The image paste was interrupted when Tarpelix stopped.");
    EXPECT_EQ(interrupted.nextStep, "Inspect the terminal input before trying again. Nothing was replayed.");
}

TEST(PasteFeedbackFinish, UploadedWithoutInsertionPointsToTheCopyCommand) {
    auto plain = finished(Outcome::uploadedWithoutInsertion, std::nullopt, true);
    EXPECT_EQ(plain.explanation, "The image was uploaded, but its path was not inserted.");
    EXPECT_EQ(plain.nextStep, "Check the terminal, then use Copy Last Uploaded Path to paste the path manually.");

    auto replaced = finished(Outcome::uploadedWithoutInsertion, "Cannot read SSH response", true);
    EXPECT_EQ(replaced.explanation,
              "The image was uploaded, but its path was not inserted. The image could not be uploaded over SSH.");
    EXPECT_EQ(replaced.nextStep,
              "Check that SSH connects to the destination, then use Copy Last Uploaded Path to paste manually.");

    auto appended =
        finished(Outcome::uploadedWithoutInsertion, "Image exceeds the 100 MB processing limit — resize it and paste again");
    EXPECT_EQ(appended.nextStep, "Resize the image, copy it again, then paste. Use Copy Last Uploaded Path to paste "
                                 "the completed upload manually.");
}

TEST(PasteFeedbackFinish, AmbiguousKeepsAConfirmedUploadAndNormalPasteClearsTheNextStep) {
    PasteFeedback feedback;
    feedback.uploadConfirmed = true;
    feedback.finish(Outcome::ambiguous, std::nullopt, false);
    EXPECT_TRUE(feedback.uploadConfirmed);
    EXPECT_EQ(feedback.explanation, "The image was uploaded, but terminal handoff could not be confirmed.");
    EXPECT_EQ(feedback.nextStep, "Inspect the terminal input before retrying or manually pasting the uploaded path.");

    auto unconfirmed = finished(Outcome::ambiguous, "Typing failed");
    EXPECT_EQ(unconfirmed.explanation, "Terminal handoff could not be confirmed. " + std::string(rows[9].explanation));

    auto normal = finished(Outcome::failed, "x");
    normal.finish(Outcome::normalPaste, std::nullopt, false);
    EXPECT_EQ(normal.explanation, "The image was passed to normal paste.");
    EXPECT_FALSE(normal.nextStep);
}

TEST(PasteFeedbackJson, WritesKeysInOrderAndOmitsAbsentValues) {
    PasteFeedback feedback;
    feedback.operationID = *platform::Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    feedback.stage = Stage::uploading;
    EXPECT_EQ(feedback.json(), R"({"operationID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","stage":2,)"
                               R"("uploadConfirmed":false,"isRevision":false})");
    feedback.destination = "me@host/x";
    feedback.outcome = Outcome::uploadedWithoutInsertion;
    feedback.explanation = "E";
    feedback.nextStep = "N";
    feedback.uploadConfirmed = true;
    feedback.isRevision = true;
    EXPECT_EQ(feedback.json(), R"({"operationID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","stage":2,)"
                               R"("destination":"me@host\/x","outcome":"uploadedWithoutInsertion","explanation":"E",)"
                               R"("nextStep":"N","uploadConfirmed":true,"isRevision":true})");
}

TEST(PasteFeedbackJson, RefusesWhatTheFormDoesNotAllow) {
    const std::string id = R"("operationID":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D")";
    const char* refused[] = {
        R"("stage":4,"uploadConfirmed":false,"isRevision":false)",
        R"("stage":-1,"uploadConfirmed":false,"isRevision":false)",
        R"("stage":1.5,"uploadConfirmed":false,"isRevision":false)",
        R"("stage":"1","uploadConfirmed":false,"isRevision":false)",
        R"("stage":1,"outcome":"Success","uploadConfirmed":false,"isRevision":false)",
        R"("stage":1,"uploadConfirmed":0,"isRevision":false)",
        R"("stage":1,"isRevision":false)",
        R"("stage":1,"uploadConfirmed":false,"isRevision":null)",
        R"("stage":1,"destination":7,"uploadConfirmed":false,"isRevision":false)",
    };
    for (const char* rest : refused) {
        auto text = "{" + id + "," + rest + "}";
        EXPECT_THROW(PasteFeedback::fromJson(platform::json::parse(text)), platform::JsonDecodingError) << text;
    }
    EXPECT_THROW(PasteFeedback::fromJson(platform::json::parse(R"({"stage":1,"uploadConfirmed":false,"isRevision":false})")),
                 platform::JsonDecodingError);

    auto accepted = PasteFeedback::fromJson(platform::json::parse(
        "{" + id + R"(,"stage":3,"destination":null,"outcome":null,"extra":[1],"uploadConfirmed":true,"isRevision":false})"));
    EXPECT_EQ(accepted.stage, Stage::inserting);
    EXPECT_FALSE(accepted.destination);
    EXPECT_FALSE(accepted.outcome);
    EXPECT_TRUE(accepted.uploadConfirmed);
}
