#include "paste/ClipboardPermissionSetup.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace tarpelix {
namespace {

using Result = ClipboardPermissionSetup::Result;
namespace Control = platform::DesktopControl;

TEST(ClipboardPermissionSetup, AsksOnlyWhenTheUserHasNotDecided) {
    struct Case {
        const char* name;
        std::vector<int> behaviors; // what access() gives, call by call
        std::optional<std::string> firstType;
        Result expected;
        bool reads;
    };
    Case cases[] = {
        {"already always allow", {2}, "public.png", Result::allowed, false},
        {"always deny", {3}, "public.png", Result::needsSettings, false},
        {"an unknown higher value", {9}, "public.png", Result::needsSettings, false},
        {"ask, empty clipboard", {1}, std::nullopt, Result::empty, false},
        {"default, user chooses always allow", {0, 2}, "public.png", Result::allowed, true},
        {"ask, user allows once", {1, 1}, "public.png", Result::needsSettings, true},
        {"ask, user chooses always deny", {1, 3}, "public.tiff", Result::needsSettings, true},
    };
    for (const auto& c : cases) {
        std::size_t accessCalls = 0;
        std::vector<std::string> reads;
        auto result = ClipboardPermissionSetup::request(
            [&] { return c.behaviors.at(std::min(accessCalls++, c.behaviors.size() - 1)); },
            [&] { return c.firstType; }, [&](const std::string& type) { reads.push_back(type); });
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(reads.size(), c.reads ? 1u : 0u) << c.name;
        if (c.reads) {
            EXPECT_EQ(reads.front(), *c.firstType) << c.name;
        }
        EXPECT_EQ(accessCalls, c.behaviors.size()) << c.name;
    }
}

// The request bound to the general pasteboard of the simulated Mac, as the Permissions page
// binds it, run on a global queue while the user answers the system's prompt.
class ClipboardPermissionPrompt : public ::testing::Test {
protected:
    void SetUp() override { Control::reset(); }
    void TearDown() override { Control::reset(); }

    std::future<Result> requestInBackground() {
        auto promise = std::make_shared<std::promise<Result>>();
        auto future = promise->get_future();
        platform::DispatchQueue::global()->async([promise] {
            auto& general = platform::Pasteboard::general();
            promise->set_value(ClipboardPermissionSetup::request(
                [&] { return static_cast<int>(general.accessBehavior()); },
                [&]() -> std::optional<std::string> {
                    auto types = general.types();
                    if (!types || types->empty()) return std::nullopt;
                    return types->front();
                },
                [&](const std::string& type) { (void)general.dataForType(type); }));
        });
        return future;
    }
};

TEST_F(ClipboardPermissionPrompt, TheUsersAnswerIsTheResult) {
    struct Case {
        platform::PasteboardPromptAnswer answer;
        Result expected;
    };
    for (auto c : {Case{platform::PasteboardPromptAnswer::alwaysAllow, Result::allowed},
                   Case{platform::PasteboardPromptAnswer::allowOnce, Result::needsSettings},
                   Case{platform::PasteboardPromptAnswer::deny, Result::needsSettings}}) {
        Control::reset();
        Control::copyPNG(platform::bytesOf("image"));
        Control::setPasteboardAccessBehavior(1);
        auto result = requestInBackground();
        ASSERT_TRUE(testing::runMainUntil([] { return Control::isPasteboardPromptShowing(); }));
        EXPECT_EQ(result.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "waits for the user";
        ASSERT_TRUE(Control::answerPasteboardPrompt(c.answer));
        EXPECT_EQ(result.get(), c.expected);
    }
}

TEST_F(ClipboardPermissionPrompt, AnEmptyClipboardRaisesNoPrompt) {
    Control::setPasteboardAccessBehavior(1);
    EXPECT_EQ(requestInBackground().get(), Result::empty);
    EXPECT_EQ(Control::pasteboardPromptsShown(), 0);
}

} // namespace
} // namespace tarpelix
