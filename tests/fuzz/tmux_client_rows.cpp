// Fuzzes the reader of tmux list-clients rows and the input-state tests over what it accepts.
#include "session/LocalTmuxClient.h"
#include "ssh/SessionInspectionError.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarpelix;
    try {
        for (const auto& client : LocalTmuxClient::parse(platform::Bytes(data, data + size))) {
            if (client.pid < 1 || client.paneID.empty() || client.keyTable.empty()) std::abort();
            bool ordinary = true;
            try {
                client.requireOrdinaryInput();
            } catch (const SessionInspectionError&) {
                ordinary = false;
            }
            // Whatever takes typed input also takes a replayed paste.
            if (ordinary) client.requireReplayableInput();
        }
    } catch (const SessionInspectionError&) {
    }
    return 0;
}
