#include "windows/LastPasteContent.h"

#include "platform/appkit/Color.h"
#include "ui/InterfaceStyle.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;
using Outcome = PasteFeedback::Outcome;
using Result = TransferStorage::LatestAttemptResult;

const Uuid attemptID = Uuid::random();

Result withAttempt(std::optional<Outcome> outcome, PasteFeedback::Stage stage = PasteFeedback::Stage::inserting) {
    Result result;
    PasteAttempt attempt;
    attempt.id = attemptID;
    attempt.createdAt = Date{789059040}; // 2026-01-02 15:04 UTC
    attempt.terminal = "ghostty";
    attempt.transport = "ssh";
    attempt.feedback.operationID = attemptID;
    attempt.feedback.stage = stage;
    attempt.feedback.outcome = outcome;
    attempt.uploadOutcome = TransferOutcome::succeeded;
    attempt.insertionOutcome = TransferOutcome::pending;
    result.attempt = attempt;
    return result;
}

TransferRecord record(const Uuid& id, TransferOutcome upload, std::optional<std::string> path) {
    TransferRecord r;
    r.id = id;
    r.uploadOutcome = upload;
    r.confirmedRemotePath = std::move(path);
    return r;
}

// The attributes of the first character of `part` in the text.
const TextAttributes& at(const AttributedString& text, const std::string& part) {
    const auto range = text.rangeOf(part);
    if (!range) throw std::runtime_error("no \"" + part + "\" in the text");
    return text.attributes(range->location);
}

double spacingAfter(const AttributedString& text, const std::string& part) {
    return at(text, part).paragraphStyle->paragraphSpacing;
}

TEST(LastPasteContentTest, HeadlineForEveryState) {
    Result memoryOnly;
    memoryOnly.memoryOnly = true;
    Result warned;
    warned.warning = StorageError(StorageError::Code::databaseFailure);
    const std::vector<std::pair<Result, std::string>> cases = {
        {Result{}, "No recent paste"},
        {memoryOnly, "Paste status unavailable"},
        {warned, "Paste status unavailable"},
        {withAttempt(std::nullopt, PasteFeedback::Stage::uploading), "Pasting image\u2026"},
        {withAttempt(Outcome::success), "Path handed to terminal"},
        {withAttempt(Outcome::failed), "Paste failed"},
        {withAttempt(Outcome::cancelled), "Paste cancelled"},
        {withAttempt(Outcome::uploadedWithoutInsertion), "Uploaded without insertion"},
        {withAttempt(Outcome::ambiguous), "Terminal handoff unconfirmed"},
        {withAttempt(Outcome::normalPaste), "Normal paste"},
        {withAttempt(Outcome::interrupted), "Paste interrupted"},
    };
    for (const auto& [result, expected] : cases) EXPECT_EQ(LastPasteContent::headline(result), expected);
}

TEST(LastPasteContentTest, DisplayNamesOfTerminalsAndTransports) {
    const std::vector<std::pair<std::string, std::string>> terminals = {
        {"terminal", "Terminal"},   {"COM.APPLE.TERMINAL", "Terminal"}, {"iTerm2", "iTerm2"},
        {"com.googlecode.iterm2", "iTerm2"}, {"Ghostty", "Ghostty"},   {"COM.MITCHELLH.GHOSTTY", "Ghostty"},
        {"unknown", "Not determined"},       {"WezTerm", "WezTerm"},   {"", ""},
    };
    for (const auto& [stored, shown] : terminals) EXPECT_EQ(LastPasteContent::terminalName(stored), shown) << stored;
    const std::vector<std::pair<std::string, std::string>> transports = {
        {"ssh", "SSH"}, {"MOSH", "Mosh (SSH upload)"}, {"local", "Local"}, {"Unknown", "Not determined"},
        {"Telnet", "Telnet"},
    };
    for (const auto& [stored, shown] : transports) EXPECT_EQ(LastPasteContent::transportName(stored), shown) << stored;
}

TEST(LastPasteContentTest, MetadataLineInThePinnedLocaleAndZone) {
    EXPECT_EQ(LastPasteContent::metadataLine(Result{}, "en_US", TimeZone{"UTC"}), "");
    Result result = withAttempt(Outcome::success);
    result.attempt->terminal = "com.apple.Terminal";
    result.attempt->transport = "mosh";
    // ICU puts a narrow no-break space before the day period.
    EXPECT_EQ(LastPasteContent::metadataLine(result, "en_US", TimeZone{"UTC"}),
              "Jan 2, 2026, 3:04\u202FPM \u00B7 Terminal \u00B7 Mosh (SSH upload)");
}

TEST(LastPasteContentTest, OnlyTheAttemptsOwnConfirmedUploadAndImageCount) {
    Result good = withAttempt(Outcome::success);
    good.upload = TransferStorage::ConfirmedUploadSnapshot{record(attemptID, TransferOutcome::succeeded, "/home/u/a.png")};
    good.image = TransferStorage::LatestImageSnapshot{record(attemptID, TransferOutcome::succeeded, std::nullopt)};
    ASSERT_TRUE(LastPasteContent::validUpload(good));
    ASSERT_TRUE(LastPasteContent::validImage(good));
    EXPECT_EQ(LastPasteContent::pathRow(good),
              (LastPasteContent::PathRow{"Uploaded path", "/home/u/a.png", "/home/u/a.png"}));

    const Uuid other = Uuid::random();
    const std::vector<TransferRecord> badUploads = {
        record(other, TransferOutcome::succeeded, "/home/u/a.png"),
        record(attemptID, TransferOutcome::failed, "/home/u/a.png"),
        record(attemptID, TransferOutcome::succeeded, ""),
        record(attemptID, TransferOutcome::succeeded, std::nullopt),
    };
    for (const auto& bad : badUploads) {
        Result result = good;
        result.upload = TransferStorage::ConfirmedUploadSnapshot{bad};
        EXPECT_FALSE(LastPasteContent::validUpload(result));
        EXPECT_EQ(LastPasteContent::pathRow(result),
                  (LastPasteContent::PathRow{"Uploaded path", "No confirmed uploaded path", std::nullopt}));
    }
    Result otherImage = good;
    otherImage.image->record.id = other;
    EXPECT_FALSE(LastPasteContent::validImage(otherImage));
    Result noAttempt = good;
    noAttempt.attempt.reset();
    EXPECT_FALSE(LastPasteContent::validUpload(noAttempt));
    EXPECT_FALSE(LastPasteContent::validImage(noAttempt));
}

TEST(LastPasteContentTest, DetailsTextForEachKindOfResult) {
    Result warned;
    warned.warning = StorageError(StorageError::Code::unavailable);
    Result normal = withAttempt(Outcome::normalPaste, PasteFeedback::Stage::resolving);
    normal.attempt->uploadOutcome = TransferOutcome::failed;
    Result troubled = withAttempt(Outcome::failed, PasteFeedback::Stage::preparing);
    troubled.memoryOnly = true;
    troubled.warning = StorageError(StorageError::Code::databaseFailure);
    troubled.attempt->uploadOutcome = TransferOutcome::ambiguous;
    troubled.attempt->insertionOutcome = TransferOutcome::interrupted;
    troubled.attempt->feedback.explanation = "Terminal Automation denied";
    troubled.attempt->feedback.nextStep = "Quit, re-enable Tarpelix in Settings, then re-enable Tarpelix again";
    const std::vector<std::pair<Result, std::string>> cases = {
        {Result{}, "There is no retained attempt to show.\n"},
        {warned, "Saved details could not be loaded. Try opening Last Paste Status again.\n"},
        {withAttempt(std::nullopt, PasteFeedback::Stage::uploading),
         "Transfer details\nUpload:\tConfirmed\nInsertion:\tPending\nStage:\tUploading image\n"},
        {normal, "Transfer details\nUpload:\tNot needed \u2014 normal paste\nInsertion:\tNot needed \u2014 normal paste\n"
                 "Last stage:\tResolving destination\n"},
        {troubled, "Transfer details\nUpload:\tUnconfirmed\nInsertion:\tInterrupted\nLast stage:\tPreparing image\n"
                   "Local saving\nUnsaved result \u2014 kept in memory only; it may be lost when Tarpelix quits.\n"
                   "Saved details are unavailable or incomplete. Showing the latest available result.\n"
                   "Explanation\nTerminal Automation denied\n"
                   "Next step\nQuit, reopen Tarpelix in Settings, then reopen Tarpelix again\n"},
    };
    for (const auto& [result, expected] : cases) EXPECT_EQ(LastPasteContent::details(result).string(), expected);

    // Fonts, colours and spacing of each kind of paragraph.
    const AttributedString empty = LastPasteContent::details(Result{});
    ASSERT_EQ(empty.runs().size(), 1u);
    EXPECT_EQ(empty.runs()[0].attributes.font, InterfaceStyle::Font::body());
    EXPECT_EQ(spacingAfter(empty, "There"), 6);

    const AttributedString text = LastPasteContent::details(troubled);
    EXPECT_EQ(at(text, "Transfer").font, InterfaceStyle::Font::section());
    EXPECT_EQ(spacingAfter(text, "Transfer"), 12);
    const auto label = *text.rangeOf("Insertion:");
    EXPECT_EQ(text.attributes(label.location).foregroundColor, Color::secondaryLabelColor());
    EXPECT_EQ(text.attributes(label.end() - 1).foregroundColor, Color::secondaryLabelColor());
    EXPECT_EQ(text.attributes(label.end()).foregroundColor, Color::labelColor()) << "the tab and value";
    EXPECT_EQ(at(text, "Interrupted").font, InterfaceStyle::Font::body());
    const ParagraphStyle row = *at(text, "Interrupted").paragraphStyle;
    EXPECT_EQ(row.lineSpacing, 2);
    EXPECT_EQ(row.paragraphSpacing, 6);
    EXPECT_EQ(row.tabStops, (std::vector<TextTab>{{TextAlignment::left, 88}}));
    EXPECT_EQ(at(text, "Local saving").font, InterfaceStyle::Font::section());
    EXPECT_EQ(spacingAfter(text, "Local saving"), 6);
    EXPECT_EQ(spacingAfter(text, "Unsaved result"), 24);
    EXPECT_EQ(at(text, "Saved details").font, InterfaceStyle::Font::body());
    EXPECT_EQ(spacingAfter(text, "Saved details"), 24);
    EXPECT_EQ(at(text, "Next step").foregroundColor, Color::labelColor());
}

} // namespace
} // namespace tarpelix
