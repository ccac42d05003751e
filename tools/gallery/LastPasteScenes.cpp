// The "Last Paste Status" window at its opening size and at its minimum size, in each state a
// user meets: loading, no attempt, storage trouble, a paste in progress, each kind of result,
// a preview that does not decode, a copied path, an image refused on copy (light and dark), and a
// success in the dark appearance.

#include "gallery/GalleryScenes.h"

#include "platform/appkit/Label.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/imageio/Image.h"
#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/ImageSource.h"
#include "platform/foundation/Uuid.h"
#include "windows/LastPasteContent.h"
#include "windows/LastPasteWindowController.h"

#include <cmath>
#include <optional>

namespace tarpelix::gallery {

using namespace platform;

namespace {

using Result = TransferStorage::LatestAttemptResult;
using Outcome = PasteFeedback::Outcome;

const std::vector<std::string> states = {
    "loading",       "no-recent-paste", "unavailable",         "in-progress", "success",
    "uploaded",      "failed",          "normal-paste",        "memory-only", "preview-unavailable",
    "path-copied",   "image-refused",   "image-refused-dark",  "dark",
};

// A screenshot-like picture: a title strip over a soft diagonal gradient, as PNG bytes.
Bytes samplePNG() {
    auto image = std::make_shared<Image>();
    image->width = 640;
    image->height = 400;
    image->bytesPerRow = image->width * 4;
    Bytes pixels(image->bytesPerRow * image->height);
    for (std::size_t y = 0; y < image->height; ++y) {
        for (std::size_t x = 0; x < image->width; ++x) {
            std::uint8_t* p = &pixels[y * image->bytesPerRow + x * 4];
            const bool strip = y < 36;
            p[0] = strip ? 52 : std::uint8_t(60 + 120 * x / image->width);
            p[1] = strip ? 58 : std::uint8_t(110 + 100 * y / image->height);
            p[2] = strip ? 70 : std::uint8_t(200 - 60 * x / image->width);
            p[3] = 255;
        }
    }
    image->pixels = std::move(pixels);
    Bytes png;
    auto consumer = DataConsumer::create([&png](const std::uint8_t* bytes, std::size_t count) {
        png.insert(png.end(), bytes, bytes + count);
        return count;
    });
    auto destination = ImageDestination::createWithDataConsumer(consumer, ImageType::png, 1);
    destination->addImage(image);
    destination->finalize();
    return png;
}

Result attempt(std::optional<Outcome> outcome, PasteFeedback::Stage stage) {
    Result result;
    PasteAttempt a;
    a.id = Uuid::parse("6F9619FF-8B86-D011-B42D-00C04FC964FF").value();
    a.createdAt = Date{789059040}; // Jan 2, 2026, 3:04 PM UTC
    a.terminal = "com.mitchellh.ghostty";
    a.transport = "ssh";
    a.feedback.operationID = a.id;
    a.feedback.stage = stage;
    a.feedback.outcome = outcome;
    a.uploadOutcome = TransferOutcome::succeeded;
    a.insertionOutcome = outcome == Outcome::success ? TransferOutcome::succeeded : TransferOutcome::pending;
    result.attempt = a;
    return result;
}

void retain(Result& result, bool upload, bool image) {
    TransferRecord record;
    record.id = result.attempt->id;
    record.uploadOutcome = TransferOutcome::succeeded;
    record.confirmedRemotePath =
        "/home/developer/.cache/tarpelix/uploads/6F9619FF-8B86-D011-B42D-00C04FC964FF.png";
    if (upload) result.upload = TransferStorage::ConfirmedUploadSnapshot{record};
    if (image) result.image = TransferStorage::LatestImageSnapshot{record};
}

std::optional<Result> resultFor(const std::string& state) {
    if (state == "loading") return std::nullopt;
    if (state == "no-recent-paste") return Result{};
    if (state == "unavailable") {
        Result result;
        result.warning = StorageError(StorageError::Code::databaseFailure);
        return result;
    }
    if (state == "in-progress") {
        Result result = attempt(std::nullopt, PasteFeedback::Stage::uploading);
        result.attempt->uploadOutcome = TransferOutcome::pending;
        retain(result, false, true);
        return result;
    }
    if (state == "uploaded") {
        Result result = attempt(Outcome::uploadedWithoutInsertion, PasteFeedback::Stage::inserting);
        result.attempt->insertionOutcome = TransferOutcome::failed;
        result.attempt->feedback.explanation = "The terminal changed focus before the path could be typed.";
        result.attempt->feedback.nextStep = "Use Copy Path and paste it yourself.";
        retain(result, true, true);
        return result;
    }
    if (state == "failed") {
        Result result = attempt(Outcome::failed, PasteFeedback::Stage::uploading);
        result.attempt->uploadOutcome = TransferOutcome::failed;
        result.attempt->feedback.explanation = "The remote host refused the connection: Permission denied (publickey).";
        result.attempt->feedback.nextStep = "Check that ssh to this host works in the terminal, then paste again.";
        retain(result, false, true);
        return result;
    }
    if (state == "normal-paste") {
        Result result = attempt(Outcome::normalPaste, PasteFeedback::Stage::resolving);
        result.attempt->transport = "local";
        return result;
    }
    if (state == "memory-only") {
        Result result = attempt(Outcome::success, PasteFeedback::Stage::inserting);
        result.memoryOnly = true;
        result.warning = StorageError(StorageError::Code::imageWriteFailed);
        retain(result, true, true);
        return result;
    }
    Result result = attempt(Outcome::success, PasteFeedback::Stage::inserting); // success, dark and the copies
    retain(result, true, true);
    return result;
}

void drawLastPaste(GraphicsContext& g, const std::string& state, Size contentSize) {
    const PinnedDesktop pinned;

    const std::optional<Result> result = resultFor(state);
    const Bytes damaged{0x89, 'P', 'N', 'G', 0, 1, 2, 3};
    const Bytes png = state == "preview-unavailable" ? damaged : samplePNG();
    // "image-refused": the file was damaged after its preview, so Copy Image reads bytes it refuses.
    const bool refused = state.starts_with("image-refused");
    auto reads = std::make_shared<int>(0);
    auto controller = LastPasteWindowController::create(
        [result](LastPasteWindowController::LoadCompletion completion) {
            if (result) completion(*result); // "loading" never answers
        },
        [png, damaged, refused, reads](const Uuid&, LastPasteWindowController::ReadCompletion completion) {
            completion(refused && (*reads)++ > 0 ? damaged : png);
        },
        [](const std::string&) { return true; }, [](const Bytes&) { return true; },
        [](std::function<void()>) { return LastPasteWindowController::Canceller([] {}); }, [] {});
    controller->window().setContentSize(contentSize);
    controller->showWindow();
    if (result && LastPasteContent::validImage(*result)) {
        // The thumbnail is decoded on the preview queue; wait for the answer on the main loop.
        RunLoop::main()->runUntil([&] { return controller->previewLabel().stringValue() != "Loading preview\u2026"; },
                                  10);
    }
    if (state == "path-copied") controller->copyPath();
    if (refused) {
        // The copy checks the bytes off the main thread; wait for its answer on the main loop.
        controller->copyImage();
        RunLoop::main()->runUntil([&] { return !controller->isCopying(); }, 10);
    }
    drawWindow(g, controller->window());
    controller->window().orderOut();
}

} // namespace

Scene lastPasteStatusScene() {
    const Size content = LastPasteWindowController::contentSize;
    return {"last-paste-status", states, {content.width, content.height + Window::titleBarHeight},
            [content](GraphicsContext& g, const std::string& state) { drawLastPaste(g, state, content); },
            {"lastPaste.previewLabel"}};
}

Scene lastPasteStatusMinimumScene() {
    const Size content = LastPasteWindowController::minimumContentSize;
    return {"last-paste-status-minimum", states, {content.width, content.height + Window::titleBarHeight},
            [content](GraphicsContext& g, const std::string& state) { drawLastPaste(g, state, content); },
            {"lastPaste.previewLabel"}};
}

} // namespace tarpelix::gallery
