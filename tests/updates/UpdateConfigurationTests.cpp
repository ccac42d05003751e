#include "platform/desktop/DesktopControl.h"
#include "platform/foundation/Bundle.h"
#include "updates/UpdateConfiguration.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tarpelix;
using platform::Bytes;
using platform::PropertyListValue;
using Info = UpdateConfiguration::Info;

namespace {

constexpr const char* noValidConfiguration =
    "Updates are unavailable because this build has no valid update configuration.";
constexpr const char* notConfigured = "Updates are not configured for this build.";

// Base64 of 32, 31 and 33 bytes.
constexpr const char* key32 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
constexpr const char* key31 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==";
constexpr const char* key33 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g";

// A development build with prelaunch updates from a loopback feed.
Info localPrelaunch() {
    return {{"TarpelixDistributionMode", "development"},
            {"TarpelixUpdateMode", "prelaunch"},
            {"SUFeedURL", "http://127.0.0.1:8080/appcast.xml"},
            {"SUPublicEDKey", key32}};
}

// A shipped build with commercial updates over https and verified signatures.
Info commercial(const char* mode = "distribution") {
    return {{"TarpelixDistributionMode", mode},
            {"TarpelixUpdateMode", "commercial"},
            {"SUFeedURL", "https://updates.example.com/appcast.xml"},
            {"SUPublicEDKey", key32},
            {"SURequireSignedFeed", true},
            {"SUVerifyUpdateBeforeExtraction", true},
            {"SUSignedFeedFailureExpirationInterval", 0}};
}

Info with(Info info, const std::string& key, PropertyListValue value) {
    info.insert_or_assign(key, std::move(value));
    return info;
}

Info without(Info info, const std::string& key) {
    info.erase(key);
    return info;
}

Info releaseDated(const char* date) {
    return with(commercial("distribution-test"), "TarpelixReleaseDate", date);
}

struct Row {
    const char* name;
    Info info;
    std::optional<std::string> reason;
};

TEST(UpdateConfigurationTest, DecidesWhetherUpdatesMayRun) {
    const PropertyListValue::Dictionary transport{{"NSAllowsArbitraryLoads", true}};
    const std::vector<Row> rows{
        {"empty dictionary", {}, noValidConfiguration},
        {"distribution mode in another case", with(commercial(), "TarpelixDistributionMode", "Distribution"),
         noValidConfiguration},
        {"distribution mode not a string", with(commercial(), "TarpelixDistributionMode", 1), noValidConfiguration},
        {"update mode missing", without(localPrelaunch(), "TarpelixUpdateMode"), noValidConfiguration},
        {"update mode unknown", with(localPrelaunch(), "TarpelixUpdateMode", "nightly"), noValidConfiguration},
        {"distribution test with prelaunch updates",
         with(releaseDated("2026-03-01T12:00:00Z"), "TarpelixUpdateMode", "prelaunch"), notConfigured},
        {"distribution test without release date", commercial("distribution-test"), notConfigured},
        {"distribution test with unparseable date", releaseDated("March 1, 2026"), notConfigured},
        {"distribution test with whole-second UTC date", releaseDated("2026-03-01T12:00:00Z"), std::nullopt},
        {"release date with fractional seconds", releaseDated("2026-03-01T12:00:00.000Z"), notConfigured},
        {"release date with an offset", releaseDated("2026-03-01T13:00:00+01:00"), notConfigured},
        {"release date with a leap second", releaseDated("2016-12-31T23:59:60Z"), notConfigured},
        {"release date that does not exist", releaseDated("2026-02-29T12:00:00Z"), notConfigured},
        {"release date on a leap day", releaseDated("2028-02-29T12:00:00Z"), std::nullopt},
        {"release date not a string", with(commercial("distribution-test"), "TarpelixReleaseDate", 1772366400),
         notConfigured},
        {"feed missing", without(commercial(), "SUFeedURL"), notConfigured},
        {"feed not a string", with(commercial(), "SUFeedURL", Bytes{'h', 't'}), notConfigured},
        {"feed with a space", with(commercial(), "SUFeedURL", "https://updates.example.com/app cast.xml"),
         notConfigured},
        {"feed without host", with(commercial(), "SUFeedURL", "https:appcast.xml"), notConfigured},
        {"feed with user", with(commercial(), "SUFeedURL", "https://me@updates.example.com/appcast.xml"),
         notConfigured},
        {"feed with password", with(commercial(), "SUFeedURL", "https://me:pw@updates.example.com/appcast.xml"),
         notConfigured},
        {"feed with fragment", with(commercial(), "SUFeedURL", "https://updates.example.com/appcast.xml#top"),
         notConfigured},
        {"feed scheme in capitals", with(commercial(), "SUFeedURL", "HTTPS://updates.example.com/appcast.xml"),
         notConfigured},
        {"key missing", without(commercial(), "SUPublicEDKey"), notConfigured},
        {"key of 31 bytes", with(commercial(), "SUPublicEDKey", key31), notConfigured},
        {"key of 33 bytes", with(commercial(), "SUPublicEDKey", key33), notConfigured},
        {"key not Base64", with(commercial(), "SUPublicEDKey", "not a key!"), notConfigured},
        {"key as data", with(commercial(), "SUPublicEDKey", Bytes(32, 7)), notConfigured},
        {"commercial with real zero interval", with(commercial(), "SUSignedFeedFailureExpirationInterval", 0.0),
         std::nullopt},
        {"commercial with Boolean false interval",
         with(commercial(), "SUSignedFeedFailureExpirationInterval", false), notConfigured},
        {"commercial with non-zero interval", with(commercial(), "SUSignedFeedFailureExpirationInterval", 0.5),
         notConfigured},
        {"commercial with signed feed as number 1", with(commercial(), "SURequireSignedFeed", 1), notConfigured},
        {"commercial without verification before extraction",
         without(commercial(), "SUVerifyUpdateBeforeExtraction"), notConfigured},
        {"distribution with transport exceptions", with(commercial(), "NSAppTransportSecurity", transport),
         notConfigured},
        {"transport exceptions of any value count", with(commercial(), "NSAppTransportSecurity", false),
         notConfigured},
        {"distribution over plain http", with(commercial(), "SUFeedURL", "http://updates.example.com/appcast.xml"),
         notConfigured},
        {"prelaunch loopback with port", localPrelaunch(), std::nullopt},
        {"prelaunch loopback with transport exceptions", with(localPrelaunch(), "NSAppTransportSecurity", transport),
         std::nullopt},
        {"prelaunch loopback without port", with(localPrelaunch(), "SUFeedURL", "http://127.0.0.1/appcast.xml"),
         notConfigured},
        {"prelaunch loopback with port 0", with(localPrelaunch(), "SUFeedURL", "http://127.0.0.1:0/appcast.xml"),
         notConfigured},
        {"prelaunch over http to localhost", with(localPrelaunch(), "SUFeedURL", "http://localhost:8080/appcast.xml"),
         notConfigured},
        {"prelaunch over http to IPv6 loopback", with(localPrelaunch(), "SUFeedURL", "http://[::1]:8080/appcast.xml"),
         notConfigured},
        {"prelaunch with non-numeric port", with(localPrelaunch(), "SUFeedURL", "http://127.0.0.1:80a/appcast.xml"),
         notConfigured},
        {"prelaunch over https", with(localPrelaunch(), "SUFeedURL", "https://updates.example.com/appcast.xml"),
         std::nullopt},
        {"commercial development build over loopback http",
         with(commercial("development"), "SUFeedURL", "http://127.0.0.1:8080/appcast.xml"), notConfigured},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(UpdateConfiguration(row.info).unavailabilityReason(), row.reason) << row.name;
    }
}

TEST(UpdateConfigurationTest, ReadsEachFieldWithItsType) {
    auto info = with(releaseDated("2026-03-01T12:00:00Z"), "SUFeedURL",
                     "https://updates.example.com:8443/feed/appcast.xml?channel=beta");
    info.insert_or_assign("NSAppTransportSecurity", PropertyListValue::Dictionary{});
    const UpdateConfiguration configuration(info);
    EXPECT_EQ(configuration.distributionMode(), DistributionMode::distributionTest);
    EXPECT_EQ(configuration.updateMode(), UpdateMode::commercial);
    EXPECT_EQ(configuration.feedURLString(), "https://updates.example.com:8443/feed/appcast.xml?channel=beta");
    ASSERT_TRUE(configuration.publicKey());
    EXPECT_EQ(configuration.publicKey()->size(), 32u);
    EXPECT_EQ((*configuration.publicKey())[31], 31);
    // 2026-03-01T12:00:00Z is 1772366400 seconds after 1970.
    EXPECT_EQ(configuration.releaseDate(), platform::Date::fromUnixSeconds(1772366400));
    EXPECT_TRUE(configuration.hasTransportExceptions());
    EXPECT_TRUE(configuration.requiresSignatureVerification());

    const UpdateConfiguration empty(Info{});
    EXPECT_FALSE(empty.distributionMode() || empty.updateMode() || empty.feedURL() || empty.publicKey() ||
                 empty.releaseDate());
    EXPECT_FALSE(empty.hasTransportExceptions() || empty.requiresSignatureVerification());
}

TEST(UpdateConfigurationTest, TheShippedBuildIsADevelopmentBuildWithALoopbackFeed) {
    platform::DesktopControl::reset();
    const UpdateConfiguration shipped;
    EXPECT_EQ(shipped.distributionMode(), DistributionMode::development);
    EXPECT_EQ(shipped.updateMode(), UpdateMode::prelaunch);
    EXPECT_EQ(shipped.unavailabilityReason(), std::nullopt);
    ASSERT_TRUE(shipped.feedURL());
    EXPECT_EQ(shipped.feedURL()->host(), "127.0.0.1");
}

} // namespace
