// Fuzzes the reader of `ssh -G` output.
#include "ssh/SSHConfiguration.h"
#include "ssh/SessionInspectionError.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarpelix;
    try {
        auto configuration = SSHConfiguration::parse(platform::Bytes(data, data + size));
        if (configuration.port == 0 || configuration.hostname.empty() || configuration.user.empty() ||
            configuration.fingerprint.size() != 64)
            std::abort();
        if (configuration.hostname.find_first_of(" \n\t") != std::string::npos) std::abort();
    } catch (const SessionInspectionError&) {
    }
    return 0;
}
