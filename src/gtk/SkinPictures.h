#pragma once
// Skin pictures for the toolkit: "<skin dir>/<id>.bmp" read with the project's own BMP
// reader (so damaged files are refused the same way everywhere) and handed over as pixbufs.

#include <filesystem>
#include <map>

#include <cairomm/region.h>
#include <cairomm/surface.h>
#include <gdkmm/pixbuf.h>

#include "ui/DIBitmap.h"

class SkinPictures {
public:
    explicit SkinPictures(std::filesystem::path directory) : directory_(std::move(directory)) {}

    // The picture of bitmap `id`, or null when it is missing or damaged. Cached.
    Glib::RefPtr<Gdk::Pixbuf> Get(int id);
    const std::filesystem::path& Directory() const { return directory_; }

private:
    std::filesystem::path directory_;
    std::map<int, Glib::RefPtr<Gdk::Pixbuf>> cache_;
};

// A pixbuf of a DIB's pixels (null for an empty DIB).
Glib::RefPtr<Gdk::Pixbuf> PixbufFromDib(const CDIBitmap& dib);

// The part of a picture that is not exactly `keyRgb` (0xRRGGBB), placed at `x`, `y`.
Cairo::RefPtr<Cairo::Region> OpaqueRegion(const Glib::RefPtr<Gdk::Pixbuf>& picture, unsigned keyRgb,
                                          int x = 0, int y = 0);

// The picture converted once to a Cairo image surface (null for a null picture).
// Gdk::Cairo::set_source_pixbuf converts the whole pixbuf on every call, and the window is
// redrawn with every frame while a bar moves.
Cairo::RefPtr<Cairo::Surface> SurfaceFromPixbuf(const Glib::RefPtr<Gdk::Pixbuf>& picture);
