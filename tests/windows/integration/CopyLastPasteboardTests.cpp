#include "windows/CopyLastImageController.h"
#include "windows/CopyLastUploadController.h"

#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "support/LocalStores.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace tarpelix;
using namespace tarpelix::testing;
using platform::Bytes;
using platform::Pasteboard;
using platform::PasteboardEntry;
using platform::PasteboardItemContents;
namespace DesktopControl = platform::DesktopControl;

namespace {

constexpr const char* noImage = "No image is available. It may have been removed or cleared.";

// The copy-last controllers over a real storage service in a temporary directory, writing to
// the simulated general pasteboard.
struct CopyLastPasteboardTest : ::testing::Test {
    TemporaryDirectory directory{"tarpelix-copy-last"};
    std::shared_ptr<TransferStorage> storage;
    std::vector<std::string> reports;
    Bytes png = makePNG(PngSpec{.width = 9, .height = 5, .samples = gradientSamples(8)});
    // Runs between the image load and the read, as another process deleting the file would.
    std::function<void()> afterLoad;

    void SetUp() override {
        DesktopControl::reset();
        // The tests read the general pasteboard back without the access prompt.
        DesktopControl::setPasteboardAccessBehavior(2);
        // Another application's copy, with two items, which a copy must replace whole.
        DesktopControl::copyItems({{{std::string(platform::PasteboardType::tiff), Bytes{1, 2}}},
                                   {{std::string(platform::PasteboardType::string), Bytes{'x'}}}});
        storage = transferStorageIn(directory.path());
    }
    void TearDown() override {
        storage.reset();
        DesktopControl::reset();
    }

    TransferRecord storeTransfer() {
        TransferRecord record;
        record.terminal = "com.mitchellh.ghostty";
        record.transport = "ssh";
        record.destinationIdentity = "me@example.org:22";
        record.imageSize = static_cast<std::int64_t>(png.size());
        record.confirmedRemotePath = "/home/me/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
        record.uploadOutcome = TransferOutcome::succeeded;
        record.insertionOutcome = TransferOutcome::succeeded;
        return storage->create(record, png);
    }

    std::filesystem::path imageFile(const TransferRecord& record) const {
        return std::filesystem::path(directory.path()) / "images" / record.expectedFilename();
    }

    std::shared_ptr<CopyLastImageController> imageController() {
        return CopyLastImageController::create(
            [this](auto done) {
                storage->loadLatestImage([this, done](auto snapshot) {
                    if (afterLoad) afterLoad();
                    done(std::move(snapshot));
                });
            },
            [this](const platform::Uuid& id, auto done) { storage->readImage(id, std::move(done)); },
            [this](const std::string& message) { reports.push_back(message); }, [] {});
    }

    std::shared_ptr<CopyLastUploadController> uploadController() {
        return CopyLastUploadController::create(
            [this](auto done) { storage->loadLatestConfirmedUpload(std::move(done)); },
            [this](const std::string& message) { reports.push_back(message); }, [] {});
    }

    template <typename Controller>
    void copyWith(Controller& controller) {
        controller.copy();
        EXPECT_TRUE(runMainUntil([&] { return !controller.isCopying(); }));
    }

    // Every item of the general pasteboard with each of its representations.
    static std::vector<PasteboardItemContents> pasteboardItems() {
        std::vector<PasteboardItemContents> contents;
        for (const auto& item : Pasteboard::general().pasteboardItems().value_or(std::vector<platform::PasteboardItem>{})) {
            auto& entries = contents.emplace_back();
            for (const auto& type : item.types().value_or(std::vector<std::string>{})) {
                entries.push_back(PasteboardEntry{type, item.dataForType(type).value_or(Bytes{})});
            }
        }
        return contents;
    }
};

} // namespace

TEST_F(CopyLastPasteboardTest, ACopyLeavesOnlyTheRetainedImageOrThePathOnThePasteboard) {
    const auto record = storeTransfer();
    ASSERT_TRUE(std::filesystem::exists(imageFile(record)));

    auto image = imageController();
    copyWith(*image);
    EXPECT_EQ(pasteboardItems(), (std::vector<PasteboardItemContents>{
                                     {{std::string(platform::PasteboardType::png), png}}}));
    ASSERT_TRUE(image->snapshot());
    EXPECT_EQ(image->snapshot()->record.id, record.id);

    auto upload = uploadController();
    copyWith(*upload);
    const auto& remotePath = *record.confirmedRemotePath;
    EXPECT_EQ(pasteboardItems(),
              (std::vector<PasteboardItemContents>{
                  {{std::string(platform::PasteboardType::string), Bytes(remotePath.begin(), remotePath.end())}}}));
    EXPECT_TRUE(reports.empty());
}

TEST_F(CopyLastPasteboardTest, ARefusedWriteReportsWhatCouldNotBeCopied) {
    storeTransfer();
    DesktopControl::setPasteboardAccessorUnavailable(platform::PasteboardAccessor::write, true);
    auto image = imageController();
    copyWith(*image);
    auto upload = uploadController();
    copyWith(*upload);
    EXPECT_EQ(reports, (std::vector<std::string>{"Could not copy the image. Try again.",
                                                 "Could not copy the uploaded path. Try again."}));
    EXPECT_TRUE(image->snapshot());
    EXPECT_TRUE(upload->snapshot());
}

TEST_F(CopyLastPasteboardTest, ADeletedImageFileLeavesNoImageToCopy) {
    for (bool deletedAfterLoad : {false, true}) {
        SCOPED_TRACE(deletedAfterLoad ? "deleted between load and read" : "deleted before the copy");
        reports.clear();
        const auto record = storeTransfer();
        auto image = imageController();
        image->refresh();
        ASSERT_TRUE(runMainUntil([&] { return image->snapshot().has_value(); }));

        auto remove = [&] { std::filesystem::remove(imageFile(record)); };
        if (deletedAfterLoad) {
            afterLoad = remove;
        } else {
            remove();
        }
        copyWith(*image);
        afterLoad = nullptr;

        EXPECT_EQ(reports, std::vector<std::string>{noImage});
        EXPECT_FALSE(image->snapshot());
        EXPECT_EQ(pasteboardItems().size(), 2u); // the other application's copy is untouched
    }
}
