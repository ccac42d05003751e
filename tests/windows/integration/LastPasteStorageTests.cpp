// The Last Paste Status window over a real transfer storage in a scratch directory, filled
// through its own API, copying to the simulated general pasteboard.

#include "windows/LastPasteWindowController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "support/LastPasteOnStorage.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;

constexpr Date pastedAt{789059040}; // Jan 2, 2026, 3:04 PM UTC

TEST(LastPasteStorageTest, ShowsTheStoredAttemptAndCopiesItsPathAndImage) {
    DesktopControl::reset();
    DesktopControl::setLocaleIdentifier("en_US");
    DesktopControl::setTimeZone(TimeZone{"UTC"});
    DesktopControl::setPasteboardAccessBehavior(2);
    testing::TemporaryDirectory scratch{"tarpelix-last-paste"};
    TransferStorage::Options options;
    options.root = scratch.path();
    options.scheduleMaintenance = false;
    options.clock = [] { return pastedAt.addingSeconds(5); };
    auto storage = TransferStorage::create(options);

    // One paste, as the pipeline records it: the record with its image, then the upload's
    // confirmed path, and the finished attempt.
    const Bytes png = testing::makePNG({.width = 400, .height = 100});
    TransferRecord record;
    record.createdAt = pastedAt;
    record.updatedAt = pastedAt;
    record.terminal = "com.googlecode.iterm2";
    record.transport = "mosh";
    record.destinationIdentity = "me@example.org:22";
    record.imageSize = static_cast<std::int64_t>(png.size());
    const std::string path = "/home/me/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
    storage->beginOperation(record.id);
    storage->beginAttempt(record.id);
    record = storage->create(record, png);
    ASSERT_TRUE(record.localFilename) << "the image is retained as a file";
    record.uploadOutcome = TransferOutcome::succeeded;
    record.insertionOutcome = TransferOutcome::succeeded;
    record.confirmedRemotePath = path;
    storage->update(record);
    PasteFeedback feedback;
    feedback.operationID = record.id;
    feedback.stage = PasteFeedback::Stage::inserting;
    feedback.finish(PasteFeedback::Outcome::success, std::nullopt, true);
    bool saved = false;
    storage->saveLatestAttempt(PasteAttempt(feedback, pastedAt, pastedAt, "com.googlecode.iterm2", "mosh"),
                               [&](std::optional<StorageError>) { saved = true; });
    ASSERT_TRUE(testing::runMainUntil([&] { return saved; }));
    storage->endOperation(record.id);

    auto controller = testing::lastPasteWindowOn(storage);
    controller->showWindow();
    ASSERT_TRUE(testing::runMainUntil([&] { return controller->previewView().image().has_value(); }));

    EXPECT_EQ(controller->previewView().image()->size(), (Size{320, 80})) << "scaled to 320 pixels at most";
    controller->window().layoutIfNeeded();
    const auto reading = ScreenReader::read(controller->window());
    EXPECT_EQ(reading, (std::vector<std::string>{
                           "Last Paste Status", "Path handed to terminal",
                           "Jan 2, 2026, 3:04\u202FPM \u00B7 iTerm2 \u00B7 Mosh (SSH upload)", "Uploaded path",
                           "Image from the last paste attempt, image", path + ", " + path,
                           "Copy image from this paste, button", "Copy uploaded path from this paste, button",
                           "Last paste details, Transfer details\nUpload:\tConfirmed\nInsertion:\tConfirmed\n"
                           "Last stage:\tInserting path\nExplanation\nThe image path was handed to the terminal; "
                           "agent consumption is not confirmed.\nNext step\nReview the terminal input before "
                           "submitting it.\n, text"}));

    AppKitControl::click(controller->copyPathButton());
    ASSERT_TRUE(testing::runMainUntil([&] { return controller->copyFeedback().stringValue() == "Uploaded path copied."; }));
    EXPECT_EQ(Pasteboard::general().dataForType(PasteboardType::string), Bytes(path.begin(), path.end()));

    AppKitControl::click(controller->copyImageButton());
    ASSERT_TRUE(testing::runMainUntil([&] { return controller->copyFeedback().stringValue() == "Image copied."; }));
    EXPECT_EQ(Pasteboard::general().dataForType(PasteboardType::png), png);
    EXPECT_FALSE(Pasteboard::general().dataForType(PasteboardType::string)) << "the image replaced the path";

    controller->window().performClose();
    controller.reset();
    storage.reset();
    DesktopControl::reset();
}

} // namespace
} // namespace tarpelix
