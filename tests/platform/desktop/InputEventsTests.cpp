#include "platform/desktop/Accessibility.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEvents.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/RunLoop.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace tarpelix::platform;
using tarpelix::testing::runMainUntil;

namespace {

constexpr std::uint16_t keyA = 0;
constexpr std::uint16_t keyV = 9;

// A tap whose callback runs a test's function on a run-loop thread of its own.
class TestTap {
public:
    using Decide = std::function<EventRef(EventType, const EventRef&)>;

    explicit TestTap(Decide decide, EventMask mask = ~EventMask{0},
                     EventTapPlacement placement = EventTapPlacement::headInsert,
                     EventTapLocation location = EventTapLocation::session)
        : decide_(std::move(decide)) {
        port_ = EventTap::create(location, placement, EventTapOptions::defaultTap, mask, &TestTap::callback, this);
        if (!port_) return;
        auto source = port_->createRunLoopSource();
        source->addToRunLoop(loop_);
        thread_ = std::thread([loop = loop_] { loop->run(); });
    }
    ~TestTap() {
        if (port_) port_->invalidate();
        loop_->stop();
        if (thread_.joinable()) thread_.join();
    }

    const std::shared_ptr<EventTap>& port() const { return port_; }

    // Notices of the system disabling the tap, in order.
    std::vector<EventType> notices() {
        std::lock_guard lock(mutex_);
        return notices_;
    }

private:
    static EventRef callback(EventType type, const EventRef& event, void* userInfo) {
        auto* self = static_cast<TestTap*>(userInfo);
        if (type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput) {
            std::lock_guard lock(self->mutex_);
            self->notices_.push_back(type);
            return event;
        }
        return self->decide_(type, event);
    }

    Decide decide_;
    std::shared_ptr<RunLoop> loop_ = std::make_shared<RunLoop>();
    std::shared_ptr<EventTap> port_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<EventType> notices_;
};

EventRef passAll(EventType, const EventRef& event) { return event; }

class InputEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopControl::reset();
        InputEventsControl::setAccessibilityTrusted(true);
        app = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.editor", .localizedName = "Editor"});
    }
    void TearDown() override { DesktopControl::reset(); }

    pid_t app = 0;
};

} // namespace

TEST_F(InputEventsTest, EventsReachTheFrontmostApplicationInPostingOrder) {
    auto other = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.other", .activate = false});
    for (int i = 0; i < 20; ++i) Event::post(EventTapLocation::session, InputEventsControl::keyEvent(keyA, i % 2 == 0));
    InputEventsControl::waitUntilDelivered();
    auto received = InputEventsControl::receivedEvents(app);
    ASSERT_EQ(received.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(received[i]->type(), i % 2 == 0 ? EventType::keyDown : EventType::keyUp);
    EXPECT_TRUE(InputEventsControl::receivedEvents(other).empty());

    // Posting to a process reaches it although another application is frontmost.
    Event::postToPid(other, InputEventsControl::keyEvent(keyA, true));
    InputEventsControl::waitUntilDelivered();
    EXPECT_EQ(InputEventsControl::receivedEvents(other).size(), 1u);

    // With nothing frontmost an event reaches nobody.
    WorkspaceControl::activateApplication(0);
    auto delivery = InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true));
    EXPECT_FALSE(delivery.swallowed);
    EXPECT_FALSE(delivery.receiver.has_value());
}

TEST_F(InputEventsTest, TapsSeeOnlyTheirMaskAndCanSwallowOrReplace) {
    std::atomic<int> seen{0};
    TestTap swallowKeys(
        [&](EventType type, const EventRef& event) -> EventRef {
            ++seen;
            return type == EventType::keyDown ? nullptr : event;
        },
        eventMaskBit(EventType::keyDown) | eventMaskBit(EventType::keyUp));

    EXPECT_TRUE(InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true)).swallowed);
    auto up = InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, false));
    EXPECT_FALSE(up.swallowed);
    EXPECT_EQ(up.receiver, app);
    // Outside the mask: the callback is not consulted.
    EXPECT_EQ(InputEventsControl::deliver(InputEventsControl::mouseEvent(EventType::scrollWheel)).receiver, app);
    EXPECT_EQ(seen.load(), 2);

    // A tap may pass a replacement; the application receives what the tap returned.
    TestTap rewrite([](EventType, const EventRef& event) -> EventRef {
        auto copy = event->copy();
        copy->setFlags(EventFlag::shift);
        return copy;
    });
    InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, false));
    auto received = InputEventsControl::receivedEvents(app);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back()->flags(), EventFlag::shift);
}

TEST_F(InputEventsTest, TapAtTheHeadDecidesFirstAndCallbacksRunOnTheTapsThread) {
    std::mutex mutex;
    std::vector<std::string> order;
    std::thread::id mainId = std::this_thread::get_id();
    std::atomic<bool> ranOnMain{false};
    auto record = [&](const char* name) {
        return [&, name](EventType, const EventRef& event) -> EventRef {
            if (std::this_thread::get_id() == mainId) ranOnMain = true;
            std::lock_guard lock(mutex);
            order.push_back(name);
            return event;
        };
    };
    TestTap tail(record("tail"));
    TestTap head(record("head"));
    TestTap appended(record("appended"), ~EventMask{0}, EventTapPlacement::tailAppend);
    InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true));
    EXPECT_EQ(order, (std::vector<std::string>{"head", "tail", "appended"}));
    EXPECT_FALSE(ranOnMain.load());

    // An event posted at the session location passes no tap of the HID location.
    TestTap hid(record("hid"), ~EventMask{0}, EventTapPlacement::tailAppend, EventTapLocation::hid);
    order.clear();
    Event::post(EventTapLocation::session, InputEventsControl::keyEvent(keyA, true));
    InputEventsControl::waitUntilDelivered();
    EXPECT_EQ(order, (std::vector<std::string>{"head", "tail", "appended"}));
}

TEST_F(InputEventsTest, SlowCallbackDisablesTheTapWhichEventsThenBypass) {
    InputEventsControl::setTapTimeout(0.05);
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> calls{0};
    TestTap slow([&](EventType, const EventRef&) -> EventRef {
        ++calls;
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return nullptr; // too late: the event has gone on
    });
    auto delivery = InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true));
    EXPECT_FALSE(delivery.swallowed);
    EXPECT_EQ(delivery.receiver, app);
    EXPECT_FALSE(slow.port()->isEnabled());
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    ASSERT_TRUE(runMainUntil([&] { return slow.notices().size() == 1; }));
    EXPECT_EQ(slow.notices().front(), EventType::tapDisabledByTimeout);

    // Disabled: events bypass the tap until it is enabled again.
    EXPECT_EQ(InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true)).receiver, app);
    EXPECT_EQ(calls.load(), 1);
    slow.port()->setEnabled(true);
    EXPECT_TRUE(InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true)).swallowed);
    EXPECT_EQ(calls.load(), 2);
}

TEST_F(InputEventsTest, RevokingAccessibilityDisablesActiveTapsAsUserInput) {
    TestTap tap(passAll);
    InputEventsControl::setAccessibilityTrusted(false); // returns once the tap was told
    EXPECT_FALSE(Accessibility::isProcessTrusted());
    ASSERT_EQ(tap.notices().size(), 1u);
    EXPECT_EQ(tap.notices().front(), EventType::tapDisabledByUserInput);
    EXPECT_EQ(InputEventsControl::liveTaps(), 0u);
    EXPECT_EQ(InputEventsControl::installedTaps(), 1u);

    // A disabled tap is not told again.
    InputEventsControl::disableTaps(EventType::tapDisabledByTimeout);
    InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true));
    EXPECT_EQ(tap.notices().size(), 1u);
}

TEST_F(InputEventsTest, ATapDisabledBeforeItHasARunLoopIsToldOnceItGetsOne) {
    std::vector<EventType> notices;
    auto port = EventTap::create(
        EventTapLocation::session, EventTapPlacement::headInsert, EventTapOptions::defaultTap, ~EventMask{0},
        [](EventType type, const EventRef& event, void* user) {
            static_cast<std::vector<EventType>*>(user)->push_back(type);
            return event;
        },
        &notices);
    InputEventsControl::disableTaps(EventType::tapDisabledByUserInput);
    EXPECT_EQ(InputEventsControl::liveTaps(), 0u);
    port->createRunLoopSource()->addToRunLoop(RunLoop::main());
    ASSERT_TRUE(runMainUntil([&] { return !notices.empty(); }));
    EXPECT_EQ(notices, std::vector<EventType>{EventType::tapDisabledByUserInput});
    port->invalidate();
}

TEST_F(InputEventsTest, TapCreationNeedsPermissionAndInjectedCopyFailuresCount) {
    auto create = [](EventTapOptions options) {
        return EventTap::create(EventTapLocation::session, EventTapPlacement::headInsert, options, ~EventMask{0},
                                [](EventType, const EventRef& e, void*) { return e; }, nullptr);
    };
    InputEventsControl::setAccessibilityTrusted(false);
    EXPECT_EQ(create(EventTapOptions::defaultTap), nullptr);
    EXPECT_EQ(create(EventTapOptions::listenOnly), nullptr);
    InputEventsControl::setListenEventAccess(true);
    EXPECT_TRUE(preflightListenEventAccess());
    EXPECT_EQ(create(EventTapOptions::defaultTap), nullptr); // listening is not enough to swallow
    EXPECT_NE(create(EventTapOptions::listenOnly), nullptr);

    auto event = Event::createKeyboardEvent(EventSource::create(EventSourceStateID::privateState), keyV, true);
    ASSERT_NE(event, nullptr);
    InputEventsControl::failNext(InputEventsControl::Failure::eventCopy, 2);
    EXPECT_EQ(event->copy(), nullptr);
    EXPECT_EQ(event->copy(), nullptr);
    EXPECT_NE(event->copy(), nullptr);
}

TEST_F(InputEventsTest, KeyboardEventsCarryFieldsSourceDataAndAtMostTwentyUnits) {
    auto source = EventSource::create(EventSourceStateID::privateState);
    source->setUserData(77);
    auto down = Event::createKeyboardEvent(source, keyV, true);
    auto up = Event::createKeyboardEvent(source, keyV, false);
    EXPECT_EQ(down->type(), EventType::keyDown);
    EXPECT_EQ(up->type(), EventType::keyUp);
    EXPECT_EQ(down->integerValueField(EventField::keyboardEventKeycode), keyV);
    EXPECT_EQ(down->integerValueField(EventField::eventSourceUserData), 77);
    EXPECT_EQ(down->flags(), 0u);

    down->keyboardSetUnicodeString(u"h\u00e9llo \U0001F600");
    EXPECT_EQ(down->unicodeStringUTF8(), "h\u00e9llo \U0001F600");
    down->keyboardSetUnicodeString(std::u16string(25, u'x'));
    EXPECT_EQ(down->unicodeString().size(), Event::maxUnicodeLength);

    // A copy is independent of its original.
    auto copy = down->copy();
    copy->setIntegerValueField(EventField::eventSourceUserData, 5);
    copy->setType(EventType::keyUp);
    EXPECT_EQ(down->integerValueField(EventField::eventSourceUserData), 77);
    EXPECT_EQ(down->type(), EventType::keyDown);
}

TEST_F(InputEventsTest, ResetInvalidatesTapsAndForgetsWhatWasReceived) {
    auto tap = EventTap::create(EventTapLocation::session, EventTapPlacement::headInsert,
                                EventTapOptions::defaultTap, ~EventMask{0},
                                [](EventType, const EventRef& e, void*) { return e; }, nullptr);
    InputEventsControl::deliver(InputEventsControl::keyEvent(keyA, true));
    DesktopControl::reset();
    EXPECT_FALSE(tap->isValid());
    EXPECT_EQ(InputEventsControl::installedTaps(), 0u);
    EXPECT_TRUE(InputEventsControl::receivedEvents(app).empty());
    EXPECT_FALSE(Accessibility::isProcessTrusted());
}
