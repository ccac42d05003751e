// Fuzzes the decoding of stored latest attempts and transfer records: whatever decodes must
// encode to bytes that decode to the same value and encode to the same bytes again.
#include "model/PasteAttempt.h"
#include "model/TransferRecord.h"
#include "platform/foundation/JsonReader.h"

#include <cstdlib>
#include <string_view>

namespace {
template <typename Value>
void roundTrip(const nlohmann::json& object) {
    Value value;
    try {
        value = Value::fromJson(object);
    } catch (const tarpelix::platform::JsonDecodingError&) {
        return;
    }
    auto bytes = value.json();
    auto again = Value::fromJson(tarpelix::platform::json::parse(bytes));
    if (!(again == value) || again.json() != bytes) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    nlohmann::json object;
    try {
        object = tarpelix::platform::json::parse(input);
    } catch (const tarpelix::platform::JsonDecodingError&) {
        return 0;
    }
    roundTrip<tarpelix::PasteAttempt>(object);
    roundTrip<tarpelix::TransferRecord>(object);
    return 0;
}
