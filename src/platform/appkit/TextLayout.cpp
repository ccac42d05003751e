#include "platform/appkit/TextLayout.h"

#include "platform/appkit/TextSystem.h"

#include <algorithm>
#include <cmath>

namespace tarpelix::platform {

namespace {

using typesetting::GObjectPtr;

const Font& defaultFont() {
    static const Font font = Font::systemFont(12);
    return font;
}

int pangoUnits(double points) { return static_cast<int>(std::lround(points * PANGO_SCALE)); }
double points(int units) { return double(units) / PANGO_SCALE; }

guint16 channel(double value) { return static_cast<guint16>(std::lround(value * 65535)); }

// One paragraph (the text between separators) in its own pango layout.
struct Paragraph {
    GObjectPtr<PangoLayout> layout;
    ParagraphStyle style;
    double top = 0;    // from the top of the whole text
    double height = 0;
    double width = 0;
    double xOffset = 0; // alignment of a clipped (unwrapped) paragraph
};

PangoAlignment alignment(TextAlignment a) {
    switch (a) {
    case TextAlignment::right: return PANGO_ALIGN_RIGHT;
    case TextAlignment::center: return PANGO_ALIGN_CENTER;
    default: return PANGO_ALIGN_LEFT;
    }
}

PangoTabAlign tabAlignment(TextAlignment a) {
    switch (a) {
    case TextAlignment::right: return PANGO_TAB_RIGHT;
    case TextAlignment::center: return PANGO_TAB_CENTER;
    default: return PANGO_TAB_LEFT;
    }
}

PangoAttrList* attributes(const AttributedString& text, std::size_t begin, std::size_t end) {
    PangoAttrList* list = pango_attr_list_new();
    const std::size_t base = text.utf8Offset(begin);
    for (const auto& run : text.runs()) {
        const std::size_t from = std::max(run.range.location, begin);
        const std::size_t to = std::min(run.range.end(), end);
        if (from >= to) continue;
        const auto start = guint(text.utf8Offset(from) - base);
        const auto stop = guint(text.utf8Offset(to) - base);
        auto add = [&](PangoAttribute* attribute) {
            attribute->start_index = start;
            attribute->end_index = stop;
            pango_attr_list_insert(list, attribute);
        };
        auto desc = typesetting::description(run.attributes.font.value_or(defaultFont()));
        add(pango_attr_font_desc_new(desc.get()));
        const RGBA color = run.attributes.foregroundColor ? run.attributes.foregroundColor->resolved() : RGBA{};
        add(pango_attr_foreground_new(channel(color.red), channel(color.green), channel(color.blue)));
        add(pango_attr_foreground_alpha_new(std::max<guint16>(1, channel(color.alpha))));
    }
    return list;
}

Paragraph makeParagraph(PangoContext* context, const AttributedString& text, std::size_t begin, std::size_t end,
                        std::size_t styleIndex, double width) {
    Paragraph p;
    const TextAttributes* at = styleIndex < text.length() ? &text.attributes(styleIndex) : nullptr;
    p.style = at && at->paragraphStyle ? *at->paragraphStyle : ParagraphStyle{};
    const Font& font = at && at->font ? *at->font : defaultFont();

    p.layout.reset(pango_layout_new(context));
    PangoLayout* layout = p.layout.get();
    const std::size_t from = text.utf8Offset(begin);
    pango_layout_set_text(layout, text.string().data() + from, int(text.utf8Offset(end) - from));
    auto desc = typesetting::description(font);
    pango_layout_set_font_description(layout, desc.get());
    PangoAttrList* list = attributes(text, begin, end);
    pango_layout_set_attributes(layout, list);
    pango_attr_list_unref(list);

    pango_layout_set_spacing(layout, pangoUnits(p.style.lineSpacing));
    pango_layout_set_alignment(layout, alignment(p.style.alignment));
    pango_layout_set_justify(layout, p.style.alignment == TextAlignment::justified);
    if (!p.style.tabStops.empty()) {
        PangoTabArray* tabs = pango_tab_array_new(int(p.style.tabStops.size()), FALSE);
        for (std::size_t i = 0; i < p.style.tabStops.size(); ++i) {
            pango_tab_array_set_tab(tabs, int(i), tabAlignment(p.style.tabStops[i].alignment),
                                    pangoUnits(p.style.tabStops[i].location));
        }
        pango_layout_set_tabs(layout, tabs);
        pango_tab_array_free(tabs);
    } else if (p.style.defaultTabInterval > 0) {
        PangoTabArray* tabs = pango_tab_array_new_with_positions(1, FALSE, PANGO_TAB_LEFT,
                                                                 pangoUnits(p.style.defaultTabInterval));
        pango_layout_set_tabs(layout, tabs);
        pango_tab_array_free(tabs);
    }

    const bool limited = std::isfinite(width) && width >= 0;
    const LineBreakMode mode = p.style.lineBreakMode;
    if (limited && mode != LineBreakMode::byClipping) {
        pango_layout_set_width(layout, pangoUnits(width));
        switch (mode) {
        case LineBreakMode::byCharWrapping: pango_layout_set_wrap(layout, PANGO_WRAP_CHAR); break;
        case LineBreakMode::byTruncatingHead: pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_START); break;
        case LineBreakMode::byTruncatingMiddle: pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_MIDDLE); break;
        case LineBreakMode::byTruncatingTail: pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END); break;
        default: pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR); break;
        }
    }
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    p.width = points(logical.width);
    p.height = points(logical.height);
    if (limited && mode == LineBreakMode::byClipping) {
        const double room = width - p.width;
        if (p.style.alignment == TextAlignment::center) p.xOffset = room / 2;
        if (p.style.alignment == TextAlignment::right) p.xOffset = room;
    }
    return p;
}

// Paragraphs end at "\n", "\r", "\r\n" and U+2029; the separator belongs to the paragraph it
// ends (its attributes style an empty paragraph).
std::vector<Paragraph> paragraphs(PangoContext* context, const AttributedString& text, double width) {
    std::vector<Paragraph> result;
    const std::string& s = text.string();
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.length(); ++i) {
        const std::size_t byte = text.utf8Offset(i);
        std::size_t separatorLength = 0;
        if (s[byte] == '\n') separatorLength = 1;
        if (s[byte] == '\r') separatorLength = byte + 1 < s.size() && s[byte + 1] == '\n' ? 2 : 1;
        if (s.compare(byte, 3, "\xE2\x80\xA9") == 0) separatorLength = 1;
        if (separatorLength == 0) continue;
        result.push_back(makeParagraph(context, text, start, i, start, width));
        i += separatorLength - 1;
        start = i + 1;
    }
    if (start < text.length() || (!result.empty() && start == text.length())) {
        result.push_back(makeParagraph(context, text, start, text.length(), std::min(start, text.length() - 1), width));
    }
    double y = 0;
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (i > 0) y += result[i - 1].style.paragraphSpacing + result[i].style.paragraphSpacingBefore;
        result[i].top = y;
        y += result[i].height;
    }
    return result;
}

TextLayoutResult measure(const std::vector<Paragraph>& list) {
    TextLayoutResult result;
    for (const auto& p : list) {
        result.size.width = std::max(result.size.width, p.width);
        result.size.height = p.top + p.height;
        result.truncated = result.truncated || pango_layout_is_ellipsized(p.layout.get());
        result.allGlyphsFound = result.allGlyphsFound && pango_layout_get_unknown_glyphs_count(p.layout.get()) == 0;
    }
    if (!list.empty()) result.firstBaseline = points(pango_layout_get_baseline(list.front().layout.get()));
    return result;
}

} // namespace

TextLayoutResult TextLayout::layout(const AttributedString& text, double width, double scale) {
    return measure(paragraphs(typesetting::measuringContext(scale), text, width));
}

double TextLayout::horizontalOffset(const AttributedString& text, std::size_t utf16Index) {
    auto list = paragraphs(typesetting::measuringContext(), text, unlimited);
    if (list.empty()) return 0;
    PangoRectangle position;
    pango_layout_index_to_pos(list.front().layout.get(), int(text.utf8Offset(utf16Index)), &position);
    return points(position.x);
}

std::string TextLayout::familyAt(const AttributedString& text, std::size_t utf16Index) {
    auto list = paragraphs(typesetting::measuringContext(), text, unlimited);
    if (list.empty()) return {};
    const int byte = int(text.utf8Offset(utf16Index));
    PangoLayoutIter* iter = pango_layout_get_iter(list.front().layout.get());
    std::string family;
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
        if (!run) continue;
        const PangoItem* item = run->item;
        if (byte < item->offset || byte >= item->offset + item->length) continue;
        PangoFontDescription* desc = pango_font_describe(item->analysis.font);
        family = pango_font_description_get_family(desc);
        pango_font_description_free(desc);
        break;
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
    return family;
}

void typesetting::drawText(cairo_t* cairo, const AttributedString& text, double width) {
    auto context = drawingContext(cairo);
    for (const auto& p : paragraphs(context.get(), text, width)) {
        cairo_move_to(cairo, p.xOffset, p.top);
        pango_cairo_show_layout(cairo, p.layout.get());
    }
}

} // namespace tarpelix::platform
