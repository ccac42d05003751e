#include "updates/UpdateConfiguration.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Crypto.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace tarpelix {

using platform::PropertyListValue;

namespace {

constexpr const char* noValidConfiguration =
    "Updates are unavailable because this build has no valid update configuration.";
constexpr const char* notConfigured = "Updates are not configured for this build.";

const std::string* stringValue(const UpdateConfiguration::Info& info, std::string_view key) {
    const auto found = info.find(key);
    return found == info.end() ? nullptr : found->second.get<std::string>();
}

bool isBooleanTrue(const UpdateConfiguration::Info& info, std::string_view key) {
    const auto found = info.find(key);
    if (found == info.end()) return false;
    const bool* value = found->second.get<bool>();
    return value && *value;
}

// A number (never a Boolean) whose value is exactly zero.
bool isNumberZero(const UpdateConfiguration::Info& info, std::string_view key) {
    const auto found = info.find(key);
    if (found == info.end()) return false;
    const auto number = found->second.number();
    return number && *number == 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

std::string_view rawValue(DistributionMode mode) {
    switch (mode) {
    case DistributionMode::development: return "development";
    case DistributionMode::distribution: return "distribution";
    case DistributionMode::distributionTest: return "distribution-test";
    }
    return {};
}

std::string_view rawValue(UpdateMode mode) {
    switch (mode) {
    case UpdateMode::prelaunch: return "prelaunch";
    case UpdateMode::commercial: return "commercial";
    }
    return {};
}

std::optional<DistributionMode> distributionModeFromRawValue(std::string_view text) {
    for (auto mode : {DistributionMode::development, DistributionMode::distribution,
                      DistributionMode::distributionTest}) {
        if (rawValue(mode) == text) return mode;
    }
    return std::nullopt;
}

std::optional<UpdateMode> updateModeFromRawValue(std::string_view text) {
    for (auto mode : {UpdateMode::prelaunch, UpdateMode::commercial}) {
        if (rawValue(mode) == text) return mode;
    }
    return std::nullopt;
}

UpdateConfiguration::UpdateConfiguration() : UpdateConfiguration(platform::Bundle::infoDictionary()) {}

UpdateConfiguration::UpdateConfiguration(const Info& info) {
    if (const auto* text = stringValue(info, "TarpelixDistributionMode")) {
        distributionMode_ = distributionModeFromRawValue(*text);
    }
    if (const auto* text = stringValue(info, "TarpelixUpdateMode")) {
        updateMode_ = updateModeFromRawValue(*text);
    }
    if (const auto* text = stringValue(info, "SUFeedURL")) {
        feedURL_ = platform::URL::parse(*text);
        if (feedURL_) feedURLString_ = *text;
    }
    if (const auto* text = stringValue(info, "SUPublicEDKey")) {
        publicKey_ = platform::base64Decode(*text);
    }
    if (const auto* text = stringValue(info, "TarpelixReleaseDate")) {
        releaseDate_ = parseReleaseDate(*text);
    }
    hasTransportExceptions_ = info.contains("NSAppTransportSecurity");
    requiresSignatureVerification_ = isBooleanTrue(info, "SURequireSignedFeed") &&
                                     isBooleanTrue(info, "SUVerifyUpdateBeforeExtraction") &&
                                     isNumberZero(info, "SUSignedFeedFailureExpirationInterval");
}

std::optional<std::string> UpdateConfiguration::unavailabilityReason() const {
    if (!distributionMode_ || !updateMode_) return noValidConfiguration;
    const bool distributionTest = *distributionMode_ == DistributionMode::distributionTest;
    if (distributionTest && (*updateMode_ != UpdateMode::commercial || !releaseDate_)) return notConfigured;
    const auto host = feedURL_ ? feedURL_->host() : std::nullopt;
    if (!host || host->empty()) return notConfigured;
    if (feedURL_->user() || feedURL_->password() || feedURL_->fragment()) return notConfigured;
    if (!publicKey_ || publicKey_->size() != 32) return notConfigured;
    if (*updateMode_ == UpdateMode::commercial && !requiresSignatureVerification_) return notConfigured;
    const bool localPrelaunch =
        *distributionMode_ == DistributionMode::development && *updateMode_ == UpdateMode::prelaunch;
    if (!localPrelaunch && hasTransportExceptions_) return notConfigured;
    if (feedURL_->scheme() == "https") return std::nullopt;
    if (localPrelaunch && feedURL_->scheme() == "http" && *host == "127.0.0.1" && feedURL_->port() &&
        *feedURL_->port() >= 1 && *feedURL_->port() <= 65535) {
        return std::nullopt;
    }
    return notConfigured;
}

std::optional<platform::Date> UpdateConfiguration::parseReleaseDate(std::string_view text) {
    // yyyy-MM-ddTHH:mm:ssZ and nothing else: any other form would not format back the same.
    static constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size()) return std::nullopt;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    static constexpr std::array<int, 12> monthDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return std::nullopt;
    const int daysInMonth = monthDays[static_cast<std::size_t>(month - 1)] + (month == 2 && isLeapYear(year));
    // A leap second (":60") formats back as the next minute, so it is refused like any
    // impossible time.
    if (day < 1 || day > daysInMonth || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const double unixSeconds = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second);
    return platform::Date::fromUnixSeconds(unixSeconds);
}

} // namespace tarpelix
