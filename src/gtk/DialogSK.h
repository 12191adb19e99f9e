#pragma once
// A frameless window painted with a picture: the picture is laid out by a LayoutStyle behind
// the child controls (placed at fixed client positions), the window can take the picture's
// size, one exact colour can be cut out of the window (shape and input shape), and dragging
// the background moves the window.
//
// The colour key is taken from the background picture as laid out: pixels of that colour
// there are neither shown nor hit. Children are not scanned; they sit on opaque parts.

#include <cstdint>

#include <gtkmm/fixed.h>
#include <gtkmm/window.h>

#include "gtk/SkinPictures.h"
#include "ui/SkinLayout.h"

class CDialogSK : public Gtk::Window {
public:
    explicit CDialogSK(SkinPictures& pictures);
    ~CDialogSK() override;

    // Bitmap `id` of the skin; a missing picture leaves the window without one.
    bool SetBackgroundBitmap(int id);
    // Replaces the picture (null removes it); repaints.
    bool SetBackgroundBitmap(Glib::RefPtr<Gdk::Pixbuf> picture);
    void SetBackgroundLayout(LayoutStyle style);
    // Cuts `rgb` (0xRRGGBB) out of the window, or puts the whole rectangle back.
    bool SetColorKey(std::uint32_t rgb, bool on);
    void ReleaseBackground();
    void SetDragMove(bool on) { dragMove_ = on; }

    int BitmapWidth() const { return bitmapWidth_; }
    int BitmapHeight() const { return bitmapHeight_; }
    LayoutStyle Layout() const { return layout_; }

protected:
    // Child controls go here, at client pixel positions.
    Gtk::Fixed& Client() { return client_; }
    SkinPictures& Pictures() { return pictures_; }

    bool on_button_press_event(GdkEventButton* event) override;
    void on_realize() override;
    void on_size_allocate(Gtk::Allocation& allocation) override;
    // Paints whatever the window shows above its background and below its children.
    virtual void PaintOverBackground(const Cairo::RefPtr<Cairo::Context>& cr);

private:
    bool OnPaintClient(const Cairo::RefPtr<Cairo::Context>& cr);
    void ApplyShape();

    SkinPictures& pictures_;
    Gtk::Fixed client_;
    Glib::RefPtr<Gdk::Pixbuf> background_;
    Cairo::RefPtr<Cairo::Surface> backgroundSurface_;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
    LayoutStyle layout_ = LayoutStyle::TopLeft;
    bool dragMove_ = true;
    bool keyOn_ = false;
    std::uint32_t key_ = 0;
};
