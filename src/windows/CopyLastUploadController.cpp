#include "windows/CopyLastUploadController.h"

namespace tarpelix {

std::shared_ptr<CopyLastUploadController> CopyLastUploadController::create(Load load, Report report,
                                                                           Changed changed) {
    return create(std::move(load), [](const std::string& text) { return writePlainText(text); }, std::move(report),
                  std::move(changed));
}

std::shared_ptr<CopyLastUploadController> CopyLastUploadController::create(Load load, Writer writer, Report report,
                                                                           Changed changed) {
    return std::make_shared<CopyLastUploadController>(std::move(load), std::move(writer), std::move(report),
                                                      std::move(changed));
}

CopyLastUploadController::CopyLastUploadController(Load load, Writer writer, Report report, Changed changed)
    : CopyLastController(std::move(load), std::move(report), std::move(changed)), writer_(std::move(writer)) {}

bool CopyLastUploadController::writePlainText(std::string_view text, platform::Pasteboard& pasteboard) {
    pasteboard.clearContents();
    return pasteboard.setString(text, platform::PasteboardType::string);
}

bool CopyLastUploadController::keeps(const TransferStorage::ConfirmedUploadSnapshot& snapshot) {
    return snapshot.record.hasConfirmedUpload();
}

void CopyLastUploadController::copy() {
    platform::requireMainThread("CopyLastUploadController::copy");
    beginCopy(&CopyLastUploadController::loadedForCopy);
}

void CopyLastUploadController::loadedForCopy(std::optional<TransferStorage::ConfirmedUploadSnapshot> snapshot) {
    isCopying_ = false;
    store(std::move(snapshot));
    if (!snapshot_) {
        report("No confirmed uploaded path is available.");
    } else if (!writer_(*snapshot_->record.confirmedRemotePath)) {
        report("Could not copy the uploaded path. Try again.");
    }
    changed();
}

} // namespace tarpelix
