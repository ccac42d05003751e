#include "platform/appkit/TextSystem.h"

#include "platform/foundation/MainThread.h"

#include <fontconfig/fontconfig.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <pango/pangofc-fontmap.h>
#include <string>

namespace tarpelix::platform::typesetting {

namespace {

// The four faces the toolkit draws with (fonts-dejavu-core).
constexpr const char* fontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
};

// Only those four faces are accepted, whatever else the machine holds, so text measures the
// same everywhere. They are added to the configuration as application fonts, file by file:
// no directory is scanned, so no font cache is read or written.
constexpr const char* fontConfiguration = R"(<?xml version="1.0"?>
<fontconfig>
  <selectfont>
    <acceptfont>
      <glob>/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf</glob>
      <glob>/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf</glob>
      <glob>/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf</glob>
      <glob>/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf</glob>
    </acceptfont>
    <rejectfont>
      <glob>*</glob>
    </rejectfont>
  </selectfont>
</fontconfig>
)";

constexpr double pointsPerInch = 72;

// The measuring contexts, one per scale, kept for the process.
std::map<double, PangoContext*>& measuringContexts() {
    static std::map<double, PangoContext*> contexts;
    return contexts;
}

PangoFontMap* sharedFontMap = nullptr;

// At exit the contexts and the font map are released with every font and pattern they hold,
// so that leak checkers see only what was really lost.
void releaseAtExit() {
    for (auto& [scale, context] : measuringContexts()) g_object_unref(context);
    measuringContexts().clear();
    if (sharedFontMap) {
        pango_fc_font_map_shutdown(PANGO_FC_FONT_MAP(sharedFontMap));
        g_object_unref(sharedFontMap);
        sharedFontMap = nullptr;
    }
    cairo_debug_reset_static_data(); // cairo's font face cache holds the faces' patterns
}

} // namespace

void GObjectRelease::operator()(void* object) const {
    if (object) g_object_unref(object);
}

PangoFontMap* fontMap() {
    static PangoFontMap* const map = [] {
        FcConfig* config = FcConfigCreate();
        if (!FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(fontConfiguration), FcTrue) ||
            !FcConfigBuildFonts(config)) {
            fatal("The toolkit's font configuration does not load");
        }
        for (const char* file : fontFiles) {
            if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(file))) {
                std::fprintf(stderr, "Font %s is missing (install fonts-dejavu-core)\n", file);
            }
        }
        PangoFontMap* created = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
        if (!created) fatal("No FreeType font map for the toolkit");
        pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(created), config); // takes its own reference
        FcConfigDestroy(config);
        pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(created), pointsPerInch);
        sharedFontMap = created;
        std::atexit(releaseAtExit);
        return created;
    }();
    return map;
}

void configure(PangoContext* context) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(context, pointsPerInch);
    pango_context_set_round_glyph_positions(context, FALSE);
    pango_context_set_language(context, pango_language_from_string("en-us"));
}

PangoContext* measuringContext(double scale) {
    requireMainThread("text measurement");
    auto& contexts = measuringContexts();
    auto found = contexts.find(scale);
    if (found != contexts.end()) return found->second;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cairo = cairo_create(surface);
    cairo_scale(cairo, scale, scale);
    PangoContext* context = pango_font_map_create_context(fontMap());
    configure(context);
    pango_cairo_update_context(cairo, context);
    cairo_destroy(cairo);
    cairo_surface_destroy(surface);
    contexts.emplace(scale, context);
    return context;
}

GObjectPtr<PangoContext> drawingContext(cairo_t* cairo) {
    requireMainThread("text drawing");
    GObjectPtr<PangoContext> context(pango_font_map_create_context(fontMap()));
    configure(context.get());
    pango_cairo_update_context(cairo, context.get());
    return context;
}

FontDescriptionPtr description(const Font& font) {
    FontDescriptionPtr result(pango_font_description_new());
    pango_font_description_set_family(result.get(), font.familyName().c_str());
    pango_font_description_set_weight(result.get(), font.usesBoldFace() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(result.get(), PANGO_STYLE_NORMAL);
    pango_font_description_set_size(result.get(), static_cast<gint>(font.pointSize() * PANGO_SCALE + 0.5));
    return result;
}

GObjectPtr<PangoFont> load(const Font& font) {
    auto desc = description(font);
    return GObjectPtr<PangoFont>(pango_font_map_load_font(fontMap(), measuringContext(), desc.get()));
}

} // namespace tarpelix::platform::typesetting

