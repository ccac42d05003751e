#pragma once

#include <cstdint>
#include <string>

namespace tarpelix::platform {

// The running operating system's version as major, minor and patch numbers.
struct OperatingSystemVersion {
    std::int64_t majorVersion = 0;
    std::int64_t minorVersion = 0;
    std::int64_t patchVersion = 0;

    bool operator==(const OperatingSystemVersion&) const = default;
};

// Facts about the running system and application. The operating-system version stands in for
// the Mac's: it starts at the oldest supported release and can be set by tests and the demo.
namespace SystemInfo {

OperatingSystemVersion operatingSystemVersion();
void setOperatingSystemVersion(OperatingSystemVersion version);

// The application's short version: the main bundle's "CFBundleShortVersionString" when it is
// a string, else "unknown".
std::string applicationVersion();

} // namespace SystemInfo
} // namespace tarpelix::platform
