#include "windows/CopyLastImageController.h"

#include "windows/LastPasteImage.h"

namespace tarpelix {

namespace {
constexpr const char* noImage = "No image is available. It may have been removed or cleared.";

// `read`, answering no image in place of bytes that LastPasteImage refuses as a PNG (a
// truncated file, text, a TIFF, a PNG declaring too many pixels).
CopyLastImageController::Read checkedRead(CopyLastImageController::Read read) {
    return [read = std::move(read)](const platform::Uuid& id, CopyLastImageController::ReadCompletion completion) {
        read(id, [completion = std::move(completion)](std::optional<platform::Bytes> png) {
            LastPasteImage::check(std::move(png),
                                  [completion](LastPasteImage::Checked checked) { completion(std::move(checked.png)); });
        });
    };
}
} // namespace

std::shared_ptr<CopyLastImageController> CopyLastImageController::create(Load load, Read read, Report report,
                                                                         Changed changed) {
    return create(std::move(load), checkedRead(std::move(read)),
                  [](const platform::Bytes& png) { return writePNG(png); }, std::move(report), std::move(changed));
}

std::shared_ptr<CopyLastImageController> CopyLastImageController::create(Load load, Read read, Writer writer,
                                                                         Report report, Changed changed) {
    return std::make_shared<CopyLastImageController>(std::move(load), std::move(read), std::move(writer),
                                                     std::move(report), std::move(changed));
}

CopyLastImageController::CopyLastImageController(Load load, Read read, Writer writer, Report report, Changed changed)
    : CopyLastController(std::move(load), std::move(report), std::move(changed)), read_(std::move(read)),
      writer_(std::move(writer)) {}

bool CopyLastImageController::writePNG(const platform::Bytes& png, platform::Pasteboard& pasteboard) {
    pasteboard.clearContents();
    return pasteboard.setData(png, platform::PasteboardType::png);
}

void CopyLastImageController::copy() {
    platform::requireMainThread("CopyLastImageController::copy");
    beginCopy(&CopyLastImageController::loadedForCopy);
}

void CopyLastImageController::loadedForCopy(std::optional<TransferStorage::LatestImageSnapshot> snapshot) {
    store(std::move(snapshot));
    if (!snapshot_) {
        isCopying_ = false;
        report(noImage);
        changed();
        return;
    }
    // The read belongs to this copy: it takes the generation this answer left.
    read_(snapshot_->record.id, answerFor<std::optional<platform::Bytes>>(generation(),
                                                                         &CopyLastImageController::readForCopy));
}

void CopyLastImageController::readForCopy(std::optional<platform::Bytes> png) {
    isCopying_ = false;
    if (!png || png->empty()) {
        // The file went away since the snapshot was taken.
        snapshot_.reset();
        report(noImage);
    } else if (!writer_(*png)) {
        report("Could not copy the image. Try again.");
    }
    changed();
}

} // namespace tarpelix
