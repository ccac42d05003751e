#include "platform/appkit/AttributedString.h"

#include "platform/foundation/Text.h"

#include <algorithm>
#include <stdexcept>

namespace tarpelix::platform {

namespace {

// One UTF-16 offset per code unit: a character of four UTF-8 bytes is two UTF-16 units, the
// second of which maps to the same byte offset as the first.
std::vector<std::size_t> utf16ToUtf8(const std::string& text) {
    std::vector<std::size_t> offsets;
    offsets.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        offsets.push_back(i);
        if (width == 4) offsets.push_back(i);
        i += width;
    }
    offsets.push_back(text.size());
    return offsets;
}

void merge(TextAttributes& into, const TextAttributes& from) {
    if (from.font) into.font = from.font;
    if (from.foregroundColor) into.foregroundColor = from.foregroundColor;
    if (from.paragraphStyle) into.paragraphStyle = from.paragraphStyle;
}

} // namespace

AttributedString::AttributedString(std::string_view string, TextAttributes attributes)
    : string_(text::validUTF8(string)), utf8Offsets_(utf16ToUtf8(string_)) {
    if (length() > 0) runs_.push_back({{0, length()}, std::move(attributes)});
}

const TextAttributes& AttributedString::attributes(std::size_t index) const {
    if (index >= length()) throw std::out_of_range("attributed string index past the end");
    auto run = std::upper_bound(runs_.begin(), runs_.end(), index,
                                [](std::size_t i, const Run& r) { return i < r.range.location; });
    return std::prev(run)->attributes;
}

void AttributedString::split(std::size_t index) {
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        Run& run = runs_[i];
        if (index > run.range.location && index < run.range.end()) {
            Run tail{{index, run.range.end() - index}, run.attributes};
            run.range.length = index - run.range.location;
            runs_.insert(runs_.begin() + std::ptrdiff_t(i) + 1, std::move(tail));
            return;
        }
    }
}

void AttributedString::coalesce() {
    std::vector<Run> merged;
    for (auto& run : runs_) {
        if (!merged.empty() && merged.back().attributes == run.attributes) {
            merged.back().range.length += run.range.length;
        } else {
            merged.push_back(std::move(run));
        }
    }
    runs_ = std::move(merged);
}

void AttributedString::update(TextRange range, const std::function<void(TextAttributes&)>& change) {
    if (range.end() > length()) throw std::out_of_range("attributed string range past the end");
    if (range.length == 0) return;
    split(range.location);
    split(range.end());
    for (auto& run : runs_) {
        if (run.range.location >= range.location && run.range.end() <= range.end()) change(run.attributes);
    }
    coalesce();
}

void AttributedString::setAttributes(const TextAttributes& attributes, TextRange range) {
    update(range, [&](TextAttributes& run) { run = attributes; });
}

void AttributedString::addAttributes(const TextAttributes& attributes, TextRange range) {
    update(range, [&](TextAttributes& run) { merge(run, attributes); });
}

void AttributedString::append(const AttributedString& other) {
    const std::size_t shift = length();
    string_ += other.string_;
    utf8Offsets_ = utf16ToUtf8(string_);
    for (Run run : other.runs_) {
        run.range.location += shift;
        runs_.push_back(std::move(run));
    }
    coalesce();
}

std::size_t AttributedString::utf8Offset(std::size_t utf16Index) const {
    return utf8Offsets_.at(std::min(utf16Index, length()));
}

std::optional<TextRange> AttributedString::rangeOf(std::string_view substring, std::size_t from) const {
    const auto found = string_.find(substring, utf8Offset(from));
    if (found == std::string::npos) return std::nullopt;
    auto start = std::lower_bound(utf8Offsets_.begin(), utf8Offsets_.end(), found);
    auto end = std::lower_bound(start, utf8Offsets_.end(), found + substring.size());
    return TextRange{std::size_t(start - utf8Offsets_.begin()), std::size_t(end - start)};
}

AttributedString AttributedString::resolvingColors() const {
    AttributedString copy = *this;
    for (auto& run : copy.runs_) {
        if (run.attributes.foregroundColor) run.attributes.foregroundColor = run.attributes.foregroundColor->cgColor();
    }
    copy.coalesce();
    return copy;
}

} // namespace tarpelix::platform
