#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/Font.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

enum class TextAlignment { natural, left, right, center, justified };

// How lines break: wrapping at words (a word too long for a line breaks between characters)
// or at characters, clipped, or each paragraph kept to one line truncated with "…".
enum class LineBreakMode { byWordWrapping, byCharWrapping, byClipping, byTruncatingHead, byTruncatingTail,
                           byTruncatingMiddle };

// Kept for the views that ask for it; pango breaks lines its own way whichever is set.
enum class LineBreakStrategy { none, standard, pushOut };

struct TextTab {
    TextAlignment alignment = TextAlignment::left;
    double location = 0;

    bool operator==(const TextTab&) const = default;
};

struct ParagraphStyle {
    TextAlignment alignment = TextAlignment::natural;
    double lineSpacing = 0;            // added between the lines of a paragraph
    double paragraphSpacing = 0;       // added after a paragraph
    double paragraphSpacingBefore = 0; // added before a paragraph (not the first)
    std::vector<TextTab> tabStops;     // empty: a stop every defaultTabInterval, or pango's own
    double defaultTabInterval = 0;
    LineBreakMode lineBreakMode = LineBreakMode::byWordWrapping;
    LineBreakStrategy lineBreakStrategy = LineBreakStrategy::standard;

    bool operator==(const ParagraphStyle&) const = default;
};

// The attributes of a run; unset ones take the defaults when drawn (the 12-point system font,
// black, the default paragraph style).
struct TextAttributes {
    std::optional<Font> font{};
    std::optional<Color> foregroundColor{};
    std::optional<ParagraphStyle> paragraphStyle{};

    bool operator==(const TextAttributes&) const = default;
};

// A range of a string in UTF-16 code units, as Foundation counts it.
struct TextRange {
    std::size_t location = 0;
    std::size_t length = 0;

    std::size_t end() const { return location + length; }
    bool operator==(const TextRange&) const = default;
};

// Text (UTF-8, invalid sequences replaced) with attributes over UTF-16 ranges. The runs cover
// the whole text, and neighbouring runs always differ, so equal strings compare equal however
// they were built.
class AttributedString {
public:
    struct Run {
        TextRange range;
        TextAttributes attributes;
        bool operator==(const Run&) const = default;
    };

    AttributedString() = default;
    explicit AttributedString(std::string_view string, TextAttributes attributes = {});

    const std::string& string() const { return string_; }
    // Length in UTF-16 code units.
    std::size_t length() const { return utf8Offsets_.size() - 1; }
    const std::vector<Run>& runs() const { return runs_; }

    // The attributes at a UTF-16 index (index < length()).
    const TextAttributes& attributes(std::size_t index) const;

    // Replace the attributes over the range / set only the given ones. A range past the end
    // throws std::out_of_range.
    void setAttributes(const TextAttributes& attributes, TextRange range);
    void addAttributes(const TextAttributes& attributes, TextRange range);
    void setFont(const Font& font, TextRange range) { addAttributes({.font = font}, range); }
    void setForegroundColor(const Color& color, TextRange range) {
        addAttributes({.foregroundColor = color}, range);
    }
    void setParagraphStyle(const ParagraphStyle& style, TextRange range) {
        addAttributes({.paragraphStyle = style}, range);
    }
    void append(const AttributedString& other);

    // The byte offset in string() of a UTF-16 index; an index inside a surrogate pair gives the
    // start of its character.
    std::size_t utf8Offset(std::size_t utf16Index) const;
    // The UTF-16 range of the first occurrence of a UTF-8 substring at or after `from`.
    std::optional<TextRange> rangeOf(std::string_view substring, std::size_t from = 0) const;

    // A copy whose dynamic colours are resolved under the current drawing appearance.
    AttributedString resolvingColors() const;

    bool operator==(const AttributedString&) const = default;

private:
    // Applies `change` to the attributes over the range, splitting and merging runs around it.
    void update(TextRange range, const std::function<void(TextAttributes&)>& change);
    void split(std::size_t index);
    void coalesce();
    std::string string_;
    std::vector<std::size_t> utf8Offsets_{0}; // one per UTF-16 index, and one for the end
    std::vector<Run> runs_;
};

} // namespace tarpelix::platform
