#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/Switch.h"
#include "platform/appkit/TextLayout.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

// A plain view that takes focus, as a text view would.
class FocusDummy final : public View {
public:
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
};

struct ControlsTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }

    // A key window of ours in front, with `views` in its content.
    std::shared_ptr<Window> frontWindow(const std::vector<std::shared_ptr<View>>& views, std::string title = {}) {
        auto window = Window::create({0, 0, 400, 300}, WindowStyle::titled);
        window->setTitle(std::move(title));
        for (const auto& view : views) window->contentView()->addSubview(view);
        window->makeKeyAndOrderFront();
        Application::shared().activate();
        return window;
    }
};

Button::ActionHandler counting(int& count) {
    return [&count](Control&) { ++count; };
}

TEST_F(ControlsTest, AKeyEquivalentClicksOnlyAnEnabledButtonWithExactlyItsModifiers) {
    struct Case {
        const char* name;
        bool enabled;
        std::string characters;
        EventFlags flags;
        bool clicks;
    };
    const Case cases[] = {
        {"matching", true, "d", EventFlag::command, true},
        {"disabled", false, "d", EventFlag::command, false},
        {"no modifier", true, "d", 0, false},
        {"extra modifier", true, "d", EventFlag::command | EventFlag::shift, false},
        {"other key", true, "e", EventFlag::command, false},
    };
    for (const auto& c : cases) {
        int clicks = 0;
        auto button = Button::withTitle("Delete", "delete", counting(clicks));
        button->setFrame({20, 20, 100, 24});
        button->setKeyEquivalent("d");
        button->setKeyEquivalentModifierMask(EventFlag::command);
        button->setEnabled(c.enabled);
        auto window = frontWindow({button});
        AppKitControl::typeKey(2, c.characters, c.flags);
        EXPECT_EQ(clicks, c.clicks ? 1 : 0) << c.name;
        window->orderOut();
    }
}

TEST_F(ControlsTest, ReturnClicksTheDefaultButtonWhileAnotherViewHasFocusAndSpaceClicksTheFocusedButton) {
    int saves = 0, cancels = 0;
    auto save = Button::withTitle("Save", "save", counting(saves));
    save->setKeyEquivalent("\r");
    save->setFrame({200, 20, 80, 24});
    auto cancel = Button::withTitle("Cancel", "cancel", counting(cancels));
    cancel->setFrame({100, 20, 80, 24});
    auto dummy = std::make_shared<FocusDummy>(Rect{20, 100, 200, 100});
    auto window = frontWindow({save, cancel, dummy});
    ASSERT_TRUE(window->makeFirstResponder(dummy.get()));

    AppKitControl::typeKey(KeyCode::returnKey, "\r");
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(window->firstResponder(), dummy.get()); // focus stays where it was

    ASSERT_TRUE(window->makeFirstResponder(cancel.get()));
    AppKitControl::typeKey(KeyCode::space, " ");
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(AppKitControl::beeps(), 0);
}

TEST_F(ControlsTest, ClickingChangesStateByButtonTypeAndRadioButtonsOfOneActionExcludeEachOther) {
    const std::pair<ButtonType, ControlStateValue> afterOneClick[] = {
        {ButtonType::momentaryPushIn, ControlStateValue::off}, {ButtonType::momentaryChange, ControlStateValue::off},
        {ButtonType::pushOnPushOff, ControlStateValue::on},    {ButtonType::onOff, ControlStateValue::on},
        {ButtonType::switchButton, ControlStateValue::on},     {ButtonType::radio, ControlStateValue::on},
    };
    for (const auto& [type, state] : afterOneClick) {
        auto button = Button::withTitle("B");
        button->setButtonType(type);
        button->performClick();
        EXPECT_EQ(button->state(), state) << int(type);
    }

    auto group = View::create({0, 0, 300, 100});
    auto a = Button::radioButton("A", "choose");
    auto b = Button::radioButton("B", "choose");
    auto other = Button::radioButton("Other group", "size");
    for (const auto& button : {a, b, other}) group->addSubview(button);
    other->performClick();
    a->performClick();
    b->performClick();
    b->performClick(); // a radio button stays on when clicked again
    EXPECT_EQ(a->state(), ControlStateValue::off);
    EXPECT_EQ(b->state(), ControlStateValue::on);
    EXPECT_EQ(other->state(), ControlStateValue::on);
}

TEST_F(ControlsTest, ALabelTruncatesItsTailExactlyWhenTheTextIsWiderThanTheLabel) {
    auto label = Label::labelWithString("/home/developer/uploads/screenshot.png");
    label->setLineBreakMode(LineBreakMode::byTruncatingTail);
    const Size natural = label->intrinsicContentSize();
    for (const double width : {natural.width + 10, natural.width, natural.width - 2, natural.width / 2}) {
        label->setFrame({0, 0, width, natural.height});
        RecordingContext recording({width, natural.height});
        label->displayRecursively(recording);
        const auto texts = recording.texts();
        ASSERT_EQ(texts.size(), 1u);
        const auto& text = texts.front();
        EXPECT_EQ(label->isTruncated(), width < natural.width) << width;
        EXPECT_EQ(text.layout.truncated, width < natural.width) << width;
        EXPECT_TRUE(auditLayout(recording).empty()) << width;
    }
    // A clipped label narrower than its text does not fit: the audit reports it.
    auto clipped = Label::labelWithString("A label that is clipped");
    clipped->setFrame({0, 0, clipped->intrinsicContentSize().width / 2, 20});
    RecordingContext recording({200, 20});
    clipped->displayRecursively(recording);
    EXPECT_EQ(auditLayout(recording).size(), 1u);
}

TEST_F(ControlsTest, AWrappingLabelKeepsToItsLineLimitAndMeasuresItsHeightForAWidth) {
    const std::string sentence = "SSH must connect without password prompts. Use SSH keys or an SSH agent, and "
                                 "connect once to confirm the host.";
    auto label = Label::wrappingLabelWithString(sentence);
    EXPECT_EQ(label->intrinsicContentSize().width, View::noIntrinsicMetric);
    const double oneLine = TextLayout::size(AttributedString("X", {.font = label->font()})).height;
    const double unlimited = label->heightForWidth(150);
    EXPECT_GT(unlimited, 3 * oneLine);
    EXPECT_LT(label->heightForWidth(300), unlimited);

    for (const int limit : {1, 2, 3}) {
        label->setMaximumNumberOfLines(limit);
        const double height = label->heightForWidth(150);
        EXPECT_NEAR(height, limit * oneLine, 1.0) << limit; // cut to the limit, no more
        label->setFrame({0, 0, 150, height});
        const std::string shown = label->displayedString(150).string();
        EXPECT_EQ(shown.substr(shown.size() - 3), "…") << limit;
        EXPECT_EQ(sentence.rfind(shown.substr(0, shown.size() - 3), 0), 0u) << limit; // a start of the text
        EXPECT_TRUE(label->isTruncated());
    }
    label->setMaximumNumberOfLines(0);
    label->setFrame({0, 0, 150, unlimited});
    EXPECT_FALSE(label->isTruncated());
    EXPECT_EQ(label->displayedString(150).string(), sentence);

    label->setPreferredMaxLayoutWidth(200);
    EXPECT_EQ(label->intrinsicContentSize().width, 200);
    EXPECT_EQ(label->intrinsicContentSize().height, label->heightForWidth(200));
}

TEST_F(ControlsTest, IntrinsicSizesGrowWithTheTitleAndImage) {
    for (const auto& make : {+[](std::string t) { return Button::withTitle(std::move(t)); },
                             +[](std::string t) { return Button::checkbox(std::move(t)); },
                             +[](std::string t) { return Button::radioButton(std::move(t)); }}) {
        const Size shortSize = make("OK")->intrinsicContentSize();
        auto longer = make("Open Login Items…");
        const Size longSize = longer->intrinsicContentSize();
        EXPECT_GT(longSize.width, shortSize.width);
        EXPECT_EQ(longSize.height, shortSize.height);
        longer->setImage(GraphicsImage::systemSymbol("power"));
        EXPECT_GT(longer->intrinsicContentSize().width, longSize.width);
    }
    auto small = Button::withTitle("Copy Path");
    const Size regular = small->intrinsicContentSize();
    small->setControlSize(ControlSize::small);
    EXPECT_LT(small->intrinsicContentSize().width, regular.width);
    EXPECT_LT(small->intrinsicContentSize().height, regular.height);

    auto label = Label::labelWithString("Short");
    const double shortWidth = label->intrinsicContentSize().width;
    label->setStringValue("A much longer label");
    EXPECT_GT(label->intrinsicContentSize().width, shortWidth);
}

TEST_F(ControlsTest, AScreenReaderReadsEachControlWithItsRoleAndState) {
    auto title = Label::labelWithString("Launch at Login");
    title->setFrame({20, 260, 200, 20});
    auto toggle = Switch::create();
    toggle->setFrame({300, 260, 32, 18});
    toggle->setAccessibilityLabel("Launch at Login");
    toggle->setState(ControlStateValue::on);
    auto remember = Button::checkbox("Remember", "remember");
    remember->setFrame({20, 220, 120, 20});
    auto ghostty = Button::radioButton("Ghostty", "choose");
    ghostty->setFrame({20, 190, 120, 20});
    ghostty->setState(ControlStateValue::on);
    auto save = Button::withTitle("Save…", "save");
    save->setFrame({20, 150, 80, 24});
    auto spinner = ProgressIndicator::create();
    spinner->setFrame({20, 100, 16, 16});
    spinner->setAccessibilityLabel("Paste in progress");
    auto icon = ImageView::withImage(GraphicsImage::systemSymbol("checkmark.circle", "Done"));
    icon->setFrame({20, 60, 24, 24});
    auto hiddenIcon = ImageView::withImage(GraphicsImage::systemSymbol("power"));
    hiddenIcon->setFrame({60, 60, 24, 24});
    hiddenIcon->setAccessibilityElement(false);
    auto separator = Box::separator({20, 40, 300, 1});
    auto window = frontWindow({title, toggle, remember, ghostty, save, spinner, icon, hiddenIcon, separator}, "Settings");

    EXPECT_EQ(ScreenReader::read(*window),
              (std::vector<std::string>{"Settings", "Launch at Login", "Launch at Login, on, switch",
                                        "Remember, unchecked, checkbox", "Ghostty, selected, radio button",
                                        "Save…, button", "Paste in progress, progress indicator", "Done, image"}));
    remember->performClick();
    EXPECT_EQ(ScreenReader::line(*remember), "Remember, checked, checkbox");
}

TEST_F(ControlsTest, TheSpinnerRecordsItsRotationWhileAnimatingAndHidesWhenStoppedIfAsked) {
    auto spinner = ProgressIndicator::create();
    spinner->setFrame({0, 0, 16, 16});
    spinner->setDisplayedWhenStopped(false);
    spinner->startAnimation();
    const auto rotation = spinner->layer()->animation(ProgressIndicator::animationKey);
    ASSERT_TRUE(rotation.has_value());
    EXPECT_EQ(rotation->repeatCount, BasicAnimation::repeatForever);
    RecordingContext running({16, 16});
    spinner->displayRecursively(running);
    spinner->stopAnimation();
    EXPECT_FALSE(spinner->layer()->animation(ProgressIndicator::animationKey).has_value());
    RecordingContext stopped({16, 16});
    spinner->displayRecursively(stopped);
    EXPECT_GT(running.operations().size(), stopped.operations().size());
}

} // namespace
