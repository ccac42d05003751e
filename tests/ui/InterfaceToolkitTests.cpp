#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/RunLoop.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceIcon.h"
#include "ui/InterfaceStyle.h"
#include "ui/PasteShortcutView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <variant>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

struct InterfaceToolkitTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override {
        AppKitControl::restoreSymbols();
        DesktopControl::reset();
    }
};

// The UTF-16 ranges set in the code font.
std::vector<TextRange> codeRanges(const Label& label) {
    std::vector<TextRange> ranges;
    for (const auto& run : label.attributedStringValue().runs()) {
        if (run.attributes.font == InterfaceStyle::Font::code()) ranges.push_back(run.range);
    }
    return ranges;
}

TEST_F(InterfaceToolkitTest, EveryOccurrenceOfEachCodeTermIsSetInTheCodeFont) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> code;
        std::vector<TextRange> expected;
    };
    const Case cases[] = {
        {"repeated", "Run ls, then ls -la", {"ls"}, {{4, 2}, {13, 2}}},
        {"empty term ignored", "Run ls", {"", "ls"}, {{4, 2}}},
        {"absent", "Run ls", {"cd"}, {}},
        {"after a non-BMP character", "📋 ls and ls", {"ls"}, {{3, 2}, {10, 2}}},
        {"search resumes after the occurrence", "aaa", {"aa"}, {{0, 2}}},
        {"case-sensitive", "SSH ssh", {"ssh"}, {{4, 3}}},
        {"several terms", "ssh -G build-host", {"build-host", "ssh"}, {{0, 3}, {7, 10}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto label = InterfaceStyle::label(c.text, true, c.code);
        EXPECT_EQ(label->stringValue(), c.text);
        EXPECT_EQ(codeRanges(*label), c.expected);
        // Everything else keeps the label's own font and colour.
        for (const auto& run : label->attributedStringValue().runs()) {
            EXPECT_EQ(run.attributes.foregroundColor, Color::secondaryLabelColor());
            if (run.attributes.font != InterfaceStyle::Font::code()) {
                EXPECT_EQ(run.attributes.font, InterfaceStyle::Font::body());
            }
        }
    }
}

TEST_F(InterfaceToolkitTest, ALabelWithoutCodeTermsIsPlainWrappingBodyText) {
    for (bool secondary : {false, true}) {
        auto label = InterfaceStyle::label("Copy an image, then press Control+V.", secondary, {});
        EXPECT_EQ(label->attributedStringValue(), AttributedString("Copy an image, then press Control+V."));
        EXPECT_EQ(label->font(), InterfaceStyle::Font::body());
        EXPECT_EQ(label->textColor(), secondary ? Color::secondaryLabelColor() : Color::labelColor());
        EXPECT_TRUE(label->wraps());
    }
}

TEST_F(InterfaceToolkitTest, TheIconsAreListedInOrderAndKnownByTheirSymbolNamesOnly) {
    const std::vector<std::string> expected = {
        "rectangle.grid.2x2", "calendar.badge.checkmark", "calendar", "quote.bubble",
        "bubble.left.and.bubble.right", "arrow.up.right", "gearshape", "desktopcomputer", "hand.raised",
        "internaldrive", "waveform.path.ecg", "questionmark.circle", "power", "arrow.down.circle",
        "rectangle.bottomthird.inset.filled", "photo.on.rectangle",
        "keyboard", "clock.arrow.circlepath", "doc.text.magnifyingglass", "terminal", "doc.on.clipboard", "network",
        "arrow.counterclockwise", "lock.shield", "checkmark.circle", "exclamationmark.circle",
        "exclamationmark.triangle", "info.circle", "xmark.circle", "arrow.right", "chevron.right", "chevron.down",
    };
    std::vector<std::string> names;
    for (InterfaceIcon icon : allCases<InterfaceIcon>()) {
        names.push_back(rawValue(icon));
        EXPECT_EQ(interfaceIconFrom(rawValue(icon)), icon);
        EXPECT_TRUE(image(icon, InterfaceIconStyle::inline_, std::nullopt)) << rawValue(icon);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(allCases<InterfaceIcon>().front(), InterfaceIcon::dashboard);
    EXPECT_EQ(allCases<InterfaceIcon>().back(), InterfaceIcon::disclosureExpanded);
    for (const char* unknown : {"", "Terminal", "terminal ", "chevron.up"}) EXPECT_EQ(interfaceIconFrom(unknown), std::nullopt);
}

TEST_F(InterfaceToolkitTest, AnIconIsItsSymbolAtTheStyleSizeOrNoneWhenTheSystemLacksIt) {
    const std::pair<InterfaceIconStyle, double> sizes[] = {
        {InterfaceIconStyle::inline_, 13}, {InterfaceIconStyle::sidebar, 17},    {InterfaceIconStyle::card, 21},
        {InterfaceIconStyle::feedback, 17}, {InterfaceIconStyle::disclosure, 12}, {InterfaceIconStyle::application, 24},
    };
    for (const auto& [style, points] : sizes) {
        auto icon = image(InterfaceIcon::success, style, "Done");
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->symbolName(), "checkmark.circle");
        EXPECT_EQ(icon->symbolConfiguration(), (SymbolConfiguration{points, FontWeight::medium, true}));
        EXPECT_EQ(icon->accessibilityDescription(), "Done");
    }

    AppKitControl::withdrawSymbol("checkmark.circle");
    EXPECT_EQ(image(InterfaceIcon::success, InterfaceIconStyle::card, "Done"), std::nullopt);
    EXPECT_TRUE(image(InterfaceIcon::warning, InterfaceIconStyle::card, std::nullopt));
    auto status = std::make_shared<ImageView>();
    InterfaceStyle::statusIcon(*status, InterfaceIcon::success, Color::systemGreen());
    EXPECT_EQ(status->image(), std::nullopt);

    InterfaceStyle::statusIcon(*status, InterfaceIcon::warning, Color::systemOrange());
    ASSERT_TRUE(status->image());
    EXPECT_EQ(status->image()->symbolConfiguration()->pointSize, 17);
    EXPECT_EQ(status->contentTintColor(), Color::systemOrange());
    EXPECT_FALSE(status->isAccessibilityElement());
}

// The alpha of the card's border as drawn now.
double borderAlpha(InterfaceCardView& card) {
    RecordingContext recording(card.bounds().size);
    card.draw(recording, card.bounds());
    for (const auto& operation : recording.operations()) {
        if (const auto* stroke = std::get_if<drawing::Stroke>(&operation)) return stroke->color.alpha;
    }
    ADD_FAILURE() << "the card drew no border";
    return -1;
}

TEST_F(InterfaceToolkitTest, ACardRedrawsWithAnOpaqueBorderWhenIncreaseContrastTurnsOn) {
    auto card = InterfaceCardView::create({0, 0, 200, 100});
    EXPECT_DOUBLE_EQ(borderAlpha(*card), 0.35);
    card->setNeedsDisplay(false);

    DesktopControl::setIncreaseContrast(true);
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return card->needsDisplay(); }, 5));
    EXPECT_DOUBLE_EQ(borderAlpha(*card), 1.0);

    // A card that is gone is no longer told.
    const auto observers = Workspace::notificationCenter().observerCount(
        WorkspaceNotificationName::accessibilityDisplayOptionsDidChange);
    card.reset();
    EXPECT_EQ(Workspace::notificationCenter().observerCount(
                  WorkspaceNotificationName::accessibilityDisplayOptionsDidChange),
              observers - 1);
}

TEST_F(InterfaceToolkitTest, AGroupStacksItsTitleAboveTheViewsInsideTheCard) {
    auto window = Window::create({0, 0, 360, 200}, WindowStyle::titled);
    auto text = InterfaceStyle::label("Uploads are kept for seven days, then removed from the remote host.", true,
                                      {});
    auto button = Button::withTitle("Clear");
    auto card = InterfaceStyle::group("Storage", {text, button});
    card->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto& content = *window->contentView();
    content.addSubview(card);
    ViewConstraint::activate({
        card->leadingAnchor().constraintEqualTo(content.leadingAnchor(), 20),
        card->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -20),
        card->topAnchor().constraintEqualTo(content.topAnchor(), 20),
    });
    window->layoutIfNeeded();

    ASSERT_TRUE(std::dynamic_pointer_cast<InterfaceCardView>(card));
    EXPECT_TRUE(window->layoutIssues().empty());
    EXPECT_EQ(card->frame().width(), 320);
    EXPECT_EQ(text->frame().width(), 280); // as wide as the column; the button keeps its own width
    EXPECT_LT(button->frame().width(), 280);
    EXPECT_EQ(ScreenReader::read(*window),
              (std::vector<std::string>{"Storage", "Uploads are kept for seven days, then removed from the remote host.",
                                        "Clear, button"}));
}

TEST_F(InterfaceToolkitTest, TheScreenReaderReadsTheShortcutAsControlPlusV) {
    auto window = Window::create({0, 0, 240, 80}, WindowStyle::titled);
    window->setTitle("Shortcut");
    auto shortcut = PasteShortcutView::create();
    shortcut->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto& content = *window->contentView();
    content.addSubview(shortcut);
    ViewConstraint::activate({
        shortcut->leadingAnchor().constraintEqualTo(content.leadingAnchor(), 20),
        shortcut->centerYAnchor().constraintEqualTo(content.centerYAnchor()),
    });
    window->layoutIfNeeded();

    EXPECT_EQ(ScreenReader::read(*window), (std::vector<std::string>{"Shortcut", "Control+V"}));
    RecordingContext recording = window->record();
    std::vector<std::string> texts;
    for (const auto& text : recording.texts()) texts.push_back(text.text.string());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "⌃V"), texts.end()); // drawn, never read
    for (const auto& issue : window->layoutIssues()) ADD_FAILURE() << issue.description;
}

} // namespace
