#include "platform/foundation/SystemInfo.h"

#include "platform/foundation/Bundle.h"

#include <mutex>

namespace tarpelix::platform::SystemInfo {

namespace {
std::mutex& versionLock() {
    static std::mutex lock;
    return lock;
}
OperatingSystemVersion& storedVersion() {
    static OperatingSystemVersion version{15, 7, 0};
    return version;
}
} // namespace

OperatingSystemVersion operatingSystemVersion() {
    std::lock_guard guard(versionLock());
    return storedVersion();
}

void setOperatingSystemVersion(OperatingSystemVersion version) {
    std::lock_guard guard(versionLock());
    storedVersion() = version;
}

std::string applicationVersion() {
    auto value = Bundle::objectForInfoDictionaryKey("CFBundleShortVersionString");
    auto* text = value ? value->get<std::string>() : nullptr;
    return text ? *text : "unknown";
}

} // namespace tarpelix::platform::SystemInfo
