#pragma once

#include "platform/appkit/AttributedString.h"
#include "platform/foundation/Geometry.h"

#include <limits>

namespace tarpelix::platform {

// Text laid out with pango, paragraph by paragraph (paragraph spacing is ours: pango has
// none), wrapped or truncated at a width.
struct TextLayoutResult {
    Size size;                 // the width of the longest line, the height of all lines
    double firstBaseline = 0;  // down from the top of the text
    bool truncated = false;    // a line ends in "…"
    bool allGlyphsFound = true; // no character fell back to the unknown glyph
};

namespace TextLayout {

inline constexpr double unlimited = std::numeric_limits<double>::infinity();

// Lays the text out at `width` (unlimited: no wrapping, no truncation). `scale` is the device
// pixels per point of the surface the text is meant for; sizes come out the same at any.
TextLayoutResult layout(const AttributedString& text, double width = unlimited, double scale = 1);

// The size the text needs at that width.
inline Size size(const AttributedString& text, double width = unlimited) { return layout(text, width).size; }

// Where each UTF-16 index of a one-paragraph text starts, in points from the left edge
// (laid out without a width limit); for tests of tab stops and ranges.
double horizontalOffset(const AttributedString& text, std::size_t utf16Index);

// The family pango drew the character at a UTF-16 index with.
std::string familyAt(const AttributedString& text, std::size_t utf16Index);

} // namespace TextLayout

} // namespace tarpelix::platform
