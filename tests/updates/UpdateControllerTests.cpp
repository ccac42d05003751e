#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Sheet.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/UpdaterControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "support/MainLoop.h"
#include "updates/UpdateController.h"
#include "updates/UpdateInstallationLifecycle.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;

namespace {

constexpr const char* approval = "Downloads and installation require your approval.";
constexpr const char* feed = "http://127.0.0.1:8080/feed/appcast.xml?channel=beta";

UpdateConfiguration validConfiguration() {
    return UpdateConfiguration(UpdateConfiguration::Info{{"TarpelixDistributionMode", "development"},
                                {"TarpelixUpdateMode", "prelaunch"},
                                {"SUFeedURL", feed},
                                {"SUPublicEDKey", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="}});
}

UpdateConfiguration invalidConfiguration() {
    return UpdateConfiguration(UpdateConfiguration::Info{{"TarpelixDistributionMode", "development"}});
}

const AppcastItem update{"1.2.0", "42"};

struct UpdateControllerTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override {
        controller.reset();
        DesktopControl::reset();
    }

    void make(UpdateConfiguration configuration = validConfiguration(),
              std::shared_ptr<UpdateInstallationLifecycle> lifecycle = nullptr) {
        controller = UpdateController::create(std::move(configuration), std::move(lifecycle), nullptr, {},
                                              [this](const std::string& message) { alerts.push_back(message); });
        controller->setChanged([this] { ++changes; });
    }

    // Runs the main queue until everything queued before now has run.
    static void settle() {
        bool reached = false;
        DispatchQueue::main()->async([&] { reached = true; });
        ASSERT_TRUE(runMainUntil([&] { return reached; }));
    }

    // A scheduled check finds an update that waits as a reminder.
    void remindOfUpdate(UpdaterControl::UpdateAnswer answer) {
        controller->setAutomaticallyChecks(true);
        controller->start();
        UpdaterControl::scriptNextCheck(UpdaterControl::UpdateFound{update, answer});
        ASSERT_TRUE(UpdaterControl::runScheduledCheck());
        ASSERT_TRUE(runMainUntil([&] { return controller->hasReminder(); }));
    }

    std::shared_ptr<UpdateController> controller;
    std::vector<std::string> alerts;
    int changes = 0;
};

TEST_F(UpdateControllerTest, PresentsEachStateAndExplainsWhyUpdatesAreUnavailable) {
    constexpr const char* busy = "Checking for updates or handling an update…";
    struct Row {
        const char* name;
        UpdateConfiguration configuration;
        std::function<void(UpdateControllerTest&)> reach;
        UpdatePresentation expected;
        std::optional<std::string> alertOnCheck;
    };
    const auto invalidReason = *invalidConfiguration().unavailabilityReason();
    const std::vector<Row> rows{
        {"idle", validConfiguration(), [](auto&) {}, {false, true, "Check for Updates…", approval}, std::nullopt},
        {"idle, invalid configuration", invalidConfiguration(), [](auto&) {},
         {false, true, "Check for Updates…", invalidReason}, invalidReason},
        {"started", validConfiguration(), [](auto& t) { t.controller->start(); },
         {false, true, "Check for Updates…", approval}, std::nullopt},
        {"started, framework busy", validConfiguration(),
         [](auto& t) {
             t.controller->checkForUpdates(); // its not-found window stays up
             ASSERT_TRUE(runMainUntil([] { return !UpdaterControl::windows().empty(); }));
         },
         {false, false, "Check for Updates…", busy}, std::nullopt},
        {"started, reminder", validConfiguration(),
         [](auto& t) { t.remindOfUpdate(UpdaterControl::UpdateAnswer::later); },
         {true, true, "Update Available…", "An update is ready to review."}, std::nullopt},
        {"unavailable, invalid configuration", invalidConfiguration(), [](auto& t) { t.controller->start(); },
         {false, true, "Check for Updates…", invalidReason}, invalidReason},
        {"unavailable, start failure", validConfiguration(),
         [](auto& t) {
             UpdaterControl::failNextStart({"TestDomain", 3, {}});
             t.controller->start();
         },
         {false, true, "Check for Updates…", UpdateController::startFailureMessage},
         UpdateController::startFailureMessage},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DesktopControl::reset();
        alerts.clear();
        make(row.configuration);
        row.reach(*this);
        EXPECT_EQ(controller->presentation(), row.expected);
        controller->checkForUpdates();
        settle();
        EXPECT_EQ(alerts, row.alertOnCheck ? std::vector{*row.alertOnCheck} : std::vector<std::string>{});
    }
}

TEST_F(UpdateControllerTest, TheDefaultAlertSaysWhyUpdatesAreUnavailable) {
    controller = UpdateController::create(invalidConfiguration(), nullptr);
    std::optional<SheetContents> shown;
    RunLoop::main()->perform([&] {
        Window* modal = AppKitControl::modalWindow();
        ASSERT_NE(modal, nullptr);
        shown = AppKitControl::readSheet(*modal);
        EXPECT_TRUE(AppKitControl::pressButton(*modal, "OK"));
    });
    controller->checkForUpdates();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->messageText, "Updates Unavailable");
    EXPECT_EQ(shown->informativeText, *invalidConfiguration().unavailabilityReason());
    EXPECT_EQ(shown->buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(UpdaterControl::startCount(), 0); // an invalid configuration never starts the framework
}

TEST_F(UpdateControllerTest, StartsTheFrameworkOnceAndNeverRetriesAFailedStart) {
    make();
    controller->start();
    controller->start();
    controller->checkForUpdates();
    EXPECT_EQ(UpdaterControl::startCount(), 1);
    EXPECT_EQ(controller->state(), UpdateController::State{UpdateController::Started{}});

    DesktopControl::reset();
    make();
    UpdaterControl::failNextStart({"TestDomain", 3, {}});
    controller->checkForUpdates();
    controller->checkForUpdates();
    EXPECT_EQ(UpdaterControl::startCount(), 1);
    EXPECT_EQ(alerts, (std::vector<std::string>(2, UpdateController::startFailureMessage)));
}

TEST_F(UpdateControllerTest, AScheduledUpdateBecomesAReminderUntilTheUserAttendsToIt) {
    make();
    EXPECT_FALSE(UpdaterControl::runScheduledCheck()); // automatic checks are off until turned on
    remindOfUpdate(UpdaterControl::UpdateAnswer::later);
    EXPECT_TRUE(controller->presentation().automaticallyChecks);
    EXPECT_TRUE(UpdaterControl::windows().empty()); // no window nobody asked for
    const int changesBefore = changes;

    controller->checkForUpdates(); // choosing "Update Available…"
    ASSERT_TRUE(runMainUntil([&] { return !controller->hasReminder(); }));
    EXPECT_GT(changes, changesBefore);
    const auto windows = UpdaterControl::windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].kind, UpdaterControl::WindowRecord::Kind::updateFound);
    ASSERT_TRUE(runMainUntil([&] { return controller->presentation().canCheck; }));
    EXPECT_EQ(controller->presentation(), (UpdatePresentation{true, true, "Check for Updates…", approval}));
}

TEST_F(UpdateControllerTest, RewordsTheNotFoundWindowUnderTheIncomingDomainAndCode) {
    make();
    UpdaterControl::scriptNextCheck(UpdaterControl::NoUpdateFound{
        {"TestUpdaterDomain", 1001, {{UpdaterError::localizedDescriptionKey, "You are up to date"}, {"Extra", "kept"}}}});
    controller->checkForUpdates();
    ASSERT_TRUE(runMainUntil([] { return !UpdaterControl::windows().empty(); }));
    const auto window = UpdaterControl::windows().front();
    EXPECT_EQ(window.kind, UpdaterControl::WindowRecord::Kind::updateNotFound);
    EXPECT_EQ(window.title, "No Update Available");
    EXPECT_EQ(window.informativeText, "No newer compatible release is available for this Mac.");
    ASSERT_TRUE(window.error);
    EXPECT_EQ(window.error->domain, "TestUpdaterDomain");
    EXPECT_EQ(window.error->code, 1001);
    EXPECT_EQ(window.error->userInfo.at("Extra"), "kept");

    // Acknowledged, the session ends and the user may check again.
    EXPECT_FALSE(controller->presentation().canCheck);
    EXPECT_TRUE(UpdaterControl::dismissWindow());
    EXPECT_TRUE(controller->presentation().canCheck);
}

TEST_F(UpdateControllerTest, HandsTheFrameworkTheFeedExactlyAsConfigured) {
    make();
    controller->checkForUpdates();
    ASSERT_TRUE(runMainUntil([] { return !UpdaterControl::checkedFeeds().empty(); }));
    EXPECT_EQ(UpdaterControl::checkedFeeds(), std::vector<std::string>{feed});
    EXPECT_EQ(UpdateController::create(invalidConfiguration(), nullptr)->updaterDelegate()->feedURLString(), "");
}

TEST_F(UpdateControllerTest, RefusesChecksWhileThePastePipelineDrains) {
    std::function<void()> completeDrain;
    auto lifecycle = UpdateInstallationLifecycle::create(
        [&](std::function<void()> completion) { completeDrain = std::move(completion); }, [] {});
    make(validConfiguration(), lifecycle);
    controller->start();
    ASSERT_TRUE(controller->presentation().canCheck);

    lifecycle->terminate([] {});
    EXPECT_FALSE(controller->presentation().canCheck);
    controller->checkForUpdates();
    settle();
    EXPECT_TRUE(UpdaterControl::checkedFeeds().empty());
}

TEST_F(UpdateControllerTest, AnInstallationWaitsForTheDrainAndAnAbortGivesThePipelineBack) {
    std::function<void()> completeDrain;
    int restores = 0;
    auto lifecycle = UpdateInstallationLifecycle::create(
        [&](std::function<void()> completion) { completeDrain = std::move(completion); }, [&] { ++restores; });
    make(validConfiguration(), lifecycle);

    UpdaterControl::scriptNextCheck(UpdaterControl::InstallWithPostponedRelaunch{update});
    controller->checkForUpdates();
    ASSERT_TRUE(runMainUntil([&] { return static_cast<bool>(completeDrain); }));
    EXPECT_TRUE(UpdaterControl::installations().empty()); // postponed until the pipeline has drained
    completeDrain();
    ASSERT_TRUE(runMainUntil([] { return !UpdaterControl::installations().empty(); }));
    EXPECT_EQ(UpdaterControl::installations(), std::vector<std::string>{"42"});
    EXPECT_EQ(UpdaterControl::terminationRequests(), 1);

    DesktopControl::reset();
    completeDrain = nullptr;
    lifecycle = UpdateInstallationLifecycle::create(
        [&](std::function<void()> completion) { completeDrain = std::move(completion); }, [&] { ++restores; });
    make(validConfiguration(), lifecycle);
    UpdaterControl::scriptNextCheck(UpdaterControl::UpdateFound{update, UpdaterControl::UpdateAnswer::install,
                                                                UpdaterError{"TestDomain", 9, {}}});
    controller->checkForUpdates();
    ASSERT_TRUE(runMainUntil([&] { return static_cast<bool>(completeDrain); }));
    completeDrain();
    ASSERT_TRUE(runMainUntil([&] { return restores == 1; }));
    EXPECT_TRUE(UpdaterControl::installations().empty());
    EXPECT_FALSE(lifecycle->isSuspended());
    EXPECT_TRUE(controller->presentation().canCheck);
}

using UpdateControllerDeathTest = UpdateControllerTest;

TEST_F(UpdateControllerDeathTest, EntriesStopTheProcessOffTheMainThread) {
    const std::vector<std::pair<const char*, std::function<void(UpdateController&)>>> entries{
        {"UpdateController::start", [](UpdateController& c) { c.start(); }},
        {"UpdateController::checkForUpdates", [](UpdateController& c) { c.checkForUpdates(); }},
        {"UpdateController::setAutomaticallyChecks", [](UpdateController& c) { c.setAutomaticallyChecks(true); }},
    };
    make();
    for (const auto& [name, call] : entries) {
        EXPECT_DEATH(std::thread([&] { call(*controller); }).join(), name);
    }
}

} // namespace
