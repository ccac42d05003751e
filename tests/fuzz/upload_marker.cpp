// Fuzzes the reader of the upload's completion marker.
#include "ssh/SSHTransport.h"
#include "model/TerminalUnavailable.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarpelix;
    static const auto id = *platform::Uuid::parse("0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9");
    try {
        auto path = SSHTransport::completedPath(platform::Bytes(data, data + size), id);
        // Whatever is accepted is an absolute path of the expected file, safe to type.
        const std::string suffix = "/.cache/tarpelix/uploads/" + id.uuidString() + ".png";
        if (path.empty() || path.front() != '/' || path.size() <= suffix.size() ||
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0 ||
            path.find("/../") != std::string::npos || path.find("//") != std::string::npos ||
            path.find_first_of(" \n\t'\"$`;") != std::string::npos)
            std::abort();
    } catch (const TerminalUnavailable&) {
    }
    return 0;
}
