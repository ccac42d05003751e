#include "app/integration/ApplicationFixture.h"
#include "app/AppDelegate.h"
#include "platform/foundation/Crypto.h"
#include "platform/foundation/PropertyList.h"

#include "onboarding/OnboardingModel.h"

#include "paste/PasteCoordinator.h"
#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/UpdaterControl.h"
#include "platform/desktop/WorkspaceNotificationsControl.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "storage/TransferStorage.h"
#include "support/CoordinatorFixture.h"
#include "windows/LastPasteWindowController.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarpelix::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t keyQ = 12;

TEST_F(ApplicationTest, StartsEachServiceOnceInOrderAndQuits) {
    using platform::WorkspaceNotificationsControl::observerCount;
    namespace names = platform::WorkspaceNotificationName;
    storeConfirmedUpload(screenshotPNG());
    std::vector<std::string> atLaunch;
    std::vector<std::string> armed;
    runApplication([&] {
        atLaunch = platform::DesktopControl::records();
        // The first refresh ran before launching ended: the item already tells the status.
        EXPECT_FALSE(toolTip().empty());
        // Known terminals launching and quitting are watched from the start.
        EXPECT_EQ(observerCount(names::didLaunchApplication), 1u);
        EXPECT_EQ(observerCount(names::didTerminateApplication), 1u);
        ASSERT_TRUE(waitArmed());
        // What an earlier run stored can be copied before the menu was ever opened.
        auto& menu = delegate->recoveryMenu();
        EXPECT_TRUE(runMainUntil([&] { return enabled(menu.copyPathItem()) && enabled(menu.copyImageItem()); }));
        armed = platform::DesktopControl::records();
        delegate->startup().start();
        EXPECT_EQ(platform::DesktopControl::records(), armed) << "a second start adds nothing";
        EXPECT_EQ(observerCount(names::didLaunchApplication), 1u);
        EXPECT_EQ(delegate->statusItem()->menu(), delegate->recoveryMenu().menu());
        EXPECT_EQ(delegate->statusItem()->button().accessibilityLabel(), "Tarpelix");
    });
    const std::vector<std::string> started = {
        "activation policy accessory", "updater start", "activation policy accessory",
        "main menu: Tarpelix, File, Edit, Help", "status item", "status item menu"};
    // The tap is installed on its own thread: it may come before the scenario looked or after.
    auto withTap = started;
    withTap.push_back("event tap");
    EXPECT_TRUE(atLaunch == started || atLaunch == withTap) << ::testing::PrintToString(atLaunch);
    EXPECT_EQ(armed, withTap);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_TRUE(Application::shared().hasTerminated());
    EXPECT_EQ(observerCount(names::didLaunchApplication), 0u) << "the quit removed them";
    EXPECT_EQ(observerCount(names::didTerminateApplication), 0u);
}

TEST_F(ApplicationTest, OutsideTheApplicationsFolderOnlyTheInstallWindowShowsUntilRelaunchedInstalled) {
    // A distribution build started from the Downloads folder.
    std::ifstream shipped(std::string(TARPELIX_SOURCE_DIR) + "/resources/Info.plist");
    std::stringstream info;
    info << shipped.rdbuf();
    std::string text = info.str();
    text.replace(text.find("<string>development</string>"), 28, "<string>distribution</string>");
    fs::create_directories(directory.file("resources"));
    std::ofstream(directory.file("resources/Info.plist")) << text;
    platform::BundleControl::setResourceDirectory(directory.file("resources"));
    platform::BundleControl::setBundleURL(*platform::URL::parse("file:///home/ada/Downloads/Tarpelix.app/"));

    runApplication([&] {
        auto& window = delegate->installationWindow().window();
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(platform::DesktopControl::records(),
                  (std::vector<std::string>{"activation policy accessory", "main menu: Tarpelix"}));
        const auto& bar = Application::shared().mainMenu();
        ASSERT_TRUE(bar && bar->numberOfItems() == 1 && bar->items()[0]->submenu());
        const auto& quit = bar->items()[0]->submenu()->items();
        ASSERT_EQ(quit.size(), 1u);
        EXPECT_EQ(quit[0]->title(), "Quit Tarpelix");
        EXPECT_EQ(quit[0]->target().get(), &Application::shared());

        window.orderOut();
        platform::AppKitControl::reopenApplication();
        EXPECT_TRUE(runMainUntil([&] { return window.isVisible(); })) << "reopening shows it again";
        EXPECT_FALSE(delegate->servicesStarted());

        platform::AppKitControl::typeKey(keyQ, "q", platform::EventFlag::command);
        EXPECT_TRUE(Application::shared().hasTerminated()) << "Command-Q quits at once";
    });
    EXPECT_TRUE(platform::StatusBar::system().items().empty());
    EXPECT_EQ(platform::InputEventsControl::installedTaps(), 0u);
    EXPECT_EQ(platform::UpdaterControl::startCount(), 0);

    // Relaunched as a development build over the same desktop: the services start.
    delegate.reset();
    platform::AppKitControl::resetApplication();
    platform::BundleControl::reset();
    runApplication([&] {
        EXPECT_TRUE(delegate->servicesStarted());
        EXPECT_EQ(platform::StatusBar::system().items().size(), 1u);
        EXPECT_FALSE(delegate->installationWindow().window().isVisible());
    });
    EXPECT_TRUE(Application::shared().hasTerminated());
}

TEST_F(ApplicationTest, TheStatusLineFollowsThePipelineAndAQuitOverridesAPermissionProblem) {
    runApplication([&] {
        ASSERT_TRUE(waitArmed());
        EXPECT_EQ(statusLine(), std::nullopt) << "Ready hides the line";
        EXPECT_EQ(delegate->statusItem()->button().accessibilityValue(), "Ready");

        // An image pasted into a local shell goes on as a normal paste, which is reported.
        platform::DesktopControl::copyPNG(screenshotPNG());
        pressControlV();
        EXPECT_TRUE(waitStatus(AppDelegate::seeLastPasteStatus));
        EXPECT_EQ(statusLine(), AppDelegate::seeLastPasteStatus);

        platform::InputEventsControl::setAccessibilityTrusted(false);
        const std::string revoked = "Native paste — Accessibility access required";
        EXPECT_TRUE(waitStatus(revoked));
        EXPECT_EQ(statusLine(), revoked);

        Application::shared().terminate();
        EXPECT_EQ(toolTip(), "Tarpelix: " + AppDelegate::preparingToQuit);
        EXPECT_EQ(statusLine(), AppDelegate::preparingToQuit);
        EXPECT_FALSE(Application::shared().hasTerminated()) << "the reply comes on a later turn";
    });
    EXPECT_TRUE(Application::shared().hasTerminated());
}

TEST_F(ApplicationTest, EachPasteSetsTheStatusLineAndWhatTheMenuCanCopy) {
    blockingUpload = true;
    openRemotePane();
    runApplication([&] {
        ASSERT_TRUE(waitArmed());
        auto& menu = delegate->recoveryMenu();
        const std::vector<std::string> rows = {AppDelegate::seeLastPasteStatus, AppDelegate::pathHandedToTerminal};
        // A failed upload keeps the image but has no path; then one that succeeds.
        for (const bool succeeds : {false, true}) {
            SCOPED_TRACE(succeeds ? "succeeds" : "fails");
            ASSERT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); }));
            transport.reset();
            const int calls = transport.calls();
            platform::DesktopControl::copyPNG(screenshotPNG());
            EXPECT_TRUE(pressControlV().swallowed);
            ASSERT_TRUE(runMainUntil([&] { return transport.calls() == calls + 1; })) << toolTip();
            transport.release(succeeds ? std::nullopt : std::optional<std::string>("Upload failed"));
            ASSERT_TRUE(waitStatus(rows[succeeds]));
            EXPECT_EQ(statusLine(), rows[succeeds]);

            // Opening the menu reloads both; the path's answer comes first.
            openAndCloseStatusMenu();
            ASSERT_TRUE(runMainUntil(
                [&] { return enabled(menu.copyImageItem()) && enabled(menu.copyPathItem()) == succeeds; }));
        }

        std::optional<TransferStorage::ConfirmedUploadSnapshot> upload;
        delegate->transferStorage()->loadLatestConfirmedUpload(
            [&](std::optional<TransferStorage::ConfirmedUploadSnapshot> loaded) { upload = loaded; });
        ASSERT_TRUE(runMainUntil([&] { return upload.has_value(); }));
        const std::string path = upload->record.confirmedRemotePath.value_or("");
        EXPECT_TRUE(path.starts_with("/home/remote/.cache/tarpelix/uploads/")) << path;
        std::optional<platform::Bytes> image;
        delegate->transferStorage()->readImage(upload->record.id, [&](std::optional<platform::Bytes> read) { image = read; });
        ASSERT_TRUE(runMainUntil([&] { return image.has_value(); }));

        auto& pasteboard = platform::Pasteboard::general();
        chooseInStatusMenu("Copy Last Uploaded Path");
        EXPECT_TRUE(runMainUntil([&] {
            return pasteboard.dataForType(platform::PasteboardType::string) == platform::Bytes(path.begin(), path.end());
        }));
        chooseInStatusMenu("Copy Last Image");
        EXPECT_TRUE(runMainUntil([&] { return pasteboard.dataForType(platform::PasteboardType::png) == image; }));
        EXPECT_EQ(pasteboard.dataForType(platform::PasteboardType::string), std::nullopt) << "the image replaced the path";
        EXPECT_EQ(delegate->copyStatus(), std::nullopt) << "success reports nothing";
    });
}

TEST_F(ApplicationTest, LastPasteStatusOpensOneWindowThatComesBackWhenChosenAgain) {
    runApplication([&] {
        EXPECT_EQ(delegate->lastPasteController(), nullptr) << "made on first use";
        chooseInStatusMenu("Last Paste Status");
        const auto controller = delegate->lastPasteController();
        ASSERT_NE(controller, nullptr);
        EXPECT_TRUE(runMainUntil([&] { return controller->window().isVisible(); }));
        // Nothing was pasted yet: it says so once the storage answered.
        EXPECT_TRUE(runMainUntil([&] { return controller->outcomeLabel().stringValue() == "No recent paste"; }));

        controller->window().performClose();
        ASSERT_FALSE(controller->window().isVisible());
        chooseInStatusMenu("Last Paste Status");
        EXPECT_EQ(delegate->lastPasteController(), controller);
        EXPECT_TRUE(controller->window().isVisible());
        const auto windows = Application::shared().windows();
        EXPECT_EQ(std::count(windows.begin(), windows.end(), &controller->window()), 1);
    });
}

TEST_F(ApplicationTest, AnInstalledUpdateQuitsTheApplicationOnceThePipelineDrained) {
    platform::UpdaterControl::scriptNextCheck(
        platform::UpdaterControl::InstallWithPostponedRelaunch{{.displayVersionString = "2.0", .versionString = "200"}});
    runApplication([&] {
        ASSERT_TRUE(waitArmed());
        chooseInStatusMenu("Check for Updates");
        EXPECT_TRUE(runMainUntil([] { return Application::shared().hasTerminated(); }));
    });
    EXPECT_EQ(platform::UpdaterControl::installations(), std::vector<std::string>{"200"});
    EXPECT_EQ(platform::UpdaterControl::terminationRequests(), 1);
    EXPECT_EQ(exitStatus, 0);
    // Disabled on the way out: a missing permission is no longer reported.
    platform::InputEventsControl::setAccessibilityTrusted(false);
    EXPECT_EQ(delegate->pasteCoordinator()->permissionStatus(), std::nullopt);
}

TEST_F(ApplicationTest, AboutAndTheUpdateCheckAreChosenInTheStatusMenu) {
    runApplication([&] {
        chooseInStatusMenu("About Tarpelix");
        auto* about = platform::AppKitControl::aboutPanelWindow();
        ASSERT_NE(about, nullptr);
        EXPECT_TRUE(about->isVisible());
        EXPECT_EQ(platform::AppKitControl::aboutPanelOptions()->applicationName, "Tarpelix");

        chooseInStatusMenu("Check for Updates");
        runMainUntil([] { return !platform::UpdaterControl::checkedFeeds().empty(); });
        EXPECT_EQ(platform::UpdaterControl::checkedFeeds(),
                  std::vector<std::string>{"http://127.0.0.1:8089/appcast.xml"});
        EXPECT_TRUE(platform::UpdaterControl::dismissWindow());
    });
}

TEST_F(ApplicationTest, AQuitWaitsForThePasteInFlightToWindDown) {
    const std::string remote = openRemotePane();
    platform::DesktopControl::copyPNG(screenshotPNG());
    bool ranOnWhileDraining = false;
    runApplication([&] {
        ASSERT_TRUE(waitArmed());
        EXPECT_TRUE(pressControlV().swallowed);
        ASSERT_TRUE(waitStatus(AppDelegate::pastingImage));

        requestQuit();
        ASSERT_TRUE(waitStatus(AppDelegate::preparingToQuit));
        ranOnWhileDraining = Application::shared().isRunning() && !Application::shared().hasTerminated();
    });
    EXPECT_TRUE(ranOnWhileDraining);
    EXPECT_TRUE(Application::shared().hasTerminated());

    // The shutdown cancelled the paste: nothing reached the terminal, and the record is closed.
    std::optional<TransferStorage::LatestAttemptResult> latest;
    delegate->transferStorage()->loadLatestAttempt([&](TransferStorage::LatestAttemptResult result) { latest = result; });
    ASSERT_TRUE(runMainUntil([&] { return latest.has_value(); }));
    ASSERT_TRUE(latest->attempt);
    EXPECT_EQ(latest->attempt->feedback.outcome, PasteFeedback::Outcome::cancelled);
    EXPECT_EQ(latest->attempt->feedback.explanation,
              explanationFor(PasteFeedback::Outcome::cancelled, "Paste cancelled — Tarpelix disabled"));
    EXPECT_EQ(latest->attempt->uploadOutcome, TransferOutcome::cancelled);
    EXPECT_NE(latest->attempt->insertionOutcome, TransferOutcome::succeeded);

    // Disabled: a missing permission is no longer reported.
    platform::InputEventsControl::setAccessibilityTrusted(false);
    EXPECT_EQ(delegate->pasteCoordinator()->permissionStatus(), std::nullopt);
}

TEST_F(ApplicationTest, ATerminationSignalIsAQuitRequest) {
    runApplication([&] {
        ASSERT_TRUE(delegate->servicesStarted());
        std::raise(SIGTERM);
        EXPECT_TRUE(runMainUntil([] { return Application::shared().hasTerminated(); }));
    });
    EXPECT_TRUE(Application::shared().hasTerminated());
    // Outside run() the signal's own handling is back.
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

// A user whose defaults file was damaged: it holds a finished setup beside a value nested
// 300,000 deep behind an attribute in single quotes (a shape that once slipped past a depth
// check). The standard defaults are read once per process and kept, so the application runs
// in a process of its own (a re-executed death-test child) whose first read is that file.
class DeeplyNestedDefaultsTest : public ApplicationTest {
protected:
    DeeplyNestedDefaultsTest() { touchDefaults = false; }

    static void writeDeepDefaults(const fs::path& file) {
        const std::string finished = R"({"presented":true,"step":4,"completed":true,"firstPasteVerified":true,)"
                                     R"("selectedTerminalID":"com.mitchellh.ghostty","loginChoice":"notNow"})";
        std::string text = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
                           R"(<key>onboardingProgress</key><data>)" +
                           platform::base64Encode(platform::Bytes(finished.begin(), finished.end())) +
                           "</data><key>nested</key><array a='>";
        for (int i = 0; i < 300'000; ++i)
            text += "<array>";
        text += "<string>'</string>";
        for (int i = 0; i < 300'001; ++i)
            text += "</array>";
        text += "</dict></plist>";
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    void runOverDeepDefaults() {
        const auto file = platform::UserDefaults::standard()->file(); // located, not read
        writeDeepDefaults(file);
        blockingUpload = true;
        const auto remote = openRemotePane();
        runApplication([&] {
            // Refused whole, like any corrupt file: the defaults read as empty, so setup opens.
            EXPECT_TRUE(setupVisible());
            // The user goes back to the terminal and pastes there.
            platform::WorkspaceControl::activateApplication(terminal->pid());
            terminal->focusPane(remote);
            ASSERT_TRUE(runMainUntil([&] {
                const auto frontmost = platform::Workspace::frontmostApplication();
                return frontmost && frontmost->processIdentifier == terminal->pid();
            }));
            ASSERT_TRUE(waitArmed());
            platform::DesktopControl::copyPNG(screenshotPNG());
            EXPECT_TRUE(pressControlV().swallowed);
            ASSERT_TRUE(runMainUntil([&] { return transport.calls() == 1; }));
            transport.release();
            EXPECT_TRUE(waitStatus(AppDelegate::pathHandedToTerminal));
        });
        EXPECT_EQ(exitStatus, 0);
        // Setup being shown was the next change: the file was written anew, valid and shallow.
        const auto root = platform::PropertyList::readFile(file);
        const auto* values = root ? root->get<platform::PropertyListValue::Dictionary>() : nullptr;
        ASSERT_NE(values, nullptr);
        EXPECT_TRUE(values->contains(OnboardingModel::preferenceKey));
        EXPECT_FALSE(values->contains("nested"));
        EXPECT_LT(fs::file_size(file), 4096u);
    }
};

TEST_F(DeeplyNestedDefaultsTest, TheApplicationStartsPastesAndWritesTheFileValidAgain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            runOverDeepDefaults();
            const bool failed = HasFailure();
            terminal.reset();
            silentServer.reset();
            std::fflush(nullptr);
            std::_Exit(failed ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace tarpelix::testing
