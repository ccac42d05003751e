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
        for (const auto& observer : observers) Workspace::notificationCenter().removeObserver(observer);
        DesktopControl::reset();
    }
    WorkspaceObserver observe(const std::string& name, std::shared_ptr<DispatchQueue> queue,
                              NotificationCenter::Handler handler) {
        observers.push_back(Workspace::notificationCenter().addObserver(name, nullptr, queue, std::move(handler)));
        return observers.back();
    }
    std::vector<WorkspaceObserver> observers;
};

} // namespace

TEST_F(WorkspaceNotificationsTest, ActivationArrivesLaterOnTheMainQueueOnlyWhenTheFrontmostChanges) {
    std::vector<std::optional<RunningApplication>> activated;
    observe(WorkspaceNotificationName::didActivateApplication, DispatchQueue::main(),
            [&](const Notification& notification) {
                EXPECT_TRUE(DispatchQueue::main()->isCurrent());
                activated.push_back(Workspace::notifiedApplication(notification));
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
        observe(WorkspaceNotificationName::willSleep, nullptr, [&, tag](const Notification& notification) {
            if (std::this_thread::get_id() != poster) wrongThread = true;
            seen.push_back(std::string(tag) + " " + notification.name);
        });
    }
    observe(WorkspaceNotificationName::didWake, nullptr, [&](const Notification&) {
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
