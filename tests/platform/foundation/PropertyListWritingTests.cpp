// The XML writer within the limits the readers apply, and values of forms other writers use.

#include "platform/foundation/PropertyList.h"
#include "support/TemporaryDirectory.h"

#include "PropertyListFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace tarpelix::platform;
using namespace tarpelix::testing::plist;
using tarpelix::testing::TemporaryDirectory;
using Array = PropertyListValue::Array;
using Dictionary = PropertyListValue::Dictionary;

namespace {

PropertyListValue nestedArrays(std::size_t depth, PropertyListValue inner) {
    for (std::size_t i = 0; i < depth; ++i)
        inner = Array{std::move(inner)};
    return inner;
}

} // namespace

// On each side of every reading limit: what is written reads back from a file, and what would
// not read is not written.
TEST(PropertyListWriting, WritesJustWhatReadsBack) {
    TemporaryDirectory directory;
    // What is left for the content of a string or data at the top.
    const std::size_t room = PropertyList::maximumSize - PropertyList::xml(std::string()).value().size();
    const std::size_t dataRoom = PropertyList::maximumSize - PropertyList::xml(Bytes()).value().size();
    const struct {
        const char* name;
        PropertyListValue fits;
        PropertyListValue doesNot;
    } cases[] = {
        {"text at the size a file is read at", std::string(room, 'a'), std::string(room + 1, 'a')},
        {"references counted as written", std::string(room / 5, '&'), std::string(room / 5 + 1, '&')},
        {"data in Base64", Bytes(dataRoom / 4 * 3, 7), Bytes(dataRoom / 4 * 3 + 1, 7)},
        {"values (the array is one)", Array(PropertyList::maximumValues - 1, true),
         Array(PropertyList::maximumValues, true)},
        {"levels", nestedArrays(PropertyList::maximumDepth, 1), nestedArrays(PropertyList::maximumDepth + 1, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto text = PropertyList::xml(c.fits);
        ASSERT_TRUE(text);
        EXPECT_LE(text->size(), PropertyList::maximumSize);
        const auto path = directory.write("fits.plist", *text);
        const auto read = PropertyList::readFile(path);
        ASSERT_TRUE(read);
        EXPECT_TRUE(*read == c.fits);
        EXPECT_FALSE(PropertyList::xml(c.doesNot));
    }
}

TEST(PropertyListWriting, DeepValuesAreIndentedNoFurtherThanTheCap) {
    const auto value = PropertyListValue(Dictionary{{"a", nestedArrays(510, Array(1000, true))}});
    const auto text = PropertyList::xml(value);
    ASSERT_TRUE(text);
    std::size_t deepest = 0, lines = 0, at = 0;
    while (at < text->size()) {
        const auto end = text->find('\n', at);
        deepest = std::max(deepest, text->find_first_not_of('\t', at) - at);
        ++lines;
        at = end + 1;
    }
    EXPECT_EQ(deepest, PropertyList::maximumIndentation);
    EXPECT_GT(lines, 2000u);
    const auto read = parse(*text);
    ASSERT_TRUE(read);
    EXPECT_TRUE(*read == value);
}

// Values other writers store in forms this system never writes, read beside their neighbours
// and written back so that they read the same.
TEST(PropertyListForeignValues, SixteenByteIntegersAndRealsPastADoubleReadAndRoundTrip) {
    const auto sixteenBytes = [](std::uint64_t upper, std::uint64_t lower) {
        BinaryList list;
        list.referenceSize = 1;
        list.objects = {marker(0xD, 2) + "\x01\x02\x03\x04", asciiObject("before"), asciiObject("value"),
                        "\x09", "\x14" + bigEndian(upper, 8) + bigEndian(lower, 8)};
        return list.bytes();
    };
    const auto xmlReal = [](const std::string& text) {
        return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>before</key><true/>)"
               "<key>value</key><real>" +
               text + "</real></dict></plist>";
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        std::string bytes;
        PropertyListValue expected;
    } cases[] = {
        {"unsigned past the largest signed", sixteenBytes(0, ~std::uint64_t{0}), std::int64_t{-1}},
        {"small unsigned", sixteenBytes(0, 5), 5},
        {"negative, sign-extended", sixteenBytes(~std::uint64_t{0}, static_cast<std::uint64_t>(-5)), -5},
        {"real past the largest double", xmlReal("1e400"), infinity},
        {"negative real past the largest double", xmlReal("-1e400"), -infinity},
        {"real below the smallest subnormal", xmlReal("1e-400"), 0.0},
        {"just under half the smallest subnormal", xmlReal("2.4e-324"), 0.0},
        {"nearer the smallest subnormal than zero", xmlReal("3e-324"), std::numeric_limits<double>::denorm_min()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = parse(c.bytes);
        ASSERT_TRUE(read);
        const auto* values = read->get<Dictionary>();
        ASSERT_TRUE(values && values->contains("before") && values->contains("value"));
        EXPECT_EQ(values->at("before"), PropertyListValue(true));
        EXPECT_EQ(values->at("value"), c.expected);
        const auto again = parse(PropertyList::xml(*read).value());
        ASSERT_TRUE(again);
        EXPECT_TRUE(*again == *read);
    }
    // The sign of a zero that underflowed is kept.
    const auto negativeZero = parse(xmlReal("-1e-400"));
    ASSERT_TRUE(negativeZero);
    const double zero = *negativeZero->get<Dictionary>()->at("value").get<double>();
    EXPECT_TRUE(zero == 0.0 && std::signbit(zero));
    // Values that do not fit in 64 bits, and text that is no number however it is read.
    for (const auto& refused : {sixteenBytes(1, 0), sixteenBytes(~std::uint64_t{0}, 5),
                                sixteenBytes(0x8000'0000'0000'0000, 0), xmlReal("1e400x"), xmlReal("1e")})
        EXPECT_FALSE(parse(refused));
}
