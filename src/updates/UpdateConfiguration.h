#pragma once

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarpelix {

// How this build is distributed; the installation gate reads it.
enum class DistributionMode { development, distribution, distributionTest };
// Which kind of update feed this build follows.
enum class UpdateMode { prelaunch, commercial };

std::string_view rawValue(DistributionMode mode);
std::string_view rawValue(UpdateMode mode);
// Exact, case-sensitive matches of the raw values; none for anything else.
std::optional<DistributionMode> distributionModeFromRawValue(std::string_view text);
std::optional<UpdateMode> updateModeFromRawValue(std::string_view text);

// The build's update settings, read once from the bundle's information dictionary, and the
// rule that decides whether in-place updates may run at all.
class UpdateConfiguration {
public:
    using Info = platform::PropertyListValue::Dictionary;

    // From the main bundle's information dictionary (empty when the bundle has none).
    UpdateConfiguration();
    explicit UpdateConfiguration(const Info& info);

    const std::optional<DistributionMode>& distributionMode() const { return distributionMode_; }
    const std::optional<UpdateMode>& updateMode() const { return updateMode_; }
    const std::optional<platform::URL>& feedURL() const { return feedURL_; }
    // The feed exactly as the information dictionary writes it; empty when `feedURL` is none.
    const std::string& feedURLString() const { return feedURLString_; }
    const std::optional<platform::Bytes>& publicKey() const { return publicKey_; }
    const std::optional<platform::Date>& releaseDate() const { return releaseDate_; }
    bool hasTransportExceptions() const { return hasTransportExceptions_; }
    bool requiresSignatureVerification() const { return requiresSignatureVerification_; }

    // Why updates cannot run, as the user reads it; none when they may.
    std::optional<std::string> unavailabilityReason() const;

    // The release-date rule: an internet date-time in UTC with "Z" and whole seconds that
    // formats back to exactly the same text.
    static std::optional<platform::Date> parseReleaseDate(std::string_view text);

private:
    std::optional<DistributionMode> distributionMode_;
    std::optional<UpdateMode> updateMode_;
    std::optional<platform::URL> feedURL_;
    std::string feedURLString_;
    std::optional<platform::Bytes> publicKey_;
    std::optional<platform::Date> releaseDate_;
    bool hasTransportExceptions_ = false;
    bool requiresSignatureVerification_ = false;
};

} // namespace tarpelix
