// Retained files that are not a PNG image the paste wrote, stored under the transfer's own
// "<UUID>.png" over a real transfer storage: neither the status menu's "Copy Last Image" nor the
// Last Paste Status window's "Copy Image" puts them on the pasteboard, and a good one is copied
// byte for byte by both.

#include "windows/CopyLastImageController.h"
#include "windows/LastPasteWindowController.h"

#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "support/LastPasteOnStorage.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;

constexpr const char* noImage = "No image is available. It may have been removed or cleared.";
const Bytes otherContent{'m', 'i', 'n', 'e'};

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// A well-formed small PNG whose header declares `width` × `height`, its CRC made to match.
Bytes pngDeclaring(std::uint32_t width, std::uint32_t height) {
    Bytes png = testing::makePNG({.width = 4, .height = 3});
    putBigEndian(png, 16, width);
    putBigEndian(png, 20, height);
    putBigEndian(png, 29, crc32(png.data() + 12, 17));
    return png;
}

struct CopyLastImageBoundsTest : ::testing::Test {
    testing::TemporaryDirectory directory{"tarpelix-copy-bounds"};
    std::string storageRoot;
    std::shared_ptr<TransferStorage> storage;
    std::vector<std::string> reports;

    void SetUp() override {
        DesktopControl::reset();
        DesktopControl::setPasteboardAccessBehavior(2);
    }
    void TearDown() override {
        storage.reset();
        DesktopControl::reset();
    }

    // A finished paste whose retained file holds `bytes`, as the latest attempt.
    TransferRecord storePaste(const Bytes& bytes) {
        TransferRecord record;
        record.terminal = "com.googlecode.iterm2";
        record.transport = "ssh";
        record.destinationIdentity = "me@example.org:22";
        record.imageSize = static_cast<std::int64_t>(bytes.size());
        storage->beginOperation(record.id);
        storage->beginAttempt(record.id);
        record = storage->create(record, bytes);
        record.uploadOutcome = TransferOutcome::succeeded;
        record.insertionOutcome = TransferOutcome::succeeded;
        record.confirmedRemotePath = "/home/me/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
        storage->update(record);
        PasteFeedback feedback;
        feedback.operationID = record.id;
        feedback.stage = PasteFeedback::Stage::inserting;
        feedback.finish(PasteFeedback::Outcome::success, std::nullopt, true);
        bool saved = false;
        storage->saveLatestAttempt(PasteAttempt(feedback, record.createdAt, record.createdAt, "iterm2", "ssh"),
                                   [&](std::optional<StorageError>) { saved = true; });
        EXPECT_TRUE(testing::runMainUntil([&] { return saved; }));
        storage->endOperation(record.id);
        return record;
    }

    std::filesystem::path imageFile(const TransferRecord& record) const {
        return std::filesystem::path(storageRoot) / "images" / record.expectedFilename();
    }

    static std::optional<Bytes> pasteboardPNG() { return Pasteboard::general().dataForType(PasteboardType::png); }
    static void putOtherContent() {
        Pasteboard::general().clearContents();
        Pasteboard::general().setData(otherContent, PasteboardType::string);
    }

    // The status menu's copy, as the application builds it: to the general pasteboard.
    void copyFromMenu() {
        std::weak_ptr<TransferStorage> weak = storage;
        auto controller = CopyLastImageController::create(
            [weak](auto done) {
                if (auto strong = weak.lock()) strong->loadLatestImage(std::move(done));
            },
            [weak](const Uuid& id, auto done) {
                if (auto strong = weak.lock()) strong->readImage(id, std::move(done));
            },
            [this](const std::string& message) { reports.push_back(message); }, [] {});
        controller->copy();
        EXPECT_TRUE(testing::runMainUntil([&] { return !controller->isCopying(); }));
    }

    // The window's "Copy Image", pressed whatever the button's state, once its preview has
    // settled; answers the preview's label and the copy's message.
    std::pair<std::string, std::string> copyFromWindow() {
        auto controller = testing::lastPasteWindowOn(storage);
        controller->showWindow();
        EXPECT_TRUE(testing::runMainUntil([&] {
            return controller->previewView().image().has_value() ||
                   controller->previewLabel().stringValue() == "Preview unavailable";
        }));
        const std::string preview = controller->previewView().image() ? "thumbnail" : controller->previewLabel().stringValue();
        EXPECT_EQ(controller->copyImageButton().isEnabled(), preview == "thumbnail");
        controller->copyImage();
        EXPECT_TRUE(testing::runMainUntil([&] { return !controller->isCopying(); }));
        const std::string message = controller->copyFeedback().stringValue();
        controller->window().performClose();
        return {preview, message};
    }
};

TEST_F(CopyLastImageBoundsTest, BothCopyActionsRefuseWhatIsNotTheRetainedPNGAndCopyAGoodOneExactly) {
    const Bytes good = testing::makePNG({.width = 48, .height = 30, .samples = testing::noiseSamples(8)});
    struct Case {
        const char* name;
        Bytes stored;
        std::int64_t growTo; // the file's size afterwards, sparse; 0 leaves it as stored
    };
    const std::vector<Case> cases = {
        {"good PNG", good, 0},
        {"truncated PNG", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)), 0},
        {"plain text", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'}, 0},
        {"TIFF", testing::makeTIFF(testing::TiffPage{.width = 48, .height = 30}), 0},
        {"PNG declaring 60000 x 60000", pngDeclaring(60000, 60000), 0},
        {"PNG grown to 1 GB", good, 1'000'000'000},
    };
    int fresh = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool copies = std::string(c.name) == "good PNG";
        // A storage of its own: no earlier case's image is there to fall back on.
        storageRoot = directory.path() + "/" + std::to_string(++fresh);
        TransferStorage::Options options;
        options.root = storageRoot;
        options.scheduleMaintenance = false;
        storage = TransferStorage::create(options);
        const auto record = storePaste(c.stored);
        ASSERT_TRUE(record.localFilename);
        if (c.growTo) {
            ASSERT_EQ(::truncate(imageFile(record).c_str(), c.growTo), 0);
        }

        putOtherContent();
        reports.clear();
        copyFromMenu();
        EXPECT_EQ(pasteboardPNG(), copies ? std::optional(c.stored) : std::nullopt);
        EXPECT_EQ(reports, copies ? std::vector<std::string>{} : std::vector<std::string>{noImage});
        if (!copies) {
            EXPECT_EQ(Pasteboard::general().dataForType(PasteboardType::string), otherContent);
        }

        putOtherContent();
        const auto [preview, message] = copyFromWindow();
        EXPECT_EQ(preview, copies ? "thumbnail" : "Preview unavailable");
        EXPECT_EQ(message, copies ? "Image copied." : "This image is no longer available.");
        EXPECT_EQ(pasteboardPNG(), copies ? std::optional(c.stored) : std::nullopt);
    }
}

} // namespace
} // namespace tarpelix
