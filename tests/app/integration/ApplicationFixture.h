// The whole application, started through its entry on the simulated Mac of the coordinator
// tests, for the application's integration and end-to-end tests.
#pragma once

#include "app/AppDelegate.h"
#include "onboarding/OnboardingLifecycleController.h"
#include "onboarding/OnboardingWindowController.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"

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

using platform::AppKitControl::requestQuit;
using platform::Application;
using platform::RunLoop;

// Tarpelix itself on the simulated Mac of the coordinator tests (every permission granted, a
// Ghostty whose focused pane runs a local shell), started through its entry and run to its end.
class ApplicationTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        if (!privateNamespaceUnavailableReason().empty()) GTEST_SKIP() << privateNamespaceUnavailableReason();
        for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            std::filesystem::remove_all(std::filesystem::path(std::getenv(variable)) / "Tarpelix");
        }
        // A user who finished setup with Ghostty: the everyday application, no setup window.
        if (!touchDefaults) return;
        // The standard defaults are read once per process and kept: a test of its own process
        // starts from them as a test after others in one process does.
        if (!storeFinishedSetup) {
            platform::UserDefaults::standard()->removeObject(OnboardingModel::preferenceKey);
            return;
        }
        const std::string finished = R"({"presented":true,"step":4,"completed":true,"firstPasteVerified":true,)"
                                     R"("selectedTerminalID":"com.mitchellh.ghostty","loginChoice":"notNow"})";
        platform::UserDefaults::standard()->set(OnboardingModel::preferenceKey,
                                                platform::Bytes(finished.begin(), finished.end()));
    }

    void TearDown() override {
        delegate.reset();
        CoordinatorTest::TearDown();
    }

    // Runs the application until it ends; `scenario` runs on the main run loop once it has
    // launched. Unless the scenario quit, a quit is asked for after it.
    void runApplication(const std::function<void()>& scenario) {
        exitStatus = AppDelegate::runApplication([&](const std::shared_ptr<AppDelegate>& launched) {
            delegate = launched;
            if (blockingUpload) launched->setPasteCoordinatorDependencies({.uploadTransport = transport.function()});
            // From a timer: the loops the scenario runs then serve the main queue too. A loop it
            // runs may see the timer due again; the scenario runs once.
            auto ran = std::make_shared<bool>(false);
            RunLoop::main()->scheduleTimer(0, false, platform::TimerMode::common, [this, scenario, ran](platform::RunLoopTimer&) {
                if (std::exchange(*ran, true)) return;
                scenario();
                // A paste still held in the upload would keep the quit waiting.
                if (blockingUpload) transport.release("test over");
                const auto& application = Application::shared();
                if (!application.hasTerminated() && !application.isWaitingForTerminateReply()) requestQuit();
            });
        });
    }

    std::string toolTip() const {
        return delegate && delegate->statusItem() ? delegate->statusItem()->button().toolTip() : "";
    }
    bool waitStatus(const std::string& status) {
        return runMainUntil([&] { return toolTip() == "Tarpelix: " + status; });
    }
    // The status line of the open menu: none while hidden.
    std::optional<std::string> statusLine() const {
        const auto& line = delegate->recoveryMenu().statusItem();
        if (line.isHidden()) return std::nullopt;
        return line.title();
    }
    // Waits until the tap holds Control+V for the terminal and nothing is missing.
    bool waitArmed() {
        return runMainUntil([&] {
            return platform::InputEventsControl::liveTaps() > 0 && !delegate->pasteCoordinator()->permissionStatus() &&
                   toolTip() == "Tarpelix: Ready";
        });
    }
    // Opens the status menu and closes it without choosing.
    void openAndCloseStatusMenu() {
        auto timer = RunLoop::main()->scheduleTimer(0.01, false, platform::TimerMode::common,
                                                    [](platform::RunLoopTimer&) { platform::AppKitControl::dismissMenu(); });
        platform::AppKitControl::clickStatusItem(*delegate->statusItem());
    }
    bool enabled(platform::MenuItem& item) const { return !item.isHidden() && item.isEnabled(); }
    // Chooses an item of the status menu, opened by a click on the status item.
    void chooseInStatusMenu(const std::string& title) {
        bool chosen = false;
        auto timer = RunLoop::main()->scheduleTimer(0.01, false, platform::TimerMode::common,
                                                    [&](platform::RunLoopTimer&) {
                                                        chosen = platform::AppKitControl::chooseMenuItem(title);
                                                    });
        platform::AppKitControl::clickStatusItem(*delegate->statusItem());
        EXPECT_TRUE(chosen) << title;
    }

    // From now on (after launch) keeps every feedback in `feedbacks` and every status line the
    // status item showed after a coordinator report or feedback, each change once.
    void observePastes() {
        auto& coordinator = *delegate->pasteCoordinator();
        auto note = [this] {
            const auto line = toolTip();
            if (statusLines.empty() || statusLines.back() != line) statusLines.push_back(line);
        };
        coordinator.report = [this, note, report = coordinator.report](const std::string& message) {
            report(message);
            reportedStatus.emplace_back(message, toolTip());
            note();
        };
        coordinator.reportFeedback = [this, note, feedback = coordinator.reportFeedback](const PasteFeedback& value) {
            feedbacks.push_back(value);
            feedback(value);
            note();
        };
    }

    // Runs the main loop until a workspace launch or quit notification posted before this call
    // has reached its observers on the main queue (the delegate's, which came first, included).
    void waitWorkspaceNotification(const std::string& name, const std::function<void()>& post) {
        bool seen = false;
        auto observer = platform::Workspace::notificationCenter().addObserver(
            name, nullptr, platform::DispatchQueue::main(), [&](const platform::Notification&) { seen = true; });
        post();
        EXPECT_TRUE(runMainUntil([&] { return seen; })) << name;
        platform::Workspace::notificationCenter().removeObserver(observer);
    }

    // Copies an image, presses Control+V and waits until that paste has its outcome (with
    // observePastes on).
    std::optional<PasteFeedback> pasteAndWait(double timeout = 60) {
        const auto before = feedbacks.size();
        platform::DesktopControl::copyPNG(screenshotPNG());
        pressControlV();
        const auto ended = [&] {
            for (auto i = before; i < feedbacks.size(); ++i)
                if (feedbacks[i].outcome) return true;
            return false;
        };
        if (!runMainUntil(ended, timeout)) return std::nullopt;
        runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); });
        return feedbacks.back();
    }

    // Writes the setup progress into the standard user defaults.
    static void storeSetupProgress(int step, bool completed, bool verified) {
        const std::string progress = R"({"presented":true,"step":)" + std::to_string(step) +
                                     R"(,"completed":)" + (completed ? "true" : "false") +
                                     R"(,"firstPasteVerified":)" + (verified ? "true" : "false") +
                                     R"(,"selectedTerminalID":"com.mitchellh.ghostty")" +
                                     (completed ? R"(,"loginChoice":"notNow"})" : "}");
        platform::UserDefaults::standard()->set(OnboardingModel::preferenceKey,
                                                platform::Bytes(progress.begin(), progress.end()));
    }

    // Ghostty installed, with a scripting dictionary of ours that offers what the adapter's
    // script uses: setup counts it as ready once its permissions are.
    void installCompatibleGhostty() {
        const std::string bundle = directory.file("Ghostty.app");
        std::filesystem::create_directories(bundle + "/Contents/Resources");
        std::ofstream(bundle + "/Contents/Resources/Ghostty.sdef")
            << R"(<?xml version="1.0" encoding="UTF-8"?><dictionary title="Terms"><suite name="S" code="Test">)"
               R"(<class name="application" code="capp"><property name="front window" code="GFWn" type="window"/></class>)"
               R"(<class name="window" code="cwin"><property name="id" code="ID  " type="text"/>)"
               R"(<property name="selected tab" code="GWsT" type="tab"/></class>)"
               R"(<class name="tab" code="GTab"><property name="id" code="ID  " type="text"/>)"
               R"(<property name="focused terminal" code="GTfT" type="terminal"/></class>)"
               R"(<class name="terminal" code="GTrm"><property name="id" code="ID  " type="text"/>)"
               R"(<property name="tty" code="Gtty" type="text"/></class>)"
               R"(<command name="input text" code="GhstInTx"><parameter name="to" code="GItT" type="terminal"/></command>)"
               R"(</suite></dictionary>)";
        platform::WorkspaceControl::installApplication(
            {.bundleIdentifier = terminal->bundleIdentifier(), .name = "Ghostty", .path = bundle});
    }

    // Ends the run and puts the shared application back, keeping the desktop, defaults and
    // data: the next runApplication is a relaunch.
    void prepareRelaunch() {
        delegate.reset();
        platform::AppKitControl::resetApplication();
    }

    // The setup window, once shown.
    OnboardingWindowController* setupWindow() const { return delegate->onboarding()->windowController(); }
    bool setupVisible() const { return setupWindow() && setupWindow()->window().isVisible(); }

    std::shared_ptr<AppDelegate> delegate;
    int exitStatus = -1;
    // Set before SetUp: whether the defaults hold a finished setup.
    bool storeFinishedSetup = true;
    // Set before SetUp: false leaves the standard defaults unread (a test that writes its own
    // defaults file before anything reads it).
    bool touchDefaults = true;
    std::vector<std::string> statusLines;
    // Each coordinator report with the status line it left.
    std::vector<std::pair<std::string, std::string>> reportedStatus;
    // The application's uploads go through the fixture's transport, which the test releases.
    bool blockingUpload = false;
};

// A paste the application made earlier: its record, with the retained image and a confirmed
// path, in the application's own storage. Answers the path.
inline std::string storeConfirmedUpload(const platform::Bytes& png) {
    TransferStorage::Options options;
    options.scheduleMaintenance = false;
    auto storage = TransferStorage::create(options);
    TransferRecord record;
    record.terminal = "com.mitchellh.ghostty";
    record.transport = "ssh";
    record.destinationIdentity = "tester@127.0.0.1:22";
    record.imageSize = static_cast<std::int64_t>(png.size());
    const std::string path = "/home/tester/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
    storage->beginOperation(record.id);
    record = storage->create(record, png);
    record.uploadOutcome = TransferOutcome::succeeded;
    record.insertionOutcome = TransferOutcome::succeeded;
    record.confirmedRemotePath = path;
    storage->update(record);
    storage->endOperation(record.id);
    return path;
}

} // namespace tarpelix::testing
