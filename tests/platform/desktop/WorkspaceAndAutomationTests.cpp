#include "platform/desktop/AppleEvents.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Screen.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/imageio/Image.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarpelix::platform;

namespace {

class WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override {
        for (auto& [center, observer] : observers) center->removeObserver(observer);
        DesktopControl::reset();
    }
    // Records the names posted on the centre, on the posting thread.
    void record(NotificationCenter& center, const std::string& name) {
        observers.emplace_back(&center, center.addObserver(name, nullptr, nullptr, [this](const Notification& n) {
                                   posted.push_back(n.name);
                               }));
    }
    std::vector<std::pair<NotificationCenter*, NotificationObserver>> observers;
    std::vector<std::string> posted;
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

TEST_F(WorkspaceTest, SettingsChangesPostTheirNotificationsAndResetRestoresTheDefaults) {
    const Screen primary = Screen::screens().at(0);
    EXPECT_EQ(primary, (Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 2, 1}));
    EXPECT_EQ(Screen::screens().size(), 1u);
    EXPECT_EQ(Workspace::localeIdentifier(), "en_US");
    EXPECT_EQ(Workspace::timeZone(), TimeZone::current());

    const std::string screensChanged = applicationDidChangeScreenParametersNotification;
    const std::string optionsChanged = WorkspaceNotificationName::accessibilityDisplayOptionsDidChange;
    record(NotificationCenter::defaultCenter(), screensChanged);
    record(Workspace::notificationCenter(), optionsChanged);
    record(Workspace::notificationCenter(), appearanceDidChangeNotification);
    record(Workspace::notificationCenter(), screensChanged); // never posted there

    const Screen side{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}, 1, std::nullopt};
    DesktopControl::setScreens({primary, side});
    DesktopControl::setScreens({primary, side}); // unchanged: nothing posted
    DesktopControl::setAppearance(Appearance::dark);
    DesktopControl::setIncreaseContrast(true);
    DesktopControl::setReduceMotion(true);
    DesktopControl::setReduceMotion(true);
    DesktopControl::setLocaleIdentifier("de_DE");
    DesktopControl::setTimeZone({"Europe/Berlin"});
    EXPECT_EQ(posted, (std::vector<std::string>{screensChanged, appearanceDidChangeNotification, optionsChanged,
                                                optionsChanged}));
    EXPECT_EQ(Screen::screens(), (std::vector<Screen>{primary, side}));
    EXPECT_EQ(Workspace::appearance(), Appearance::dark);
    EXPECT_TRUE(Workspace::accessibilityDisplayShouldIncreaseContrast());
    EXPECT_TRUE(Workspace::accessibilityDisplayShouldReduceMotion());
    EXPECT_EQ(Workspace::localeIdentifier(), "de_DE");
    EXPECT_EQ(Workspace::timeZone().identifier, "Europe/Berlin");
    EXPECT_TRUE(Workspace::openURL("https://example.com/"));

    DesktopControl::setScreens({});
    EXPECT_FALSE(Screen::mainScreen().has_value());

    posted.clear();
    DesktopControl::reset(); // silent
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(Screen::screens(), std::vector<Screen>{primary});
    EXPECT_EQ(Screen::mainScreen(), primary);
    EXPECT_EQ(Workspace::appearance(), Appearance::light);
    EXPECT_FALSE(Workspace::accessibilityDisplayShouldIncreaseContrast());
    EXPECT_FALSE(Workspace::accessibilityDisplayShouldReduceMotion());
    EXPECT_EQ(Workspace::localeIdentifier(), "en_US");
    EXPECT_EQ(Workspace::timeZone(), TimeZone::current());
    EXPECT_TRUE(WorkspaceControl::openedURLs().empty());
}

TEST_F(WorkspaceTest, OpenURLRecordsWhatOpenedAndFailsWithoutASchemeOrWhenRefused) {
    EXPECT_TRUE(Workspace::openURL("https://example.com/a?b=c"));
    EXPECT_TRUE(Workspace::openURL("mailto:someone@example.com"));
    for (const char* bad : {"", "example.com", ":nothing", "1http://x", "ht tp://x"}) {
        EXPECT_FALSE(Workspace::openURL(bad)) << bad;
    }
    WorkspaceControl::refuseOpeningURLs(true);
    EXPECT_FALSE(Workspace::openURL("https://example.com/refused"));
    WorkspaceControl::refuseOpeningURLs(false);
    EXPECT_TRUE(Workspace::openURL("https://example.com/again"));
    EXPECT_EQ(WorkspaceControl::openedURLs(), (std::vector<std::string>{"https://example.com/a?b=c",
                                                                        "mailto:someone@example.com",
                                                                        "https://example.com/again"}));
}

TEST_F(WorkspaceTest, IconsTellApplicationsFoldersAndOtherFilesApart) {
    const auto folder = std::filesystem::temp_directory_path().string();
    const auto application = Workspace::icon("/Applications/Tarpelix.app/");
    const auto directory = Workspace::icon(folder);
    const auto document = Workspace::icon("/tmp/missing/notes.txt");
    EXPECT_EQ(Workspace::icon(folder + "/no such file"), document);
    EXPECT_EQ(Workspace::icon("/Applications/.app"), document); // a hidden file, not an application
    std::vector<Bytes> pixels;
    for (const auto& icon : {application, directory, document}) {
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->width, 64u);
        EXPECT_EQ(icon->height, 64u);
        ASSERT_TRUE(icon->pixels.get());
        ASSERT_EQ(icon->pixels.get()->size(), icon->bytesPerRow * icon->height);
        pixels.push_back(*icon->pixels.get());
    }
    EXPECT_NE(pixels[0], pixels[1]);
    EXPECT_NE(pixels[1], pixels[2]);
    EXPECT_NE(pixels[0], pixels[2]);
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
