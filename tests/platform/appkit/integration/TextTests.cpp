#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/TextLayout.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

const Font body = Font::systemFont(13);

AttributedString bodyText(const std::string& text, ParagraphStyle style = {}) {
    return AttributedString(text, {.font = body, .paragraphStyle = style});
}

TEST(FontTest, EveryToolkitFontLoadsItsDejaVuFile) {
    const std::pair<Font, const char*> fonts[] = {
        {Font::boldSystemFont(26), "DejaVuSans-Bold.ttf"},
        {Font::systemFont(16, FontWeight::semibold), "DejaVuSans-Bold.ttf"},
        {Font::systemFont(13, FontWeight::medium), "DejaVuSans.ttf"},
        {Font::systemFont(12), "DejaVuSans.ttf"},
        {Font::monospacedSystemFont(13), "DejaVuSansMono.ttf"},
        {Font::monospacedSystemFont(13, FontWeight::bold), "DejaVuSansMono-Bold.ttf"},
        {Font::monospacedDigitSystemFont(40, FontWeight::semibold), "DejaVuSans-Bold.ttf"},
    };
    for (const auto& [font, file] : fonts) {
        EXPECT_EQ(std::filesystem::path(font.fileName()), std::filesystem::path("/usr/share/fonts/truetype/dejavu") / file)
            << font.familyName() << " " << font.pointSize();
        // Metrics scale with the size: DejaVu's ascender is 0.928 of it, its capitals 0.729.
        EXPECT_NEAR(font.ascender(), 0.928 * font.pointSize(), 0.01 * font.pointSize());
        EXPECT_NEAR(font.capHeight(), 0.729 * font.pointSize(), 0.01 * font.pointSize());
        EXPECT_LT(font.descender(), 0);
        EXPECT_GE(font.lineHeight(), font.ascender() - font.descender());
    }
}

TEST(TextLayoutTest, HelloMeasuresTheSameAtOneAndTwoPixelsPerPoint) {
    const auto hello = bodyText("Hello");
    EXPECT_NEAR(TextLayout::layout(hello, TextLayout::unlimited, 1).size.width, 32.95, 0.005);
    EXPECT_NEAR(TextLayout::layout(hello, TextLayout::unlimited, 2).size.width, 32.95, 0.005);
    // Monospaced digits: every digit is as wide as every other.
    const Font digits = Font::monospacedDigitSystemFont(13);
    EXPECT_EQ(TextLayout::size(AttributedString("1111", {.font = digits})).width,
              TextLayout::size(AttributedString("8888", {.font = digits})).width);
}

TEST(TextLayoutTest, WrappedTextIsAsTallAsItsLinesAndParagraphsAddTheirSpacing) {
    // Monospaced words of four letters: the line breaks are known from the width in letters.
    const Font code = Font::monospacedSystemFont(13);
    const AttributedString text("aaaa bbbb cccc dddd", {.font = code});
    const double letter = TextLayout::size(AttributedString("a", {.font = code})).width;
    const struct {
        double letters;
        int lines;
    } cases[] = {{19, 1}, {14, 2}, {9, 2}, {8.9, 4}, {4, 4}};
    for (const auto& c : cases) {
        const auto size = TextLayout::size(text, c.letters * letter + 0.001);
        EXPECT_NEAR(size.height, c.lines * code.lineHeight(), 0.01) << c.letters;
        EXPECT_LE(size.width, c.letters * letter + 0.001);
    }
    EXPECT_NEAR(TextLayout::size(text).height, code.lineHeight(), 0.01);

    ParagraphStyle spaced;
    spaced.paragraphSpacing = 6;
    spaced.lineSpacing = 2;
    const double lineHeight = body.lineHeight();
    EXPECT_NEAR(TextLayout::size(bodyText("first\nsecond", spaced)).height, 2 * lineHeight + 6, 0.01);
    const double wordWidth = TextLayout::size(bodyText("second")).width + 1;
    EXPECT_NEAR(TextLayout::size(bodyText("first second", spaced), wordWidth).height, 2 * lineHeight + 2, 0.01);
    EXPECT_NEAR(TextLayout::layout(bodyText("Hello")).firstBaseline, body.ascender(), 0.01);
}

TEST(TextLayoutTest, TruncationHappensExactlyWhenTheTextIsWiderThanItsBox) {
    ParagraphStyle tail;
    tail.lineBreakMode = LineBreakMode::byTruncatingTail;
    const auto text = bodyText("Couldn’t paste image — check the terminal", tail);
    const double width = TextLayout::size(text).width;
    EXPECT_FALSE(TextLayout::layout(text, width).truncated);
    const auto narrower = TextLayout::layout(text, width - 0.01);
    EXPECT_TRUE(narrower.truncated);
    EXPECT_LE(narrower.size.width, width - 0.01 + 0.001);
    EXPECT_NEAR(narrower.size.height, body.lineHeight(), 0.01); // still one line
}

TEST(TextLayoutTest, TabStopsPlaceTheNextColumn) {
    ParagraphStyle tabbed;
    tabbed.tabStops = {{TextAlignment::left, 88}};
    const auto text = bodyText("Host\tme@example", tabbed);
    EXPECT_NEAR(TextLayout::horizontalOffset(text, 5), 88, 0.001);
}

TEST(TextLayoutTest, CodeRangesAfterACharacterOutsideTheBasicPlaneUseTheCodeFont) {
    AttributedString text("𝔸 run ssh now", {.font = body});
    const auto range = *text.rangeOf("ssh");
    text.setFont(Font::monospacedSystemFont(13), range);
    EXPECT_EQ(TextLayout::familyAt(text, range.location), "DejaVu Sans Mono");
    EXPECT_EQ(TextLayout::familyAt(text, range.end() - 1), "DejaVu Sans Mono");
    EXPECT_EQ(TextLayout::familyAt(text, range.location - 1), "DejaVu Sans");
    EXPECT_EQ(TextLayout::familyAt(text, range.end()), "DejaVu Sans");
    EXPECT_TRUE(TextLayout::layout(text).allGlyphsFound);
}

TEST(LayoutAuditTest, ReportsTextThatOverflowsItsBoxOrLacksGlyphs) {
    RecordingContext recording({300, 100});
    const auto hello = bodyText("Hello");
    const Size fits = TextLayout::size(hello);
    recording.drawText(hello, {0, 0, fits.width, fits.height});
    EXPECT_TRUE(auditLayout(recording).empty());

    recording.drawText(bodyText("A sentence that cannot fit"), {10, 50, 60, fits.height});
    recording.drawText(bodyText("漢字"), {0, 80, 100, 20});
    const auto issues = auditLayout(recording);
    ASSERT_EQ(issues.size(), 2u);
    EXPECT_EQ(issues[0], (LayoutIssue{LayoutIssue::Kind::textDoesNotFit, "A sentence that cannot fit",
                                      {10, 50, 60, fits.height}}));
    EXPECT_EQ(issues[1].kind, LayoutIssue::Kind::missingGlyphs);
}

} // namespace
