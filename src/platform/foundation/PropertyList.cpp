#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Crypto.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/PropertyListReading.h"
#include "platform/foundation/Text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
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

// The XML form of a list, written within the limits its reading applies: at most `maximumSize`
// bytes (nothing is appended that would pass it, so the text never grows beyond), `maximumValues`
// values and `maximumDepth` levels. The bytes of its strings, keys and data are fewer than the
// text's, so they stay within `maximumExpandedBytes` too.
class XMLWriter {
public:
    struct TooLarge {};

    XMLWriter() {
        put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n");
    }

    std::string finish() {
        out_ += closing; // the room for it was kept
        return std::move(out_);
    }

    void value(const PropertyListValue& value, std::size_t level) {
        std::visit([&](const auto& content) { write(content, level); }, value.storage());
    }

    void write(bool content, std::size_t level) {
        count();
        line(level, content ? "<true/>" : "<false/>");
    }
    void write(std::int64_t content, std::size_t level) {
        count();
        line(level, "<integer>" + std::to_string(content) + "</integer>");
    }
    void write(double content, std::size_t level) {
        count();
        indent(level);
        put("<real>");
        if (std::isnan(content)) {
            put("nan");
        } else if (std::isinf(content)) {
            put(content > 0 ? "+infinity" : "-infinity");
        } else {
            char buffer[32];
            auto written = std::to_chars(buffer, buffer + sizeof buffer, content); // shortest round trip
            put(std::string_view(buffer, written.ptr));
        }
        put("</real>\n");
    }
    void write(const std::string& content, std::size_t level) {
        count();
        indent(level);
        put("<string>");
        escaped(content);
        put("</string>\n");
    }
    void write(const Bytes& content, std::size_t level) {
        count();
        indent(level);
        put("<data>");
        reserve((content.size() + 2) / 3 * 4); // the Base64 text's length, known before it is made
        put(base64Encode(content));
        put("</data>\n");
    }
    void write(const PropertyListValue::Array& content, std::size_t level) {
        container("array", content.empty(), level, [&] {
            for (const auto& item : content) {
                auto* text = item.get<std::string>();
                if (!text || PropertyList::xmlCanCarry(*text)) value(item, level + 1);
            }
        });
    }
    void write(const PropertyListValue::Dictionary& content, std::size_t level) {
        container("dict", content.empty(), level, [&] {
            for (const auto& [key, item] : content) {
                auto* text = item.get<std::string>();
                if (!PropertyList::xmlCanCarry(key) || (text && !PropertyList::xmlCanCarry(*text))) continue;
                indent(level + 1);
                put("<key>");
                escaped(key);
                put("</key>\n");
                value(item, level + 1);
            }
        });
    }

private:
    // A container is a value and a level: empty, one line; otherwise its entries between its tags.
    template <typename Entries>
    void container(std::string_view name, bool empty, std::size_t level, const Entries& entries) {
        count();
        if (++depth_ > PropertyList::maximumDepth) throw TooLarge{};
        indent(level);
        put("<");
        put(name);
        if (empty) {
            put("/>\n");
        } else {
            put(">\n");
            entries();
            indent(level);
            put("</");
            put(name);
            put(">\n");
        }
        --depth_;
    }
    void count() {
        if (++values_ > PropertyList::maximumValues) throw TooLarge{};
    }

    void line(std::size_t level, std::string_view text) {
        indent(level);
        put(text);
        put("\n");
    }
    void indent(std::size_t level) {
        const std::size_t tabs = std::min(level, PropertyList::maximumIndentation);
        reserve(tabs);
        out_.append(tabs, '\t');
    }

    // Text with `&`, `<`, `>` and carriage returns as references, measured before it is appended.
    void escaped(std::string_view text) {
        std::size_t length = text.size();
        for (char c : text)
            length += c == '&' ? 4 : c == '<' || c == '>' ? 3 : c == '\r' ? 4 : 0;
        reserve(length);
        for (char c : text) {
            switch (c) {
            case '&':
                out_ += "&amp;";
                break;
            case '<':
                out_ += "&lt;";
                break;
            case '>':
                out_ += "&gt;";
                break;
            case '\r': // a reader turns a bare carriage return into a line feed
                out_ += "&#13;";
                break;
            default:
                out_.push_back(c);
            }
        }
    }

    void put(std::string_view text) {
        reserve(text.size());
        out_ += text;
    }
    // Refuses the list when `count` more bytes, with the closing tag still to come, would pass
    // the size a file is read at.
    void reserve(std::size_t count) const {
        if (count > PropertyList::maximumSize - closing.size() - out_.size()) throw TooLarge{};
    }

    static constexpr std::string_view closing = "</plist>\n";

    std::string out_;
    std::size_t values_ = 0;
    std::size_t depth_ = 0;
};

// The text `write` makes of a writer, or none when the list would not read back.
template <typename Write> std::optional<std::string> writtenXML(Write&& write) {
    try {
        XMLWriter writer;
        write(writer);
        return writer.finish();
    } catch (const XMLWriter::TooLarge&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
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

std::optional<std::string> PropertyList::xml(const PropertyListValue& value) {
    return writtenXML([&](XMLWriter& writer) {
        auto* text = value.get<std::string>();
        if (!text || xmlCanCarry(*text)) writer.value(value, 0);
    });
}

std::optional<std::string> PropertyList::xml(const PropertyListValue::Dictionary& dictionary) {
    return writtenXML([&](XMLWriter& writer) { writer.write(dictionary, 0); });
}

} // namespace tarpelix::platform
