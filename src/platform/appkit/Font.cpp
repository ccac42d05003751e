#include "platform/appkit/Font.h"

#include "platform/appkit/TextSystem.h"

#include <fontconfig/fontconfig.h>
#include <harfbuzz/hb-ot.h>
#include <map>
#include <pango/pangofc-font.h>
#include <tuple>

namespace tarpelix::platform {

namespace {

struct Metrics {
    double ascender = 0;
    double descender = 0;
    double lineHeight = 0;
    double capHeight = 0;
    std::string file;
};

const Metrics& metrics(const Font& font) {
    // Fonts are few (a handful of sizes and two faces per family): keep each one's metrics.
    static std::map<std::tuple<std::string, bool, double>, Metrics> cache;
    auto key = std::make_tuple(font.familyName(), font.usesBoldFace(), font.pointSize());
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;

    Metrics m;
    auto loaded = typesetting::load(font);
    if (loaded) {
        PangoFontMetrics* pm = pango_font_get_metrics(loaded.get(), pango_language_from_string("en-us"));
        m.ascender = double(pango_font_metrics_get_ascent(pm)) / PANGO_SCALE;
        m.descender = -double(pango_font_metrics_get_descent(pm)) / PANGO_SCALE;
        m.lineHeight = double(pango_font_metrics_get_height(pm)) / PANGO_SCALE;
        pango_font_metrics_unref(pm);
        // The OS/2 table of these faces predates its cap-height field: the height of "H" is it.
        hb_font_t* hb = pango_font_get_hb_font(loaded.get());
        hb_position_t capHeight = 0;
        hb_codepoint_t glyph = 0;
        hb_glyph_extents_t extents{};
        if (hb_ot_metrics_get_position(hb, HB_OT_METRICS_TAG_CAP_HEIGHT, &capHeight) && capHeight > 0) {
            m.capHeight = double(capHeight) / PANGO_SCALE;
        } else if (hb_font_get_nominal_glyph(hb, 'H', &glyph) && hb_font_get_glyph_extents(hb, glyph, &extents)) {
            m.capHeight = double(extents.y_bearing) / PANGO_SCALE;
        }
        if (PANGO_IS_FC_FONT(loaded.get())) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(pango_fc_font_get_pattern(PANGO_FC_FONT(loaded.get())), FC_FILE, 0, &file) ==
                    FcResultMatch &&
                file) {
                m.file = reinterpret_cast<const char*>(file);
            }
        }
    }
    return cache.emplace(key, m).first->second;
}

} // namespace

Font Font::systemFont(double size, FontWeight weight) { return {size, weight, Design::system}; }
Font Font::monospacedSystemFont(double size, FontWeight weight) { return {size, weight, Design::monospaced}; }
Font Font::monospacedDigitSystemFont(double size, FontWeight weight) {
    return {size, weight, Design::monospacedDigit};
}

std::string Font::familyName() const { return design_ == Design::monospaced ? "DejaVu Sans Mono" : "DejaVu Sans"; }

Font Font::withSize(double size) const { return {size, weight_, design_}; }

double Font::ascender() const { return metrics(*this).ascender; }
double Font::descender() const { return metrics(*this).descender; }
double Font::lineHeight() const { return metrics(*this).lineHeight; }
double Font::capHeight() const { return metrics(*this).capHeight; }
std::string Font::fileName() const { return metrics(*this).file; }

} // namespace tarpelix::platform
