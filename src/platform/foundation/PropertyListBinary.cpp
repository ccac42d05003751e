// The binary property-list reader ("bplist00"). Every offset, count and reference is checked
// against the file before it is followed, the value is built on an explicit stack of open
// containers, and an object referred to from several places is read again at each reference,
// charged to the budget every time, so a small file cannot expand without bound.

#include "platform/foundation/PropertyListReading.h"
#include "platform/foundation/Text.h"

#include <bit>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarpelix::platform::property_list {
namespace {

constexpr std::size_t headerSize = 8;
constexpr std::size_t trailerSize = 32;

std::uint64_t bigEndian(const std::uint8_t* bytes, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = value << 8 | bytes[i];
    return value;
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, ExpansionBudget& budget)
        : data_(data), size_(size), budget_(budget) {}

    std::optional<PropertyListValue> read() {
        if (!readTrailer()) return std::nullopt;
        std::optional<PropertyListValue> result;
        auto top = visit(top_);
        if (!top) return std::nullopt;
        if (top->opened) {
            if (!walk(result)) return std::nullopt;
        } else {
            result = std::move(top->value);
        }
        return result;
    }

private:
    // An object's marker read: its kind (the high four bits), where its content starts and how
    // many bytes, references or pairs it holds.
    struct Object {
        std::uint8_t kind;
        std::uint8_t low;
        std::uint64_t at;
        std::uint64_t length;
    };

    struct Frame {
        std::uint64_t index;
        Object object;
        std::uint64_t next = 0;
        PropertyListValue::Array array;
        PropertyListValue::Dictionary dictionary;
        std::string key; // the key of the value being read, in a dictionary
    };

    // What reading one reference gave: a value, nothing (a kind left out), or a container
    // pushed on the stack to be read entry by entry.
    struct Visit {
        std::optional<PropertyListValue> value;
        bool opened = false;
    };

    bool readTrailer() {
        if (size_ < headerSize + trailerSize || std::memcmp(data_, "bplist00", headerSize) != 0) return false;
        const std::uint8_t* trailer = data_ + size_ - trailerSize;
        offsetSize_ = trailer[6];
        referenceSize_ = trailer[7];
        count_ = bigEndian(trailer + 8, 8);
        top_ = bigEndian(trailer + 16, 8);
        table_ = bigEndian(trailer + 24, 8);
        const std::uint64_t body = size_ - trailerSize;
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8) return false;
        if (table_ <= headerSize || table_ > body || count_ == 0 || top_ >= count_) return false;
        if (count_ > (body - table_) / offsetSize_) return false;
        for (std::uint64_t index = 0; index < count_; ++index) {
            auto offset = offsetOf(index);
            if (offset < headerSize || offset >= table_) return false;
        }
        return true;
    }

    std::uint64_t offsetOf(std::uint64_t index) const {
        return bigEndian(data_ + table_ + index * offsetSize_, offsetSize_);
    }

    // Whether `count` items of `width` bytes from `at` lie inside the object area.
    bool fits(std::uint64_t at, std::uint64_t count, std::uint64_t width) const {
        return at <= table_ && count <= (table_ - at) / width;
    }

    std::optional<Object> objectAt(std::uint64_t index) const {
        std::uint64_t at = offsetOf(index);
        const std::uint8_t marker = data_[at++];
        Object object{static_cast<std::uint8_t>(marker >> 4), static_cast<std::uint8_t>(marker & 0xF), at, 0};
        switch (object.kind) {
        case 0x0: // null, false, true, fill
            return object.low == 0x0 || object.low == 0x8 || object.low == 0x9 || object.low == 0xF
                       ? std::optional(object)
                       : std::nullopt;
        case 0x1: // integer of 2^n bytes, at most 16
        case 0x2: // real of 2^n bytes: 4 or 8
            if (object.low > (object.kind == 0x1 ? 4 : 3) || (object.kind == 0x2 && object.low < 2))
                return std::nullopt;
            object.length = std::uint64_t{1} << object.low;
            break;
        case 0x3: // date
            if (object.low != 3) return std::nullopt;
            object.length = 8;
            break;
        case 0x8: // identifier of n+1 bytes
            object.length = object.low + 1u;
            break;
        case 0x4:
        case 0x5:
        case 0x6:
        case 0xA:
        case 0xC:
        case 0xD: {
            object.length = object.low;
            if (object.low == 0xF) { // the count follows as an integer object of at most 8 bytes
                if (!fits(at, 1, 1) || data_[at] >> 4 != 0x1 || (data_[at] & 0xF) > 3) return std::nullopt;
                const std::size_t width = std::size_t{1} << (data_[at] & 0xF);
                if (!fits(at + 1, width, 1)) return std::nullopt;
                object.length = bigEndian(data_ + at + 1, width);
                object.at = at + 1 + width;
            }
            break;
        }
        default:
            return std::nullopt;
        }
        const std::uint64_t width = object.kind == 0x6                         ? 2
                                    : object.kind == 0xA || object.kind == 0xC ? referenceSize_
                                    : object.kind == 0xD                       ? 2 * referenceSize_
                                                                               : 1;
        if (!fits(object.at, object.length, width)) return std::nullopt;
        return object;
    }

    std::optional<std::uint64_t> reference(const Object& object, std::uint64_t position) const {
        auto index = bigEndian(data_ + object.at + position * referenceSize_, referenceSize_);
        if (index >= count_) return std::nullopt;
        return index;
    }

    // Charged before it is copied: each byte or UTF-16 unit becomes at least one byte of UTF-8.
    std::optional<std::string> stringOf(const Object& object) {
        if (!budget_.takeBytes(object.length)) return std::nullopt;
        if (object.kind == 0x5)
            return std::string(reinterpret_cast<const char*>(data_ + object.at), object.length);
        std::u16string units(object.length, u'\0');
        for (std::uint64_t i = 0; i < object.length; ++i)
            units[i] = static_cast<char16_t>(bigEndian(data_ + object.at + 2 * i, 2));
        std::string text = text::fromUTF16(units); // a lone surrogate becomes U+FFFD
        if (!budget_.takeBytes(text.size() - object.length)) return std::nullopt;
        return text;
    }

    // Reads the object a reference names: a value, a kind left out, or an opened container.
    // None refuses the list.
    std::optional<Visit> visit(std::uint64_t index) {
        if (!budget_.takeValue()) return std::nullopt;
        auto object = objectAt(index);
        if (!object) return std::nullopt;
        Visit visit;
        const std::uint8_t* content = data_ + object->at;
        switch (object->kind) {
        case 0x0:
            if (object->low == 0x8 || object->low == 0x9) visit.value.emplace(object->low == 0x9);
            break;
        case 0x1: {
            // Up to four bytes unsigned; eight bytes two's complement. Sixteen bytes, as writers
            // store an unsigned value past the largest signed one, only when the value fits in
            // eight: zero above a 64-bit two's complement, or all ones above a negative one.
            if (object->length < 16) {
                visit.value.emplace(static_cast<std::int64_t>(bigEndian(content, object->length)));
                break;
            }
            const std::uint64_t upper = bigEndian(content, 8);
            const auto lower = static_cast<std::int64_t>(bigEndian(content + 8, 8));
            if (upper != 0 && (upper != ~std::uint64_t{0} || lower >= 0)) return std::nullopt;
            visit.value.emplace(lower);
            break;
        }
        case 0x2:
            if (object->length == 4)
                visit.value.emplace(static_cast<double>(
                    std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(content, 4)))));
            else
                visit.value.emplace(std::bit_cast<double>(bigEndian(content, 8)));
            break;
        case 0x4:
            if (!budget_.takeBytes(object->length)) return std::nullopt;
            visit.value.emplace(Bytes(content, content + object->length));
            break;
        case 0x5:
        case 0x6: {
            auto text = stringOf(*object);
            if (!text) return std::nullopt;
            visit.value.emplace(std::move(*text));
            break;
        }
        case 0xA:
        case 0xD:
            // A container already open on the path is a cycle.
            if (stack_.size() >= PropertyList::maximumDepth || !open_.insert(index).second)
                return std::nullopt;
            stack_.push_back(Frame{index, *object, 0, {}, {}, {}});
            visit.opened = true;
            break;
        default:
            break; // dates, identifiers, sets, null and fill: never stored by this system
        }
        return visit;
    }

    // Reads the open containers entry by entry until the top one closes into `result`.
    bool walk(std::optional<PropertyListValue>& result) {
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.next == frame.object.length) {
                std::optional<PropertyListValue> value;
                if (frame.object.kind == 0xA)
                    value.emplace(std::move(frame.array));
                else
                    value.emplace(std::move(frame.dictionary));
                open_.erase(frame.index);
                stack_.pop_back();
                attach(std::move(value), result);
                continue;
            }
            const std::uint64_t position = frame.next++;
            std::optional<std::uint64_t> child;
            if (frame.object.kind == 0xD) {
                auto keyIndex = reference(frame.object, position);
                auto key = keyIndex ? objectAt(*keyIndex) : std::nullopt;
                if (!key || (key->kind != 0x5 && key->kind != 0x6)) return false;
                auto text = stringOf(*key);
                if (!text) return false;
                frame.key = std::move(*text);
                child = reference(frame.object, frame.object.length + position);
            } else {
                child = reference(frame.object, position);
            }
            if (!child) return false;
            auto visited = visit(*child); // may push, so `frame` is not used after this
            if (!visited) return false;
            if (!visited->opened) attach(std::move(visited->value), result);
        }
        return true;
    }

    // Hands a finished value to the container now on top, or makes it the result.
    void attach(std::optional<PropertyListValue> value, std::optional<PropertyListValue>& result) {
        if (stack_.empty()) {
            result = std::move(value);
            return;
        }
        Frame& parent = stack_.back();
        if (!value) return;
        if (parent.object.kind == 0xA)
            parent.array.push_back(std::move(*value));
        else
            parent.dictionary.insert_or_assign(std::move(parent.key), std::move(*value));
    }

    const std::uint8_t* data_;
    std::size_t size_;
    ExpansionBudget& budget_;
    std::size_t offsetSize_ = 0;
    std::size_t referenceSize_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t table_ = 0;
    std::vector<Frame> stack_;
    std::unordered_set<std::uint64_t> open_; // containers on the path from the top
};

} // namespace

std::optional<PropertyListValue> readBinary(const std::uint8_t* data, std::size_t size,
                                            ExpansionBudget& budget) {
    return Reader(data, size, budget).read();
}

} // namespace tarpelix::platform::property_list
