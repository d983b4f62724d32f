#include "textlabels.h"

#include <memory>

#include <cairo.h>
#include <pango/pangocairo.h>

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
void unrefLayout(PangoLayout* p) { g_object_unref(p); }
using Surface = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
using Layout = std::unique_ptr<PangoLayout, Deleter<PangoLayout, unrefLayout>>;
using FontDescription = std::unique_ptr<PangoFontDescription, Deleter<PangoFontDescription, pango_font_description_free>>;
using FontOptions = std::unique_ptr<cairo_font_options_t, Deleter<cairo_font_options_t, cairo_font_options_destroy>>;

// Whole pixels, no sub-pixel positions or grey edges: the same pixels on
// every run and every machine with the same font.
Layout makeLayout(PangoFontMap* fontMap, cairo_t* cr, const std::string& text, const std::string& font) {
    FontOptions options(cairo_font_options_create());
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_NONE);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options.get());
    PangoContext* context = pango_font_map_create_context(fontMap);
    pango_cairo_update_context(cr, context);
    pango_cairo_context_set_font_options(context, options.get());
    pango_cairo_context_set_resolution(context, 96.0);
    Layout layout(pango_layout_new(context));
    g_object_unref(context);   // the layout keeps it
    FontDescription description(pango_font_description_from_string(font.c_str()));
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_text(layout.get(), text.c_str(), -1);
    return layout;
}

}  // namespace

PangoLabelFont::PangoLabelFont(const std::string& fontName)
    : font(fontName), fontMap(pango_cairo_font_map_new()) {}

PangoLabelFont::~PangoLabelFont() { g_object_unref(static_cast<PangoFontMap*>(fontMap)); }

hxpic::Label PangoLabelFont::make(const std::string& text) {
    PangoFontMap* map = static_cast<PangoFontMap*>(fontMap);
    hxpic::Label label;
    // Measure on a scratch surface, then draw with a margin round the
    // extent: a glyph may ink pixels outside its logical box.
    Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
    Context measure(cairo_create(scratch.get()));
    Layout sized = makeLayout(map, measure.get(), text, font);
    pango_layout_get_pixel_size(sized.get(), &label.w, &label.h);

    const int margin = label.h + 2;
    const int w = label.w + 2 * margin, h = label.h + 2 * margin;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_A8, w, h));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return label;
    Context cr(cairo_create(surface.get()));
    Layout layout = makeLayout(map, cr.get(), text, font);
    cairo_move_to(cr.get(), margin, margin);
    pango_cairo_show_layout(cr.get(), layout.get());
    cairo_surface_flush(surface.get());

    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = data + static_cast<std::ptrdiff_t>(stride) * y;
        for (int x = 0; x < w;) {
            if (row[x] < 128) {
                ++x;
                continue;
            }
            const int x0 = x;
            while (x < w && row[x] >= 128) ++x;
            label.ink.push_back(hxpic::Span{y - margin, x0 - margin, x - 1 - margin});
        }
    }
    return label;
}

const hxpic::Label& PangoLabelFont::label(int value) {
    auto it = made.find(value);
    if (it == made.end()) it = made.emplace(value, make(std::to_string(value))).first;
    return it->second;
}
