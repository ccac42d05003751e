// The XML property-list reader: expat tokenizes, and the value is built on an explicit stack of
// open elements, so a file nested however deep never deepens the call stack. Expat resolves no
// external entity here, and a document that declares entities is refused outright.

#include "platform/foundation/Crypto.h"
#include "platform/foundation/PropertyListReading.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <clocale>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarpelix::platform::property_list {
namespace {

enum class Element { plist, array, dict, key, string, data, date, integer, real, trueValue, falseValue };

std::optional<Element> elementNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, Element> names[] = {
        {"plist", Element::plist},    {"array", Element::array},      {"dict", Element::dict},
        {"key", Element::key},        {"string", Element::string},    {"data", Element::data},
        {"date", Element::date},      {"integer", Element::integer},  {"real", Element::real},
        {"true", Element::trueValue}, {"false", Element::falseValue},
    };
    for (const auto& [text, element] : names)
        if (name == text) return element;
    return std::nullopt;
}

bool isContainer(Element element) {
    return element == Element::plist || element == Element::array || element == Element::dict;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBlank(std::string_view text) {
    for (char c : text)
        if (!isSpace(c)) return false;
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Decimal or 0x-prefixed hexadecimal, with an optional sign. Values above the largest signed
// integer are kept in their two's-complement form, as they were always stored.
std::optional<std::int64_t> integerFrom(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (!negative) return static_cast<std::int64_t>(magnitude);
    if (magnitude > std::uint64_t{1} << 63) return std::nullopt;
    return static_cast<std::int64_t>(0 - magnitude);
}

// A decimal real with an optional sign, or "nan", "inf", "infinity" (any case, signed).
std::optional<double> realFrom(std::string_view text) {
    text = trimmed(text);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) return std::nullopt;
    }
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || end != text.data() + text.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        // A well-formed number past a double's range reads as C's strtod reads it: an infinity,
        // a zero or the nearest subnormal, with its sign.
        static const locale_t c = ::newlocale(LC_ALL_MASK, "C", nullptr);
        if (!c) return std::nullopt;
        const std::string terminated(text);
        return ::strtod_l(terminated.c_str(), nullptr, c);
    }
    if (error != std::errc{}) return std::nullopt;
    return value;
}

// Base64 with any whitespace in it, padding optional.
std::optional<Bytes> dataFrom(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text)
        if (!isSpace(c)) compact.push_back(c);
    if (compact.size() % 4 == 1) return std::nullopt;
    if (compact.size() % 4 != 0 && compact.find('=') == std::string::npos)
        compact.append(4 - compact.size() % 4, '=');
    return base64Decode(compact);
}

// What expat holds for one document, counted through its memory suite. Expat keeps every
// attribute of a tag, and each distinct attribute name, before any handler sees them: about 16
// bytes for each byte of such a tag, so a file of a few megabytes could cost it hundreds. Past the
// cap its allocations fail and the document is refused. Expat's suite passes no context: an
// allocation is charged to the counter of the reader on this thread, and carries a pointer to it
// back to `release`.
class ExpatMemory {
public:
    // Expat holds a whole comment or processing instruction in one buffer, which it grows by
    // doubling into a new one while the old is still held: at most three times the document (and
    // its kept context) at once. Everything else it holds stays within the fixed part: measured,
    // about 10 KB for an Info.plist or a defaults file, 76 KB for a list 512 deep and 200 KB for a
    // 16 MB one (read in pieces). So any document of up to `maximumSize` reads, and a tag of
    // attributes is refused long before it costs expat sixteen times its size. A document given
    // in memory past `maximumSize` gets no more than one of that size.
    static constexpr std::size_t fixedCap = 1 << 20;
    static constexpr std::size_t capFor(std::size_t documentSize) {
        return fixedCap + 3 * std::min(documentSize, PropertyList::maximumSize);
    }

    explicit ExpatMemory(std::size_t cap) : cap_(cap), previous_(std::exchange(current, this)) {}
    ~ExpatMemory() { current = previous_; }
    ExpatMemory(const ExpatMemory&) = delete;
    ExpatMemory& operator=(const ExpatMemory&) = delete;

    static const XML_Memory_Handling_Suite* suite() {
        static constexpr XML_Memory_Handling_Suite functions{&allocate, &reallocate, &release};
        return &functions;
    }

private:
    struct alignas(std::max_align_t) Header {
        ExpatMemory* owner;
        std::size_t size;
    };

    bool take(std::size_t size) {
        if (size > cap_ - held_) return false;
        held_ += size;
        return true;
    }

    static void* XMLCALL allocate(std::size_t size) {
        ExpatMemory* owner = current;
        if (!owner || !owner->take(size)) return nullptr;
        auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
        if (!header) {
            owner->held_ -= size;
            return nullptr;
        }
        *header = {owner, size};
        return header + 1;
    }

    static void* XMLCALL reallocate(void* block, std::size_t size) {
        if (!block) return allocate(size);
        Header* header = static_cast<Header*>(block) - 1;
        ExpatMemory* owner = header->owner;
        const std::size_t old = header->size;
        if (size > old && !owner->take(size - old)) return nullptr;
        auto* moved = static_cast<Header*>(std::realloc(header, sizeof(Header) + size));
        if (!moved) {
            if (size > old) owner->held_ -= size - old;
            return nullptr;
        }
        if (size < old) owner->held_ -= old - size;
        moved->size = size;
        return moved + 1;
    }

    static void XMLCALL release(void* block) {
        if (!block) return;
        Header* header = static_cast<Header*>(block) - 1;
        header->owner->held_ -= header->size;
        std::free(header);
    }

    static thread_local ExpatMemory* current;

    std::size_t cap_;
    ExpatMemory* previous_;
    std::size_t held_ = 0;
};

thread_local ExpatMemory* ExpatMemory::current = nullptr;

constexpr std::size_t chunkSize = 64 << 10;

class Reader {
public:
    explicit Reader(ExpansionBudget& budget) : budget_(budget) {}

    std::optional<PropertyListValue> read(const std::uint8_t* data, std::size_t size) {
        if (size > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
        ExpatMemory memory(ExpatMemory::capFor(size)); // outlives the parser, which frees through it
        std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
            XML_ParserCreate_MM(nullptr, ExpatMemory::suite(), nullptr), &XML_ParserFree);
        if (!parser) throw std::bad_alloc();
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &Reader::started, &Reader::ended);
        XML_SetCharacterDataHandler(parser_, &Reader::characters);
        XML_SetStartDoctypeDeclHandler(parser_, &Reader::doctype);
        XML_SetEntityDeclHandler(parser_, &Reader::entityDeclaration);
        XML_SetSkippedEntityHandler(parser_, &Reader::skippedEntity);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        XML_SetExternalEntityRefHandler(parser_, &Reader::externalEntity);
        // In pieces: expat copies what it is given into a buffer of its own, so it holds one
        // piece and the token that runs past it, not the whole document.
        bool parsed = true;
        std::size_t at = 0;
        do {
            const std::size_t piece = std::min(size - at, chunkSize);
            parsed = XML_Parse(parser_, reinterpret_cast<const char*>(data + at), static_cast<int>(piece),
                               at + piece == size) == XML_STATUS_OK;
            at += piece;
        } while (parsed && at < size);
        parser_ = nullptr;
        if (outOfMemory_) throw std::bad_alloc();
        if (!parsed || refused_ || !finished_) return std::nullopt;
        return std::move(result_);
    }

private:
    struct Frame {
        Element element;
        PropertyListValue::Array array;
        PropertyListValue::Dictionary dictionary;
        std::optional<std::string> key;         // a dictionary's key waiting for its value
        bool holdsValue = false;                // a plist element's one value has come
        std::optional<PropertyListValue> value; // that value, unless it is of a kind left out
        std::string text;                       // a leaf's characters
    };

    static Reader& of(void* context) { return *static_cast<Reader*>(context); }

    // Runs a handler's work unless the document is already refused; anything it throws
    // refuses the document, since nothing may unwind through expat.
    template <typename Work> static void handle(void* context, Work&& work) {
        auto& reader = of(context);
        if (reader.refused_) return;
        try {
            if (!work(reader)) reader.refuse();
        } catch (const std::bad_alloc&) {
            reader.outOfMemory_ = true;
            reader.refuse();
        } catch (...) {
            reader.refuse();
        }
    }

    void refuse() {
        if (refused_) return;
        refused_ = true;
        XML_StopParser(parser_, XML_FALSE);
    }

    static void XMLCALL started(void* context, const XML_Char* name, const XML_Char**) {
        handle(context, [name](Reader& reader) { return reader.start(name); });
    }
    static void XMLCALL ended(void* context, const XML_Char*) {
        handle(context, [](Reader& reader) { return reader.end(); });
    }
    static void XMLCALL characters(void* context, const XML_Char* text, int length) {
        handle(context, [=](Reader& reader) {
            return reader.append(std::string_view(text, static_cast<std::size_t>(length)));
        });
    }
    static void XMLCALL doctype(void* context, const XML_Char*, const XML_Char*, const XML_Char*,
                                int hasInternalSubset) {
        handle(context, [=](Reader&) { return !hasInternalSubset; });
    }
    static void XMLCALL entityDeclaration(void* context, const XML_Char*, int, const XML_Char*, int,
                                          const XML_Char*, const XML_Char*, const XML_Char*,
                                          const XML_Char*) {
        handle(context, [](Reader&) { return false; });
    }
    static void XMLCALL skippedEntity(void* context, const XML_Char*, int) {
        handle(context, [](Reader&) { return false; });
    }
    static int XMLCALL externalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                                      const XML_Char*) {
        return XML_STATUS_ERROR;
    }

    // Whether `element` may open here; pushes it when it may.
    bool start(std::string_view name) {
        auto element = elementNamed(name);
        if (!element) return false;
        if (stack_.empty()) {
            if (finished_ || *element == Element::key) return false;
        } else {
            const Frame& parent = stack_.back();
            if (!isContainer(parent.element) || *element == Element::plist) return false;
            if (parent.element == Element::plist && parent.holdsValue) return false;
            if (parent.element == Element::dict) {
                if ((*element == Element::key) == parent.key.has_value()) return false;
            } else if (*element == Element::key) {
                return false;
            }
        }
        if (*element == Element::array || *element == Element::dict) {
            if (++containerDepth_ > PropertyList::maximumDepth) return false;
        }
        if (*element != Element::plist && *element != Element::key && !budget_.takeValue()) return false;
        stack_.push_back(Frame{*element, {}, {}, {}, false, {}, {}});
        return true;
    }

    bool append(std::string_view text) {
        Frame& frame = stack_.back();
        switch (frame.element) {
        case Element::plist:
        case Element::array:
        case Element::dict:
        case Element::trueValue:
        case Element::falseValue:
            return isBlank(text);
        case Element::date:
            return true; // left out, whatever it says
        case Element::key:
        case Element::string:
            // Charged as read, entities already replaced: as the binary reader charges them.
            if (!budget_.takeBytes(text.size())) return false;
            frame.text.append(text);
            return true;
        default:
            // Numbers and Base64 are charged once decoded; their text grows no further than the file.
            frame.text.append(text);
            return true;
        }
    }

    // Closes the innermost element and hands its value to the one around it.
    bool end() {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        std::optional<PropertyListValue> value;
        switch (frame.element) {
        case Element::plist:
            if (!frame.holdsValue) return false;
            value = std::move(frame.value);
            break;
        case Element::array:
            --containerDepth_;
            value.emplace(std::move(frame.array));
            break;
        case Element::dict:
            --containerDepth_;
            if (frame.key) return false;
            value.emplace(std::move(frame.dictionary));
            break;
        case Element::key:
            stack_.back().key = std::move(frame.text);
            return true;
        case Element::string:
            value.emplace(std::move(frame.text));
            break;
        case Element::data: {
            auto bytes = dataFrom(frame.text);
            if (!bytes || !budget_.takeBytes(bytes->size())) return false;
            value.emplace(std::move(*bytes));
            break;
        }
        case Element::integer: {
            auto integer = integerFrom(frame.text);
            if (!integer) return false;
            value.emplace(*integer);
            break;
        }
        case Element::real: {
            auto real = realFrom(frame.text);
            if (!real) return false;
            value.emplace(*real);
            break;
        }
        case Element::trueValue:
            value.emplace(true);
            break;
        case Element::falseValue:
            value.emplace(false);
            break;
        case Element::date:
            break; // never stored by this system
        }
        if (stack_.empty()) {
            finished_ = true;
            result_ = std::move(value);
            return true;
        }
        Frame& parent = stack_.back();
        if (parent.element == Element::array) {
            if (value) parent.array.push_back(std::move(*value));
        } else if (parent.element == Element::dict) {
            if (value) parent.dictionary.insert_or_assign(std::move(*parent.key), std::move(*value));
            parent.key.reset();
        } else {
            parent.holdsValue = true;
            parent.value = std::move(value);
        }
        return true;
    }

    ExpansionBudget& budget_;
    XML_Parser parser_ = nullptr;
    std::vector<Frame> stack_;
    std::size_t containerDepth_ = 0;
    bool refused_ = false;
    bool outOfMemory_ = false;
    bool finished_ = false;
    std::optional<PropertyListValue> result_;
};

} // namespace

std::optional<PropertyListValue> readXML(const std::uint8_t* data, std::size_t size,
                                         ExpansionBudget& budget) {
    return Reader(budget).read(data, size);
}

} // namespace tarpelix::platform::property_list
