#include "platform/foundation/Text.h"

#include "platform/foundation/ICU.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace tarpelix::platform::text {

bool anyCodePoint(std::string_view text, bool (*test)(char32_t codePoint)) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0 || test(static_cast<char32_t>(c))) return true;
    }
    return false;
}

bool isValidUTF8(std::string_view text) {
    return !anyCodePoint(text, [](char32_t) { return false; });
}

std::string validUTF8(std::string_view text) {
    if (isValidUTF8(text)) return std::string(text);
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toUTF8String(out);
    return out;
}

std::string fromUTF16(std::u16string_view units) {
    std::string out;
    icu::UnicodeString(units.data(), static_cast<int32_t>(units.size())).toUTF8String(out);
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    while (true) {
        auto end = text.find(separator);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return pieces;
        text.remove_prefix(end + 1);
    }
}

std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement) {
    std::string out(text);
    if (target.empty()) return out;
    std::size_t at = 0;
    while ((at = out.find(target, at)) != std::string::npos) {
        out.replace(at, target.size(), replacement);
        at += replacement.size();
    }
    return out;
}

std::string lowercased(std::string_view text) {
    detail::prepareICU();
    auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

bool isControlOrFormat(char32_t codePoint) {
    auto category = u_charType(static_cast<UChar32>(codePoint));
    return category == U_CONTROL_CHAR || category == U_FORMAT_CHAR;
}

bool containsControlOrFormat(std::string_view text) { return anyCodePoint(text, isControlOrFormat); }

std::size_t utf16Length(std::string_view text) {
    auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    return static_cast<std::size_t>(u.length());
}

namespace {
std::unique_ptr<icu::BreakIterator> characterIterator(const icu::UnicodeString& u) {
    detail::prepareICU();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return nullptr;
    it->setText(u);
    return it;
}
} // namespace

std::size_t graphemeCount(std::string_view text) {
    auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    auto it = characterIterator(u);
    if (!it) return static_cast<std::size_t>(u.countChar32());
    std::size_t count = 0;
    it->first();
    while (it->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

std::string prefixGraphemes(std::string_view text, std::size_t limit) {
    auto u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    auto it = characterIterator(u);
    int32_t end = 0;
    if (it) {
        it->first();
        std::size_t count = 0;
        int32_t boundary = 0;
        while (count < limit && (boundary = it->next()) != icu::BreakIterator::DONE) {
            end = boundary;
            ++count;
        }
    }
    std::string out;
    u.tempSubString(0, end).toUTF8String(out);
    return out;
}

} // namespace tarpelix::platform::text
