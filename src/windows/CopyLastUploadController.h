#pragma once

#include "platform/desktop/Pasteboard.h"
#include "storage/TransferStorage.h"
#include "windows/CopyLastController.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarpelix {

// Stands behind the status menu's "Copy Last Uploaded Path": keeps the snapshot of the newest
// confirmed upload, and copies its remote path to the general pasteboard as plain text. Only a
// succeeded upload with a non-empty confirmed path is kept. The owner hands it the load. Main
// thread only; the load may answer on any thread.
class CopyLastUploadController final
    : public CopyLastController<CopyLastUploadController, TransferStorage::ConfirmedUploadSnapshot> {
public:
    // Writes text to the pasteboard; true on success.
    using Writer = std::function<bool(const std::string& text)>;

    // Writes to the general pasteboard.
    static std::shared_ptr<CopyLastUploadController> create(Load load, Report report, Changed changed);
    static std::shared_ptr<CopyLastUploadController> create(Load load, Writer writer, Report report, Changed changed);
    CopyLastUploadController(Load load, Writer writer, Report report, Changed changed);

    // Replaces the whole content of the pasteboard with the text; false when it is refused.
    static bool writePlainText(std::string_view text,
                               platform::Pasteboard& pasteboard = platform::Pasteboard::general());

    // Loads the snapshot and writes its confirmed path; ignored while a copy runs. Success
    // reports nothing; a failure reports its message. Either way `changed` is called.
    void copy();

    // Only a succeeded upload with a non-empty confirmed path is kept.
    static bool keeps(const TransferStorage::ConfirmedUploadSnapshot& snapshot);

private:
    void loadedForCopy(std::optional<TransferStorage::ConfirmedUploadSnapshot> snapshot);

    Writer writer_;
};

} // namespace tarpelix
