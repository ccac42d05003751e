#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <future>

namespace tarpelix::platform {
namespace {

namespace Control = DesktopControl;
using Types = std::vector<std::string>;

const Bytes png = bytesOf("png bytes");
const Bytes tiff = bytesOf("tiff bytes");

PasteboardEntry entry(std::string_view type, const Bytes& data) { return PasteboardEntry{std::string(type), data}; }

class PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override { Control::reset(); }
    void TearDown() override { Control::reset(); }
    Pasteboard& general = Pasteboard::general();
};

TEST_F(PasteboardTest, ACopyReplacesTheContentsAndAdvancesTheChangeCount) {
    long start = general.changeCount();
    EXPECT_EQ(general.types(), Types{});
    Control::copyItems({{entry(PasteboardType::png, png), entry(PasteboardType::tiff, tiff)},
                        {entry(PasteboardType::fileURL, bytesOf("file:///tmp/a.png")), entry(PasteboardType::png, png)}});
    EXPECT_EQ(general.changeCount(), start + 1);
    EXPECT_EQ(general.types(), (Types{"public.png", "public.tiff", "public.file-url"}));
    auto items = general.pasteboardItems();
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[1].types(), (Types{"public.file-url", "public.png"}));

    Control::clearPasteboard();
    EXPECT_EQ(general.changeCount(), start + 2);
    EXPECT_EQ(general.pasteboardItems()->size(), 0u);
}

TEST_F(PasteboardTest, NamedPasteboardsAreSeparate) {
    auto& other = Pasteboard::named("test.other");
    EXPECT_EQ(&other, &Pasteboard::named("test.other"));
    Control::copyPNG(png, "test.other");
    EXPECT_EQ(general.types(), Types{});
    EXPECT_EQ(other.types(), Types{"public.png"});
    // Outside the general pasteboard there is no access control.
    Control::setPasteboardAccessBehavior(3, "test.other");
    EXPECT_EQ(other.dataForType(PasteboardType::png), png);
}

TEST_F(PasteboardTest, AnItemKeepsItsTypesButLosesItsDataWhenThePasteboardChanges) {
    Control::setPasteboardAccessBehavior(2);
    Control::copyTIFF(tiff);
    auto item = general.pasteboardItems()->front();
    EXPECT_EQ(item.dataForType(PasteboardType::tiff), tiff);
    EXPECT_FALSE(item.dataForType(PasteboardType::png));
    Control::copyTIFF(tiff);
    EXPECT_EQ(item.types(), Types{"public.tiff"});
    EXPECT_FALSE(item.dataForType(PasteboardType::tiff));
    EXPECT_EQ(general.pasteboardItems()->front().dataForType(PasteboardType::tiff), tiff);
}

TEST_F(PasteboardTest, AccessBehaviourDecidesDataReadsOfTheGeneralPasteboard) {
    Control::copyPNG(png);
    Control::setPasteboardAccessBehavior(2);
    EXPECT_EQ(general.accessBehavior(), PasteboardAccessBehavior::alwaysAllow);
    EXPECT_EQ(general.dataForType(PasteboardType::png), png);
    for (int denying : {3, 7}) {
        Control::setPasteboardAccessBehavior(denying);
        EXPECT_EQ(static_cast<int>(general.accessBehavior()), denying);
        EXPECT_FALSE(general.dataForType(PasteboardType::png));
        EXPECT_FALSE(general.pasteboardItems()->front().dataForType(PasteboardType::png));
    }
    EXPECT_EQ(Control::pasteboardPromptsShown(), 0);
    // Types are readable whatever the behaviour.
    EXPECT_EQ(general.types(), Types{"public.png"});
}

TEST_F(PasteboardTest, ThePromptsAnswerDecidesTheReadAndMayChangeTheBehaviour) {
    struct Case {
        int behavior;
        PasteboardPromptAnswer answer;
        bool getsData;
        int behaviorAfter;
    };
    for (auto c : {Case{1, PasteboardPromptAnswer::allowOnce, true, 1}, Case{0, PasteboardPromptAnswer::deny, false, 0},
                   Case{1, PasteboardPromptAnswer::alwaysAllow, true, 2},
                   Case{0, PasteboardPromptAnswer::alwaysDeny, false, 3}}) {
        Control::reset();
        Control::copyPNG(png);
        Control::setPasteboardAccessBehavior(c.behavior);
        Control::setPasteboardPromptAnswer(c.answer);
        EXPECT_EQ(general.dataForType(PasteboardType::png).has_value(), c.getsData) << static_cast<int>(c.answer);
        EXPECT_EQ(static_cast<int>(general.accessBehavior()), c.behaviorAfter);
        EXPECT_EQ(Control::pasteboardPromptsShown(), 1);
    }
    // There is nothing to ask about when the type is not there, nor to answer.
    EXPECT_FALSE(Control::answerPasteboardPrompt(PasteboardPromptAnswer::allowOnce));
    Control::setPasteboardPromptAnswer(std::nullopt);
    Control::setPasteboardAccessBehavior(1);
    EXPECT_FALSE(general.dataForType(PasteboardType::string));
    EXPECT_EQ(Control::pasteboardPromptsShown(), 1);
}

TEST_F(PasteboardTest, AResetDismissesAShowingPrompt) {
    Control::copyPNG(png);
    std::promise<std::optional<Bytes>> result;
    DispatchQueue::global()->async([&] { result.set_value(general.dataForType(PasteboardType::png)); });
    ASSERT_TRUE(testing::runMainUntil([] { return Control::isPasteboardPromptShowing(); }));
    Control::reset();
    EXPECT_FALSE(result.get_future().get());
    EXPECT_FALSE(Control::isPasteboardPromptShowing());
}

TEST_F(PasteboardTest, AnotherApplicationCopiesJustBeforeTheArmedRead) {
    Control::copyPNG(png);
    long start = general.changeCount();
    Control::changePasteboardAtRead(3, {{entry(PasteboardType::tiff, tiff)}});
    EXPECT_EQ(general.changeCount(), start);            // read 1
    EXPECT_EQ(general.types(), Types{"public.png"});     // read 2
    EXPECT_EQ(general.changeCount(), start + 1);        // read 3 sees the copy
    EXPECT_EQ(general.types(), Types{"public.tiff"});
    EXPECT_EQ(general.changeCount(), start + 1) << "the change happens once";
    EXPECT_GE(Control::pasteboardReadCount(), 5);
}

TEST_F(PasteboardTest, AnAccessorCanStopAnswering) {
    Control::setPasteboardAccessBehavior(2);
    Control::copyPNG(png);
    struct Case {
        PasteboardAccessor accessor;
        std::function<bool()> answers;
    };
    auto item = general.pasteboardItems()->front();
    for (const auto& c : {Case{PasteboardAccessor::types, [&] { return general.types().has_value(); }},
                          Case{PasteboardAccessor::items, [&] { return general.pasteboardItems().has_value(); }},
                          Case{PasteboardAccessor::itemTypes, [&] { return item.types().has_value(); }},
                          Case{PasteboardAccessor::itemData,
                               [&] { return item.dataForType(PasteboardType::png).has_value(); }}}) {
        Control::setPasteboardAccessorUnavailable(c.accessor, true);
        EXPECT_FALSE(c.answers()) << static_cast<int>(c.accessor);
        Control::setPasteboardAccessorUnavailable(c.accessor, false);
        EXPECT_TRUE(c.answers()) << static_cast<int>(c.accessor);
    }
}

TEST_F(PasteboardTest, WritingTakesThePasteboardOver) {
    Control::setPasteboardAccessBehavior(2);
    Control::copyItems({{entry(PasteboardType::png, png)}, {entry(PasteboardType::tiff, tiff)}});
    long cleared = general.clearContents();
    EXPECT_EQ(cleared, general.changeCount());
    EXPECT_TRUE(general.setData(png, PasteboardType::png));
    EXPECT_TRUE(general.setString("/remote/a.png", PasteboardType::string));
    EXPECT_EQ(general.changeCount(), cleared);
    EXPECT_EQ(general.pasteboardItems()->size(), 1u);
    EXPECT_EQ(general.dataForType(PasteboardType::string), bytesOf("/remote/a.png"));
    Control::setPasteboardAccessorUnavailable(PasteboardAccessor::write, true);
    EXPECT_FALSE(general.setData(tiff, PasteboardType::tiff));
    EXPECT_EQ(general.types(), (Types{"public.png", "public.utf8-plain-text"}));
}

TEST_F(PasteboardTest, ResetEmptiesEveryPasteboard) {
    Control::copyPNG(png);
    Control::copyPNG(png, "test.other");
    Control::setPasteboardAccessBehavior(2);
    Control::reset();
    EXPECT_EQ(general.types(), Types{});
    EXPECT_EQ(Pasteboard::named("test.other").types(), Types{});
    EXPECT_EQ(general.accessBehavior(), PasteboardAccessBehavior::defaultBehavior);
    EXPECT_EQ(Control::pasteboardReadCount(), 2) << "the two reads of the general pasteboard since the reset";
}

} // namespace
} // namespace tarpelix::platform
