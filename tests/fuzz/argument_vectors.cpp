// Fuzzes the readers of process argument vectors: the argument-string decoder, the ssh and
// mosh destination grammar over the decoded vector, and the /proc stat line reader.
#include "platform/process/ProcessTable.h"
#include "session/ProcessInspector.h"
#include "ssh/SSHDestination.h"
#include "ssh/SessionInspectionError.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarpelix;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)platform::parseProcessStat(text);
    (void)platform::parseProcessStatusUids(text);
    std::vector<std::string> arguments;
    try {
        arguments = ProcessInspector::decodeArguments(platform::Bytes(data, data + size));
    } catch (const SessionInspectionError&) {
        return 0;
    }
    if (arguments.empty()) std::abort();
    for (auto parse : {+[](const std::vector<std::string>& a) { return SSHDestination(a); },
                       +[](const std::vector<std::string>& a) { return SSHDestination::mosh(a); }}) {
        try {
            auto destination = parse(arguments);
            // Whatever is accepted is a plain alias or user@host: no option, no blank.
            const auto& original = destination.original;
            if (original.empty() || original.front() == '-' || original.find(' ') != std::string::npos) std::abort();
            if (SSHDestination({"ssh", original}).original != original) std::abort();
        } catch (const SessionInspectionError&) {
        }
    }
    return 0;
}
