#include "platform/foundation/Crypto.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/LinuxProfile.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Uuid.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <set>

using namespace tarpelix::platform;

TEST(Uuid, RandomIsVersion4InCanonicalUpperCase) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        auto text = Uuid::random().uuidString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        for (char c : text) EXPECT_TRUE(c == '-' || std::isdigit(c) || (c >= 'A' && c <= 'F')) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Uuid, ParsesEitherCaseAndRefusesMalformedText) {
    auto upper = Uuid::parse("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    auto lower = Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(*upper, *lower);
    EXPECT_EQ(lower->uuidString(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    for (const char* bad : {"", "0A1B2C3D4E5F4A6B8C7D9E0F1A2B3C4D", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4",
                            "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4DD", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4G",
                            "0A1B2C3D_4E5F-4A6B-8C7D-9E0F1A2B3C4D", " A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
}

TEST(Crypto, Sha256MatchesKnownVectors) {
    EXPECT_EQ(hexString(sha256(std::string_view(""))),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexString(sha256(std::string_view("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Crypto, Base64RoundTripsAndDecodesStrictly) {
    for (std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
        auto encoded = base64Encode(bytesOf(text));
        auto decoded = base64Decode(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(stringOf(*decoded), text);
    }
    EXPECT_EQ(base64Encode(bytesOf("foobar")), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(bytesOf("fo")), "Zm8=");
    for (const char* bad : {"Zm8", "Zm 8=", "Z=m8", "Zm8*", "Zg==Zg=="}) EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(Text, CountsGraphemesAndUtf16UnitsNotBytes) {
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"; // 👨‍👩‍👧
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";                                          // 🇩🇪
    EXPECT_EQ(text::graphemeCount(family), 1u);
    EXPECT_EQ(text::graphemeCount("e\xCC\x81" "a"), 2u); // e + combining acute, a
    EXPECT_EQ(text::utf16Length(family), 8u);
    EXPECT_EQ(text::utf16Length("\xC3\xA9"), 1u);
    // A cut never splits a cluster.
    EXPECT_EQ(text::prefixGraphemes("ab" + family + "c", 3), "ab" + family);
    EXPECT_EQ(text::prefixGraphemes(flag + flag, 1), flag);
    EXPECT_EQ(text::prefixGraphemes("abc", 10), "abc");
    EXPECT_EQ(text::prefixGraphemes("abc", 0), "");
}

TEST(Text, LowercasesUnicodeAndFindsControlOrFormatCharacters) {
    EXPECT_EQ(text::lowercased("\xC3\x84RGER ConnECTION"), "\xC3\xA4rger connection");
    struct Case {
        const char* text;
        bool expected;
    } cases[] = {
        {"plain path /tmp/a.png", false},
        {"tab\there", true},
        {"new\nline", true},
        {"zero\xE2\x80\x8Bwidth", true},  // U+200B, Cf
        {"bidi\xE2\x80\xAEoverride", true}, // U+202E, Cf
        {"del\x7F", true},
        {"caf\xC3\xA9", false},
        {"broken\xC3", true}, // invalid UTF-8 is never passed as clean text
    };
    for (const auto& c : cases) EXPECT_EQ(text::containsControlOrFormat(c.text), c.expected) << c.text;
    EXPECT_TRUE(text::isValidUTF8("caf\xC3\xA9"));
    EXPECT_FALSE(text::isValidUTF8("\xC0\xAF"));
}

TEST(JsonWriter, WritesKeysInOrderAndShortestNumbers) {
    JsonWriter w;
    w.beginObject()
        .key("z").value(1.0)
        .key("a").value(0.1)
        .key("date").value(786000000.123)
        .key("n").value(std::int64_t{-42})
        .key("list").beginArray().value(true).null().value("x").endArray()
        .key("empty").beginObject().endObject()
        .endObject();
    EXPECT_EQ(w.str(), R"({"z":1,"a":0.1,"date":786000000.123,"n":-42,"list":[true,null,"x"],"empty":{}})");
}

TEST(JsonWriter, DoublesRoundTripExactlyThroughAParser) {
    for (double d : {1.0 / 3.0, 786123456.78901234, 1e-7, 123456789012345678.0, -0.5, 5e-324}) {
        auto text = JsonWriter::formatDouble(d);
        EXPECT_EQ(nlohmann::json::parse(text).get<double>(), d) << text;
        EXPECT_EQ(text.find(".0e"), std::string::npos);
    }
    EXPECT_EQ(JsonWriter::formatDouble(3.0), "3");
}

TEST(JsonWriter, EscapesAsFoundationDoesAndParsesBack) {
    const std::string original = "quote\" back\\ slash/ tab\t nl\n bell\x07 caf\xC3\xA9";
    JsonWriter w;
    w.value(original);
    EXPECT_EQ(w.str(), "\"quote\\\" back\\\\ slash\\/ tab\\t nl\\n bell\\u0007 caf\xC3\xA9\"");
    EXPECT_EQ(nlohmann::json::parse(w.str()).get<std::string>(), original);
}

TEST(JsonWriterDeathTest, RefusesNonFiniteNumbers) {
    EXPECT_DEATH(JsonWriter::formatDouble(NAN), "finite");
}

TEST(Date, CountsFromTheReferenceDate) {
    EXPECT_EQ(Date::fromUnixSeconds(978307200.0).secondsSinceReferenceDate, 0.0);
    auto now = Date::now();
    EXPECT_GT(now.secondsSinceReferenceDate, 7.8e8); // after 2025
    EXPECT_EQ(now.addingSeconds(5).secondsSince(now), 5.0);
}

TEST(LinuxProfile, TerminalDevicePaths) {
    struct Case {
        const char* path;
        bool terminal;
    } cases[] = {
        {"/dev/ttys003", true}, {"/dev/ttys1", true},    {"/dev/pts/0", true},      {"/dev/pts/17", true},
        {"/dev/ttys", false},   {"/dev/pts/", false},    {"/dev/pts/1a", false},    {"/dev/tty", false},
        {"/dev/tty1", false},   {"/dev/console", false}, {"/dev/pts/../null", false}, {"dev/pts/1", false},
        {"/dev/ttys003 ", false},
    };
    for (const auto& c : cases) EXPECT_EQ(LinuxProfile::isTerminalDevicePath(c.path), c.terminal) << c.path;
}

TEST(LinuxProfile, KnowsDebianShellsAndPrivateDirectories) {
    for (const char* shell : {"/bin/zsh", "/bin/bash", "/usr/bin/bash", "/usr/bin/dash", "/usr/bin/zsh"})
        EXPECT_TRUE(LinuxProfile::isSystemShell(shell)) << shell;
    EXPECT_FALSE(LinuxProfile::isSystemShell("/usr/bin/vim"));
    EXPECT_EQ(LinuxProfile::tmuxSocketDirectory(501), "/tmp/tmux-501");
    EXPECT_EQ(LinuxProfile::passwordDatabaseHome().front(), '/');
}
