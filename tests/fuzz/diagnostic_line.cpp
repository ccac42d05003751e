// Fuzzes the strict reader of diagnostic log lines: whatever it accepts must re-encode to a
// line that reads back as the same event and encodes to the same bytes again.
#include "diagnostics/DiagnosticEvent.h"
#include "platform/foundation/JsonReader.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    tarpelix::DiagnosticEvent event;
    try {
        event = tarpelix::DiagnosticEvent::decode(input);
    } catch (const tarpelix::DiagnosticError&) {
        return 0;
    } catch (const tarpelix::platform::JsonDecodingError&) {
        return 0;
    }
    if (!event.isWithinBounds()) std::abort();
    auto line = event.json();
    auto again = tarpelix::DiagnosticEvent::decode(line);
    if (!(again == event) || again.json() != line) std::abort();
    return 0;
}
