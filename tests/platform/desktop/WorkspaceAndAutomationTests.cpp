#include "platform/desktop/AppleEvents.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

class WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }
};

OSStatus permissionFor(const AppleEventDescriptor& target) {
    return AppleEvents::determinePermissionToAutomateTarget(target, typeWildCard, typeWildCard, false);
}

} // namespace

TEST_F(WorkspaceTest, FrontmostAndRunningApplicationsFollowLaunchActivateAndQuit) {
    EXPECT_FALSE(Workspace::frontmostApplication().has_value());
    auto first = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term", .localizedName = "Term"});
    auto second = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term", .activate = false});
    EXPECT_NE(first, second);
    ASSERT_TRUE(Workspace::frontmostApplication().has_value());
    EXPECT_EQ(Workspace::frontmostApplication()->processIdentifier, first);
    EXPECT_EQ(Workspace::frontmostApplication()->localizedName, "Term");

    EXPECT_TRUE(WorkspaceControl::activateApplication(second));
    EXPECT_EQ(Workspace::frontmostApplication()->processIdentifier, second);

    WorkspaceControl::quitApplication(second);
    EXPECT_FALSE(Workspace::frontmostApplication().has_value());
    EXPECT_FALSE(WorkspaceControl::activateApplication(second)); // a terminated application cannot come forward
    auto listed = Workspace::runningApplications("com.example.term");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_FALSE(listed[0].isTerminated);
    EXPECT_TRUE(listed[1].isTerminated);
    EXPECT_TRUE(Workspace::runningApplications("com.example.none").empty());

    auto unnamed = WorkspaceControl::launchApplication({});
    EXPECT_FALSE(Workspace::frontmostApplication()->bundleIdentifier.has_value());
    EXPECT_EQ(Workspace::runningApplication(unnamed)->processIdentifier, unnamed);
}

TEST_F(WorkspaceTest, AutomationPermissionAnswersPerTargetApplication) {
    auto term = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term"});
    auto byPid = AppleEventDescriptor::targetWithProcessIdentifier(term);
    auto byBundle = AppleEventDescriptor::targetWithBundleIdentifier("com.example.term");

    struct Row {
        AutomationAnswer answer;
        OSStatus status;
    };
    const Row rows[] = {
        {AutomationAnswer::wouldAsk, AppleEvents::errAEEventWouldRequireUserConsent},
        {AutomationAnswer::granted, AppleEvents::noErr},
        {AutomationAnswer::denied, AppleEvents::errAEEventNotPermitted},
    };
    EXPECT_EQ(permissionFor(byPid), -1744); // never asked: would ask
    for (const auto& row : rows) {
        AppleEventsControl::setAutomationPermission("com.example.term", row.answer);
        EXPECT_EQ(permissionFor(byPid), row.status);
        EXPECT_EQ(permissionFor(byBundle), row.status);
    }
    // The permission of one application says nothing of another.
    WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.other"});
    EXPECT_EQ(permissionFor(AppleEventDescriptor::targetWithBundleIdentifier("com.example.other")), -1744);

    // A target that does not run.
    EXPECT_EQ(permissionFor(AppleEventDescriptor::targetWithProcessIdentifier(12)), AppleEvents::procNotFound);
    WorkspaceControl::quitApplication(term);
    EXPECT_EQ(permissionFor(byPid), -600);
    EXPECT_EQ(permissionFor(byBundle), -600);
    EXPECT_EQ(AppleEventsControl::permissionChecks(), 11);
}

TEST(AppleEventDescriptor, ListsAndEventsHoldTheirItemsAndTextValues) {
    auto list = AppleEventDescriptor::list();
    list.insertDescriptor(AppleEventDescriptor::text("b"), 1);
    list.insertDescriptor(AppleEventDescriptor::text("a"), 1);
    list.insertDescriptor(AppleEventDescriptor::integer(-42), 0);
    list.insertDescriptor(AppleEventDescriptor::list(), 99);
    ASSERT_EQ(list.numberOfItems(), 4);
    EXPECT_EQ(list.descriptorAtIndex(1)->stringValue(), "a");
    EXPECT_EQ(list.descriptorAtIndex(2)->stringValue(), "b");
    EXPECT_EQ(list.descriptorAtIndex(3)->stringValue(), "-42");
    EXPECT_FALSE(list.descriptorAtIndex(4)->stringValue().has_value()); // a list has no text
    EXPECT_FALSE(list.descriptorAtIndex(0).has_value());
    EXPECT_FALSE(list.descriptorAtIndex(5).has_value());
    EXPECT_EQ(AppleEventDescriptor::text("x").numberOfItems(), 0);

    auto event = AppleEventDescriptor::appleEvent(fourCharCode("ascr"), fourCharCode("psbr"), {}, -1, 0);
    event.setParamDescriptor(AppleEventDescriptor::text("first"), fourCharCode("snam"));
    event.setParamDescriptor(AppleEventDescriptor::text("capturetarget"), fourCharCode("snam"));
    event.setParamDescriptor(list, fourCharCode("----"));
    EXPECT_EQ(event.eventClass(), 0x61736372u);
    EXPECT_EQ(event.paramDescriptorForKeyword(fourCharCode("snam"))->stringValue(), "capturetarget");
    EXPECT_EQ(event.paramDescriptorForKeyword(fourCharCode("----"))->numberOfItems(), 4);
    EXPECT_FALSE(event.paramDescriptorForKeyword(fourCharCode("xxxx")).has_value());
}
