#include "platform/appkit/AttributedString.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace tarpelix::platform;

namespace {

const Font body = Font::systemFont(13);
const Font code = Font::monospacedSystemFont(13);

TEST(AttributedStringTest, RunsSplitAndMergeSoEqualStringsCompareEqual) {
    AttributedString built("run ssh host", {.font = body});
    built.setFont(code, {4, 3});
    ASSERT_EQ(built.runs().size(), 3u);
    EXPECT_EQ(built.runs()[1], (AttributedString::Run{{4, 3}, {.font = code}}));
    EXPECT_EQ(built.attributes(5).font, code);
    EXPECT_EQ(built.attributes(7).font, body);

    AttributedString appended("run ", {.font = body});
    appended.append(AttributedString("ssh", {.font = code}));
    appended.append(AttributedString(" host", {.font = body}));
    EXPECT_EQ(built, appended);

    // Setting the body font back over the range leaves one run again.
    built.setFont(body, {0, built.length()});
    EXPECT_EQ(built, AttributedString("run ssh host", {.font = body}));
    EXPECT_NE(built, AttributedString("run ssh host", {.font = body, .foregroundColor = Color::labelColor()}));
}

TEST(AttributedStringTest, AddingAttributesKeepsTheOthersWhileSettingReplacesThem) {
    AttributedString text("abc", {.font = body, .foregroundColor = Color::labelColor()});
    text.addAttributes({.foregroundColor = Color::systemRed()}, {1, 1});
    EXPECT_EQ(text.attributes(1), (TextAttributes{.font = body, .foregroundColor = Color::systemRed()}));
    text.setAttributes({.foregroundColor = Color::systemRed()}, {1, 1});
    EXPECT_EQ(text.attributes(1).font, std::nullopt);
    EXPECT_THROW(text.setFont(code, {2, 2}), std::out_of_range);
}

TEST(AttributedStringTest, UTF16RangesMapToBytesAfterCharactersOutsideTheBasicPlane) {
    // "𝔸" is one character, two UTF-16 units and four bytes; "é" is one unit and two bytes.
    AttributedString text("𝔸é code");
    EXPECT_EQ(text.length(), 8u);
    EXPECT_EQ(text.utf8Offset(2), 4u);
    EXPECT_EQ(text.utf8Offset(3), 6u);
    EXPECT_EQ(text.utf8Offset(1), 0u); // inside the pair: the character's start
    EXPECT_EQ(text.rangeOf("code"), (TextRange{4, 4}));
    EXPECT_EQ(text.rangeOf("code", 5), std::nullopt);
    // Invalid UTF-8 is held as a Foundation string holds it.
    EXPECT_EQ(AttributedString("a\xFF").string(), "a\xEF\xBF\xBD");
}

TEST(AttributedStringTest, ResolvingColoursFixesThemUnderTheCurrentAppearance) {
    AttributedString text("label", {.foregroundColor = Color::labelColor()});
    DrawingAppearanceScope scope({Appearance::dark, false});
    const auto resolved = text.resolvingColors();
    ASSERT_TRUE(resolved.attributes(0).foregroundColor);
    EXPECT_FALSE(resolved.attributes(0).foregroundColor->isDynamic());
    EXPECT_EQ(resolved.attributes(0).foregroundColor->resolved(), Color::labelColor().resolved());
}

} // namespace
