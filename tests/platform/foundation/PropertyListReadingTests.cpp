#include "platform/foundation/PropertyList.h"
#include "support/TemporaryDirectory.h"

#include "PropertyListFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

using namespace tarpelix::platform;
using namespace tarpelix::testing::plist;
using tarpelix::testing::TemporaryDirectory;
using Array = PropertyListValue::Array;
using Dictionary = PropertyListValue::Dictionary;

namespace {

std::string inPlist(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">)" +
           body + "</plist>";
}

std::optional<PropertyListValue> roundTrip(const PropertyListValue& value) {
    return parse(PropertyList::xml(value).value());
}

} // namespace

TEST(PropertyListReading, ReadsEveryElementAsBefore) {
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        std::string body;
        PropertyListValue expected;
    } cases[] = {
        {"<integer>-5</integer>", -5},
        {"<integer> 12 </integer>", 12},
        {"<integer>+7</integer>", 7},
        {"<integer>0x10</integer>", 16},
        {"<integer>-9223372036854775808</integer>", std::numeric_limits<std::int64_t>::min()},
        {"<integer>18446744073709551615</integer>", -1}, // kept in its two's-complement form
        {"<real>0.10000000000000001</real>", 0.1},
        {"<real>1e+100</real>", 1e100},
        {"<real>3</real>", 3.0},
        {"<real> .5 </real>", 0.5},
        {"<real>+1e3</real>", 1000.0},
        {"<real>-infinity</real>", -infinity},
        {"<real>+infinity</real>", infinity},
        {"<real>inf</real>", infinity},
        {"<true/>", true},
        {"<true></true>", true},
        {"<false/>", false},
        {"<string>a &amp; &lt;b&gt; &#x41;&#66; <![CDATA[<c>]]>\t</string>", "a & <b> AB <c>\t"},
        {"<string/>", ""},
        {"<string>caf\xC3\xA9 \xE2\x80\x9C\xF0\x9F\x93\x8B\xE2\x80\x9D</string>",
         "caf\xC3\xA9 \xE2\x80\x9C\xF0\x9F\x93\x8B\xE2\x80\x9D"},
        {"<data> aGVs\n\tbG8= </data>", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"<data>aGVsbG8</data>", Bytes{'h', 'e', 'l', 'l', 'o'}}, // unpadded
        {"<data/>", Bytes{}},
        {"<array><date>2020-01-01T00:00:00Z</date><true/><!-- a comment --></array>", Array{true}},
        {"<dict><key>when</key><date>x</date><key>a</key><true/><key>a</key><false/></dict>",
         Dictionary{{"a", false}}},
        {"<array/><!-- after -->", Array{}},
    };
    for (const auto& c : cases) {
        auto value = parse(inPlist(c.body));
        ASSERT_TRUE(value) << c.body;
        EXPECT_EQ(*value, c.expected) << c.body;
    }
    EXPECT_TRUE(std::isnan(*parse(inPlist("<real>nan</real>"))->get<double>()));
    EXPECT_TRUE(std::signbit(*parse(inPlist("<real>-0.0</real>"))->get<double>()));
    // Without the plist element around it, as an older writer may have left it.
    EXPECT_EQ(parse("<dict><key>a</key><true/></dict>"), PropertyListValue(Dictionary{{"a", true}}));
    // A date at the top is left out, so there is no value.
    EXPECT_FALSE(parse(inPlist("<date>2020-01-01T00:00:00Z</date>")));
}

TEST(PropertyListReading, ReadsTheDefaultsFileTheEarlierWriterLeft) {
    // Written by the libplist-based writer this system used before, kept byte for byte.
    const std::string file = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n"
                             "\t<key>neg</key>\n\t<integer>-42</integer>\n"
                             "\t<key>r1</key>\n\t<real>0.10000000000000001</real>\n"
                             "\t<key>r4</key>\n\t<real>-infinity</real>\n"
                             "\t<key>s</key>\n\t<string>a&amp;b&lt;c&gt;\"'\r\n\t ]]&gt; \xC3\xA9</string>\n"
                             "\t<key>d</key>\n\t<data>\n\taGVsbG8gd29y\n\tbGQ=\n\t</data>\n"
                             "\t<key>e</key>\n\t<array/>\n\t<key>f</key>\n\t<dict/>\n"
                             "\t<key>g</key>\n\t<string></string>\n"
                             "\t<key>h</key>\n\t<data>\n\t</data>\n"
                             "</dict>\n</plist>\n";
    const PropertyListValue expected = Dictionary{
        {"neg", -42},
        {"r1", 0.1},
        {"r4", -std::numeric_limits<double>::infinity()},
        {"s", "a&b<c>\"'\n\t ]]> \xC3\xA9"}, // the carriage return was never kept
        {"d", bytesOf("hello world")},
        {"e", Array{}},
        {"f", Dictionary{}},
        {"g", ""},
        {"h", Bytes{}},
    };
    EXPECT_EQ(parse(file), expected);
}

TEST(PropertyListReading, RefusesWhatIsNotAWellFormedPropertyList) {
    const std::string cases[] = {
        // Declarations: an internal subset, entities, an entity no one declared.
        R"(<?xml version="1.0"?><!DOCTYPE plist [ ]><plist><true/></plist>)",
        R"(<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY a "aaaa"><!ENTITY b "&a;&a;&a;">]><plist><string>&b;</string></plist>)",
        R"(<?xml version="1.0"?><!DOCTYPE plist SYSTEM "file:///etc/passwd"><plist><string>&x;</string></plist>)",
        R"(<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY x SYSTEM "file:///etc/passwd">]><plist><string>&x;</string></plist>)",
        // Not XML.
        inPlist("<dict><key>a</key><true/>"),
        inPlist("<array></dict>"),
        R"(<plist note="<array>"><true/></plist>)",
        inPlist("<true/>") + "trailing",
        "",
        "not a property list",
        // Not a property list's structure.
        inPlist(""),
        "<plist/>",
        inPlist("<true/><false/>"),
        inPlist("<dict><key>a</key></dict>"),
        inPlist("<dict><true/></dict>"),
        inPlist("<dict><key>a</key><key>b</key><true/></dict>"),
        inPlist("<array>text<true/></array>"),
        inPlist("<unknown/>"),
        inPlist("<array><unknown/></array>"),
        inPlist("<string><true/></string>"),
        inPlist("<key>k</key>"),
        inPlist("<array><plist><true/></plist></array>"),
        // Values that do not read as their kind.
        inPlist("<integer>12abc</integer>"),
        inPlist("<integer></integer>"),
        inPlist("<integer>99999999999999999999</integer>"),
        inPlist("<integer>-9223372036854775809</integer>"),
        inPlist("<real>abc</real>"),
        inPlist("<real>1,5</real>"),
        inPlist("<real>+-1</real>"),
        inPlist("<data>!!!</data>"),
        inPlist("<data>a</data>"),
        inPlist("<true>x</true>"),
    };
    for (const auto& bytes : cases)
        EXPECT_FALSE(parse(bytes)) << bytes;
}

TEST(PropertyListReading, ReadsBinaryListsAndRefusesWhatTheirTableDoesNotHold) {
    // [int8 200, int16, int32, int64 -2, float 0.5, double 0.25, "ascii", UTF-16 "é😀" and a lone
    // surrogate, data, date, identifier, set, null] and {"k": true}
    BinaryList list;
    list.objects = {
        arrayOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}),
        "\x10\xC8",
        std::string("\x11\x01\x00", 3),
        std::string("\x12\x00\x01\x00\x00", 5),
        "\x13" + bigEndian(static_cast<std::uint64_t>(-2), 8),
        std::string("\x22\x3F\x00\x00\x00", 5),
        "\x23" + bigEndian(0x3FD0000000000000, 8),
        asciiObject("ascii"),
        marker(0x6, 4) + std::string("\x00\xE9\xD8\x3D\xDE\x00\xD8\x00", 8),
        std::string("\x43\x01\x02\x00", 4),
        "\x33" + bigEndian(0, 8),
        "\x80\x07",
        std::string("\xC1\x00\x00\x00\x0F", 5),
        std::string("\x00", 1),
        marker(0xD, 1) + bigEndian(16, 4) + bigEndian(15, 4),
        "\x09",
        asciiObject("k"),
    };
    const PropertyListValue expected = Array{
        200,
        256,
        65536,
        -2,
        0.5,
        0.25,
        "ascii",
        "\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD",
        Bytes{1, 2, 0},
        Dictionary{{"k", true}},
    };
    EXPECT_EQ(parse(list.bytes()), expected);

    const auto changed = [&list](auto change) {
        BinaryList copy = list;
        change(copy);
        return copy.bytes();
    };
    const struct {
        const char* name;
        std::string bytes;
    } refusals[] = {
        {"reference size 0", changed([](auto& l) { l.referenceSize = 0; })},
        {"reference size 9", changed([](auto& l) { l.referenceSize = 9; })},
        {"offset size 9", changed([](auto& l) { l.offsetSize = 9; })},
        {"top past the objects", changed([](auto& l) { l.top = l.objects.size(); })},
        {"more objects declared than the table holds", changed([](auto& l) { l.declaredCount = 18; })},
        {"no objects", changed([](auto& l) { l.declaredCount = 0; })},
        {"a reference past the objects", changed([](auto& l) { l.objects[0] = arrayOf({17}); })},
        {"a count past the file",
         changed([](auto& l) { l.objects[0] = marker(0xA, 1000) + bigEndian(1, 4); })},
        {"a 16-byte count", changed([](auto& l) { l.objects[0] = arrayOf({1}, 4, 16); })},
        {"a 16-byte integer past 64 bits", changed([](auto& l) { l.objects[1] = "\x14" + bigEndian(1, 8) + bigEndian(0, 8); })},
        {"a 2-byte real", changed([](auto& l) { l.objects[5] = std::string("\x21\x00\x00", 3); })},
        {"a kind with no meaning", changed([](auto& l) { l.objects[1] = "\x90"; })},
        {"a key that is no string", changed([](auto& l) { l.objects[16] = "\x09"; })},
        {"a string running into the offset table", changed([](auto& l) { l.objects[16] = marker(0x5, 60); })},
        {"another version", "bplist01" + list.bytes().substr(8)},
        {"cut short", list.bytes().substr(0, 40)},
    };
    for (const auto& refusal : refusals)
        EXPECT_FALSE(parse(refusal.bytes)) << refusal.name;
    // An offset that points into the offset table, outside the objects.
    auto bytes = list.bytes();
    const auto table = bytes.size() - 32 - 4 * list.objects.size();
    bytes.replace(table + 4, 4, bigEndian(table, 4));
    EXPECT_FALSE(parse(bytes)) << "offset outside the object area";
}

TEST(PropertyListReading, ExpansionIsRefusedOnePastEitherLimit) {
    // One 4 KB string shared by every entry of an array: 16 MB of strings at the limit.
    const auto sharedString = [](std::size_t references) {
        BinaryList list;
        std::string array = marker(0xA, references, 4);
        for (std::size_t i = 0; i < references; ++i)
            array += bigEndian(1, 4);
        list.objects = {array, asciiObject(std::string(4096, 's'))};
        return list.bytes();
    };
    const std::size_t atByteLimit = PropertyList::maximumExpandedBytes / 4096;
    auto whole = parse(sharedString(atByteLimit));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->get<Array>()->size(), atByteLimit);
    EXPECT_FALSE(parse(sharedString(atByteLimit + 1)));
    // An array of `true`s in XML: the array is a value too.
    const auto trues = [](std::size_t count) {
        std::string body = "<array>";
        for (std::size_t i = 0; i < count; ++i)
            body += "<true/>";
        return inPlist(body + "</array>");
    };
    EXPECT_TRUE(parse(trues(PropertyList::maximumValues - 1)));
    EXPECT_FALSE(parse(trues(PropertyList::maximumValues)));
}

TEST(PropertyListReading, EveryValueKindGoesThroughXMLAndBackEqual) {
    Bytes everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.push_back(static_cast<std::uint8_t>(b));
    const PropertyListValue value = Dictionary{
        {"booleans", Array{true, false}},
        {"integers", Array{0, -1, 42, std::numeric_limits<std::int64_t>::min(),
                           std::numeric_limits<std::int64_t>::max()}},
        {"reals", Array{0.1, 1e300, -2.5e-308, 5e-324, 3.0, std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()}},
        {"strings", Array{"", "plain", "a & <b> ]]> \"'", "\r\n\t\r", " spaces ",
                          "\xC2\x85\xEF\xBF\xBD\xF0\x9F\x93\x8B"}},
        {"data", Array{Bytes{}, everyByte}},
        {"nested", Array{Array{}, Dictionary{}, Array{Dictionary{{"deeper", Array{1}}}}}},
        {"key & <odd> \r", "value"},
        {"", "empty key"},
    };
    EXPECT_EQ(roundTrip(value), value);
    for (const PropertyListValue& scalar :
         {PropertyListValue(true), PropertyListValue(7), PropertyListValue("top")})
        EXPECT_EQ(roundTrip(scalar), scalar);
    EXPECT_TRUE(std::isnan(*roundTrip(std::numeric_limits<double>::quiet_NaN())->get<double>()));
    EXPECT_TRUE(std::signbit(*roundTrip(-0.0)->get<double>()));
}

TEST(PropertyListReading, StringsXMLCannotCarryAreLeftOutOfWhatIsWritten) {
    // Such strings come only from binary lists: read one, write it, read it back.
    BinaryList list;
    list.objects = {
        marker(0xD, 4) + bigEndian(1, 4) + bigEndian(2, 4) + bigEndian(3, 4) + bigEndian(4, 4) +
            bigEndian(5, 4) + bigEndian(6, 4) + bigEndian(7, 4) + bigEndian(8, 4),
        asciiObject("kept"),
        asciiObject("control"),
        asciiObject("bad\x01key"),
        asciiObject("list"),
        asciiObject("value"),
        asciiObject("bell\x07"),
        asciiObject("fine"),
        arrayOf({9, 10, 11, 12}),
        asciiObject("ok"),
        asciiObject(std::string("nul\0", 4)),
        asciiObject("\xFF invalid"),
        marker(0x6, 1) + "\xFF\xFE",
    };
    auto read = parse(list.bytes());
    ASSERT_TRUE(read);
    ASSERT_EQ(read->get<Dictionary>()->size(), 4u) << "the binary reader keeps them";
    const PropertyListValue expected = Dictionary{{"kept", "value"}, {"list", Array{"ok"}}};
    EXPECT_EQ(roundTrip(*read), expected);
    // At the top, nothing is left to write.
    EXPECT_FALSE(roundTrip(PropertyListValue(std::string("\x02"))));

    for (const auto& [text, carried] :
         std::initializer_list<std::pair<std::string, bool>>{{"\t\n\r ~\x7F\xC2\x80", true},
                                                             {std::string("\0", 1), false},
                                                             {"\x1F", false},
                                                             {"\xEF\xBF\xBE", false},
                                                             {"\xEF\xBF\xBF", false},
                                                             {"\xED\xA0\x80", false},
                                                             {"\xC0\xAF", false}})
        EXPECT_EQ(PropertyList::xmlCanCarry(text), carried) << ::testing::PrintToString(text);
}

TEST(PropertyListReading, ReadFileRefusesAFileLargerThanTheLimitBeforeReadingIt) {
    TemporaryDirectory directory;
    std::string body = inPlist("<string>" + std::string(PropertyList::maximumSize - 400, 'a') + "</string>");
    auto path = directory.write("at-limit.plist", body);
    ASSERT_LE(body.size(), PropertyList::maximumSize);
    EXPECT_TRUE(PropertyList::readFile(path));
    body.insert(body.find("<string>") + 8, std::string(PropertyList::maximumSize, 'a'));
    EXPECT_FALSE(PropertyList::readFile(directory.write("past-limit.plist", body)));
    EXPECT_FALSE(PropertyList::readFile(directory.path())) << "a directory";
}

TEST(PropertyListReading, ACommentOrInstructionOfAnySizeUpToTheFileLimitReadsWithTheKeysBesideIt) {
    // Expat holds such a token whole; the keys on either side of it must still be read.
    const auto document = [](const std::string& token) {
        return inPlist("<dict><key>before</key><string>one</string>" + token +
                       "<key>after</key><string>two</string></dict>");
    };
    const std::size_t frame = document("").size();
    const struct {
        const char* name;
        std::string token;
    } cases[] = {
        {"600 KB comment", "<!--" + std::string(600'000, 'c') + "-->"},
        {"5 MB comment", "<!--" + std::string(5'000'000, 'c') + "-->"},
        {"5 MB processing instruction", "<?note " + std::string(5'000'000, 'p') + "?>"},
        // Just past a power of two, where expat's buffer doubles while the old one is held.
        {"comment of 8 MiB and a little", "<!--" + std::string((8u << 20) + 100, 'c') + "-->"},
        {"comment filling the file to its limit", "<!--" + std::string(PropertyList::maximumSize - frame - 7, 'c') + "-->"},
    };
    TemporaryDirectory directory;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = directory.write("comment.plist", document(c.token));
        ASSERT_LE(std::filesystem::file_size(path), PropertyList::maximumSize);
        const auto read = PropertyList::readFile(path);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, PropertyListValue(Dictionary{{"before", "one"}, {"after", "two"}}));
    }
}
