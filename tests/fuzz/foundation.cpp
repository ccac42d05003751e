// Fuzzes the foundation's text parsers: UUID text, Base64 and the Unicode helpers.
#include "platform/foundation/Crypto.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Uuid.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    using namespace tarpelix::platform;
    if (auto id = Uuid::parse(input)) {
        if (Uuid::parse(id->uuidString()) != id) std::abort();
    }
    if (auto decoded = base64Decode(input)) {
        if (base64Decode(base64Encode(*decoded)) != decoded) std::abort();
    }
    auto cut = text::prefixGraphemes(input, 5);
    if (text::isValidUTF8(input) && text::graphemeCount(cut) > 5) std::abort();
    (void)text::containsControlOrFormat(input);
    (void)text::utf16Length(input);
    return 0;
}
