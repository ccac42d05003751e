#include "app/e2e/ApplicationOverSSH.h"
#include "diagnostics/DiagnosticReport.h"
#include "diagnostics/DiagnosticStore.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "settings/SettingsSnapshot.h"
#include "settings/SettingsWindowController.h"
#include "storage/StorageError.h"
#include "windows/DiagnosticReportPreviewController.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <sstream>

namespace tarpelix::testing {
namespace {

const std::string clearingReport = "Clearing local data \u2014 paste again";

// The application with its settings worker held by a latch the test releases.
class LocalData : public ApplicationOverSSH {
protected:
    void TearDown() override {
        release();
        ApplicationOverSSH::TearDown();
    }

    // Queues the latch first on the serial settings worker: work queued after it waits.
    void holdSettingsWorker() {
        delegate->settingsWorker()->async([held = held_] { held.wait(); });
    }
    void release() {
        if (!released_) {
            released_ = true;
            latch_.set_value();
        }
    }
    // A new latch, once the last one was released.
    void latchAgain() {
        latch_ = std::promise<void>();
        held_ = latch_.get_future().share();
        released_ = false;
    }

    // Runs a clear, keeping what its completion got.
    void clear(bool images) {
        cleared.reset();
        delegate->clearLocalData(images, [this](std::exception_ptr error) { cleared = error; });
    }
    static std::optional<StorageError> storageError(const std::exception_ptr& error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const StorageError& storage) {
            return storage;
        } catch (...) {
        }
        return std::nullopt;
    }
    bool reported(const std::string& text) const {
        return std::any_of(reportedStatus.begin(), reportedStatus.end(),
                           [&](const auto& report) { return report.first == text; });
    }

    // Set when a clear completed: null on success.
    std::optional<std::exception_ptr> cleared;

private:
    std::promise<void> latch_;
    std::shared_future<void> held_ = latch_.get_future().share();
    bool released_ = false;
};

// Last Paste Status is emptied when the clear begins and loads again, empty, when it ends.
TEST_F(LocalData, AClearWhileLastPasteStatusIsOpenInvalidatesItThenRefreshesItEmpty) {
    runApplication([&] {
        openRemoteShell();
        ASSERT_TRUE(waitArmed());
        observePastes();
        ASSERT_TRUE(pasteAndWait());
        ASSERT_TRUE(runMainUntil([&] { return enabled(delegate->recoveryMenu().copyPathItem()); }));
        chooseInStatusMenu("Last Paste Status");
        const auto controller = delegate->lastPasteController();
        ASSERT_TRUE(controller);
        auto& outcome = controller->outcomeLabel();
        ASSERT_TRUE(runMainUntil([&] { return !outcome.stringValue().empty() && !controller->isLoading(); }));
        ASSERT_NE(outcome.stringValue(), "No recent paste");

        holdSettingsWorker();
        clear(true);
        EXPECT_TRUE(delegate->clearingImages());
        EXPECT_EQ(outcome.stringValue(), "") << "invalidated at once";
        EXPECT_FALSE(enabled(delegate->recoveryMenu().copyPathItem()));
        settle();
        EXPECT_FALSE(cleared) << "the clear waits behind the latch";

        release();
        ASSERT_TRUE(runMainUntil([&] { return cleared.has_value(); }));
        EXPECT_EQ(*cleared, nullptr);
        EXPECT_FALSE(delegate->clearingImages());
        EXPECT_TRUE(runMainUntil([&] { return outcome.stringValue() == "No recent paste"; }));
        EXPECT_FALSE(enabled(delegate->recoveryMenu().copyImageItem()));
    });
}

// While a paste runs nothing is cleared: the clear answers busy at once, and Settings offers
// no way there.
TEST_F(LocalData, AClearAskedDuringAPasteAnswersBusyAtOnceAndDeletesNothing) {
    blockingUpload = true;
    storeConfirmedUpload(screenshotPNG());
    runApplication([&] {
        openRemoteShell();
        ASSERT_TRUE(waitArmed());
        delegate->showTarpelixSettings();
        auto& settings = *delegate->settingsController();
        settings.showSection(SettingsSection::storage);
        ASSERT_TRUE(runMainUntil([&] { return settings.clearImagesButton().isEnabled(); }));
        // The user asks to clear the images; the warning sheet stays up while a paste starts.
        settings.clearImagesButton().performClick();
        auto* sheet = settings.window().attachedSheet();
        ASSERT_NE(sheet, nullptr);
        activateTerminal();
        ASSERT_TRUE(waitArmed());
        platform::DesktopControl::copyPNG(screenshotPNG());
        EXPECT_TRUE(pressControlV().swallowed);
        ASSERT_TRUE(runMainUntil([&] { return transport.calls() == 1; }));
        const auto before = delegate->transferStorage()->status();
        const auto events = delegate->diagnosticStore()->snapshot().events.size();
        for (const bool images : {true, false}) {
            SCOPED_TRACE(images ? "images" : "logs");
            clear(images);
            ASSERT_TRUE(cleared.has_value()) << "completed before returning";
            EXPECT_EQ(storageError(*cleared), StorageError(StorageError::busy));
            EXPECT_FALSE(delegate->clearingImages());
        }
        // "Clear" answered now clears nothing, and says why.
        ASSERT_TRUE(platform::AppKitControl::pressButton(*sheet, "Clear"));
        EXPECT_TRUE(runMainUntil([&] {
            return settings.storageActionStatus().stringValue() ==
                   "Wait for the current paste to finish, then try again.";
        }));
        EXPECT_FALSE(settings.isClearing());
        EXPECT_TRUE(runMainUntil([&] { return !settings.clearImagesButton().isEnabled(); }));
        EXPECT_FALSE(settings.clearLogsButton().isEnabled());

        transport.release();
        ASSERT_TRUE(waitStatus(AppDelegate::pathHandedToTerminal));
        const auto after = delegate->transferStorage()->status();
        ASSERT_TRUE(before.usage && after.usage);
        // The earlier record and the paste's own are both kept.
        EXPECT_EQ(before.usage->recordCount, 2);
        EXPECT_EQ(after.usage->recordCount, 2);
        EXPECT_EQ(after.usage->imageCount, 2);
        EXPECT_GT(delegate->diagnosticStore()->snapshot().events.size(), events);
    });
}

// Control+V while images or logs are being cleared says so and starts nothing.
TEST_F(LocalData, ControlVDuringAClearReportsIt) {
    blockingUpload = true;
    runApplication([&] {
        openRemoteShell();
        ASSERT_TRUE(waitArmed());
        observePastes();
        for (const bool images : {true, false}) {
            SCOPED_TRACE(images ? "images" : "logs");
            reportedStatus.clear();
            holdSettingsWorker();
            clear(images);
            platform::DesktopControl::copyPNG(screenshotPNG());
            EXPECT_TRUE(pressControlV().swallowed);
            EXPECT_TRUE(runMainUntil([&] { return reported(clearingReport); }));
            EXPECT_EQ(statusLine(), AppDelegate::seeLastPasteStatus);
            EXPECT_EQ(transport.calls(), 0);
            release();
            ASSERT_TRUE(runMainUntil([&] { return cleared.has_value(); }));
            EXPECT_EQ(*cleared, nullptr);
            // A new latch for the next round.
            latchAgain();
        }
    });
}

// A failure the storage records without reporting it (an unreadable last attempt, found when
// Last Paste Status loads it) shows in the menu once the menu has opened.
TEST_F(LocalData, AStoreFailureOnlyTheStatusRevealsRaisesTheStorageWarningOnceTheMenuOpened) {
    storeConfirmedUpload(screenshotPNG());
    runApplication([&] {
        auto& warning = delegate->recoveryMenu().storageWarningItem();
        ASSERT_TRUE(warning.isHidden());
        // Another writer leaves the last attempt unreadable.
        const auto database = std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "Tarpelix" / "transfers.sqlite3";
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(database.c_str(), &handle), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(handle, "INSERT OR REPLACE INTO latest_attempt(slot, payload) VALUES(1, X'7B7D')",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(handle);

        chooseInStatusMenu("Last Paste Status");
        const auto controller = delegate->lastPasteController();
        ASSERT_TRUE(runMainUntil([&] { return !controller->isLoading() && !controller->outcomeLabel().stringValue().empty(); }));
        settle();
        EXPECT_EQ(delegate->storageWarning(), std::nullopt) << "nothing reported it";
        EXPECT_TRUE(warning.isHidden());

        openAndCloseStatusMenu();
        ASSERT_TRUE(runMainUntil([&] { return delegate->storageWarning().has_value(); }));
        EXPECT_FALSE(warning.isHidden());
        EXPECT_EQ(warning.title(), AppDelegate::storageAttention);
    });
}

// "Review…" and the save panel write the report of the stores as they are, redacted.
TEST_F(LocalData, TheReportSavedThroughTheSavePanelIsTheRedactedReportOfTheStores) {
    runApplication([&] {
        // Something to report: a paste over the private sshd.
        openRemoteShell();
        ASSERT_TRUE(waitArmed());
        observePastes();
        ASSERT_TRUE(pasteAndWait());

        auto& settings = *delegate->settingsController();
        settings.showSection(SettingsSection::diagnostics);
        ASSERT_TRUE(runMainUntil([&] { return settings.reviewReportButton().isEnabled(); }));
        settings.reviewReportButton().performClick();
        ASSERT_TRUE(runMainUntil([&] { return settings.reportPreview() && settings.reportPreview()->window().isVisible(); }));
        auto* preview = settings.reportPreview();
        const std::string shownText = preview->text();

        preview->saveButton().performClick();
        ASSERT_TRUE(runMainUntil([&] { return preview->window().attachedSheet() != nullptr; }));
        const auto saved = directory.file("Tarpelix-Diagnostic-Report.txt");
        ASSERT_TRUE(platform::AppKitControl::answerSavePanel(*preview->window().attachedSheet(), saved));
        ASSERT_TRUE(runMainUntil([&] { return std::filesystem::exists(saved); }));
        std::stringstream file;
        file << std::ifstream(saved).rdbuf();
        EXPECT_EQ(file.str(), shownText);
        EXPECT_EQ(file.str(), DiagnosticReport::make(delegate->diagnosticStore()->snapshot(),
                                                     delegate->transferStorage()->status()));
        EXPECT_NE(file.str().find(feedbacks.back().operationID.uuidString()), std::string::npos)
            << "the paste is in it";
        const std::string user = getpwuid(getuid())->pw_name;
        for (const std::string& secret : {std::string("127.0.0.1"), std::to_string(server->port()), server->home(),
                                          std::string("/tmp/"), std::string("/home/"), user, SSHServer::alias}) {
            EXPECT_EQ(file.str().find(secret), std::string::npos) << secret;
        }
    });
}

// A quit asked while a clear runs waits for the clear to end.
TEST_F(LocalData, AQuitDuringAClearWaitsForTheClearToEnd) {
    storeConfirmedUpload(screenshotPNG());
    bool terminatedDuringClear = true;
    runApplication([&] {
        ASSERT_TRUE(waitArmed());
        for (const bool images : {false, true}) { // logs, then images: the quit comes during the second
            holdSettingsWorker();
            clear(images);
            if (!images) {
                release();
                ASSERT_TRUE(runMainUntil([&] { return cleared.has_value(); }));
                latchAgain();
            }
        }
        requestQuit();
        ASSERT_TRUE(waitStatus(AppDelegate::preparingToQuit));
        settle();
        terminatedDuringClear = Application::shared().hasTerminated();
        EXPECT_FALSE(cleared);
        release();
        EXPECT_TRUE(runMainUntil([] { return Application::shared().hasTerminated(); }));
        EXPECT_TRUE(cleared.has_value());
    });
    EXPECT_FALSE(terminatedDuringClear);
    EXPECT_TRUE(Application::shared().hasTerminated());
    EXPECT_EQ(cleared, std::optional<std::exception_ptr>(nullptr));
    EXPECT_EQ(delegate->transferStorage()->status().usage->recordCount, 0);
}

// Menu openings, settings loads, clears and reports while pastes run, for the thread checker:
// each paste goes over the private sshd while the settings worker reads the same stores.
TEST_F(LocalData, MenuOpeningsLoadsClearsAndReportsRunBesidePastes) {
    runApplication([&] {
        const auto remote = openRemoteShell();
        ASSERT_TRUE(waitArmed());
        observePastes();
        int loads = 0;
        int reports = 0;
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            const auto before = feedbacks.size();
            platform::DesktopControl::copyPNG(screenshotPNG(64 + round, 40));
            EXPECT_TRUE(pressControlV().swallowed);
            // While it runs: the menu opens (a load), a report is made, a clear is refused.
            openAndCloseStatusMenu();
            delegate->loadSettings([&](SettingsSnapshot) { ++loads; });
            delegate->makeDiagnosticReport([&](std::string text) { reports += !text.empty(); });
            clear(round % 2 == 0);
            ASSERT_TRUE(runMainUntil([&] {
                return std::any_of(feedbacks.begin() + static_cast<std::ptrdiff_t>(before), feedbacks.end(),
                                   [](const PasteFeedback& feedback) { return feedback.outcome.has_value(); });
            }, 60));
            ASSERT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); }));
            ASSERT_TRUE(cleared.has_value());
            // Refused while the paste ran; it may have ended first, and then the clear went through.
            if (*cleared) {
                EXPECT_EQ(storageError(*cleared), StorageError(StorageError::busy));
            }
        }
        EXPECT_TRUE(runMainUntil([&] { return loads == 3 && reports == 3; }));
        EXPECT_EQ(feedbacks.back().outcome, PasteFeedback::Outcome::success);
        // A clear with no paste running goes through: everything stored is gone.
        clear(true);
        ASSERT_TRUE(runMainUntil([&] { return cleared.has_value(); }));
        EXPECT_EQ(*cleared, nullptr);
        EXPECT_EQ(delegate->transferStorage()->status().usage->recordCount, 0);
        terminal->type(remote, "exit\n");
    });
}

} // namespace
} // namespace tarpelix::testing
