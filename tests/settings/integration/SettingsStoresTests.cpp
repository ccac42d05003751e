#include "settings/SettingsWindowController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "support/LocalStores.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tarpelix;
using namespace tarpelix::testing;
using Controller = SettingsWindowController;

namespace {

// The Settings window over a real transfer storage and diagnostic store, loaded and cleared on
// a serial queue of its own as the application does.
TEST(SettingsWithStores, RecordsImagesAndALogFailureReachTheFiguresAndAClearEmptiesThem) {
    platform::DesktopControl::reset();
    platform::DesktopControl::setLocaleIdentifier("en_US");
    TemporaryDirectory directory{"tarpelix-settings-stores"};
    auto storage = transferStorageIn(directory.file("store"));
    DiagnosticStore::Options options;
    options.root = directory.file("store") + "/diagnostics";
    options.scheduleMaintenance = false;
    options.fileOperation = [](DiagnosticFileOperation operation, const std::filesystem::path&) {
        if (operation == DiagnosticFileOperation::write) throw std::runtime_error("disk full");
    };
    auto diagnostics = DiagnosticStore::create(options);

    const platform::Bytes png = makePNG(PngSpec{});
    for (int i = 0; i < 3; ++i) {
        TransferRecord record;
        record.terminal = "com.mitchellh.ghostty";
        record.transport = "ssh";
        record.imageSize = std::int64_t(png.size());
        storage->create(record, i < 2 ? std::optional<platform::Bytes>(png) : std::nullopt);
    }
    DiagnosticEvent event;
    event.timestamp = platform::Date::now();
    diagnostics->append(event);
    ASSERT_TRUE(runMainUntil([&] { return diagnostics->snapshot().health.lastFailure.has_value(); }));

    auto queue = platform::DispatchQueue::create("com.tarpelix.settings", platform::QualityOfService::userInitiated);
    auto controller = Controller::create(
        [&](Controller::LoadCompletion done) {
            queue->async([&, done] { done({storage->status(), diagnostics->snapshot().health}); });
        },
        [&](Controller::ClearCompletion done) {
            queue->async([&, done] {
                try {
                    storage->clear();
                    done(nullptr);
                } catch (...) {
                    done(std::current_exception());
                }
            });
        },
        [](Controller::ClearCompletion done) { done(nullptr); }, [](Controller::ReportCompletion) {},
        [] { return false; }, nullptr, nullptr,
        OverlayPreference::create(platform::UserDefaults::create(directory.file("overlay.plist"))), nullptr, {},
        [](bool) {}, [] {}, [](platform::Window&, const std::string&, const std::string&, auto answer) { answer(true); });

    controller->showSection(SettingsSection::storage);
    ASSERT_TRUE(runMainUntil([&] { return !controller->isLoading(); }));
    EXPECT_EQ(controller->imageCount().stringValue(), "2 images");
    EXPECT_EQ(controller->recordCount().stringValue(), "3 records");
    EXPECT_NE(controller->imageSize().stringValue(), "\u2014");
    EXPECT_NE(controller->imageSize().stringValue(), "0 bytes");
    EXPECT_TRUE(controller->databaseSize().stringValue().ends_with(" database"));
    EXPECT_TRUE(controller->storageStatus().isHidden());
    EXPECT_FALSE(controller->diagnosticWarning().isHidden());
    EXPECT_EQ(controller->diagnosticWarning().stringValue(),
              "Logs couldn\u2019t be saved. Recent activity may be lost when you quit.");

    controller->clearImagesButton().performClick();
    ASSERT_TRUE(runMainUntil([&] { return !controller->isClearing() && !controller->isLoading(); }));
    EXPECT_EQ(controller->storageActionStatus().stringValue(), "Cleared.");
    EXPECT_EQ(controller->imageCount().stringValue(), "0 images");
    EXPECT_EQ(controller->recordCount().stringValue(), "0 records");
    EXPECT_EQ(controller->imageSize().stringValue(), "0 bytes");

    controller->window().close();
    controller.reset();
    platform::DesktopControl::reset();
}

} // namespace
