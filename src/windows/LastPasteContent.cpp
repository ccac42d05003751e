#include "windows/LastPasteContent.h"

#include "platform/desktop/Workspace.h"
#include "platform/foundation/Formatters.h"
#include "platform/foundation/Text.h"
#include "terminal/GhosttyCompatibility.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix::LastPasteContent {

using namespace platform;

namespace {

using Outcome = PasteFeedback::Outcome;

bool healthy(const Result& result) { return !result.memoryOnly && !result.warning; }

std::string uploadValue(TransferOutcome outcome) {
    switch (outcome) {
    case TransferOutcome::pending:
        return "Pending";
    case TransferOutcome::succeeded:
        return "Confirmed";
    case TransferOutcome::failed:
        return "Failed";
    case TransferOutcome::cancelled:
        return "Cancelled";
    case TransferOutcome::interrupted:
        return "Interrupted";
    case TransferOutcome::ambiguous:
        break;
    }
    return "Unconfirmed";
}

std::string stageText(PasteFeedback::Stage stage) {
    switch (stage) {
    case PasteFeedback::Stage::preparing:
        return "Preparing image";
    case PasteFeedback::Stage::resolving:
        return "Resolving destination";
    case PasteFeedback::Stage::uploading:
        return "Uploading image";
    case PasteFeedback::Stage::inserting:
        break;
    }
    return "Inserting path";
}

// Every paragraph: the label colour, line spacing 2, one left tab stop at 88 points.
TextAttributes paragraph(const Font& font, double spacingAfter) {
    ParagraphStyle style;
    style.lineSpacing = 2;
    style.tabStops = {{TextAlignment::left, 88}};
    style.paragraphSpacing = spacingAfter;
    return {.font = font, .foregroundColor = Color::labelColor(), .paragraphStyle = style};
}

void appendParagraph(AttributedString& text, const std::string& line, const Font& font, double spacingAfter) {
    text.append(AttributedString(line + "\n", paragraph(font, spacingAfter)));
}

// "Label:\tvalue", the label and its colon in the secondary label colour.
void appendRow(AttributedString& text, const std::string& label, const std::string& value) {
    AttributedString row(label + ":\t" + value + "\n", paragraph(InterfaceStyle::Font::body(), 6));
    row.setForegroundColor(Color::secondaryLabelColor(), {0, AttributedString(label).length() + 1});
    text.append(row);
}

void appendSection(AttributedString& text, const std::string& title, const std::string& body) {
    appendParagraph(text, title, InterfaceStyle::Font::section(), 6);
    appendParagraph(text, body, InterfaceStyle::Font::body(), InterfaceStyle::Spacing::pageInset);
}

} // namespace

std::optional<TransferStorage::ConfirmedUploadSnapshot> validUpload(const Result& result) {
    if (!result.attempt || !result.upload) return std::nullopt;
    const TransferRecord& record = result.upload->record;
    if (record.id != result.attempt->id || !record.hasConfirmedUpload()) return std::nullopt;
    return result.upload;
}

std::optional<TransferStorage::LatestImageSnapshot> validImage(const Result& result) {
    if (!result.attempt || !result.image || result.image->record.id != result.attempt->id) return std::nullopt;
    return result.image;
}

std::string headline(const Result& result) {
    if (!result.attempt) return healthy(result) ? "No recent paste" : "Paste status unavailable";
    const auto& outcome = result.attempt->feedback.outcome;
    if (!outcome) return "Pasting image\u2026";
    switch (*outcome) {
    case Outcome::success:
        return "Path handed to terminal";
    case Outcome::failed:
        return "Paste failed";
    case Outcome::cancelled:
        return "Paste cancelled";
    case Outcome::uploadedWithoutInsertion:
        return "Uploaded without insertion";
    case Outcome::ambiguous:
        return "Terminal handoff unconfirmed";
    case Outcome::normalPaste:
        return "Normal paste";
    case Outcome::interrupted:
        break;
    }
    return "Paste interrupted";
}

std::string terminalName(std::string_view stored) {
    const std::string key = text::lowercased(stored);
    if (key == "terminal" || key == "com.apple.terminal") return "Terminal";
    if (key == "iterm2" || key == "com.googlecode.iterm2") return "iTerm2";
    if (key == "ghostty" || key == text::lowercased(GhosttyCompatibility::bundleID)) return "Ghostty";
    if (key == "unknown") return "Not determined";
    return std::string(stored);
}

std::string transportName(std::string_view stored) {
    const std::string key = text::lowercased(stored);
    if (key == "ssh") return "SSH";
    if (key == "mosh") return "Mosh (SSH upload)";
    if (key == "local") return "Local";
    if (key == "unknown") return "Not determined";
    return std::string(stored);
}

std::string metadataLine(const Result& result, const std::string& locale, const TimeZone& zone) {
    if (!result.attempt) return {};
    const PasteAttempt& attempt = *result.attempt;
    const std::string date = Formatters::dateWithStyles(attempt.createdAt, Formatters::DateStyle::mediumStyle,
                                                        Formatters::DateStyle::shortStyle, locale, zone);
    return date + " \u00B7 " + terminalName(attempt.terminal) + " \u00B7 " + transportName(attempt.transport);
}

std::string metadataLine(const Result& result) {
    return metadataLine(result, Workspace::localeIdentifier(), Workspace::timeZone());
}

PathRow pathRow(const Result& result) {
    const auto upload = validUpload(result);
    if (!upload) return {"Uploaded path", "No confirmed uploaded path", std::nullopt};
    const std::string& path = *upload->record.confirmedRemotePath;
    return {"Uploaded path", path, path};
}

AttributedString details(const Result& result) {
    AttributedString text;
    const Font& body = InterfaceStyle::Font::body();
    if (!result.attempt) {
        appendParagraph(text,
                        healthy(result) ? "There is no retained attempt to show."
                                        : "Saved details could not be loaded. Try opening Last Paste Status again.",
                        body, 6);
        return text;
    }
    const PasteAttempt& attempt = *result.attempt;
    const PasteFeedback& feedback = attempt.feedback;
    appendParagraph(text, "Transfer details", InterfaceStyle::Font::section(), InterfaceStyle::Spacing::content);

    const bool normalPaste = feedback.outcome == Outcome::normalPaste;
    const std::string notNeeded = "Not needed \u2014 normal paste";
    appendRow(text, "Upload", normalPaste ? notNeeded : uploadValue(attempt.uploadOutcome));
    appendRow(text, "Insertion", normalPaste ? notNeeded : uploadValue(attempt.insertionOutcome));
    appendRow(text, feedback.outcome ? "Last stage" : "Stage", stageText(feedback.stage));

    if (result.memoryOnly) {
        appendSection(text, "Local saving",
                      "Unsaved result \u2014 kept in memory only; it may be lost when Tarpelix quits.");
    }
    if (result.warning) {
        appendParagraph(text, "Saved details are unavailable or incomplete. Showing the latest available result.", body,
                        InterfaceStyle::Spacing::pageInset);
    }
    if (feedback.explanation) appendSection(text, "Explanation", *feedback.explanation);
    if (feedback.nextStep) {
        appendSection(text, "Next step",
                      platform::text::replacingOccurrences(*feedback.nextStep, "re-enable Tarpelix", "reopen Tarpelix"));
    }
    return text;
}

} // namespace tarpelix::LastPasteContent
