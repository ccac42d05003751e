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

#include "platform/foundation/MainThread.h"
#include "support/Eventually.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

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

    WorkspaceControl::keepTerminatedApplications(true);
    WorkspaceControl::quitApplication(second);
    EXPECT_FALSE(Workspace::frontmostApplication().has_value());
    EXPECT_FALSE(WorkspaceControl::activateApplication(second)); // a terminated application cannot come forward
    auto listed = Workspace::runningApplications("com.example.term");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_FALSE(listed[0].isTerminated);
    EXPECT_TRUE(listed[1].isTerminated);
    EXPECT_TRUE(Workspace::runningApplications("com.example.none").empty());
    WorkspaceControl::keepTerminatedApplications(false);
    WorkspaceControl::quitApplication(first);
    EXPECT_FALSE(Workspace::runningApplication(first).has_value()); // gone once its quit was told

    auto unnamed = WorkspaceControl::launchApplication({});
    EXPECT_FALSE(Workspace::frontmostApplication()->bundleIdentifier.has_value());
    EXPECT_EQ(Workspace::runningApplication(unnamed)->processIdentifier, unnamed);
}

TEST_F(WorkspaceTest, LaunchAndQuitAreToldWithTheApplicationWhichLeavesTheListAfterward) {
    WorkspaceControl::installApplication({.bundleIdentifier = "com.example.term", .name = "Term", .path = "/T.app"});
    std::vector<std::pair<std::string, RunningApplication>> told;
    std::vector<std::size_t> listedWhileTold;
    for (const auto& name :
         {WorkspaceNotificationName::didLaunchApplication, WorkspaceNotificationName::didTerminateApplication}) {
        observers.emplace_back(&Workspace::notificationCenter(),
                               Workspace::notificationCenter().addObserver(
                                   name, nullptr, nullptr, [&](const Notification& n) {
                                       told.emplace_back(n.name, *Workspace::notifiedApplication(n));
                                       listedWhileTold.push_back(Workspace::runningApplications("com.example.term").size());
                                   }));
    }
    auto pid = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term", .localizedName = "Term"});
    WorkspaceControl::quitApplication(pid);
    WorkspaceControl::quitApplication(pid); // already gone: told once
    RunningApplication app{pid, "com.example.term", "Term", false, "/T.app"};
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0], std::pair(WorkspaceNotificationName::didLaunchApplication, app));
    app.isTerminated = true;
    EXPECT_EQ(told[1], std::pair(WorkspaceNotificationName::didTerminateApplication, app));
    EXPECT_EQ(listedWhileTold, (std::vector<std::size_t>{1, 1})); // listed until the quit was told
    EXPECT_TRUE(Workspace::runningApplications("com.example.term").empty());
}

TEST_F(WorkspaceTest, OpenApplicationLaunchesOrActivatesTheInstalledBundleLater) {
    EXPECT_EQ(Workspace::urlForApplication("com.apple.systempreferences"), "/System/Applications/System Settings.app");
    int launches = 0;
    WorkspaceControl::installApplication({.bundleIdentifier = "com.example.term", .name = "Term", .path = "/T.app",
                                          .launch = [&launches] {
                                              ++launches;
                                              return WorkspaceControl::launchApplication(
                                                  {.bundleIdentifier = "com.example.term", .activate = false});
                                          }});
    EXPECT_EQ(Workspace::urlForApplication("com.example.term"), "/T.app");

    std::mutex mutex;
    std::vector<std::optional<RunningApplication>> completed;
    std::vector<bool> onMainThread;
    auto open = [&](const std::string& path) {
        Workspace::openApplication(path, [&](std::optional<RunningApplication> app) {
            std::lock_guard lock(mutex);
            completed.push_back(app);
            onMainThread.push_back(isMainThread());
        });
    };
    auto completions = [&] {
        std::lock_guard lock(mutex);
        return completed.size();
    };
    open("/T.app");                          // launched by its launcher
    open("/T.app");                          // running: brought to the front
    WorkspaceControl::refuseNextApplicationOpens();
    open("/T.app");                          // refused
    open("/Elsewhere.app");                  // not installed
    ASSERT_TRUE(tarpelix::testing::waitUntil([&] { return completions() == 4; }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(launches, 1);
    std::vector<std::optional<pid_t>> pids;
    for (const auto& app : completed) pids.push_back(app ? std::optional(app->processIdentifier) : std::nullopt);
    EXPECT_EQ(std::count(pids.begin(), pids.end(), std::nullopt), 2);
    EXPECT_EQ(Workspace::frontmostApplication()->bundleURL, "/T.app");
    EXPECT_EQ(std::count(onMainThread.begin(), onMainThread.end(), true), 0);
    EXPECT_EQ(WorkspaceControl::openedApplications(), (std::vector<std::string>{"/T.app", "/T.app"}));

    WorkspaceControl::uninstallApplication("com.example.term");
    EXPECT_FALSE(Workspace::urlForApplication("com.example.term").has_value());
    DesktopControl::reset();
    EXPECT_TRUE(Workspace::urlForApplication("com.apple.systempreferences").has_value());
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

TEST_F(WorkspaceTest, AskingForAutomationHoldsTheCallerUntilThePromptIsAnsweredAndKeepsTheAnswer) {
    WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term"});
    const auto target = AppleEventDescriptor::targetWithBundleIdentifier("com.example.term");
    auto ask = [&] { return AppleEvents::determinePermissionToAutomateTarget(target, typeWildCard, typeWildCard, true); };

    OSStatus answered = 1;
    std::thread asking([&] { answered = ask(); });
    ASSERT_TRUE(tarpelix::testing::waitUntil([] { return AppleEventsControl::isAutomationPromptShowing(); }));
    EXPECT_EQ(AppleEventsControl::automationPromptTarget(), "com.example.term");
    EXPECT_TRUE(AppleEventsControl::answerAutomationPrompt(AutomationPromptAnswer::allow));
    asking.join();
    EXPECT_EQ(answered, AppleEvents::noErr);
    EXPECT_EQ(permissionFor(target), AppleEvents::noErr); // kept
    EXPECT_FALSE(AppleEventsControl::answerAutomationPrompt(AutomationPromptAnswer::deny)); // none showing

    // A standing answer answers at once; an answer already given is not asked again.
    AppleEventsControl::setAutomationPermission("com.example.term", AutomationAnswer::wouldAsk);
    AppleEventsControl::setAutomationPromptAnswer(AutomationPromptAnswer::deny);
    EXPECT_EQ(ask(), AppleEvents::errAEEventNotPermitted);
    EXPECT_EQ(ask(), AppleEvents::errAEEventNotPermitted);
    EXPECT_EQ(AppleEventsControl::automationPromptsShown(), 2);

    // Any other status is given as it is, and never asks.
    AppleEventsControl::setAutomationStatus("com.example.term", -1708);
    EXPECT_EQ(ask(), -1708);
    EXPECT_EQ(AppleEventsControl::automationPromptsShown(), 2);

    // A reset dismisses the prompt showing: the check answers that consent is still needed.
    DesktopControl::reset();
    WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term"});
    std::thread dismissed([&] { answered = ask(); });
    ASSERT_TRUE(tarpelix::testing::waitUntil([] { return AppleEventsControl::isAutomationPromptShowing(); }));
    DesktopControl::reset();
    dismissed.join();
    EXPECT_EQ(answered, AppleEvents::errAEEventWouldRequireUserConsent);
    EXPECT_EQ(AppleEventsControl::automationPromptsShown(), 0);
}
