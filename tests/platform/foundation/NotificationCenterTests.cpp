#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace tarpelix::platform;

namespace {

// A queue that runs its blocks only when the test drains it.
struct HeldQueue {
    std::vector<std::function<void()>> blocks;
    void async(std::function<void()> block) { blocks.push_back(std::move(block)); }
    void drain() {
        auto pending = std::move(blocks);
        blocks.clear();
        for (auto& block : pending)
            block();
    }
};

} // namespace

TEST(NotificationCenter, ARemovedObserverIsNeverCalledEvenWithADeliveryQueued) {
    NotificationCenter center;
    auto queue = std::make_shared<HeldQueue>();
    std::vector<std::string> calls;
    auto queued = center.addObserver("changed", nullptr, queue,
                                     [&](const Notification&) { calls.push_back("queued"); });
    NotificationObserver later;
    // The first synchronous observer removes the second during the same post.
    auto first = center.addObserver("changed", nullptr, nullptr, [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(later);
    });
    later = center.addObserver("changed", nullptr, nullptr,
                               [&](const Notification&) { calls.push_back("later"); });

    center.post("changed");
    EXPECT_EQ(calls, std::vector<std::string>{"first"});
    ASSERT_EQ(queue->blocks.size(), 1u);
    center.removeObserver(queued);
    queue->drain();
    EXPECT_EQ(calls, std::vector<std::string>{"first"});

    // Removing twice, a null token or another centre's token changes nothing here.
    NotificationCenter other;
    auto foreign = other.addObserver("changed", nullptr, nullptr,
                                     [&](const Notification&) { calls.push_back("other"); });
    center.removeObserver(queued);
    center.removeObserver(nullptr);
    center.removeObserver(foreign);
    other.post("changed");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "other"}));
    EXPECT_EQ(center.observerCount("changed"), 1u);
}

TEST(NotificationCenter, DeliversByNameAndObjectInOrderOfRegistration) {
    NotificationCenter center;
    int panel = 0;
    int window = 0;
    std::vector<std::string> seen;
    auto observe = [&](std::string tag, const void* object) {
        return center.addObserver("moved", object, nullptr, [&seen, tag](const Notification& notification) {
            seen.push_back(tag + ":" + notification.userInfo.at("to"));
        });
    };
    auto any = observe("any", nullptr);
    auto onlyPanel = observe("panel", &panel);
    auto onlyWindow = observe("window", &window);
    auto queue = std::make_shared<HeldQueue>();
    auto queued = center.addObserver("moved", &panel, queue, [&](const Notification& notification) {
        EXPECT_EQ(notification, (Notification{"moved", &panel, {{"to", "top"}}}));
        seen.push_back("queued");
    });

    center.post("moved", &panel, {{"to", "top"}});
    center.post("resized", &panel, {{"to", "wide"}});
    center.post("moved", nullptr, {{"to", "left"}});
    queue->drain();
    EXPECT_EQ(seen, (std::vector<std::string>{"any:top", "panel:top", "any:left", "queued"}));
}
