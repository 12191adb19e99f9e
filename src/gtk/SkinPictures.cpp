#include "gtk/SkinPictures.h"

#include <cstring>

#include <gdk/gdk.h>

Glib::RefPtr<Gdk::Pixbuf> PixbufFromDib(const CDIBitmap& dib) {
    if (dib.Pixels().empty() || dib.Width() <= 0 || dib.Height() <= 0) return {};
    auto pixbuf = Gdk::Pixbuf::create(Gdk::COLORSPACE_RGB, false, 8, dib.Width(), dib.Height());
    const auto rgb = dib.ToRgb();
    const int rowBytes = dib.Width() * 3;
    for (int y = 0; y < dib.Height(); ++y) {
        std::memcpy(pixbuf->get_pixels() + static_cast<std::size_t>(y) * pixbuf->get_rowstride(),
                    rgb.data() + static_cast<std::size_t>(y) * rowBytes,
                    static_cast<std::size_t>(rowBytes));
    }
    return pixbuf;
}

Glib::RefPtr<Gdk::Pixbuf> SkinPictures::Get(int id) {
    auto it = cache_.find(id);
    if (it != cache_.end()) return it->second;
    CDIBitmap dib;
    Glib::RefPtr<Gdk::Pixbuf> picture;
    if (dib.LoadFromResource(directory_, id)) picture = PixbufFromDib(dib);
    cache_[id] = picture;
    return picture;
}

Cairo::RefPtr<Cairo::Region> OpaqueRegion(const Glib::RefPtr<Gdk::Pixbuf>& picture, unsigned keyRgb,
                                          int x, int y) {
    auto region = Cairo::Region::create();
    if (!picture) return region;
    const int channels = picture->get_n_channels();
    const std::uint8_t keyR = static_cast<std::uint8_t>(keyRgb >> 16);
    const std::uint8_t keyG = static_cast<std::uint8_t>(keyRgb >> 8);
    const std::uint8_t keyB = static_cast<std::uint8_t>(keyRgb);
    for (int row = 0; row < picture->get_height(); ++row) {
        const std::uint8_t* p =
            picture->get_pixels() + static_cast<std::size_t>(row) * picture->get_rowstride();
        int runStart = -1;
        for (int col = 0; col <= picture->get_width(); ++col) {
            bool opaque = false;
            if (col < picture->get_width()) {
                const std::uint8_t* px = p + static_cast<std::size_t>(col) * channels;
                opaque = !(px[0] == keyR && px[1] == keyG && px[2] == keyB);
            }
            if (opaque && runStart < 0) runStart = col;
            if (!opaque && runStart >= 0) {
                region->do_union(Cairo::RectangleInt{x + runStart, y + row, col - runStart, 1});
                runStart = -1;
            }
        }
    }
    return region;
}

Cairo::RefPtr<Cairo::Surface> SurfaceFromPixbuf(const Glib::RefPtr<Gdk::Pixbuf>& picture) {
    if (!picture) return {};
    cairo_surface_t* surface = gdk_cairo_surface_create_from_pixbuf(picture->gobj(), 1, nullptr);
    if (!surface) return {};
    return Cairo::RefPtr<Cairo::Surface>(new Cairo::Surface(surface, true));
}
