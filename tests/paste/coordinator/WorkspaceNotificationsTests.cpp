#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/desktop/WorkspaceNotificationsControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;

namespace {

class WorkspaceNotificationsTest : public ::testing::Test {
protected:
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override {
        for (const auto& observer : observers) WorkspaceNotificationCenter::removeObserver(observer);
        DesktopControl::reset();
    }
    WorkspaceObserver observe(const std::string& name, std::shared_ptr<DispatchQueue> queue,
                              WorkspaceNotificationCenter::Handler handler) {
        observers.push_back(WorkspaceNotificationCenter::addObserver(name, std::move(queue), std::move(handler)));
        return observers.back();
    }
    std::vector<WorkspaceObserver> observers;
};

} // namespace

TEST_F(WorkspaceNotificationsTest, ActivationArrivesLaterOnTheMainQueueOnlyWhenTheFrontmostChanges) {
    std::vector<std::optional<RunningApplication>> activated;
    observe(WorkspaceNotificationName::didActivateApplication, DispatchQueue::main(),
            [&](const WorkspaceNotification& notification) {
                EXPECT_TRUE(DispatchQueue::main()->isCurrent());
                activated.push_back(notification.application);
            });
    pid_t first = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.one"});
    pid_t second = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.two", .activate = false});
    EXPECT_TRUE(activated.empty()) << "delivered during the post";
    ASSERT_TRUE(runMainUntil([&] { return activated.size() == 1; }));
    ASSERT_TRUE(activated[0]);
    EXPECT_EQ(activated[0]->processIdentifier, first);

    EXPECT_TRUE(WorkspaceControl::activateApplication(first)); // already frontmost: no notification
    EXPECT_TRUE(WorkspaceControl::activateApplication(second));
    ASSERT_TRUE(runMainUntil([&] { return activated.size() == 2; }));
    EXPECT_EQ(activated[1]->bundleIdentifier, "com.example.two");
    runMainUntil([] { return false; }, 0.05);
    EXPECT_EQ(activated.size(), 2u);
}

TEST_F(WorkspaceNotificationsTest, SleepAndWakeRunOnThePostingThreadInOrderOfRegistration) {
    std::vector<std::string> seen;
    std::thread::id poster;
    std::atomic<bool> wrongThread{false};
    for (const char* tag : {"first", "second"}) {
        observe(WorkspaceNotificationName::willSleep, nullptr, [&, tag](const WorkspaceNotification& notification) {
            if (std::this_thread::get_id() != poster) wrongThread = true;
            seen.push_back(std::string(tag) + " " + notification.name);
        });
    }
    observe(WorkspaceNotificationName::didWake, nullptr, [&](const WorkspaceNotification&) {
        if (std::this_thread::get_id() != poster) wrongThread = true;
        seen.push_back("wake");
    });
    std::thread thread([&] {
        poster = std::this_thread::get_id();
        WorkspaceNotificationsControl::sleep();
        WorkspaceNotificationsControl::wake();
    });
    thread.join();
    EXPECT_FALSE(wrongThread);
    EXPECT_EQ(seen, (std::vector<std::string>{"first " + WorkspaceNotificationName::willSleep,
                                              "second " + WorkspaceNotificationName::willSleep, "wake"}));
}

TEST_F(WorkspaceNotificationsTest, ARemovedObserverIsNotCalledEvenForANotificationAlreadyQueued) {
    int calls = 0;
    auto observer = observe(WorkspaceNotificationName::didActivateApplication, DispatchQueue::main(),
                            [&](const WorkspaceNotification&) { ++calls; });
    auto sleeper = observe(WorkspaceNotificationName::willSleep, nullptr, [&](const WorkspaceNotification&) { ++calls; });
    EXPECT_EQ(WorkspaceNotificationsControl::observerCount(WorkspaceNotificationName::didActivateApplication), 1u);
    WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.one"}); // queued on main
    WorkspaceNotificationCenter::removeObserver(observer);
    WorkspaceNotificationCenter::removeObserver(sleeper);
    WorkspaceNotificationCenter::removeObserver(sleeper); // twice is harmless
    WorkspaceNotificationCenter::removeObserver(nullptr);
    WorkspaceNotificationsControl::sleep();
    runMainUntil([] { return false; }, 0.05);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(WorkspaceNotificationsControl::observerCount(WorkspaceNotificationName::didActivateApplication), 0u);
}
