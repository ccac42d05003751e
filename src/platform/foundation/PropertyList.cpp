#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Crypto.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/PropertyListReading.h"
#include "platform/foundation/Text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>

namespace tarpelix::platform {

std::optional<double> PropertyListValue::number() const {
    if (auto* integer = get<std::int64_t>()) return static_cast<double>(*integer);
    if (auto* real = get<double>()) return *real;
    return std::nullopt;
}

std::optional<bool> PropertyListValue::convertedToBoolean() const {
    if (auto* boolean = get<bool>()) return *boolean;
    auto value = number();
    if (value == 0.0) return false;
    if (value == 1.0) return true;
    return std::nullopt;
}

namespace {

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r': // a reader turns a bare carriage return into a line feed
            out += "&#13;";
            break;
        default:
            out.push_back(c);
        }
    }
}

void appendReal(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "nan";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+infinity" : "-infinity";
    } else {
        char buffer[32];
        auto written = std::to_chars(buffer, buffer + sizeof buffer, value); // shortest round trip
        out.append(buffer, written.ptr);
    }
}

void appendValue(std::string& out, const PropertyListValue& value, std::size_t indent) {
    const std::string tabs(indent, '\t');
    std::visit(
        [&](const auto& content) {
            using T = std::decay_t<decltype(content)>;
            out += tabs;
            if constexpr (std::is_same_v<T, bool>) {
                out += content ? "<true/>\n" : "<false/>\n";
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                out += "<integer>" + std::to_string(content) + "</integer>\n";
            } else if constexpr (std::is_same_v<T, double>) {
                out += "<real>";
                appendReal(out, content);
                out += "</real>\n";
            } else if constexpr (std::is_same_v<T, std::string>) {
                out += "<string>";
                appendEscaped(out, content);
                out += "</string>\n";
            } else if constexpr (std::is_same_v<T, Bytes>) {
                out += "<data>" + base64Encode(content) + "</data>\n";
            } else if constexpr (std::is_same_v<T, PropertyListValue::Array>) {
                if (content.empty()) {
                    out += "<array/>\n";
                    return;
                }
                out += "<array>\n";
                for (const auto& item : content) {
                    auto* text = item.template get<std::string>();
                    if (!text || PropertyList::xmlCanCarry(*text)) appendValue(out, item, indent + 1);
                }
                out += tabs + "</array>\n";
            } else {
                if (content.empty()) {
                    out += "<dict/>\n";
                    return;
                }
                out += "<dict>\n";
                for (const auto& [key, item] : content) {
                    auto* text = item.template get<std::string>();
                    if (!PropertyList::xmlCanCarry(key) || (text && !PropertyList::xmlCanCarry(*text)))
                        continue;
                    out += tabs + "\t<key>";
                    appendEscaped(out, key);
                    out += "</key>\n";
                    appendValue(out, item, indent + 1);
                }
                out += tabs + "</dict>\n";
            }
        },
        value.storage());
}

} // namespace

bool PropertyList::xmlCanCarry(std::string_view text) {
    return !text::anyCodePoint(text, [](char32_t c) {
        return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
    });
}

std::optional<PropertyListValue> PropertyList::parse(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return std::nullopt;
    try {
        property_list::ExpansionBudget budget;
        if (size >= 6 && std::memcmp(data, "bplist", 6) == 0)
            return property_list::readBinary(data, size, budget);
        return property_list::readXML(data, size, budget);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<PropertyListValue> PropertyList::readFile(const std::string& path) {
    try {
        // Not blocking, and checked through the descriptor: a FIFO or device there is no file.
        auto descriptor = files::openFile(path, O_RDONLY | O_NONBLOCK);
        struct stat status {};
        if (::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
            static_cast<std::uint64_t>(status.st_size) > maximumSize)
            return std::nullopt;
        auto bytes = files::readAtMost(descriptor.get(), maximumSize); // it may have grown since
        if (!bytes) return std::nullopt;
        return parse(bytes->data(), bytes->size());
    } catch (const std::system_error&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::string PropertyList::xml(const PropertyListValue& value) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n";
    auto* text = value.get<std::string>();
    if (!text || xmlCanCarry(*text)) appendValue(out, value, 0);
    return out + "</plist>\n";
}

} // namespace tarpelix::platform
