#include "platform/desktop/Accessibility.h"
#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/RunLoop.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;

namespace {

class AccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopControl::reset();
        InputEventsControl::setAccessibilityTrusted(true);
        app = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.term"});
        field = AccessibilityControl::createElement(app);
        AccessibilityControl::setAttribute(app, field, "AXRole", std::string("AXTextArea"));
        AccessibilityControl::setAttribute(app, 0, "AXFocusedUIElement", AXElementLink{field});
    }
    void TearDown() override { DesktopControl::reset(); }

    AXUIElement::Copied read(std::uint64_t node, const std::string& attribute) {
        return std::make_shared<AXUIElement>(app, node)->copyAttributeValue(attribute);
    }

    pid_t app = 0;
    std::uint64_t field = 0;
};

// Records the notifications an observer receives.
struct Seen {
    std::vector<std::string> notifications;
    static void callback(AXObserver&, const AXUIElementRef& element, const std::string& notification, void* refcon) {
        auto* seen = static_cast<Seen*>(refcon);
        seen->notifications.push_back(notification + "@" + std::to_string(element->node()));
    }
};

} // namespace

TEST_F(AccessibilityTest, AttributesReadAsTheirKindsAndElementsCompareByIdentity) {
    AccessibilityControl::setAttribute(app, field, "AXPosition", AXPoint{10, 20});
    AccessibilityControl::setAttribute(app, field, "AXSize", AXSize{300, 200});
    AccessibilityControl::setAttribute(app, field, "AXValue", 4.5);

    auto application = AXUIElement::createApplication(app);
    EXPECT_NE(application, AXUIElement::createApplication(app)); // a new reference each call
    EXPECT_TRUE(isEqual(application, AXUIElement::createApplication(app)));
    auto focused = application->copyAttributeValue("AXFocusedUIElement");
    ASSERT_EQ(focused.error, AXErrorCode::success);
    auto element = std::get<AXUIElementRef>(*focused.value);
    EXPECT_TRUE(isEqual(element, std::make_shared<AXUIElement>(app, field)));
    EXPECT_FALSE(isEqual(element, application));
    EXPECT_FALSE(isEqual(element, nullptr));
    EXPECT_EQ(std::get<std::string>(*element->copyAttributeValue("AXRole").value), "AXTextArea");
    EXPECT_EQ(std::get<AXPoint>(*read(field, "AXPosition").value), (AXPoint{10, 20}));
    EXPECT_EQ(std::get<AXSize>(*read(field, "AXSize").value), (AXSize{300, 200}));
    EXPECT_EQ(std::get<double>(*read(field, "AXValue").value), 4.5);
}

TEST_F(AccessibilityTest, FailuresCarryThePlatformsCodes) {
    struct Row {
        const char* name;
        std::function<void()> arrange;
        bool onField; // else the application element
        const char* attribute;
        AXError expected;
    };
    const Row rows[] = {
        {"unsupported attribute", [] {}, true, "AXHelp", AXErrorCode::attributeUnsupported},
        {"no value", [&] { AccessibilityControl::setAttribute(app, field, "AXTitle", AXNoValue{}); }, true, "AXTitle",
         AXErrorCode::noValue},
        {"injected error", [&] { AccessibilityControl::setAttributeError(app, field, "AXRole", -25204); }, true,
         "AXRole", AXErrorCode::cannotComplete},
        {"removed element", [&] { AccessibilityControl::removeElement(app, field); }, true, "AXRole",
         AXErrorCode::invalidUIElement},
        {"not trusted", [] { InputEventsControl::setAccessibilityTrusted(false); }, false, "AXFocusedUIElement",
         AXErrorCode::apiDisabled},
        {"application quit", [&] { WorkspaceControl::quitApplication(app); }, false, "AXFocusedUIElement",
         AXErrorCode::cannotComplete},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        row.arrange();
        auto copied = read(row.onField ? field : 0, row.attribute);
        EXPECT_EQ(copied.error, row.expected);
        EXPECT_FALSE(copied.value.has_value());
    }
    // An application without any accessible element has no focus to report.
    SetUp();
    auto plain = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.plain"});
    EXPECT_EQ(AXUIElement::createApplication(plain)->copyAttributeValue("AXFocusedUIElement").error, -25212);
}

TEST_F(AccessibilityTest, AnApplicationSlowerThanTheMessagingTimeoutCannotComplete) {
    AccessibilityControl::setResponseLatency(app, 0.05);
    auto application = AXUIElement::createApplication(app);
    application->setMessagingTimeout(0.01);
    EXPECT_EQ(application->copyAttributeValue("AXFocusedUIElement").error, AXErrorCode::cannotComplete);
    application->setMessagingTimeout(1.0); // per reference: this one waits long enough
    EXPECT_EQ(application->copyAttributeValue("AXFocusedUIElement").error, AXErrorCode::success);
}

TEST_F(AccessibilityTest, ObserversHearRegisteredNotificationsOnTheirRunLoop) {
    Seen seen;
    auto observer = AXObserver::create(app, &Seen::callback).observer;
    ASSERT_NE(observer, nullptr);
    auto application = AXUIElement::createApplication(app);
    EXPECT_EQ(observer->addNotification(application, "AXFocusedUIElementChanged", &seen), AXErrorCode::success);
    EXPECT_EQ(observer->addNotification(application, "AXFocusedUIElementChanged", &seen),
              AXErrorCode::notificationAlreadyRegistered);
    observer->addToRunLoop(RunLoop::main());

    AccessibilityControl::postNotification(app, 0, "AXFocusedWindowChanged"); // not registered
    AccessibilityControl::postNotification(app, 0, "AXFocusedUIElementChanged");
    EXPECT_TRUE(seen.notifications.empty()); // delivered by the run loop, not by the poster
    ASSERT_TRUE(runMainUntil([&] { return !seen.notifications.empty(); }));
    EXPECT_EQ(seen.notifications, std::vector<std::string>{"AXFocusedUIElementChanged@0"});

    // Removed from its run loop, or released: nothing more.
    observer->removeFromRunLoop();
    AccessibilityControl::postNotification(app, 0, "AXFocusedUIElementChanged");
    observer->addToRunLoop(RunLoop::main());
    AccessibilityControl::postNotification(app, 0, "AXFocusedUIElementChanged");
    observer.reset();
    runMainUntil([] { return false; }, 0.05);
    EXPECT_EQ(seen.notifications.size(), 1u);
}

TEST_F(AccessibilityTest, ObserversWatchOnlyTheirApplicationAndNeedTrust) {
    auto observer = AXObserver::create(app, &Seen::callback).observer;
    ASSERT_NE(observer, nullptr);
    auto other = WorkspaceControl::launchApplication({});
    EXPECT_EQ(observer->addNotification(AXUIElement::createApplication(other), "AXFocusedWindowChanged", nullptr),
              AXErrorCode::illegalArgument);
    InputEventsControl::setAccessibilityTrusted(false);
    EXPECT_EQ(AXObserver::create(app, &Seen::callback).error, AXErrorCode::apiDisabled);
}
