#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TemporaryDirectory.h"

#include "PropertyListFiles.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarpelix::platform;
using tarpelix::testing::TemporaryDirectory;
using namespace tarpelix::testing::plist;

namespace {

constexpr std::size_t limit = PropertyList::maximumDepth;

std::size_t depthOf(const PropertyListValue& value) {
    std::size_t depth = 0;
    for (const auto* current = &value;;) {
        if (auto* array = current->get<PropertyListValue::Array>()) {
            ++depth;
            if (array->empty()) return depth;
            current = &array->front();
        } else if (auto* dictionary = current->get<PropertyListValue::Dictionary>()) {
            ++depth;
            if (dictionary->empty()) return depth;
            current = &dictionary->begin()->second;
        } else {
            return depth;
        }
    }
}

} // namespace

TEST(PropertyListDepth, ReadsWholeAtTheLimitAndRefusesAnythingDeeper) {
    const struct {
        const char* form;
        std::size_t depth;
        std::string bytes;
    } cases[] = {
        {"xml", limit, nestedXML(limit)},
        {"xml", limit + 1, nestedXML(limit + 1)},
        {"xml", 10'000, nestedXML(10'000)},
        {"binary", limit, nestedBinary(limit)},
        {"binary", limit + 1, nestedBinary(limit + 1)},
        {"binary", 10'000, nestedBinary(10'000)},
        {"binary", 200'000, nestedBinary(200'000)}, // deep enough to overflow a reader that recursed
    };
    for (const auto& c : cases) {
        auto value = parse(c.bytes);
        if (c.depth <= limit) {
            ASSERT_TRUE(value) << c.form << " " << c.depth;
            EXPECT_EQ(depthOf(*value), c.depth) << c.form;
        } else {
            EXPECT_FALSE(value) << c.form << " " << c.depth;
        }
    }
}

TEST(PropertyListDepth, OnlyRealContainersCountInXML) {
    // Tags inside comments, CDATA and quoted attribute values (in either quote) are not elements.
    std::string deepLookingText = "<!--" + nestedXML(2 * limit) + "-->";
    std::string xml = R"(<?xml version="1.0"?><plist version="1.0" note="&lt;array>" other='&lt;array>'>)" +
                      deepLookingText + "<array><string><![CDATA[" + std::string(3 * limit, '<') +
                      "array>]]></string>" + "<array/><dict/></array></plist>";
    auto value = parse(xml);
    ASSERT_TRUE(value);
    auto* array = value->get<PropertyListValue::Array>();
    ASSERT_TRUE(array);
    EXPECT_EQ(array->size(), 3u);
}

TEST(PropertyListDepth, RefusesBinaryCyclesAndSharedObjectsThatExpandBeyondMeasure) {
    // An array holding itself.
    EXPECT_FALSE(parse(binaryPlist(1, [](std::size_t) { return arrayOf({0}); })));
    // Forty levels, each referring twice to the next: 2^40 values once expanded.
    EXPECT_FALSE(parse(binaryPlist(41, [](std::size_t i) {
        return i < 40 ? arrayOf({i + 1, i + 1}) : std::string("\x09");
    })));
    // Sharing that stays small is read as the tree it stands for.
    auto shared = parse(binaryPlist(3, [](std::size_t i) {
        return i == 0 ? arrayOf({1, 1}) : i == 1 ? arrayOf({2, 2}) : std::string("\x08");
    }));
    ASSERT_TRUE(shared);
    EXPECT_EQ(*shared, PropertyListValue(PropertyListValue::Array{PropertyListValue::Array{false, false},
                                                                  PropertyListValue::Array{false, false}}));
}

TEST(PropertyListDepth, DefaultsOverADeepFileReadEmptyAndTheNextChangeRewritesItValid) {
    TemporaryDirectory directory;
    for (const auto& bytes : {nestedXML(10'000), nestedBinary(10'000)}) {
        auto path = directory.write("UserDefaults.plist", bytes);
        auto defaults = UserDefaults::create(path);
        EXPECT_FALSE(defaults->object("a"));
        EXPECT_FALSE(defaults->boolean("showPasteOverlay"));
        defaults->set("showPasteOverlay", false);
        auto reread = UserDefaults::create(path);
        EXPECT_EQ(reread->boolean("showPasteOverlay"), false);
        EXPECT_FALSE(reread->object("a"));
    }
}
