#include "SettingsWindowFixture.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/TableView.h"
#include "platform/desktop/InputEvents.h"
#include "settings/HelpSettingsView.h"
#include "settings/PermissionFakes.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::testing;
namespace AppKitControl = platform::AppKitControl;
namespace EventFlag = platform::EventFlag;

namespace {

SettingsSnapshot snapshotWithImages(std::int64_t images) {
    SettingsSnapshot snapshot;
    snapshot.storage.usage = StorageHealth{};
    snapshot.storage.usage->imageCount = images;
    return snapshot;
}

TEST_F(SettingsWindowTest, TheLastSectionOpenedSurvivesClosingAndRelaunching) {
    controller = make();
    controller->showWindow();
    EXPECT_EQ(controller->selectedSection(), SettingsSection::dashboard) << "a first start";
    EXPECT_EQ(controller->sidebar().selectedRow(), 0);
    EXPECT_EQ(controller->pageHost().subviews().front().get(), &controller->page(SettingsSection::dashboard));

    controller->window().layoutIfNeeded();
    AppKitControl::click(*controller->sidebar().rowView(3)); // Storage
    EXPECT_EQ(controller->selectedSection(), SettingsSection::storage);
    ASSERT_EQ(controller->pageHost().subviews().size(), 1u);
    EXPECT_EQ(controller->pageHost().subviews().front().get(), &controller->page(SettingsSection::storage));
    controller->window().performClose();
    EXPECT_FALSE(controller->window().isVisible());
    EXPECT_FALSE(controller->hasBusyTimer());

    controller->showWindow();
    EXPECT_EQ(controller->selectedSection(), SettingsSection::storage) << "reopened";

    // A relaunch reads the defaults file afresh.
    controller.reset();
    defaults->synchronize();
    defaults = platform::UserDefaults::create(directory.file("defaults.plist"));
    controller = make();
    EXPECT_EQ(controller->selectedSection(), SettingsSection::storage);
    EXPECT_EQ(controller->sidebar().selectedRow(), 3);

    defaults->set(Controller::lastSectionKey, "Advanced");
    controller = make();
    EXPECT_EQ(controller->selectedSection(), SettingsSection::dashboard) << "an unknown stored name";
}

TEST_F(SettingsWindowTest, AHelpDestinationSwitchesThePageWithoutALoadAndKeepsFocusOnTheSidebar) {
    controller = shown();
    controller->showSection(SettingsSection::help);
    const std::size_t loadsBefore = loads.size();
    auto buttons = controller->helpView()->navigationButtons();
    ASSERT_FALSE(buttons.empty());
    buttons.front()->performClick(); // "Open Permissions"
    EXPECT_EQ(controller->selectedSection(), SettingsSection::permissions);
    EXPECT_EQ(controller->pageHost().subviews().front().get(), &controller->page(SettingsSection::permissions));
    EXPECT_EQ(loads.size(), loadsBefore);
    EXPECT_EQ(controller->window().firstResponder(), &controller->sidebar());
}

TEST_F(SettingsWindowTest, ChoosingASectionRefreshesItsModelOnce) {
    FakePermissionSystem system;
    controller = make(PermissionSettingsController::create(system.dependencies()));
    controller->showWindow();
    for (int round = 0; round < 2; ++round) {
        controller->showSection(SettingsSection::storage);
        const int before = system.accessibilityReads;
        controller->showSection(SettingsSection::permissions);
        EXPECT_EQ(system.accessibilityReads - before, 1) << "from another section";
        controller->sidebar().selectRowIndexes({3}, false); // Storage, by the sidebar
        controller->sidebar().selectRowIndexes({2}, false);
        EXPECT_EQ(system.accessibilityReads - before, 2) << "by the sidebar";
    }
}

TEST_F(SettingsWindowTest, OnlyTheNewestLoadIsAppliedAndEndsLoading) {
    controller = make();
    controller->showWindow();
    controller->showWindow();
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_TRUE(controller->isLoading());

    std::thread([&] { answerLoad(1, snapshotWithImages(2)); }).join();
    ASSERT_TRUE(runMainUntil([&] { return !controller->isLoading(); }));
    EXPECT_EQ(controller->imageCount().stringValue(), "2 images");

    std::thread([&] { answerLoad(0, snapshotWithImages(7)); }).join();
    drainMainQueue(); // the stale answer reaches the main thread
    EXPECT_EQ(controller->imageCount().stringValue(), "2 images");

    // Reverse order again, the older one first: loading lasts until the newest arrives.
    controller->refresh();
    controller->refresh();
    answerLoad(2, snapshotWithImages(3));
    EXPECT_TRUE(controller->isLoading());
    EXPECT_EQ(controller->imageCount().stringValue(), "2 images");
    answerLoad(3, snapshotWithImages(4));
    EXPECT_FALSE(controller->isLoading());
    EXPECT_EQ(controller->imageCount().stringValue(), "4 images");

    // The controller is gone before its load answers.
    controller->refresh();
    auto late = loads.back();
    controller.reset();
    std::thread([&] { late(snapshotWithImages(9)); }).join();
    drainMainQueue(); // the answer finds no controller, and nothing breaks
}

TEST_F(SettingsWindowTest, WhatIsUnderWayGatesClearAndReview) {
    struct Case {
        const char* name;
        std::function<void(SettingsWindowTest&)> enter;
        bool clearEnabled;
        bool reviewEnabled;
        const char* reviewTitle;
    };
    const std::vector<Case> cases = {
        {"idle", [](auto&) {}, true, true, "Review\u2026"},
        {"a paste in flight", [](auto& t) { t.busy = true; }, false, true, "Review\u2026"},
        {"loading", [](auto& t) { t.controller->refresh(); }, false, true, "Review\u2026"},
        {"confirming", [](auto& t) { t.controller->requestClearImages(); }, false, false, "Review\u2026"},
        {"clearing",
         [](auto& t) {
             t.controller->requestClearLogs();
             t.confirmations.back()(true);
         },
         false, false, "Review\u2026"},
        {"preparing the report", [](auto& t) { t.controller->reviewReport(); }, false, false, "Preparing\u2026"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        busy = false;
        controller = shown();
        c.enter(*this);
        tick();
        EXPECT_EQ(controller->clearImagesButton().isEnabled(), c.clearEnabled);
        EXPECT_EQ(controller->clearLogsButton().isEnabled(), c.clearEnabled);
        EXPECT_EQ(controller->reviewReportButton().isEnabled(), c.reviewEnabled);
        EXPECT_EQ(controller->reviewReportButton().title(), c.reviewTitle);
    }
}

TEST_F(SettingsWindowTest, TicksReloadEveryTwentyAndAtOnceWhenAPasteEnds) {
    const auto before = platform::RunLoopControl::scheduledTimers(*platform::RunLoop::main());
    controller = shown();
    const auto added = timersAddedSince(before);
    ASSERT_EQ(added.size(), 1u) << "the tick timer";
    EXPECT_EQ(added[0].interval, std::chrono::milliseconds(250));
    EXPECT_TRUE(added[0].repeats);
    ASSERT_EQ(loads.size(), 1u);
    tick(19);
    EXPECT_EQ(loads.size(), 1u) << "no reload before the 20th tick";
    tick();
    ASSERT_EQ(loads.size(), 2u);
    answerLoad(1);

    busy = true;
    tick(3);
    EXPECT_EQ(loads.size(), 2u);
    busy = false;
    tick();
    ASSERT_EQ(loads.size(), 3u) << "the first tick after the paste ended";
    answerLoad(2);
    tick();
    EXPECT_EQ(loads.size(), 3u);
}

TEST_F(SettingsWindowTest, TimedReloadsWaitForAClearAConfirmationOrAReport) {
    const std::vector<std::pair<const char*, std::function<std::function<void()>(SettingsWindowTest&)>>> cases = {
        {"confirmation",
         [](auto& t) {
             t.controller->requestClearImages();
             return [&t] { t.confirmations.back()(false); };
         }},
        {"clear",
         [](auto& t) {
             t.controller->requestClearImages();
             t.confirmations.back()(true);
             return [&t] {
                 t.imageClears.back()(nullptr);
                 t.answerLoad(t.loads.size() - 1); // the reload the clear itself asks for
             };
         }},
        {"report",
         [](auto& t) {
             t.controller->reviewReport();
             return [&t] { t.reports.back()("report"); };
         }},
    };
    for (const auto& [name, begin] : cases) {
        SCOPED_TRACE(name);
        controller = shown();
        const auto end = begin(*this);
        const std::size_t before = loads.size();
        tick(25);
        EXPECT_EQ(loads.size(), before) << "paused while under way";
        end();
        const std::size_t after = loads.size();
        tick();
        EXPECT_EQ(loads.size(), after + 1) << "25 ticks have passed: the first tick after reloads";
        if (auto* report = controller->reportPreview()) report->window().close();
    }
}

TEST_F(SettingsWindowTest, CommandWAloneClosesTheWindow) {
    controller = shown();
    const std::vector<std::pair<const char*, platform::EventFlags>> passedOn = {
        {"Command-Shift-W", EventFlag::command | EventFlag::shift},
        {"Command-Option-W", EventFlag::command | EventFlag::alternate},
        {"Command-W with Caps Lock", EventFlag::command | EventFlag::alphaShift},
    };
    for (const auto& [name, flags] : passedOn) {
        AppKitControl::typeKey(13, "w", flags);
        EXPECT_TRUE(controller->window().isVisible()) << name;
    }
    AppKitControl::typeKey(13, "w", EventFlag::command);
    EXPECT_FALSE(controller->window().isVisible());
    EXPECT_FALSE(controller->hasBusyTimer());
}

} // namespace

namespace {

TEST_F(SettingsWindowTest, TheScreenReaderReadsTheSidebarAndTheGeneralPage) {
    controller = shown();
    controller->showSection(SettingsSection::general);
    controller->window().layoutIfNeeded();
    const auto lines = platform::ScreenReader::read(controller->window());
    const auto count = [&](const std::string& line) { return std::count(lines.begin(), lines.end(), line); };
    for (const char* expected : {
             "Settings sections, table",
             "General, selected",
             "Show Paste Overlay, on, switch, Show paste progress and results.",
             "Launch at Login, off, switch, Open Tarpelix when you sign in.",
             "Check for updates daily, on, switch, Updates are not configured for this build.",
             "Check for Updates\u2026, button",
         }) {
        EXPECT_EQ(count(expected), 1) << expected;
    }
    for (const char* section : {"Dashboard", "Permissions", "Storage", "Diagnostics", "Help"})
        EXPECT_EQ(count(section), 1) << section << ": each row is read once";
    EXPECT_EQ(count("Open Login Items\u2026, button"), 0) << "hidden without a login model";
}

} // namespace
