#pragma once

// Internal to the toolkit: the pango and fontconfig set-up that every measurement and every
// drawing of text shares. Main thread only, like the toolkit.

#include "platform/appkit/Font.h"

#include <memory>
#include <pango/pangocairo.h>

namespace tarpelix::platform::typesetting {

struct GObjectRelease {
    void operator()(void* object) const;
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectRelease>;

struct FontDescriptionRelease {
    void operator()(PangoFontDescription* description) const { pango_font_description_free(description); }
};
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionRelease>;

// Our font map: its own fontconfig configuration that offers only the four DejaVu faces,
// 72 dots per inch so that a point is a unit of user space.
PangoFontMap* fontMap();

// Brings a context to our text rendering: no hinting, unrounded metrics and glyph positions.
void configure(PangoContext* context);

// A measuring context whose user space is drawn at `scale` device pixels per point. Shared;
// do not change it.
PangoContext* measuringContext(double scale = 1);

// A context for drawing into `cairo`, configured and updated to its transformation.
GObjectPtr<PangoContext> drawingContext(cairo_t* cairo);

FontDescriptionPtr description(const Font& font);

// The font fontconfig loads for `font`.
GObjectPtr<PangoFont> load(const Font& font);

} // namespace tarpelix::platform::typesetting

namespace tarpelix::platform {
class AttributedString;
}

namespace tarpelix::platform::typesetting {

// Draws the text with its top-left corner at the origin of `cairo`'s user space (y down),
// laid out at `width` as TextLayout::layout does.
void drawText(cairo_t* cairo, const AttributedString& text, double width);

} // namespace tarpelix::platform::typesetting
