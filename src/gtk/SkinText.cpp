#include "gtk/SkinText.h"

#include <pangomm/context.h>

namespace {

// The horizontal scale that makes an average character `cellWidth` pixels wide.
double CellScale(const Glib::RefPtr<Pango::Layout>& layout, const Pango::FontDescription& font,
                 int cellWidth) {
    if (cellWidth <= 0) return 1.0;
    auto metrics = layout->get_context()->get_metrics(font);
    const double natural = metrics.get_approximate_char_width() / double(PANGO_SCALE);
    if (natural <= 0.0) return 1.0;
    const double scale = cellWidth / natural;
    return scale < 0.5 ? 0.5 : (scale > 2.0 ? 2.0 : scale);
}

}  // namespace

Pango::FontDescription SkinFont(const std::string& face, int height, int weight) {
    std::string families = face.empty() ? std::string("Sans") : face;
    families += ",Noto Sans CJK KR,Noto Sans CJK SC,Noto Sans,DejaVu Sans,Sans";
    Pango::FontDescription font(families);
    font.set_absolute_size((height > 0 ? height : 12) * PANGO_SCALE);
    font.set_weight(static_cast<Pango::Weight>(weight));
    return font;
}

void MeasureText(const Cairo::RefPtr<Cairo::Context>& cr, const std::string& utf8,
                 const Pango::FontDescription& font, int cellWidth, double* width, double* height) {
    auto layout = Pango::Layout::create(cr);
    layout->set_font_description(font);
    layout->set_text(utf8);
    int w = 0, h = 0;
    layout->get_pixel_size(w, h);
    if (width) *width = w * CellScale(layout, font, cellWidth);
    if (height) *height = h;
}

void DrawCentredText(const Cairo::RefPtr<Cairo::Context>& cr, const std::string& utf8,
                     const Pango::FontDescription& font, std::uint32_t rgb, double centreX,
                     double top, int cellWidth) {
    if (utf8.empty()) return;
    auto layout = Pango::Layout::create(cr);
    layout->set_font_description(font);
    layout->set_text(utf8);
    int w = 0, h = 0;
    layout->get_pixel_size(w, h);
    const double scale = CellScale(layout, font, cellWidth);
    cr->save();
    cr->set_source_rgb(((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
    cr->translate(centreX - w * scale / 2.0, top);
    cr->scale(scale, 1.0);
    layout->show_in_cairo_context(cr);
    cr->restore();
}
