#include "SettingsWindowFixture.h"

#include "platform/appkit/Alert.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/Sheet.h"
#include "platform/appkit/Switch.h"
#include "platform/appkit/Window.h"

#include <stdexcept>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::testing;
namespace AppKitControl = platform::AppKitControl;

namespace {

using State = LaunchAtLoginController::State;

StorageHealth usage(std::int64_t records, std::int64_t images, std::int64_t imageBytes, std::int64_t databaseBytes) {
    StorageHealth health;
    health.recordCount = records;
    health.imageCount = images;
    health.imageBytes = imageBytes;
    health.databaseBytes = databaseBytes;
    return health;
}

const std::string savedFailure = "Some data couldn\u2019t be saved. The current result is kept until you quit.";
const std::string logsUnsaved = "Logs couldn\u2019t be saved. Recent activity may be lost when you quit.";
const std::string eventsUnread = "Some events couldn\u2019t be read and won\u2019t appear in reports.";

TEST_F(SettingsWindowTest, ASnapshotFillsTheFiguresAndWarnings) {
    struct Case {
        const char* name;
        SettingsSnapshot snapshot;
        std::vector<std::string> figures; // size, images, records, database
        std::optional<std::string> status;
        std::optional<std::string> warning;
    };
    auto with = [](std::function<void(SettingsSnapshot&)> change) {
        SettingsSnapshot s;
        s.storage.usage = usage(0, 0, 0, 0);
        change(s);
        return s;
    };
    const std::vector<Case> cases = {
        {"one empty image", with([](auto& s) { s.storage.usage = usage(1, 1, 0, 4096); }),
         {"0 bytes", "1 image", "1 record", "4 KB database"}, std::nullopt, std::nullopt},
        {"grouped records", with([](auto& s) { s.storage.usage = usage(1234, 2, 1234567, 0); }),
         {"1.2 MB", "2 images", "1,234 records", "0 bytes database"}, std::nullopt, std::nullopt},
        {"no store", with([](auto& s) { s.storage.usage.reset(); }),
         {"\u2014", "\u2014", "\u2014", "\u2014"}, "Storage usage unavailable.", std::nullopt},
        {"memory-only with a pending clear",
         with([](auto& s) {
             s.storage.memoryOnly = true;
             s.storage.clearPending = true;
         }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"},
         savedFailure + "\nClearing after the current paste finishes\u2026", std::nullopt},
        {"a store failure", with([](auto& s) { s.storage.usage->lastFailure = StorageError::databaseFailure; }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"}, savedFailure, std::nullopt},
        {"log unavailable", with([](auto& s) { s.diagnostics.lastFailure = DiagnosticError::unavailable; }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"}, std::nullopt, logsUnsaved},
        {"invalid event", with([](auto& s) { s.diagnostics.lastFailure = DiagnosticError::invalidEvent; }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"}, std::nullopt, eventsUnread},
        {"corrupt log", with([](auto& s) { s.diagnostics.lastFailure = DiagnosticError::corruptLog; }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"}, std::nullopt, eventsUnread},
        {"write failed", with([](auto& s) { s.diagnostics.lastFailure = DiagnosticError::writeFailed; }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"}, std::nullopt, logsUnsaved},
        {"delete failed", with([](auto& s) { s.diagnostics.lastFailure = DiagnosticError::deleteFailed; }),
         {"0 bytes", "0 images", "0 records", "0 bytes database"}, std::nullopt, "Some logs couldn\u2019t be removed."},
    };
    controller = make();
    EXPECT_EQ(controller->storageStatus().stringValue(), "Loading storage usage\u2026");
    EXPECT_EQ(controller->imageSize().stringValue(), "\u2014");
    controller->showWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller->refresh();
        answerLoad(loads.size() - 1, c.snapshot);
        EXPECT_EQ((std::vector<std::string>{controller->imageSize().stringValue(), controller->imageCount().stringValue(),
                                            controller->recordCount().stringValue(),
                                            controller->databaseSize().stringValue()}),
                  c.figures);
        EXPECT_EQ(controller->storageStatus().isHidden(), !c.status);
        if (c.status) {
            EXPECT_EQ(controller->storageStatus().stringValue(), *c.status);
        }
        EXPECT_EQ(controller->diagnosticWarning().isHidden(), !c.warning);
        if (c.warning) {
            EXPECT_EQ(controller->diagnosticWarning().stringValue(), *c.warning);
        }
    }
}

TEST_F(SettingsWindowTest, ReturnOnTheConfirmationDeclinesAndClearGoesThroughTheSheet) {
    realConfirmation = true;
    controller = shown();
    controller->showSection(SettingsSection::storage);
    answerLoad(loads.size() - 1);
    controller->requestClearImages();
    auto* sheet = controller->window().attachedSheet();
    ASSERT_TRUE(sheet);
    auto contents = AppKitControl::readSheet(*sheet);
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->messageText, "Clear local data?");
    EXPECT_EQ(contents->informativeText,
              "Deletes images, transfer records, Last Paste, and dashboard stats from this Mac.");
    EXPECT_EQ(contents->buttons, (std::vector<std::string>{"Cancel", "Clear"}));
    AppKitControl::typeKey(13, "w", platform::EventFlag::command); // goes to the sheet, which is key
    EXPECT_TRUE(controller->window().isVisible());
    ASSERT_TRUE(AppKitControl::pressKey(*sheet, platform::KeyCode::returnKey));
    EXPECT_FALSE(controller->isConfirming());
    EXPECT_TRUE(imageClears.empty());
    EXPECT_TRUE(controller->storageActionStatus().isHidden()) << "the status stays as it was";
    EXPECT_TRUE(controller->clearImagesButton().isEnabled());

    controller->requestClearLogs();
    sheet = controller->window().attachedSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(AppKitControl::readSheet(*sheet)->messageText, "Clear diagnostic logs?");
    ASSERT_TRUE(AppKitControl::pressButton(*sheet, "Clear"));
    ASSERT_EQ(logClears.size(), 1u);
    EXPECT_EQ(controller->diagnosticActionStatus().stringValue(), "Clearing\u2026");
}

TEST_F(SettingsWindowTest, AConfirmationThatCannotBeShownDeclinesInsteadOfHangingTheClearButtons) {
    realConfirmation = true;
    controller = shown();
    auto other = platform::Alert::create();
    other->addButtonWithTitle("OK");
    other->beginSheetModal(controller->window(), [](platform::ModalResponse) {});
    ASSERT_TRUE(controller->window().attachedSheet());
    controller->requestClearImages();
    EXPECT_FALSE(controller->isConfirming());
    EXPECT_TRUE(imageClears.empty());
    EXPECT_TRUE(controller->clearImagesButton().isEnabled());
    ASSERT_TRUE(AppKitControl::pressButton(*controller->window().attachedSheet(), "OK"));
}

TEST_F(SettingsWindowTest, AClearEndsInOneOfItsStatusesAndReloadsTheFigures) {
    struct Case {
        const char* name;
        bool pasteStarts;
        std::exception_ptr error;
        std::string status;
    };
    const std::vector<Case> cases = {
        {"success", false, nullptr, "Cleared."},
        {"refused as busy", false, std::make_exception_ptr(StorageError::busy),
         "Some data couldn\u2019t be cleared. Try again."},
        {"a log failure", false, std::make_exception_ptr(DiagnosticError::deleteFailed),
         "Some data couldn\u2019t be cleared. Try again."},
        {"a paste before the answer", true, nullptr, "Wait for the current paste to finish, then try again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        busy = false;
        controller = shown();
        controller->requestClearImages();
        busy = c.pasteStarts;
        const std::size_t loadsBefore = loads.size();
        confirmations.back()(true);
        if (c.pasteStarts) {
            EXPECT_EQ(imageClears.size(), 0u);
            EXPECT_EQ(loads.size(), loadsBefore);
        } else {
            ASSERT_FALSE(imageClears.empty());
            auto clear = std::move(imageClears.back());
            imageClears.clear();
            EXPECT_TRUE(controller->isClearing());
            std::thread([&] { clear(c.error); }).join();
            ASSERT_TRUE(runMainUntil([&] { return !controller->isClearing(); }));
            EXPECT_EQ(loads.size(), loadsBefore + 1) << "the figures reload";
        }
        EXPECT_EQ(controller->storageActionStatus().stringValue(), c.status);
        EXPECT_FALSE(controller->storageActionStatus().isHidden());
        EXPECT_TRUE(controller->diagnosticActionStatus().isHidden());
    }
}

TEST_F(SettingsWindowTest, OneReportWindowAtATime) {
    controller = shown();
    controller->reviewReport();
    controller->reviewReport();
    ASSERT_EQ(reports.size(), 1u) << "two quick presses build one report";
    reports.back()("first report");
    auto* first = controller->reportPreview();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text(), "first report");
    EXPECT_TRUE(controller->reviewReportButton().isEnabled());

    controller->window().makeKeyAndOrderFront();
    controller->reviewReport();
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_TRUE(first->window().isKeyWindow()) << "brought forward";

    // The old window's close notice arrives after a new report window opened.
    auto keepFirst = first->shared_from_this();
    first->window().close();
    EXPECT_EQ(controller->reportPreview(), nullptr);
    controller->reviewReport();
    reports.back()("second report");
    ASSERT_TRUE(controller->reportPreview());
    keepFirst->windowWillClose(keepFirst->window());
    ASSERT_TRUE(controller->reportPreview());
    EXPECT_EQ(controller->reportPreview()->text(), "second report");
    controller->reportPreview()->window().close();
}

TEST_F(SettingsWindowTest, TheLaunchAtLoginRowFollowsTheModel) {
    struct Case {
        const char* name;
        State state;
        bool busy;
        std::optional<std::string> error;
        bool on, enabled, buttonShown;
        std::string status;
    };
    const std::vector<Case> cases = {
        {"not registered", State::notRegistered, false, {}, false, true, false, "Open Tarpelix when you sign in."},
        {"enabled", State::enabled, false, {}, true, true, false, "Open Tarpelix when you sign in."},
        {"approval", State::requiresApproval, false, {}, true, true, true, "Approval required in Login Items."},
        {"not found", State::notFound, false, {}, false, true, true, "Turn on Launch at Login to set it up."},
        {"unknown", State::unknown, false, {}, false, true, true, "Status unavailable. Check Login Items."},
        {"busy", State::enabled, true, {}, true, false, false, "Updating\u2026"},
        {"an error", State::enabled, false, "not permitted", true, true, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<LaunchAtLoginController::Completion> pending;
        State serviceStatus = c.state;
        LaunchAtLoginController::Dependencies d;
        d.status = [&serviceStatus] { return serviceStatus; };
        d.registerItem = [&](LaunchAtLoginController::Completion done) { pending.push_back(std::move(done)); };
        d.unregisterItem = d.registerItem;
        d.openLoginItems = [] {};
        login = LaunchAtLoginController::create(d);
        login->refresh();
        if (c.busy) login->setEnabled(false);
        if (c.error) {
            login->setEnabled(false);
            pending.back()(std::make_exception_ptr(std::runtime_error(*c.error)));
            runMainUntil([&] { return !login->isBusy(); });
        }
        controller = make();
        controller->refreshLoginDisplay();
        EXPECT_EQ(controller->loginSwitch().state() == platform::ControlStateValue::on, c.on);
        EXPECT_EQ(controller->loginSwitch().isEnabled(), c.enabled);
        EXPECT_EQ(controller->loginSettingsButton().isHidden(), !c.buttonShown);
        const std::string status = c.error ? login->errorMessage().value_or("none") : c.status;
        EXPECT_EQ(controller->loginStatus().stringValue(), status);
        EXPECT_EQ(controller->loginSwitch().accessibilityHelp(), status);
        controller.reset();
        login.reset();
    }

    controller = make(); // no login model
    EXPECT_FALSE(controller->loginSwitch().isEnabled());
    EXPECT_TRUE(controller->loginSettingsButton().isEnabled());
    EXPECT_TRUE(controller->loginSettingsButton().isHidden());
    EXPECT_EQ(controller->loginStatus().stringValue(), "Open Tarpelix when you sign in.");
}

TEST_F(SettingsWindowTest, TheUpdatesRowShowsThePresentationAndChecksOnlyWhenItMay) {
    controller = make();
    EXPECT_EQ(controller->updatesStatus().stringValue(), "Updates are not configured for this build.");
    EXPECT_EQ(controller->checkUpdatesButton().title(), "Check for Updates\u2026");
    EXPECT_EQ(controller->updatesSwitch().state(), platform::ControlStateValue::on);

    updates = {false, false, "Checking\u2026", "Last checked today."};
    controller->refreshUpdatesDisplay();
    EXPECT_EQ(controller->updatesSwitch().state(), platform::ControlStateValue::off);
    EXPECT_EQ(controller->updatesStatus().stringValue(), "Last checked today.");
    EXPECT_EQ(controller->updatesSwitch().accessibilityHelp(), "Last checked today.");
    EXPECT_EQ(controller->checkUpdatesButton().title(), "Checking\u2026");
    EXPECT_FALSE(controller->checkUpdatesButton().isEnabled());
    controller->requestUpdateCheck();
    EXPECT_EQ(updateChecks, 0) << "checking is not possible";

    updates.canCheck = true;
    controller->requestUpdateCheck();
    EXPECT_EQ(updateChecks, 1);
    EXPECT_TRUE(controller->checkUpdatesButton().isEnabled());
    controller->updatesSwitch().performClick();
    EXPECT_EQ(automaticChecks, std::vector<bool>{true});
}

} // namespace
