#include "ssh/SSHConfiguration.h"

#include "platform/foundation/Crypto.h"
#include "platform/foundation/Text.h"
#include "ssh/SessionInspectionError.h"

#include <unicode/uchar.h>

#include <string_view>

namespace tarpelix {

namespace {

[[noreturn]] void fail(const char* reason) { throw SessionInspectionError(reason); }

// True when any scalar is whitespace, a newline or a control character (general category
// Z*, Cc or Cf).
bool containsSpaceOrControl(std::string_view text) {
    return platform::text::anyCodePoint(text, [](char32_t c) {
        return platform::text::isControlOrFormat(c) || (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_Z_MASK) != 0;
    });
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    if (text.empty()) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

SSHConfiguration SSHConfiguration::parse(const platform::Bytes& output) {
    std::string_view text(reinterpret_cast<const char*>(output.data()), output.size());
    if (!platform::text::isValidUTF8(text)) fail("OpenSSH returned invalid configuration text");

    std::optional<std::string> hostname, user, port, controlPath;
    for (auto line : platform::text::split(text, '\n')) {
        if (line.empty()) continue;
        auto keyStart = line.find_first_not_of(' ');
        if (keyStart == std::string_view::npos) fail("Malformed OpenSSH configuration output");
        auto keyEnd = line.find(' ', keyStart);
        if (keyEnd == std::string_view::npos || keyEnd + 1 >= line.size()) fail("Malformed OpenSSH configuration output");
        auto key = line.substr(keyStart, keyEnd - keyStart);
        std::string value(line.substr(keyEnd + 1));
        std::optional<std::string>* slot = key == "hostname"      ? &hostname
                                           : key == "user"        ? &user
                                           : key == "port"        ? &port
                                           : key == "controlpath" ? &controlPath
                                                                  : nullptr;
        if (!slot) continue;
        if (slot->has_value()) fail("Ambiguous OpenSSH configuration output");
        *slot = std::move(value);
    }

    std::optional<std::uint16_t> portNumber = port ? parsePort(*port) : std::nullopt;
    if (!hostname || !user || !portNumber || hostname->empty() || user->empty() || containsSpaceOrControl(*hostname) ||
        containsSpaceOrControl(*user))
        fail("OpenSSH did not provide a valid hostname, user, and port");

    SSHConfiguration configuration;
    configuration.hostname = std::move(*hostname);
    configuration.user = std::move(*user);
    configuration.port = *portNumber;
    configuration.fingerprint = platform::hexString(platform::sha256(output));
    configuration.controlPath = std::move(controlPath);
    return configuration;
}

bool SSHConfigurationCache::matches(const SSHDestination& otherDestination, const std::optional<SSHProcess>& otherSession,
                                    const platform::Bytes& otherInputs, double now) const {
    return destination == otherDestination && session == otherSession && inputs == otherInputs && now < expires;
}

} // namespace tarpelix
