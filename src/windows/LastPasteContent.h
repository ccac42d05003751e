#pragma once

#include "platform/appkit/AttributedString.h"
#include "platform/foundation/Calendar.h"
#include "storage/TransferStorage.h"

#include <optional>
#include <string>
#include <string_view>

// What the "Last Paste Status" window shows for one loaded latest-attempt result: the headline,
// the line with time, terminal and transport, the uploaded-path row, the upload and image that
// belong to the shown attempt, and the "Transfer details" text. Each is a function of the
// result alone; the window sets them on its views.
namespace tarpelix::LastPasteContent {

using Result = TransferStorage::LatestAttemptResult;

// The result's upload when it is the shown attempt's own, succeeded, with a non-empty path.
std::optional<TransferStorage::ConfirmedUploadSnapshot> validUpload(const Result& result);
// The result's image when it is the shown attempt's own.
std::optional<TransferStorage::LatestImageSnapshot> validImage(const Result& result);

std::string headline(const Result& result);

// "<date> · <terminal> · <transport>", the date in the medium date and short time styles of
// the locale and time zone; empty without an attempt. The two-argument form uses the user's
// region settings.
std::string metadataLine(const Result& result, const std::string& locale, const platform::TimeZone& zone);
std::string metadataLine(const Result& result);

// Display names of a stored terminal or transport, matched case-insensitively; a value that
// matches none is shown as stored.
std::string terminalName(std::string_view stored);
std::string transportName(std::string_view stored);

// The uploaded-path row: its title, the text under it, and the tool tip (the path, if any).
struct PathRow {
    std::string title;
    std::string text;
    std::optional<std::string> toolTip;

    bool operator==(const PathRow&) const = default;
};
PathRow pathRow(const Result& result);

// The "Transfer details" text: rows of label and value at an 88-point tab, then the sections
// that apply, in the toolkit's fonts.
platform::AttributedString details(const Result& result);

} // namespace tarpelix::LastPasteContent
